// The phased haplotype file: one line per SNP (name, then one allele bit per
// phased haplotype), stored one array per SNP.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/settings.h"

namespace tessellar {

struct HapTable {
  int ncol = 0;                   // phased haplotypes
  int nsnp = 0;                   // SNP rows
  std::vector<std::string> name;  // per row
  std::vector<uint8_t> bits;      // bits[row * ncol + column]: 0 or 1
  const uint8_t* hap(int row) const { return bits.data() + static_cast<std::size_t>(row) * ncol; }
};

// Reads hfile into a haplotype table and prints its log line (which names
// the settings' panel structure). Values other than 0 and 1 and rows of
// other lengths stop the run.
HapTable read_haplotypes(const std::string& hfile, const Settings& run);

}  // namespace tessellar
