// The SNP union: study and panel SNPs merged by position, each union row
// naming its study row, panel row and haplotype row (-1 where absent).
#pragma once

#include "core/ivector.h"
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

}  // namespace tessellar
