// Posterior genotype probabilities on hand-worked rows.
#include "haplo/imputation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "literal/haplo_literal.h"
#include "core/settings.h"

namespace tessellar {
namespace {

// prob[g][i] of every row of rows (M codes each) under f; entries start at -1.
std::vector<std::vector<double>> posteriors(const std::vector<int>& rows, int M,
                                            const std::vector<double>& f, int extra = 0) {
  const int n = static_cast<int>(rows.size()) / M;
  StudyList list;
  makelist(list, rows.data(), n);
  std::vector<std::vector<double>> prob(3, std::vector<double>(n + extra, -1.0));
  imputation(f.data(), list, {prob[0].data(), prob[1].data(), prob[2].data()});
  return prob;
}

struct PosteriorCase {
  std::string name;
  int M;
  std::vector<int> row;
  std::vector<double> f;
  std::array<double, 3> expected;  // genotypes 0, 1, 2
};

class PosteriorTest : public ::testing::TestWithParam<PosteriorCase> {};

TEST_P(PosteriorTest, GivesHandWorkedProbabilities) {
  const PosteriorCase& c = GetParam();
  install_window_size(c.M);
  const auto prob = posteriors(c.row, c.M, c.f);
  for (int g = 0; g < 3; ++g) EXPECT_DOUBLE_EQ(prob[g][0], c.expected[g]) << "genotype " << g;
}

// All missing at M = 2 under f (T = 1): q = f[2] + f[3].
constexpr double kQ = 0.1 + 0.5;

INSTANTIATE_TEST_SUITE_P(
    Rows, PosteriorTest,
    ::testing::Values(
        PosteriorCase{
            "missing_target_het_tag", 2, {9, 1}, {0.4, 0.1, 0.1, 0.4}, {0.16, 0.68, 0.16}},
        PosteriorCase{"all_missing",
                      2,
                      {9, 9},
                      {0.3, 0.1, 0.1, 0.5},
                      {(1 - kQ) * (1 - kQ), 2 * kQ*(1 - kQ), kQ* kQ}},
        PosteriorCase{"observed_target_0", 2, {0, 9}, {0.4, 0.1, 0.1, 0.4}, {1.0, 0.0, 0.0}},
        PosteriorCase{"observed_target_1", 2, {1, 9}, {0.4, 0.1, 0.1, 0.4}, {0.0, 1.0, 0.0}},
        PosteriorCase{"observed_target_2", 2, {2, 1}, {0.4, 0.1, 0.1, 0.4}, {0.0, 0.0, 1.0}},
        PosteriorCase{"no_pair_gets_zeros", 2, {-1, 1}, {0.4, 0.1, 0.1, 0.4}, {0.0, 0.0, 0.0}}),
    [](const ::testing::TestParamInfo<PosteriorCase>& p) { return p.param.name; });

TEST(Posterior, AllMissingNotNormalisedFrequencies) {
  install_window_size(1);
  const std::vector<double> f = {0.2, 0.3};  // T = 0.5, q = 0.3
  const auto prob = posteriors({9}, 1, f);
  EXPECT_DOUBLE_EQ(prob[2][0], 0.09 / 0.25);
  EXPECT_DOUBLE_EQ(prob[1][0], 0.12 / 0.25);
  EXPECT_DOUBLE_EQ(prob[0][0], 0.04 / 0.25);
}

TEST(Posterior, TouchesOnlyListedIndividuals) {
  install_window_size(1);
  const auto prob = posteriors({1, 9}, 1, {0.5, 0.5}, 2);
  for (int g = 0; g < 3; ++g) {
    EXPECT_EQ(prob[g][2], -1.0);
    EXPECT_EQ(prob[g][3], -1.0);
  }
  EXPECT_EQ(prob[1][0], 1.0);
  EXPECT_EQ(prob[0][1], 0.25);
}

TEST(Posterior, EmptyListChangesNothing) {
  install_window_size(1);
  StudyList list;
  std::vector<double> p0 = {7.0}, p1 = {7.0}, p2 = {7.0};
  const std::vector<double> f = {0.5, 0.5};
  imputation(f.data(), list, {p0.data(), p1.data(), p2.data()});
  literal::imputation(f.data(), literal::StudyList{}, {p0.data(), p1.data(), p2.data()});
  EXPECT_EQ(p0[0] + p1[0] + p2[0], 21.0);
}

}  // namespace
}  // namespace tessellar
