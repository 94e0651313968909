// The SNP union: study and panel SNPs merged by position, each union row
// naming its study row, panel row and haplotype row (-1 where absent).
#pragma once

#include <array>
#include <vector>

#include "core/ivector.h"
#include "core/settings.h"
#include "input/haplotypes.h"
#include "input/panel.h"
#include "input/study.h"

namespace tessellar {

struct SnpUnion {
  int n = 0;          // union rows
  ivector pos;        // [-1, S + P]; pos[-1] = -300000000, pos[n] = 300000000
  ivector study_row;  // [-1, S + P]; -1 where absent
  ivector panel_row;  // [-1, S + P]; -1 where absent
  ivector hap_row;    // [-1, S + P]; -1 where absent (filled by match_haplotypes)
};

// Merges the two position-sorted tables; equal positions pair off one to one
// in file order.
SnpUnion build_union(const StudyTable& study, const PanelTable& panel);

// Ties each union row with a panel row to the first haplotype row of the same
// name after the latest match (a forward scan, done with a name index), then
// applies the speed filter when speed_flag is on.
void match_haplotypes(SnpUnion& snp_union, const PanelTable& panel, const HapTable& haps,
                      const Settings& run);

// The union of inputs that carry REF and ALT (VCF, and text in a run with a
// VCF input): merged by position like build_union, but at a position each
// study row pairs with the first panel row there whose alleles are the
// same, swapped or on the other strand (letters complemented, either order).
// A panel row on the other strand gets the study strand's letters. A panel
// row at a position where the study has rows but that pairs with none of
// them is another variant: it takes no part and is added to mismatched.
SnpUnion build_union_by_alleles(const StudyTable& study, PanelTable& panel,
                                std::vector<int>& mismatched);

// hap_row from the haplotype row of each panel row (hap_of_panel_row, -1 for
// none), then the speed filter when speed_flag is on.
void assign_haplotype_rows(SnpUnion& snp_union, const std::vector<int>& hap_of_panel_row,
                           const Settings& run);

// Haplotype rows of a VCF haplotype file (positions pos, alleles allele) tied
// to the panel rows: a panel row takes the first row at its position with
// the same alleles, or swapped ones (its bits then inverted), so that every
// bit counts the panel's ALT. Returns the rows in panel order with
// hap_of_row[r] the row of panel row r (-1: none); taken[q] says whether
// row q of haps was tied to a panel row.
HapTable haplotypes_by_position(const PanelTable& panel, const HapTable& haps,
                                const std::vector<int>& pos,
                                const std::vector<std::array<char, 2>>& allele,
                                std::vector<int>& hap_of_row, std::vector<bool>& taken);

}  // namespace tessellar
