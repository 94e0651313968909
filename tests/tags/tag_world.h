// A small SNP union with its study, panel and haplotype tables, built by the
// tag tests, and calls of the fast and the literal tag search on it.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "input/haplotypes.h"
#include "input/study.h"
#include "literal/tags_literal.h"
#include "core/fatal.h"
#include "core/settings.h"
#include "tags/tag_search.h"

namespace tessellar::testing_tags {

// The union view and its tables. Rows are added in position order; each
// may be in the study, the panel and the haplotype file.
struct World {
  std::vector<int> pos, study, panel, hap;  // per union row; -1 where absent
  HapTable haps;                            // ncol set before adding rows
  GenoMatrix study_geno, panel_geno;        // members set before adding rows
  std::vector<std::vector<uint8_t>> hap_rows;

  // Adds a union row at position p; bits (ncol entries) when it has a
  // haplotype row, codes for the study and the panel when typed there.
  void add(int p, const std::vector<uint8_t>* bits, const std::vector<int8_t>* study_codes,
           const std::vector<int8_t>* panel_codes) {
    pos.push_back(p);
    hap.push_back(bits ? haps.nsnp++ : -1);
    if (bits) haps.bits.insert(haps.bits.end(), bits->begin(), bits->end());
    study.push_back(study_codes ? rows_of(study_geno) : -1);
    if (study_codes) append(study_geno, *study_codes);
    panel.push_back(panel_codes ? rows_of(panel_geno) : -1);
    if (panel_codes) append(panel_geno, *panel_codes);
  }
  int n() const { return static_cast<int>(pos.size()); }

  static int rows_of(const GenoMatrix& g) {
    return g.members ? static_cast<int>(g.codes.size()) / g.members : 0;
  }
  static void append(GenoMatrix& g, const std::vector<int8_t>& codes) {
    g.codes.insert(g.codes.end(), codes.begin(), codes.end());
  }
};

// The union vectors indexed from -1 to n, as the driver holds them.
struct UnionVectors {
  ivector pos, study, panel, hap;
  explicit UnionVectors(const World& w)
      : pos(-1, w.n()), study(-1, w.n()), panel(-1, w.n()), hap(-1, w.n()) {
    pos[-1] = -300000000;
    pos[w.n()] = 300000000;
    for (ivector* v : {&study, &panel, &hap}) (*v)[-1] = (*v)[w.n()] = -1;
    for (int u = 0; u < w.n(); ++u) {
      pos[u] = w.pos[u];
      study[u] = w.study[u];
      panel[u] = w.panel[u];
      hap[u] = w.hap[u];
    }
  }
};

// One search's outputs; tag_list starts as -7 everywhere.
struct SearchResult {
  std::vector<int> tag_list;
  double score = -1;
  std::vector<int> study_tags, panel_tags;  // window rows afterwards
};

// Runs the fast (literal = false) or the literal search on w; the fast one
// with the given index and scratch when there are (kept across targets, as
// the program keeps them), else with fresh ones.
inline SearchResult run_search(const World& w, int target, int mode, int hap_flag, int speed_flag,
                               bool literal, const HapIndex* kept_index = nullptr,
                               TagScratch* kept_scratch = nullptr) {
  const UnionVectors u(w);
  SearchResult r;
  r.tag_list.assign(settings().M, -7);
  r.study_tags.assign(static_cast<std::size_t>(w.study_geno.members) * settings().M, 0);
  r.panel_tags.assign(static_cast<std::size_t>(w.panel_geno.members) * settings().M, 0);
  if (literal) {
    literal::getMD_max(r.tag_list.data(), &r.score, target, mode, hap_flag, speed_flag,
                       u.pos.data(), w.n(), w.haps, u.hap.data(), w.haps.ncol, w.panel_geno,
                       r.panel_tags.data(), u.panel.data(), w.panel_geno.members, w.study_geno,
                       r.study_tags.data(), u.study.data(), w.study_geno.members);
  } else {
    const auto index = kept_index ? nullptr : prepare_haplotypes(w.haps);
    const auto scratch = kept_scratch ? nullptr : make_tag_scratch();
    getMD_max(r.tag_list.data(), &r.score, target, mode, hap_flag, speed_flag, u.pos.data(), w.n(),
              w.haps, kept_index ? *kept_index : *index, u.hap.data(), w.haps.ncol, w.panel_geno,
              r.panel_tags.data(), u.panel.data(), w.panel_geno.members, w.study_geno,
              r.study_tags.data(), u.study.data(), w.study_geno.members,
              kept_scratch ? *kept_scratch : *scratch);
  }
  return r;
}

// The candidate list of target in w.
inline std::vector<int> candidates(const World& w, int target, int mode, int hap_flag,
                                   int speed_flag) {
  const UnionVectors u(w);
  TagScratch scratch;
  const int N = collect_candidates(target, mode, hap_flag, speed_flag, u.pos.data(), w.n(),
                                   u.hap.data(), u.panel.data(), u.study.data(), scratch);
  return {scratch.candidates.begin(), scratch.candidates.begin() + N};
}

}  // namespace tessellar::testing_tags
