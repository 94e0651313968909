// The reference panel file: one line per SNP (name, position, two allele
// letters, one code per panel member, trios then duos then singletons).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "input/study.h"

namespace tessellar {

struct PanelTable {
  int ncol = 0;                             // panel members: 3 nTR + 2 nDU + nUN
  int nsnp = 0;                             // SNP rows
  std::vector<std::string> name;            // per row, at most 29 characters
  std::vector<int> pos;                     // per row
  std::vector<std::array<char, 2>> allele;  // per row
  GenoMatrix geno;                          // geno.at(c, r); rewritten by the alignment
  std::vector<double> freq;                 // per row, from the codes as read
};

// Reads efile into a panel table, checks its column count against nTR, nDU,
// nUN of the settings before any row is read, prints its log line.
PanelTable read_panel(const std::string& efile);

}  // namespace tessellar
