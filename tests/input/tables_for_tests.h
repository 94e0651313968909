// In-memory study and panel tables for the union and alignment tests.
#pragma once

#include <string>
#include <vector>

#include "input/panel.h"
#include "input/study.h"

namespace tessellar::testing_input {

// A study table with one row per position, names "s<row>", alleles A/G,
// one individual coded 1.
inline StudyTable study_at(const std::vector<int>& positions) {
  StudyTable t;
  t.nind = 1;
  t.nsnp = static_cast<int>(positions.size());
  t.pos = positions;
  for (int s = 0; s < t.nsnp; ++s) t.name.push_back(std::string("s").append(std::to_string(s)));
  t.recode.assign(positions.size(), 0);
  t.allele.assign(positions.size(), {'A', 'G'});
  t.geno.members = 1;
  t.geno.codes.assign(positions.size(), 1);
  t.freq.assign(positions.size(), 0.5);
  t.miss.assign(positions.size(), 0.0);
  return t;
}

// A panel table with the given names and positions, alleles A/G, one member coded 1.
inline PanelTable panel_at(const std::vector<int>& positions,
                           const std::vector<std::string>& names = {}) {
  PanelTable t;
  t.ncol = 1;
  t.nsnp = static_cast<int>(positions.size());
  t.pos = positions;
  for (int r = 0; r < t.nsnp; ++r) {
    t.name.push_back(names.empty() ? std::string("p").append(std::to_string(r))
                                   : names[static_cast<std::size_t>(r)]);
  }
  t.allele.assign(positions.size(), {'A', 'G'});
  t.geno.members = 1;
  t.geno.codes.assign(positions.size(), 1);
  t.freq.assign(positions.size(), 0.5);
  return t;
}

}  // namespace tessellar::testing_input
