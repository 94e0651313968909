// Family pattern lists on hand-worked rows and the record budget (the
// differential test checks both lists on random rows).
#include "haplo/pattern_lists.h"

#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

namespace tessellar {
namespace {

using Configs = std::vector<std::array<int, 4>>;

// The (kind, configurations) of each unit.
std::vector<std::pair<int, Configs>> units_of(const FamilyList& list) {
  std::vector<std::pair<int, Configs>> out;
  for (const node_ex0& u : list.units) {
    out.emplace_back(u.kind, Configs{});
    for (int k = u.begin; k < u.end; ++k) {
      const node_ex& c = list.configs[k];
      out.back().second.push_back({c.hap1, c.hap2, c.hap3, c.hap4});
    }
  }
  return out;
}

struct FamilyCase {
  int M, ntr, ndu, nun;
  std::vector<int> rows;
  std::vector<std::pair<int, Configs>> expected;
};

class FamilyListByHand : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(FamilyListByHand, ListsTheConfigurationsInOrder) {
  const FamilyCase& c = GetParam();
  FamilyList list;
  makelist_ex(WindowGeometry(c.M), list, c.rows.data(), c.ntr, c.ndu, c.nun);
  EXPECT_EQ(units_of(list), c.expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Units, FamilyListByHand, ::testing::Values(
    FamilyCase{1, 1, 0, 0, {1, 1, 2}, {{3, {{0, 1, 0, 1}}}}},
    FamilyCase{1, 1, 0, 0, {0, 0, 2}, {{3, {}}}},  // a Mendelian error keeps its unit
    FamilyCase{1, 1, 0, 0, {1, 1, 1}, {{3, {{0, 1, 0, 1}}}}},
    FamilyCase{2, 1, 0, 0, {2, 0, 1, 2, 9, 1}, {{3, {{2, 2, 1, 3}}}}},
    FamilyCase{1, 0, 1, 0, {1, 9}, {{2, {{0, 1, 0, -1}, {0, 1, 1, -1}}}}},
    FamilyCase{2, 0, 1, 0, {1, 0, 2, 9}, {{2, {{0, 2, 2, -1}, {0, 2, 3, -1}}}}},
    FamilyCase{1, 0, 0, 1, {9}, {{1, {{0, 0, -1, -1}, {0, 1, -1, -1}, {1, 1, -1, -1}}}}},
    FamilyCase{1, 1, 1, 1, {1, 1, 2, 1, 2, 0}, {{3, {{0, 1, 0, 1}}}, {2, {{0, 1, 1, -1}}}, {1, {{0, 0, -1, -1}}}}}));
// clang-format on

TEST(ListBudget, ThrowsOnlyPastTheBudget) {
  const WindowGeometry g5(5), g3(3);
  const std::vector<int> missing(10, 9);  // 528 pairs per all-missing row at M = 5
  StudyList study;
  EXPECT_THROW(makelist(g5, study, missing.data(), 2, 1055), ListBudgetExceeded);
  EXPECT_NO_THROW(makelist(g5, study, missing.data(), 2, 1056));
  EXPECT_EQ(study.pairs.size(), 1056u);
  FamilyList families;  // 36 pairs per parent at M = 3: 1296 trio configurations
  EXPECT_THROW(makelist_ex(g3, families, missing.data(), 1, 0, 0, 1295), ListBudgetExceeded);
  EXPECT_NO_THROW(makelist_ex(g3, families, missing.data(), 1, 0, 0, 1296));
  EXPECT_THROW(makelist_ex(g3, families, missing.data(), 0, 1, 1, 36 * 8), ListBudgetExceeded);
}

}  // namespace
}  // namespace tessellar
