// The reference panel file: one line per SNP (name, position, two allele
// letters, one code per panel member, trios then duos then singletons).
#pragma once

#include <string>

#include "core/settings.h"
#include "input/genotype_rows.h"

namespace tessellar {

struct PanelTable : GenotypeRows {
  int ncol = 0;  // panel members: 3 nTR + 2 nDU + nUN; geno rewritten by the alignment
  int nTR = 0;   // the family units of the columns: trios, duos, singletons
  int nDU = 0;
  int nUN = 0;
  // Per row, 1 when the alignment flipped the codes an odd number of times,
  // so that they count allele 1, the first letter (empty: no row flipped).
  // In a text panel a recode flip does not count: there it makes codes that
  // count the first letter, as the study's flag says, count the second.
  std::vector<uint8_t> flipped;
  bool vcf = false;  // read from VCF/BCF: the codes count ALT, the second letter, as read
  bool is_flipped(int r) const { return !flipped.empty() && flipped[static_cast<std::size_t>(r)]; }
};

// Reads efile into a panel table, keeping the codes of the kept positions;
// checks its column count against the settings' nTR, nDU, nUN before any
// row is read; prints its log line unless quiet.
PanelTable read_panel(const std::string& efile, const Settings& run, KeptPositions kept = {},
                      bool quiet = false);

}  // namespace tessellar
