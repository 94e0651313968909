// getMD_max on hand-built haplotype rows (the early stop at 0.989999, the
// improvement step of 1e-6, the tag order and targets that cannot
// score, on the fast and the literal search alike), and the candidate walk
// (window edges, -min and -max, ties, the ends of the union, which rows
// qualify in each mode).
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <string>
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
  // bits with the first `flips` entries that hold `from` turned over.
  static Bits flipped(Bits bits, int flips, uint8_t from = 1) {
    for (auto& b : bits) {
      if (b == from && flips > 0) b = 1 - from, --flips;
    }
    return bits;
  }
  Settings s_;
  World w_;
  std::mt19937 rng_{77};
};

// A best score from 0.989999 on ends the search (here 0.9899995: a target
// with 197 of 398 haplotypes carrying 1, a tag with one 1 more).
TEST_F(SearchRules, StopsOnceTheBestReaches0989999) {
  Bits T(398, 0);
  std::fill_n(T.begin(), 197, 1);
  SearchResult r = both({T, flipped(T, 1, 0), T}, 0);  // target, near copy, exact copy
  ASSERT_TRUE(pair_score(0, 1) >= 0.989999 && pair_score(0, 1) < 0.99) << pair_score(0, 1);
  EXPECT_EQ(r.tag_list, (std::vector<int>{0, 1}));
  r = both({T, flipped(T, 4, 1), T}, 0);  // below 0.989999 the search goes on
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

// One union row: its position and where it is typed: S study, P panel,
// H haplotype file (for instance "SPH").
struct Row {
  int pos;
  const char* kind;
};

struct WalkCase {
  std::vector<Row> rows;
  int target;
  Mode mode;
  int window, minnum, maxnum;
  std::vector<int> expected;
};

class CandidateWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(CandidateWalk, CollectsTheNearestQualifyingRows) {
  const WalkCase& c = GetParam();
  Settings s;
  s.window = c.window;
  s.minnum = c.minnum;
  s.maxnum = c.maxnum;
  World w;
  w.haps.ncol = 1;
  const std::vector<uint8_t> bits{1};
  for (const Row& r : c.rows) {
    const std::string kind = r.kind;
    auto has = [&](char x) { return kind.find(x) != std::string::npos; };
    w.add(r.pos, has('H') ? &bits : nullptr, has('S'), has('P'));
  }
  const Prepared p(w);
  const TagScratchPtr scratch = make_tag_scratch();
  const int N = collect_candidates(s, p.u, c.target, c.mode, *scratch);
  const std::span<const int> got = candidates(*scratch);
  EXPECT_EQ(std::vector<int>(got.begin(), got.end()), c.expected);
  EXPECT_EQ(N, static_cast<int>(c.expected.size()));
}

const std::vector<Row> kEveryKind = {{10, "S"},  {20, "P"},   {30, "SP"}, {40, "SH"},
                                     {50, "PH"}, {60, "SPH"}, {70, "H"},  {80, "SPH"}};
constexpr Mode U = Mode::untyped;
constexpr Mode I = Mode::incomplete;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, CandidateWalk, ::testing::Values(
    // exactly -window away is inside, one more is out (both sides)
    WalkCase{{{100, "SPH"}, {150, "SPH"}, {200, "PH"}, {250, "SPH"}, {301, "SPH"}}, 2, U, 100, 0, 10, {0, 1, 3}},
    WalkCase{{{99, "SPH"}, {200, "PH"}, {300, "SPH"}}, 1, U, 100, 0, 10, {2}},
    // -min nearest beyond the window; fewer than -min exist
    WalkCase{{{0, "SPH"}, {1000, "SPH"}, {2000, "PH"}, {2500, "SPH"}, {5000, "SPH"}}, 2, U, 10, 3, 10, {0, 1, 3}},
    WalkCase{{{0, "SPH"}, {2000, "PH"}, {5000, "SPH"}, {6000, "PH"}}, 1, U, 10, 8, 20, {0, 2}},
    // -max nearest in a full window; equal distances take the left first
    WalkCase{{{10, "SPH"}, {20, "SPH"}, {30, "SPH"}, {40, "PH"}, {45, "SPH"}, {60, "SPH"}, {90, "SPH"}}, 3, U, 1000, 0, 3, {1, 2, 4}},
    WalkCase{{{90, "SPH"}, {100, "PH"}, {110, "SPH"}}, 1, U, 1000, 0, 1, {0}},
    // the target at either end of the union
    WalkCase{{{100, "PH"}, {110, "SPH"}, {120, "SPH"}, {130, "SPH"}}, 0, U, 1000, 0, 2, {1, 2}},
    WalkCase{{{100, "SPH"}, {110, "SPH"}, {120, "SPH"}, {130, "PH"}}, 3, U, 1000, 0, 2, {1, 2}},
    // untyped targets want study, panel and haplotype row; incomplete ones study and haplotype row
    WalkCase{kEveryKind, 7, U, 1000, 0, 20, {5}},
    WalkCase{kEveryKind, 7, I, 1000, 0, 20, {3, 5}},
    WalkCase{kEveryKind, 7, I, 1000, 0, 0, {}}));
// clang-format on

}  // namespace
}  // namespace tessellar
