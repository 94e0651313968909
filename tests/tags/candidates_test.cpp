// The candidate walk: window edges, minnum and maxnum, ties, union ends and
// the qualification rules of both modes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tag_world.h"

namespace tessellar {
namespace {

using testing_tags::World;

// One union row: its position and where it is typed: S study, P panel,
// H haplotype file (for instance "SPH").
struct Row {
  int pos;
  std::string kind;
};

struct CandidateCase {
  std::string name;
  std::vector<Row> rows;
  int target;
  int mode;
  int hap_flag;
  int speed_flag;
  int window, minnum, maxnum;
  std::vector<int> expected;
};

World make_world(const std::vector<Row>& rows) {
  World w;
  w.haps.ncol = 2;
  w.study_geno.members = 1;
  w.panel_geno.members = 1;
  const std::vector<uint8_t> bits{0, 1};
  const std::vector<int8_t> code{1};
  for (const Row& r : rows) {
    const auto has = [&](char c) { return r.kind.find(c) != std::string::npos; };
    w.add(r.pos, has('H') ? &bits : nullptr, has('S') ? &code : nullptr,
          has('P') ? &code : nullptr);
  }
  return w;
}

class CandidateWalk : public ::testing::TestWithParam<CandidateCase> {};

TEST_P(CandidateWalk, CollectsTheExpectedRows) {
  const CandidateCase& c = GetParam();
  Settings s;
  s.M = 3;
  s.window = c.window;
  s.minnum = c.minnum;
  s.maxnum = c.maxnum;
  install_settings(s);
  const World w = make_world(c.rows);
  EXPECT_EQ(testing_tags::candidates(w, c.target, c.mode, c.hap_flag, c.speed_flag), c.expected);
}

const std::vector<Row> kEveryKind = {{10, "S"},  {20, "P"},   {30, "SP"}, {40, "SH"},
                                     {50, "PH"}, {60, "SPH"}, {70, "H"},  {80, "SPH"}};

INSTANTIATE_TEST_SUITE_P(
    Cases, CandidateWalk,
    ::testing::Values(
        CandidateCase{"ExactlyWindowAwayIsInsideOneMoreIsOut",
                      {{100, "SP"}, {150, "SP"}, {200, "P"}, {250, "SP"}, {301, "SP"}},
                      2,
                      0,
                      0,
                      0,
                      100,
                      0,
                      10,
                      {0, 1, 3}},
        CandidateCase{"OneMoreOnTheLeftIsOut",
                      {{99, "SP"}, {200, "P"}, {300, "SP"}},
                      1,
                      0,
                      0,
                      0,
                      100,
                      0,
                      10,
                      {2}},
        CandidateCase{
            "MinnumNearestWhenNoneInTheWindow",
            {{0, "SP"}, {1000, "SP"}, {2000, "P"}, {2500, "SP"}, {5000, "SP"}, {9000, "SP"}},
            2,
            0,
            0,
            0,
            10,
            3,
            10,
            {0, 1, 3}},
        CandidateCase{"FewerThanMinnumExist",
                      {{0, "SP"}, {2000, "P"}, {5000, "SP"}, {6000, "P"}},
                      1,
                      0,
                      0,
                      0,
                      10,
                      8,
                      20,
                      {0, 2}},
        CandidateCase{
            "OnlyMaxnumNearestInAFullWindow",
            {{10, "SP"}, {20, "SP"}, {30, "SP"}, {40, "P"}, {45, "SP"}, {60, "SP"}, {90, "SP"}},
            3,
            0,
            0,
            0,
            1000,
            0,
            3,
            {1, 2, 4}},
        CandidateCase{"EqualDistancesTakeTheLeftFirst",
                      {{90, "SP"}, {100, "P"}, {110, "SP"}},
                      1,
                      0,
                      0,
                      0,
                      1000,
                      0,
                      1,
                      {0}},
        CandidateCase{"TargetAtTheFirstRow",
                      {{100, "P"}, {110, "SP"}, {120, "SP"}, {130, "SP"}},
                      0,
                      0,
                      0,
                      0,
                      1000,
                      0,
                      2,
                      {1, 2}},
        CandidateCase{"TargetAtTheLastRow",
                      {{100, "SP"}, {110, "SP"}, {120, "SP"}, {130, "P"}},
                      3,
                      0,
                      0,
                      0,
                      1000,
                      0,
                      2,
                      {1, 2}},
        CandidateCase{"Mode1TargetIsNeverACandidate",
                      {{100, "S"}, {110, "S"}, {120, "S"}},
                      1,
                      1,
                      0,
                      0,
                      1000,
                      0,
                      5,
                      {0, 2}},
        CandidateCase{"Mode0NoFlags", kEveryKind, 7, 0, 0, 0, 1000, 0, 20, {2, 5}},
        CandidateCase{"Mode0HapFlagOnly", kEveryKind, 7, 0, 1, 0, 1000, 0, 20, {2, 5}},
        CandidateCase{"Mode0SpeedFlagOnly", kEveryKind, 7, 0, 0, 1, 1000, 0, 20, {2, 5}},
        CandidateCase{"Mode0BothFlags", kEveryKind, 7, 0, 1, 1, 1000, 0, 20, {5}},
        CandidateCase{"Mode1NoFlags", kEveryKind, 7, 1, 0, 0, 1000, 0, 20, {0, 2, 3, 5}},
        CandidateCase{"Mode1BothFlags", kEveryKind, 7, 1, 1, 1, 1000, 0, 20, {3, 5}},
        CandidateCase{"MaxnumZero", kEveryKind, 7, 1, 0, 0, 1000, 0, 0, {}}),
    [](const ::testing::TestParamInfo<CandidateCase>& param) { return param.param.name; });

}  // namespace
}  // namespace tessellar
