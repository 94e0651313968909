// The haplotype matching as a plain forward scan over the haplotype rows,
// kept to check the indexed version of match_haplotypes bit for bit.
#pragma once

#include "input/haplotypes.h"
#include "input/panel.h"
#include "input/snp_union.h"

namespace tessellar::literal {

// Fills u.hap_row by scanning from the row after the latest match for each
// union row with a panel row; with speed, clears the panel rows left unmatched.
inline void match_haplotypes_scan(SnpUnion& u, const PanelTable& panel, const HapTable& haps,
                                  bool speed) {
  u.hap_row = ivector(-1, u.pos.hi());
  u.hap_row[-1] = -1;
  int last = -1;
  for (int r = 0; r < u.n; ++r) {
    u.hap_row[r] = -1;
    if (u.panel_row[r] == -1) continue;
    for (int k = last + 1; k < haps.nsnp; ++k) {
      if (haps.name[k] == panel.name[u.panel_row[r]]) {
        u.hap_row[r] = k;
        last = k;
        break;
      }
    }
  }
  if (!speed) return;
  for (int r = 0; r < u.n; ++r) {
    if (u.panel_row[r] >= 0 && u.hap_row[r] == -1) u.panel_row[r] = -1;
  }
}

}  // namespace tessellar::literal
