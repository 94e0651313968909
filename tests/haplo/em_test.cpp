// The EM on hand-worked study and family lists, the iteration limit, the
// call without units and the group filter.
#include "haplo/em.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "literal/haplo_literal.h"
#include "core/settings.h"

namespace tessellar {
namespace {

struct EmCase {
  std::string name;
  int M;
  std::vector<int> study_rows;  // study window rows
  int ntr, ndu, nun;            // panel units
  std::vector<int> panel_rows;  // panel window rows
  int use_study;
  int use_families;
  std::vector<double> start;
  std::vector<double> expected;  // exact estimate
  int result;
  int iterations;
};

class EmTest : public ::testing::TestWithParam<EmCase> {};

TEST_P(EmTest, GivesHandWorkedEstimate) {
  const EmCase& c = GetParam();
  install_window_size(c.M);
  StudyList study;
  FamilyList families;
  makelist(study, c.study_rows.data(), static_cast<int>(c.study_rows.size()) / c.M);
  makelist_ex(families, c.panel_rows.data(), c.ntr, c.ndu, c.nun);
  std::vector<double> f = c.start;
  int iterations = -1;
  EXPECT_EQ(A1_counted(f.data(), &study, &families, -1, -1, c.use_study, c.use_families, nullptr, 9,
                       &iterations),
            c.result);
  EXPECT_EQ(f, c.expected);
  EXPECT_EQ(iterations, c.iterations);

  literal::StudyList lit_study =
      literal::makelist(c.study_rows.data(), static_cast<int>(c.study_rows.size()) / c.M);
  literal::FamilyList lit_families = literal::makelist_ex(c.panel_rows.data(), c.ntr, c.ndu, c.nun);
  std::vector<double> g = c.start;
  EXPECT_EQ(literal::A1(g.data(), &lit_study, &lit_families, -1, -1, c.use_study, c.use_families),
            c.result);
  EXPECT_EQ(g, c.expected);
}

const std::vector<double> kUniform32(32, 1.0 / 32);

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Examples, EmTest,
    ::testing::Values(
        //     name                           M  study rows       trio duo single panel rows  use_s use_f start         expected                  result iterations
        EmCase{"all_missing_stays_uniform",   5, {9, 9, 9, 9, 9}, 0, 0, 0, {},           1,  -1, kUniform32,   kUniform32,               1, 1},
        EmCase{"singleton_het",               1, {},              0, 0, 1, {1},         -1,   1, {0.5, 0.5},   {0.5, 0.5},               1, 1},
        EmCase{"study_2_2_0",                 1, {2, 2, 0},       0, 0, 0, {},           1,  -1, {0.5, 0.5},   {1.0 / 3.0, 2.0 / 3.0},   1, 2},
        EmCase{"trio_1_1_2",                  1, {},              1, 0, 0, {1, 1, 2},   -1,   1, {0.9, 0.1},   {0.5, 0.5},               1, 2},
        EmCase{"duo_counts_three_halves",     1, {},              0, 1, 0, {1, 2},      -1,   1, {0.5, 0.5},   {1.0 / 3.0, 2.0 / 3.0},   1, 2},
        EmCase{"zero_sum_unit_still_counted", 1, {2, 0},          0, 0, 0, {},           1,  -1, {1.0, 0.0},   {0.5, 0.0},               1, 2},
        EmCase{"mendelian_error_trio_counted",1, {},              1, 0, 1, {0, 0, 2, 0},-1,   1, {0.5, 0.5},   {1.0 / 3.0, 0.0},         1, 2},
        EmCase{"study_ignored_with_families", 1, {2, 2},          0, 0, 1, {0},         -1,   1, {0.5, 0.5},   {1.0, 0.0},               1, 2},
        EmCase{"no_unit_keeps_start",         1, {2},             0, 0, 1, {0},         -1,  -1, {0.3, 0.7},   {0.3, 0.7},               1, 0},
        EmCase{"empty_lists_keep_start",      1, {},              0, 0, 0, {},           1,   1, {0.3, 0.7},   {0.3, 0.7},               1, 0}),
    [](const ::testing::TestParamInfo<EmCase>& p) { return p.param.name; });
// clang-format on

// One double heterozygote among many fully missing individuals: the change
// shrinks by about 0.1 % per iteration and 500 iterations run.
TEST(Em, StopsAfter500IterationsAndReturns0) {
  install_window_size(2);
  std::vector<int> rows = {1, 1};
  for (int i = 0; i < 999; ++i) rows.insert(rows.end(), {9, 9});
  StudyList study;
  makelist(study, rows.data(), 1000);
  std::vector<double> f = {0.4, 0.1, 0.1, 0.4};
  int iterations = 0;
  EXPECT_EQ(A1_counted(f.data(), &study, nullptr, -1, -1, 1, -1, nullptr, 9, &iterations), 0);
  EXPECT_EQ(iterations, 500);
  literal::StudyList lit = literal::makelist(rows.data(), 1000);
  std::vector<double> g = {0.4, 0.1, 0.1, 0.4};
  EXPECT_EQ(literal::A1(g.data(), &lit, nullptr, -1, -1, 1, -1), 0);
  EXPECT_EQ(f, g);
}

TEST(Em, GroupFilterSkipsOtherIndividuals) {
  install_window_size(1);
  const std::vector<int> rows = {2, 0, 0};
  const std::vector<int> groups = {1, 2, 3, 0};
  StudyList study;
  makelist(study, rows.data(), 3);
  std::vector<double> f = {0.5, 0.5};
  EXPECT_EQ(A1(f.data(), &study, nullptr, 1, 2, 1, -1, groups.data(), 1), 1);
  EXPECT_EQ(f, (std::vector<double>{0.5, 0.5}));
  std::vector<double> all = {0.5, 0.5};
  A1(all.data(), &study, nullptr, 1, 2, 1, -1, groups.data(), 9);
  EXPECT_EQ(all, (std::vector<double>{2.0 / 3.0, 1.0 / 3.0}));
  std::vector<double> none = {0.5, 0.5};
  A1(none.data(), &study, nullptr, 7, 8, 1, -1, groups.data(), 1);
  EXPECT_EQ(none, (std::vector<double>{0.5, 0.5}));
}

TEST(Em, LengthIsL1NormInOrder) {
  const std::vector<double> v = {0.5, -0.25, 0.0, -1.0};
  EXPECT_EQ(length(v.data(), 4), 1.75);
  EXPECT_EQ(length(v.data(), 0), 0.0);
}

}  // namespace
}  // namespace tessellar
