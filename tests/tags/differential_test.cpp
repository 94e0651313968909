// The fast getMD and getMD_max against the literal versions, bit for bit, on
// seeded random unions: counting path, EM path and mixtures of both.
#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <vector>

#include "tag_world.h"
#include "tags/count_search.h"

namespace tessellar {
namespace {

using testing_tags::run_search;
using testing_tags::SearchResult;
using testing_tags::UnionVectors;
using testing_tags::World;

struct WorldShape {
  int n;             // union rows
  int H;             // phased haplotypes
  int founders;      // 0: independent columns
  double mutation;   // chance of a flipped allele per entry
  double hap_share;  // share of rows with a haplotype row
  double miss;       // share of missing genotype codes
};

// A random union: positions with repeats (equal distances happen), rows in
// the study and the panel at random, haplotypes copied from a few founders.
World random_world(const WorldShape& shape, int nind, int nmembers, std::mt19937& rng) {
  std::uniform_real_distribution<double> unit(0, 1);
  World w;
  w.haps.ncol = shape.H;
  w.study_geno.members = nind;
  w.panel_geno.members = nmembers;
  std::vector<std::vector<uint8_t>> founders(std::max(shape.founders, 1));
  for (auto& f : founders) {
    f.resize(shape.n);
    for (auto& b : f) b = rng() % 2;
  }
  std::vector<int> origin(shape.H);
  for (int& o : origin) o = static_cast<int>(rng() % founders.size());
  int p = 1000;
  for (int u = 0; u < shape.n; ++u) {
    p += static_cast<int>(rng() % 4) * 50;
    std::vector<uint8_t> bits(shape.H);
    const bool mono = unit(rng) < 0.05;
    for (int k = 0; k < shape.H; ++k) {
      uint8_t b = shape.founders ? founders[origin[k]][u] : rng() % 2;
      if (unit(rng) < shape.mutation) b = 1 - b;
      bits[k] = mono ? 1 : b;
    }
    auto codes = [&](int count) {
      std::vector<int8_t> c(count);
      for (auto& x : c) x = unit(rng) < shape.miss ? 9 : static_cast<int8_t>(rng() % 3);
      return c;
    };
    const std::vector<int8_t> s = codes(nind), q = codes(nmembers);
    const double kind = unit(rng);
    const bool in_study = kind < 0.8;
    const bool in_panel = kind > 0.1;
    w.add(p, unit(rng) < shape.hap_share ? &bits : nullptr, in_study ? &s : nullptr,
          in_panel ? &q : nullptr);
  }
  return w;
}

void expect_same(const SearchResult& fast, const SearchResult& slow, const char* where) {
  EXPECT_EQ(fast.tag_list, slow.tag_list) << where;
  EXPECT_EQ(std::bit_cast<uint64_t>(fast.score), std::bit_cast<uint64_t>(slow.score))
      << where << ": " << fast.score << " vs " << slow.score;
  EXPECT_EQ(fast.study_tags, slow.study_tags) << where;
  EXPECT_EQ(fast.panel_tags, slow.panel_tags) << where;
}

// Every row that can be a target of the mode, searched by both versions;
// the fast one both with fresh working memory and with one index and
// scratch kept across the targets in row order, as the program runs it
// (neighbouring targets then share the counts kept for their candidates).
void compare_targets(const World& w, int mode, int hap_flag, int speed_flag) {
  const auto index = prepare_haplotypes(w.haps);
  const auto scratch = make_tag_scratch();
  for (int t = 0; t < w.n(); ++t) {
    if (mode == 1 && (w.study[t] < 0 || (hap_flag && speed_flag && w.hap[t] < 0))) continue;
    if (mode == 0 && w.panel[t] < 0) continue;
    const SearchResult slow = run_search(w, t, mode, hap_flag, speed_flag, true);
    const std::string where = "target " + std::to_string(t);
    expect_same(run_search(w, t, mode, hap_flag, speed_flag, false), slow, where.c_str());
    expect_same(run_search(w, t, mode, hap_flag, speed_flag, false, index.get(), scratch.get()),
                slow, (where + ", kept scratch").c_str());
  }
}

// The mask search, which serves the long candidate lists, against the
// subset search (itself checked against the literal search above).
TEST(MaskSearch, MatchesTheSubsetSearch) {
  for (int M : {2, 3, 5, 7}) {
    for (int seed = 0; seed < 4; ++seed) {
      std::mt19937 rng(7000 + 10 * M + seed);
      Settings s;
      s.M = M;
      s.window = 400 + static_cast<int>(rng() % 400);
      s.minnum = static_cast<int>(rng() % 6);
      s.maxnum = M + 1 + static_cast<int>(rng() % 8);
      install_settings(s);
      const WorldShape shape{60, 130, 6, 0.05, 1.0, 0.05};
      const World w = random_world(shape, 1, 1, rng);
      const UnionVectors u(w);
      const auto index = prepare_haplotypes(w.haps);
      for (int t = 0; t < w.n(); ++t) {
        if (w.study[t] < 0) continue;
        const std::vector<int> cand = testing_tags::candidates(w, t, 1, 1, 1);
        std::vector<int> by_masks(M, -7), by_subsets(M, -7);
        double mask_score = 0, subset_score = 0;
        const auto a = make_tag_scratch();
        const auto b = make_tag_scratch();
        search_by_masks(cand.data(), static_cast<int>(cand.size()), t, u.hap.data(), *index,
                        by_masks.data(), &mask_score, *a);
        if (!search_by_subsets(cand.data(), static_cast<int>(cand.size()), t, u.hap.data(), *index,
                               by_subsets.data(), &subset_score, *b)) {
          continue;  // fewer candidates than tags: the mask search alone runs
        }
        EXPECT_EQ(by_masks, by_subsets) << "M " << M << " seed " << seed << " target " << t;
        EXPECT_EQ(std::bit_cast<uint64_t>(mask_score), std::bit_cast<uint64_t>(subset_score));
      }
    }
  }
}

struct CountingCase {
  int M;
  WorldShape shape;
};

class CountingSearch : public ::testing::TestWithParam<CountingCase> {};

// Every SNP has a haplotype row and both flags are on: the counting search.
TEST_P(CountingSearch, MatchesTheLiteralSearch) {
  const CountingCase c = GetParam();
  for (int seed = 0; seed < 6; ++seed) {
    std::mt19937 rng(100 * c.M + seed);
    Settings s;
    s.M = c.M;
    s.window = 300 + static_cast<int>(rng() % 500);
    s.minnum = static_cast<int>(rng() % 8);
    s.maxnum = c.M + static_cast<int>(rng() % 6);
    install_settings(s);
    const World w = random_world(c.shape, 1, 1, rng);
    SCOPED_TRACE("seed " + std::to_string(seed));
    compare_targets(w, 1, 1, 1);
    compare_targets(w, 0, 1, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, CountingSearch,
    ::testing::Values(
        CountingCase{2, {30, 120, 0, 0, 1, 0}}, CountingCase{3, {30, 65, 3, 0.02, 1, 0}},
        CountingCase{4, {30, 64, 4, 0.05, 1, 0}}, CountingCase{5, {30, 120, 0, 0, 1, 0}},
        CountingCase{5, {30, 200, 3, 0.01, 1, 0}}, CountingCase{5, {30, 63, 2, 0.0, 1, 0}},
        CountingCase{5, {25, 1, 0, 0, 1, 0}}, CountingCase{5, {25, 2, 1, 0, 1, 0}},
        CountingCase{5, {25, 7, 2, 0.1, 1, 0}}, CountingCase{5, {25, 130, 1, 0.0, 1, 0}},
        CountingCase{5, {20, 0, 0, 0, 1, 0}}, CountingCase{6, {22, 300, 5, 0.03, 1, 0}},
        CountingCase{7, {16, 129, 6, 0.05, 1, 0}}));

struct EmCase {
  int M;
  int mode;
  int hap_flag, speed_flag;
  WorldShape shape;
};

class EmSearch : public ::testing::TestWithParam<EmCase> {};

// Some SNPs lack a haplotype row (or hap_flag is off): the EM path, alone or
// mixed with counting, through the study (mode 1) or the panel (mode 0).
TEST_P(EmSearch, MatchesTheLiteralSearch) {
  const EmCase c = GetParam();
  for (int seed = 0; seed < 3; ++seed) {
    std::mt19937 rng(7000 + 10 * c.M + seed + 100 * c.mode);
    Settings s;
    s.M = c.M;
    s.nTR = 2;
    s.nDU = 1;
    s.nUN = 2;
    s.window = 200;
    s.minnum = 2;
    s.maxnum = c.M + 2;
    install_settings(s);
    const World w = random_world(c.shape, 10, 3 * s.nTR + 2 * s.nDU + s.nUN, rng);
    SCOPED_TRACE("seed " + std::to_string(seed));
    compare_targets(w, c.mode, c.hap_flag, c.speed_flag);
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, EmSearch,
                         ::testing::Values(EmCase{3, 1, 1, 0, {14, 40, 3, 0.05, 0.5, 0.15}},
                                           EmCase{3, 1, 0, 0, {12, 40, 3, 0.05, 1, 0.1}},
                                           EmCase{2, 1, 1, 0, {14, 65, 2, 0.05, 0.7, 0.3}},
                                           EmCase{3, 0, 1, 0, {12, 40, 3, 0.05, 0.5, 0.05}},
                                           EmCase{2, 0, 0, 0, {12, 40, 3, 0.05, 1, 0.1}},
                                           EmCase{3, 0, 1, 1, {14, 70, 2, 0.05, 0.6, 0.1}}));

// getMD on random sets of both paths, the scratch reused across calls.
TEST(GetMD, MatchesTheLiteralBitForBit) {
  Settings s;
  s.M = 3;
  s.nTR = 2;
  s.nDU = 1;
  s.nUN = 2;
  install_settings(s);
  std::mt19937 rng(99);
  const World w = random_world({20, 70, 3, 0.05, 0.6, 0.1}, 8, 3 * s.nTR + 2 * s.nDU + s.nUN, rng);
  const testing_tags::UnionVectors u(w);
  TagScratch scratch;
  for (int trial = 0; trial < 200; ++trial) {
    int set[3];
    const int mode = trial % 2;
    const std::vector<int>& row = mode ? w.study : w.panel;
    for (int& x : set) {
      do x = static_cast<int>(rng() % w.n());
      while (row[x] < 0);
    }
    const GenoMatrix& geno = mode ? w.study_geno : w.panel_geno;
    const int* table_row = mode ? u.study.data() : u.panel.data();
    std::vector<int> tags_fast(geno.members * 3, -1), tags_slow(geno.members * 3, -1);
    const double fast = getMD(set, 1, w.haps, u.hap.data(), w.haps.ncol, geno, tags_fast.data(),
                              table_row, geno.members, mode, scratch);
    const double slow = literal::getMD(set, 1, w.haps, u.hap.data(), w.haps.ncol, geno,
                                       tags_slow.data(), table_row, geno.members, mode);
    ASSERT_EQ(std::bit_cast<uint64_t>(fast), std::bit_cast<uint64_t>(slow)) << trial;
    ASSERT_EQ(tags_fast, tags_slow) << trial;
  }
}

class PruningBound : public ::testing::TestWithParam<int> {};

// The closed form stays within a quarter of the margin of the exact score,
// for random counts with the target frequency anywhere, extremes included.
TEST_P(PruningBound, HoldsWithRoomToSpare) {
  const int M = GetParam();
  install_window_size(M);
  const int K = settings().K;
  std::mt19937 rng(5 + M);
  TagScratch scratch;
  std::vector<int> counts(K);
  for (int trial = 0; trial < 2000; ++trial) {
    const int H = 1 + static_cast<int>(rng() % (trial % 4 == 0 ? 50000 : 3000));
    std::fill(counts.begin(), counts.end(), 0);
    const int skew = static_cast<int>(rng() % 4);  // 0: even; else mostly one target allele
    const int used = 1 + static_cast<int>(rng() % K);
    for (int k = 0; k < H; ++k) {
      int h = static_cast<int>(rng() % used);
      if (skew && rng() % 1000 > 0) h = skew == 1 ? h % (K / 2) : K / 2 + h % (K / 2);
      ++counts[h];
    }
    int C1 = 0;
    for (int h = K / 2; h < K; ++h) C1 += counts[h];
    const double exact = score_from_counts(counts.data(), H, scratch);
    if (C1 == 0 || C1 == H) {
      EXPECT_EQ(exact, 0.0);
      continue;
    }
    if (exact == 0.0) continue;  // outside the bounds of P
    const double margin = count_score_margin(H, C1);
    // Observed: below 1% of the margin.
    ASSERT_LE(std::abs(exact - count_score(counts.data(), H, C1, scratch)), margin / 4)
        << "H " << H << " C1 " << C1;
  }
}

INSTANTIATE_TEST_SUITE_P(Windows, PruningBound, ::testing::Values(2, 5, 8));

}  // namespace
}  // namespace tessellar
