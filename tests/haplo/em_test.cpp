// The EM and the posterior step on hand-worked windows.
#include "haplo/em.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "haplo/imputation.h"

namespace tessellar {
namespace {

struct EmCase {
  const char* name;
  int M;
  std::vector<int> study_rows;
  int ntr, ndu, nun;
  std::vector<int> panel_rows;
  bool use_study, use_families;
  std::vector<double> start, expected;  // the estimate exactly
  int iterations;
};

class EmByHand : public ::testing::TestWithParam<EmCase> {};

TEST_P(EmByHand, GivesTheWorkedEstimate) {
  const EmCase& c = GetParam();
  const WindowGeometry g(c.M);
  StudyList study;
  FamilyList families;
  makelist(g, study, c.study_rows.data(), static_cast<int>(c.study_rows.size()) / c.M);
  makelist_ex(g, families, c.panel_rows.data(), c.ntr, c.ndu, c.nun);
  EmUnits units;
  if (c.use_study) units.study = &study;
  if (c.use_families) units.families = &families;
  std::vector<double> f = c.start;
  const EmResult result = estimate_frequencies(g.K, f.data(), units);
  EXPECT_EQ(f, c.expected);
  EXPECT_EQ(result.iterations, c.iterations);
  EXPECT_TRUE(result.converged);
}

const std::vector<double> kUniform32(32, 1.0 / 32);

// clang-format off
INSTANTIATE_TEST_SUITE_P(Windows, EmByHand, ::testing::Values(
    //     name                          M  study rows       trios duos singles  panel rows   study  families start       expected               iterations
    EmCase{"all_missing_stays_uniform",  5, {9, 9, 9, 9, 9}, 0, 0, 0, {},             true,  false, kUniform32, kUniform32,             1},
    EmCase{"study_2_2_0",                1, {2, 2, 0},       0, 0, 0, {},             true,  false, {0.5, 0.5}, {1.0 / 3, 2.0 / 3},     2},
    EmCase{"trio_1_1_2",                 1, {},              1, 0, 0, {1, 1, 2},      false, true,  {0.9, 0.1}, {0.5, 0.5},             2},
    EmCase{"duo_counts_three_halves",    1, {},              0, 1, 0, {1, 2},         false, true,  {0.5, 0.5}, {1.0 / 3, 2.0 / 3},     2},
    EmCase{"singleton_and_trio",         1, {},              1, 0, 1, {0, 0, 0, 2},   false, true,  {0.5, 0.5}, {2.0 / 3, 1.0 / 3},     2},
    EmCase{"zero_sum_unit_still_counts", 1, {2, 0},          0, 0, 0, {},             true,  false, {1.0, 0.0}, {0.5, 0.0},             2},
    EmCase{"impossible_pairs_add_nothing",2, {1, 1, 0, 0},    0, 0, 0, {},             true,  false, {1, 0, 0, 0}, {0.5, 0, 0, 0},       2},
    EmCase{"mendelian_error_trio_counts",1, {},              1, 0, 1, {0, 0, 2, 0},   false, true,  {0.5, 0.5}, {1.0 / 3, 0.0},         2},
    EmCase{"study_and_families",         1, {2},             0, 0, 1, {0},            true,  true,  {0.5, 0.5}, {0.5, 0.5},             1},
    EmCase{"no_unit_keeps_the_start",    1, {2},             0, 0, 1, {0},            false, false, {0.3, 0.7}, {0.3, 0.7},             0}),
    [](const ::testing::TestParamInfo<EmCase>& c) { return std::string(c.param.name); });
// clang-format on

// One double heterozygote among many fully missing individuals: the change
// shrinks by about 0.1 % per iteration, and the EM stops after 500.
TEST(Em, StopsAfter500Iterations) {
  const WindowGeometry g(2);
  std::vector<int> rows = {1, 1};
  for (int i = 0; i < 999; ++i) rows.insert(rows.end(), {9, 9});
  StudyList study;
  makelist(g, study, rows.data(), 1000);
  std::vector<double> f = {0.4, 0.1, 0.1, 0.4};
  EmUnits units;
  units.study = &study;
  const EmResult result = estimate_frequencies(g.K, f.data(), units);
  EXPECT_FALSE(result.converged);
  EXPECT_EQ(result.iterations, 500);
  f = {0.4, 0.1, 0.1, 0.4};
  EXPECT_EQ(A1(g.K, f.data(), &study, nullptr, -1, -1, 1, -1), 0);
}

struct PosteriorCase {
  int M;
  std::vector<int> rows;  // M codes per individual
  std::vector<double> f;
  std::vector<std::array<double, 3>> expected;  // genotypes 0, 1, 2 per individual
};

class PosteriorByHand : public ::testing::TestWithParam<PosteriorCase> {};

TEST_P(PosteriorByHand, GivesTheWorkedProbabilities) {
  const PosteriorCase& c = GetParam();
  const WindowGeometry g(c.M);
  const int n = static_cast<int>(c.rows.size()) / c.M;
  StudyList list;
  makelist(g, list, c.rows.data(), n);
  std::array<std::vector<double>, 3> prob;
  for (auto& p : prob) p.assign(n + 1, -1.0);  // one entry more, never written
  imputation(g, c.f.data(), list, {prob[0].data(), prob[1].data(), prob[2].data()});
  for (int i = 0; i < n; ++i) {
    for (int x = 0; x < 3; ++x) EXPECT_DOUBLE_EQ(prob[x][i], c.expected[i][x]) << i << " " << x;
  }
  for (auto& p : prob) EXPECT_EQ(p[n], -1.0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, PosteriorByHand, ::testing::Values(
    PosteriorCase{2, {9, 1, 0, 9, 1, 9, 2, 1}, {0.4, 0.1, 0.1, 0.4},
                  {{0.16, 0.68, 0.16}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}},
    PosteriorCase{2, {9, 9}, {0.3, 0.1, 0.1, 0.5}, {{0.16, 0.48, 0.36}}},
    PosteriorCase{1, {9}, {0.2, 0.3}, {{0.04 / 0.25, 0.12 / 0.25, 0.09 / 0.25}}}));
// clang-format on

}  // namespace
}  // namespace tessellar
