// Allele alignment and SNP filters: recoding of the panel codes into the
// study's coding, strand check and fix, removal of strand-ambiguous and
// monomorphic SNPs. Changes only panel codes and union row entries.
#pragma once

#include <vector>

#include "input/haplotypes.h"
#include "input/panel.h"
#include "input/snp_union.h"
#include "input/study.h"

namespace tessellar {

// Rewrites the codes of panel row r: every code c other than 9 becomes 2 - c.
void flip_codes(PanelTable& panel, int r);

// flip_codes, and marks the row as counting the other letter than before.
void flip(PanelTable& panel, int r);

// Recode pass, then the strand pass unless no_fix; the strand pass clears
// the study row of unresolved A/T and C/G SNPs unless no_remove. A study
// row with recode flag 1 says that the panel codes count the other allele
// than the letters tell: the recode pass flips the codes of a text panel so
// that they count the second letter (flip_codes), those of a VCF panel,
// which count ALT as read, so that they count REF (flip).
void align_alleles(SnpUnion& snp_union, const StudyTable& study, PanelTable& panel, int no_fix,
                   int no_remove);

// Haplotype rows taken from VCF count the panel's ALT allele: inverts the
// row (hap_of_row[r], -1 for none) of every panel row r whose codes the
// alignment flipped, so that the haplotypes count what the codes count.
void align_haplotypes(HapTable& haps, const PanelTable& panel, const std::vector<int>& hap_of_row);

// Whether a counted-allele frequency makes a SNP monomorphic: below
// 0.000001 or above 0.999999.
bool monomorphic(double f);

// Clears the rows of monomorphic SNPs.
void drop_monomorphic(SnpUnion& snp_union, const StudyTable& study, const PanelTable& panel);

}  // namespace tessellar
