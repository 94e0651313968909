// getMD_max on hand-built haplotype tables: too few candidates, the early
// stop, the 1e-6 improvement rule, not-a-number scores and the tag order.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <vector>

#include "tag_world.h"

namespace tessellar {
namespace {

using testing_tags::run_search;
using testing_tags::SearchResult;
using testing_tags::World;

// A world of rows typed everywhere, with the given haplotype rows at
// positions 100, 200, ... (mode 1 search: the target needs a study row).
World hap_world(const std::vector<std::vector<uint8_t>>& rows) {
  World w;
  w.haps.ncol = rows.empty() ? 0 : static_cast<int>(rows[0].size());
  w.study_geno.members = 1;
  w.panel_geno.members = 1;
  const std::vector<int8_t> code{9};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    w.add(100 * static_cast<int>(i + 1), &rows[i], &code, &code);
  }
  return w;
}

std::vector<uint8_t> random_bits(int H, std::mt19937& rng) {
  std::vector<uint8_t> bits(H);
  for (auto& b : bits) b = rng() % 2;
  return bits;
}

// bits with the first `flips` entries that hold `from` turned over.
std::vector<uint8_t> flipped(std::vector<uint8_t> bits, int flips, uint8_t from) {
  for (auto& b : bits) {
    if (flips > 0 && b == from) {
      b = 1 - from;
      --flips;
    }
  }
  return bits;
}

// Both versions on w; they must agree, and the fast result is returned.
SearchResult both(const World& w, int target) {
  const SearchResult fast = run_search(w, target, 1, 1, 1, false);
  const SearchResult slow = run_search(w, target, 1, 1, 1, true);
  EXPECT_EQ(fast.tag_list, slow.tag_list);
  EXPECT_EQ(std::bit_cast<uint64_t>(fast.score), std::bit_cast<uint64_t>(slow.score));
  return fast;
}

// The score of the one-tag set (target, tag) from the literal getMD.
double pair_score(const World& w, int target, int tag) {
  const testing_tags::UnionVectors u(w);
  const int set[2] = {target, tag};
  return literal::getMD(set, 1, w.haps, u.hap.data(), w.haps.ncol, w.study_geno, nullptr,
                        u.study.data(), 0, 1);
}

class SearchRules : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings s;
    s.M = 2;
    s.minnum = 0;
    s.window = 1000000;
    install_settings(s);
  }
  std::mt19937 rng{77};
};

TEST_F(SearchRules, FewerCandidatesThanTagsTriesNoSet) {
  install_window_size(3);
  const auto T = random_bits(64, rng);
  const SearchResult r = both(hap_world({T, T}), 0);
  EXPECT_EQ(r.score, 0.0);
  EXPECT_EQ(r.tag_list, std::vector<int>(3, -7));
}

TEST_F(SearchRules, StopsOnceTheBestReaches0989999) {
  const auto T = random_bits(1000, rng);
  const World w = hap_world({T, flipped(T, 2, 1), T});  // target, near copy, exact copy
  const double first = pair_score(w, 0, 1);
  ASSERT_GE(first, 0.989999);
  ASSERT_GT(pair_score(w, 0, 2), first + 1e-6);
  const SearchResult r = both(w, 0);
  EXPECT_EQ(r.tag_list, (std::vector<int>{0, 1}));
  EXPECT_EQ(r.score, first);
}

TEST_F(SearchRules, GoesOnBelow0989999) {
  const auto T = random_bits(1000, rng);
  const World w = hap_world({T, flipped(T, 6, 1), T});
  ASSERT_LT(pair_score(w, 0, 1), 0.989999);
  const SearchResult r = both(w, 0);
  EXPECT_EQ(r.tag_list, (std::vector<int>{0, 2}));
  EXPECT_EQ(r.score, pair_score(w, 0, 2));
}

// Scores within 1e-6 of the best keep the earlier set; more replace it.
TEST_F(SearchRules, ImprovementMustExceedOneMillionth) {
  const int H = 1 << 21;  // one haplotype more moves the score by about 6e-7
  const auto T = random_bits(H, rng);
  const auto weaker = flipped(T, 838000, 1);
  const auto close = flipped(T, 837999, 1);
  const auto better = flipped(T, 837990, 1);
  const World tie = hap_world({T, weaker, close});
  const double a = pair_score(tie, 0, 1);
  const double b = pair_score(tie, 0, 2);
  ASSERT_GT(b, a);
  ASSERT_LE(b, a + 1e-6);
  SearchResult r = both(tie, 0);
  EXPECT_EQ(r.tag_list, (std::vector<int>{0, 1}));
  EXPECT_EQ(r.score, a);
  const World step = hap_world({T, weaker, better});
  ASSERT_GT(pair_score(step, 0, 2), a + 1e-6);
  r = both(step, 0);
  EXPECT_EQ(r.tag_list, (std::vector<int>{0, 2}));
}

TEST_F(SearchRules, EqualScoresKeepTheEarlierSet) {
  const auto T = random_bits(300, rng);
  const auto tag = flipped(T, 40, 0);
  const SearchResult r = both(hap_world({tag, T, tag, tag}), 1);
  EXPECT_EQ(r.tag_list, (std::vector<int>{1, 0}));
}

TEST_F(SearchRules, NotANumberNeverBecomesTheBest) {
  const std::vector<uint8_t> none;  // no phased haplotypes: 0 / 0 frequencies
  const SearchResult r = both(hap_world({none, none, none}), 1);
  EXPECT_EQ(r.score, 0.0);
  EXPECT_EQ(r.tag_list, std::vector<int>(2, -7));
}

TEST_F(SearchRules, MonomorphicTargetScoresZero) {
  const std::vector<uint8_t> ones(100, 1);
  const SearchResult r = both(hap_world({random_bits(100, rng), ones, random_bits(100, rng)}), 1);
  EXPECT_EQ(r.score, 0.0);
}

TEST_F(SearchRules, TagsComeInAscendingUnionOrder) {
  install_window_size(3);
  const auto T = random_bits(500, rng);
  const auto a = random_bits(500, rng);
  std::vector<uint8_t> b(500);
  for (int k = 0; k < 500; ++k) b[k] = T[k] ^ a[k];  // with a, b determines T
  const SearchResult r =
      both(hap_world({random_bits(500, rng), b, random_bits(500, rng), T, a}), 3);
  EXPECT_EQ(r.tag_list, (std::vector<int>{3, 1, 4}));
  EXPECT_NEAR(r.score, 1.0, 1e-12);
}

}  // namespace
}  // namespace tessellar
