// Allele alignment and SNP filters: recoding of the panel codes into the
// study's coding, strand check and fix, removal of strand-ambiguous and
// monomorphic SNPs. Changes only panel codes and union row entries.
#pragma once

#include "input/panel.h"
#include "input/snp_union.h"
#include "input/study.h"

namespace tessellar {

// Rewrites panel row r: every code c other than 9 becomes 2 - c.
void flip(PanelTable& panel, int r);

// Recode pass, then the strand pass unless no_fix; the strand pass clears
// the study row of unresolved A/T and C/G SNPs unless no_remove.
void align_alleles(SnpUnion& snp_union, const StudyTable& study, PanelTable& panel, int no_fix,
                   int no_remove);

// Clears the rows of monomorphic SNPs (frequency below 0.000001 or above 0.999999).
void drop_monomorphic(SnpUnion& snp_union, const StudyTable& study, const PanelTable& panel);

}  // namespace tessellar
