// Helpers shared by the pattern-list, EM and posterior tests: list contents
// as plain vectors, and seeded random window rows for study and panel.
#pragma once

#include <array>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "haplo/pattern_lists.h"

namespace tessellar::testing_haplo {

using Pair = std::pair<int, int>;
using Config = std::array<int, 4>;

// The pairs of each individual of list, in list order.
inline std::vector<std::vector<Pair>> pairs_of(const StudyList& list) {
  std::vector<std::vector<Pair>> out;
  for (const node0& ind : list.individuals) {
    out.emplace_back();
    for (int k = ind.begin; k < ind.end; ++k) {
      out.back().emplace_back(list.pairs[k].hap1, list.pairs[k].hap2);
    }
  }
  return out;
}

// (kind, configurations) of each unit of list, in list order.
inline std::vector<std::pair<int, std::vector<Config>>> units_of(const FamilyList& list) {
  std::vector<std::pair<int, std::vector<Config>>> out;
  for (const node_ex0& u : list.units) {
    out.emplace_back(u.kind, std::vector<Config>{});
    for (int k = u.begin; k < u.end; ++k) {
      const node_ex& c = list.configs[k];
      out.back().second.push_back({c.hap1, c.hap2, c.hap3, c.hap4});
    }
  }
  return out;
}

// True when a and b hold the same doubles bit for bit.
inline bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  return a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// Seeded generator of window rows over M SNPs (K = 2^M haplotypes).
class RowGen {
 public:
  // seed: the run's seed; M: window size; missing: chance of a 9 per code;
  // odd: chance of a code outside 0, 1, 2, 9 (-1, 3, 4 or 7).
  RowGen(unsigned seed, int M, double missing, double odd = 0.0)
      : rng_(seed), M_(M), missing_(missing), odd_(odd) {
    std::uniform_int_distribution<int> pick(0, (1 << M) - 1);
    for (int k = 0; k < 6; ++k) pool_.push_back(pick(rng_));  // a few common haplotypes
  }

  // A haplotype: mostly from the common pool, sometimes any.
  int hap() {
    if (chance(0.8)) return pool_[std::uniform_int_distribution<int>(0, 5)(rng_)];
    return std::uniform_int_distribution<int>(0, (1 << M_) - 1)(rng_);
  }

  // Appends the codes of the pair (a, b), with missing and odd codes mixed in.
  void add_row(std::vector<int>& rows, int a, int b) {
    static constexpr int kOdd[] = {-1, 3, 4, 7};
    for (int s = 0; s < M_; ++s) {
      const int j = M_ - 1 - s;
      int g = ((a >> j) & 1) + ((b >> j) & 1);
      if (chance(missing_)) g = 9;
      if (chance(odd_)) g = kOdd[std::uniform_int_distribution<int>(0, 3)(rng_)];
      rows.push_back(g);
    }
  }

  // n study rows.
  std::vector<int> study(int n) {
    std::vector<int> rows;
    for (int i = 0; i < n; ++i) add_random_row(rows);
    return rows;
  }

  // Panel rows of ntr trios, ndu duos, nun singletons; error: chance that a
  // child's haplotype is not one of its parent's (a Mendelian error).
  std::vector<int> panel(int ntr, int ndu, int nun, double error = 0.05) {
    std::vector<int> rows;
    for (int t = 0; t < ntr; ++t) {
      const int a = hap(), b = hap(), c = hap(), d = hap();
      add_row(rows, a, b);
      add_row(rows, c, d);
      const int e = child_hap(a, b, error);
      add_row(rows, e, child_hap(c, d, error));
    }
    for (int d = 0; d < ndu; ++d) {
      const int a = hap(), b = hap();
      add_row(rows, a, b);
      const int e = child_hap(a, b, error);
      add_row(rows, e, hap());
    }
    for (int u = 0; u < nun; ++u) add_random_row(rows);
    return rows;
  }

  bool chance(double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < p; }
  int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

 private:
  void add_random_row(std::vector<int>& rows) {
    const int a = hap();
    add_row(rows, a, hap());
  }

  int child_hap(int a, int b, double error) {
    if (chance(error)) return hap();
    return chance(0.5) ? a : b;
  }

  std::mt19937 rng_;
  int M_;
  double missing_;
  double odd_;
  std::vector<int> pool_;
};

}  // namespace tessellar::testing_haplo
