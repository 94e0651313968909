// getMD_max on hand-built haplotype rows: the early stop at 0.989999, the
// improvement step of 1e-6, ties, the tag order and targets that cannot
// score, each checked on the fast and the literal search alike.
#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <vector>

#include "support.h"

namespace tessellar {
namespace {

using testing_support::Prepared;
using testing_support::SearchResult;
using testing_support::World;

using Bits = std::vector<uint8_t>;

class SearchRules : public ::testing::Test {
 protected:
  // Rows at 100, 200, ..., typed everywhere; searched with m - 1 tags.
  SearchResult both(const std::vector<Bits>& rows, int target, int m = 2) {
    s_.geometry = WindowGeometry(m);
    s_.minnum = 0;
    s_.window = 1000000;
    w_ = World();
    w_.haps.ncol = static_cast<int>(rows[0].size());
    for (std::size_t i = 0; i < rows.size(); ++i) w_.add(100 * int(i + 1), &rows[i], true, true);
    const SearchResult fast = run_search(s_, w_, target, Mode::incomplete, false);
    const SearchResult slow = run_search(s_, w_, target, Mode::incomplete, true);
    EXPECT_EQ(fast.tag_list, slow.tag_list);
    EXPECT_EQ(std::bit_cast<uint64_t>(fast.score), std::bit_cast<uint64_t>(slow.score));
    return fast;
  }
  // The literal score of the set (target, tag) in the last world.
  double pair_score(int target, int tag) {
    const Prepared p(w_);
    const int set[2] = {target, tag};
    return literal::getMD(s_, set, 1, w_.haps, p.u.hap_row.data(), w_.haps.ncol, w_.geno, nullptr,
                          p.u.study_row.data(), 0, 1);
  }
  Bits random_bits(int H) {
    Bits bits(H);
    for (auto& b : bits) b = rng_() % 2;
    return bits;
  }
  // bits with the first `flips` entries that hold 1 turned to 0.
  static Bits flipped(Bits bits, int flips) {
    for (auto& b : bits) {
      if (b == 1 && flips > 0) b = 0, --flips;
    }
    return bits;
  }
  Settings s_;
  World w_;
  std::mt19937 rng_{77};
};

TEST_F(SearchRules, StopsOnceTheBestReaches0989999) {
  const Bits T = random_bits(1000);
  SearchResult r = both({T, flipped(T, 2), T}, 0);  // target, near copy, exact copy
  ASSERT_GE(pair_score(0, 1), 0.989999);
  EXPECT_EQ(r.tag_list, (std::vector<int>{0, 1}));
  r = both({T, flipped(T, 6), T}, 0);  // below 0.989999 the search goes on
  ASSERT_LT(pair_score(0, 1), 0.989999);
  EXPECT_EQ(r.tag_list, (std::vector<int>{0, 2}));
}

// A set replaces the best only when it scores more than 1e-6 above it.
TEST_F(SearchRules, ImprovementMustExceedOneMillionth) {
  const Bits T = random_bits(1 << 21);  // one haplotype moves the score by about 6e-7
  const Bits weaker = flipped(T, 838000);
  SearchResult r = both({T, weaker, flipped(T, 837999)}, 0);
  ASSERT_GT(pair_score(0, 2), pair_score(0, 1));
  ASSERT_LE(pair_score(0, 2), pair_score(0, 1) + 1e-6);
  EXPECT_EQ(r.tag_list, (std::vector<int>{0, 1}));
  r = both({T, weaker, flipped(T, 837997)}, 0);
  ASSERT_GT(pair_score(0, 2), pair_score(0, 1) + 1e-6);
  EXPECT_EQ(r.tag_list, (std::vector<int>{0, 2}));
}

TEST_F(SearchRules, EqualScoresKeepTheEarlierSet) {
  const Bits T = random_bits(300);
  const Bits tag = flipped(T, 40);
  EXPECT_EQ(both({tag, T, tag, tag}, 1).tag_list, (std::vector<int>{1, 0}));
}

TEST_F(SearchRules, TagsComeInAscendingUnionOrder) {
  const Bits T = random_bits(500), a = random_bits(500);
  Bits b(500);
  for (int k = 0; k < 500; ++k) b[k] = T[k] ^ a[k];  // with a, b determines T
  const SearchResult r = both({random_bits(500), b, random_bits(500), T, a}, 3, 3);
  EXPECT_EQ(r.tag_list, (std::vector<int>{3, 1, 4}));
  EXPECT_NEAR(r.score, 1.0, 1e-12);
}

TEST_F(SearchRules, TargetsThatCannotScore) {
  const Bits T = random_bits(64);
  EXPECT_EQ(both({T, T}, 0, 3).tag_list, std::vector<int>(3, -7));  // fewer candidates than tags
  const SearchResult mono = both({random_bits(100), Bits(100, 1), random_bits(100)}, 1);
  EXPECT_EQ(mono.score, 0.0);
  EXPECT_EQ(mono.tag_list, std::vector<int>(2, -7));
}

}  // namespace
}  // namespace tessellar
