// The candidate walk: window edges, -min and -max, ties, the ends of the
// union and which rows qualify in each mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"

namespace tessellar {
namespace {

using testing_support::Prepared;
using testing_support::World;

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
