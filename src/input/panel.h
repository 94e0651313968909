// The reference panel file: one line per SNP (name, position, two allele
// letters, one code per panel member, trios then duos then singletons).
#pragma once

#include <string>

#include "core/settings.h"
#include "input/genotype_rows.h"

namespace tessellar {

struct PanelTable : GenotypeRows {
  int ncol = 0;  // panel members: 3 nTR + 2 nDU + nUN; geno rewritten by the alignment
};

// Reads efile into a panel table, checks its column count against the
// settings' nTR, nDU, nUN before any row is read, prints its log line.
PanelTable read_panel(const std::string& efile, const Settings& run);

}  // namespace tessellar
