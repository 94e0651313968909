// Study and family pattern lists: hand-worked cases, the record budget, and
// a brute-force check of the compatible pairs on random rows.
#include "haplo/pattern_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "haplo/haplo_test_util.h"
#include "literal/haplo_literal.h"
#include "core/settings.h"

namespace tessellar {
namespace {

using testing_haplo::Config;
using testing_haplo::Pair;

struct IndicatorCase {
  std::string name;
  int M;
  std::vector<int> row;
  int h1;
  int h2;
  int expected;
};

class IndicatorTest : public ::testing::TestWithParam<IndicatorCase> {};

TEST_P(IndicatorTest, MatchesHandWorkedResult) {
  const IndicatorCase& c = GetParam();
  install_window_size(c.M);
  EXPECT_EQ(indicator(c.row.data(), c.h1, c.h2), c.expected);
  EXPECT_EQ(literal::indicator(c.row.data(), c.h1, c.h2), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, IndicatorTest,
    ::testing::Values(IndicatorCase{"zero_fits_00", 1, {0}, 0, 0, 1},
                      IndicatorCase{"zero_rejects_01", 1, {0}, 0, 1, 0},
                      IndicatorCase{"one_fits_01", 1, {1}, 0, 1, 1},
                      IndicatorCase{"one_fits_10", 1, {1}, 1, 0, 1},
                      IndicatorCase{"one_rejects_11", 1, {1}, 1, 1, 0},
                      IndicatorCase{"two_fits_11", 1, {2}, 1, 1, 1},
                      IndicatorCase{"two_rejects_01", 1, {2}, 0, 1, 0},
                      IndicatorCase{"nine_fits_10", 1, {9}, 1, 0, 1},
                      IndicatorCase{"three_fits_01", 1, {3}, 0, 1, 1},
                      IndicatorCase{"three_rejects_10", 1, {3}, 1, 0, 0},
                      IndicatorCase{"four_fits_11", 1, {4}, 1, 1, 1},
                      IndicatorCase{"negative_rejects_00", 1, {-1}, 0, 0, 0},
                      IndicatorCase{"m2_double_het_03", 2, {1, 1}, 0, 3, 1},
                      IndicatorCase{"m2_double_het_rejects_01", 2, {1, 1}, 0, 1, 0},
                      IndicatorCase{"m5_h22_with_itself", 5, {2, 0, 2, 2, 0}, 22, 22, 1},
                      IndicatorCase{"m5_second_position", 5, {2, 1, 2, 2, 0}, 22, 22, 0}),
    [](const ::testing::TestParamInfo<IndicatorCase>& p) { return p.param.name; });

struct StudyCase {
  std::string name;
  int M;
  std::vector<int> rows;
  int n;
  std::vector<std::vector<Pair>> expected;
};

class StudyListTest : public ::testing::TestWithParam<StudyCase> {};

TEST_P(StudyListTest, ListsPairsInOrder) {
  const StudyCase& c = GetParam();
  install_window_size(c.M);
  StudyList list;
  makelist(list, c.rows.data(), c.n);
  EXPECT_EQ(testing_haplo::pairs_of(list), c.expected);
  for (int i = 0; i < c.n; ++i) EXPECT_EQ(list.individuals[i].index, i);
  const literal::StudyList lit = literal::makelist(c.rows.data(), c.n);
  EXPECT_EQ(testing_haplo::pairs_of(literal::flatten(lit)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StudyListTest,
    ::testing::Values(
        StudyCase{"m2_double_het", 2, {1, 1}, 1, {{{0, 3}, {1, 2}}}},
        StudyCase{"m2_missing_then_0", 2, {9, 0}, 1, {{{0, 0}, {0, 2}, {2, 2}}}},
        StudyCase{"negative_code_keeps_record", 2, {-1, 9, 1, 1}, 2, {{}, {{0, 3}, {1, 2}}}},
        StudyCase{
            "identical_rows_two_records", 2, {1, 1, 1, 1}, 2, {{{0, 3}, {1, 2}}, {{0, 3}, {1, 2}}}},
        StudyCase{"code_3_first_allele_0", 1, {3}, 1, {{{0, 0}, {0, 1}}}},
        StudyCase{"code_4_like_missing", 1, {4}, 1, {{{0, 0}, {0, 1}, {1, 1}}}},
        StudyCase{"homozygous_rows", 1, {0, 2, 1}, 3, {{{0, 0}}, {{1, 1}}, {{0, 1}}}},
        StudyCase{"no_rows", 2, {}, 0, {}}),
    [](const ::testing::TestParamInfo<StudyCase>& p) { return p.param.name; });

TEST(StudyList, AllMissingRowAtM5Has528Pairs) {
  install_window_size(5);
  const std::vector<int> row(5, 9);
  StudyList list;
  makelist(list, row.data(), 1);
  ASSERT_EQ(list.pairs.size(), 528u);
  EXPECT_EQ(list.pairs[0].hap1, 0);
  EXPECT_EQ(list.pairs[0].hap2, 0);
  EXPECT_EQ(list.pairs[1].hap1, 0);
  EXPECT_EQ(list.pairs[1].hap2, 1);
  EXPECT_EQ(list.pairs.back().hap1, 31);
  EXPECT_EQ(list.pairs.back().hap2, 31);
}

TEST(StudyList, RebuildReplacesAndFreelinkEmpties) {
  install_window_size(2);
  const std::vector<int> rows = {9, 9, 1, 1};
  StudyList list;
  makelist(list, rows.data(), 2);
  makelist(list, rows.data() + 2, 1);
  EXPECT_EQ(testing_haplo::pairs_of(list), (std::vector<std::vector<Pair>>{{{0, 3}, {1, 2}}}));
  freelink(list);
  EXPECT_TRUE(list.pairs.empty());
  EXPECT_TRUE(list.individuals.empty());
}

struct FamilyCase {
  std::string name;
  int M;
  int ntr;
  int ndu;
  int nun;
  std::vector<int> rows;
  std::vector<std::pair<int, std::vector<Config>>> expected;
};

class FamilyListTest : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(FamilyListTest, ListsConfigurationsInOrder) {
  const FamilyCase& c = GetParam();
  install_window_size(c.M);
  FamilyList list;
  makelist_ex(list, c.rows.data(), c.ntr, c.ndu, c.nun);
  EXPECT_EQ(testing_haplo::units_of(list), c.expected);
  const literal::FamilyList lit = literal::makelist_ex(c.rows.data(), c.ntr, c.ndu, c.nun);
  EXPECT_EQ(testing_haplo::units_of(literal::flatten(lit)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Units, FamilyListTest,
    ::testing::Values(
        FamilyCase{"trio_1_1_2", 1, 1, 0, 0, {1, 1, 2}, {{3, {{0, 1, 0, 1}}}}},
        FamilyCase{"mendelian_error_trio_kept", 1, 1, 0, 0, {0, 0, 2}, {{3, {}}}},
        FamilyCase{"duo_1_2", 1, 0, 1, 0, {1, 2}, {{2, {{0, 1, 1, -1}}}}},
        FamilyCase{"duo_child_missing", 1, 0, 1, 0, {1, 9}, {{2, {{0, 1, 0, -1}, {0, 1, 1, -1}}}}},
        FamilyCase{"singleton_9",
                   1,
                   0,
                   0,
                   1,
                   {9},
                   {{1, {{0, 0, -1, -1}, {0, 1, -1, -1}, {1, 1, -1, -1}}}}},
        FamilyCase{"no_trios_duo_first",
                   1,
                   0,
                   1,
                   1,
                   {1, 2, 0},
                   {{2, {{0, 1, 1, -1}}}, {1, {{0, 0, -1, -1}}}}},
        FamilyCase{
            "only_singletons", 1, 0, 0, 2, {2, 0}, {{1, {{1, 1, -1, -1}}}, {1, {{0, 0, -1, -1}}}}},
        FamilyCase{"trio_duo_singleton_order",
                   1,
                   1,
                   1,
                   1,
                   {1, 1, 2, 1, 2, 0},
                   {{3, {{0, 1, 0, 1}}}, {2, {{0, 1, 1, -1}}}, {1, {{0, 0, -1, -1}}}}},
        FamilyCase{"trio_child_het_lists_each_once", 1, 1, 0, 0, {1, 1, 1}, {{3, {{0, 1, 0, 1}}}}},
        FamilyCase{"no_units", 1, 0, 0, 0, {}, {}}),
    [](const ::testing::TestParamInfo<FamilyCase>& p) { return p.param.name; });

TEST(FamilyList, FullyMissingTrioAtM2) {
  install_window_size(2);
  const std::vector<int> rows(6, 9);
  FamilyList list;
  makelist_ex(list, rows.data(), 1, 0, 0);
  ASSERT_EQ(list.units.size(), 1u);
  EXPECT_EQ(list.configs.size(), 100u);  // 10 pairs per parent, the child admits all
}

TEST(Budget, StudyListThrowsPastBudget) {
  install_window_size(5);
  const std::vector<int> rows(10, 9);
  StudyList list;
  EXPECT_THROW(makelist(list, rows.data(), 2, 1000), ListBudgetExceeded);
  EXPECT_NO_THROW(makelist(list, rows.data(), 2, 1056));
  EXPECT_EQ(list.pairs.size(), 1056u);
}

TEST(Budget, FamilyListThrowsPastBudget) {
  install_window_size(3);
  const std::vector<int> rows(9, 9);  // 36 pairs per parent: 1296 configurations
  FamilyList list;
  EXPECT_THROW(makelist_ex(list, rows.data(), 1, 0, 0, 1295), ListBudgetExceeded);
  EXPECT_NO_THROW(makelist_ex(list, rows.data(), 1, 0, 0, 1296));
  EXPECT_THROW(makelist_ex(list, rows.data(), 0, 1, 1, 36 * 8), ListBudgetExceeded);
}

// Every listed pair is compatible and every compatible pair h1 <= h2 is
// listed exactly once, in ascending order, for random rows with odd codes.
TEST(StudyListProperty, ListsExactlyTheCompatiblePairs) {
  for (unsigned seed = 1; seed <= 120; ++seed) {
    const int M = 1 + static_cast<int>(seed % 6);
    install_window_size(M);
    const int K = 1 << M;
    testing_haplo::RowGen gen(seed, M, 0.1 * (seed % 7), seed % 3 == 0 ? 0.1 : 0.0);
    const std::vector<int> rows = gen.study(6);
    StudyList list;
    makelist(list, rows.data(), 6);
    const auto got = testing_haplo::pairs_of(list);
    for (int i = 0; i < 6; ++i) {
      const int* row = rows.data() + i * M;
      std::vector<Pair> brute;
      for (int h1 = 0; h1 < K; ++h1) {
        for (int h2 = h1; h2 < K; ++h2) {
          if (literal::indicator(row, h1, h2)) brute.emplace_back(h1, h2);
        }
      }
      ASSERT_EQ(got[i], brute) << "seed " << seed << " row " << i;
    }
  }
}

// The mask test agrees with the three-test loop for every code from -3 to 12.
TEST(IndicatorProperty, MaskTestAgreesWithLoopForEveryCode) {
  for (int M = 1; M <= 3; ++M) {
    install_window_size(M);
    const int K = 1 << M;
    std::vector<int> row(M, -3);
    for (;;) {
      for (int h1 = 0; h1 < K; ++h1) {
        for (int h2 = 0; h2 < K; ++h2) {
          ASSERT_EQ(indicator(row.data(), h1, h2), literal::indicator(row.data(), h1, h2));
        }
      }
      int s = 0;
      while (s < M && row[s] == 12) row[s++] = -3;
      if (s == M) break;
      ++row[s];
    }
  }
}

}  // namespace
}  // namespace tessellar
