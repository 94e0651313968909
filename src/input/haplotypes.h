// The phased haplotype file: one line per SNP (name, then one allele bit per
// phased haplotype), stored one array per SNP.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "core/settings.h"

namespace tessellar {

// Rows first onwards have their values in bits: every row, but in a run of
// one region from text files only the consecutive rows that it reads.
struct HapTable {
  int ncol = 0;                   // phased haplotypes
  int nsnp = 0;                   // SNP rows
  std::vector<std::string> name;  // per row
  int first = 0;                  // the first row stored
  std::vector<uint8_t> bits;      // bits[(row - first) * ncol + column]: 0 or 1
  const uint8_t* hap(int row) const {
    return bits.data() + static_cast<std::size_t>(row - first) * ncol;
  }
  int stored() const { return ncol == 0 ? 0 : static_cast<int>(bits.size() / ncol); }
};

// The rows of a haplotype file whose values are kept: first to last
// (every row by default).
struct KeptRows {
  int first = 0;
  int last = std::numeric_limits<int>::max();
};

// Reads hfile into a haplotype table, keeping the values of the kept rows,
// and prints its log line (which names the settings' panel structure) unless
// quiet. Values other than 0 and 1 and rows of other lengths stop the run.
HapTable read_haplotypes(const std::string& hfile, const Settings& run, KeptRows kept = {},
                         bool quiet = false);

}  // namespace tessellar
