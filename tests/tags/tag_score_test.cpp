// MDfun on hand-worked frequencies and against the literal version.
#include "tags/tag_score.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <vector>

#include "literal/tags_literal.h"

namespace tessellar {
namespace {

struct ScoreCase {
  const char* name;
  int M;
  std::vector<double> p;  // target allele is the top bit
  double expected;
};

class MDfunByHand : public ::testing::TestWithParam<ScoreCase> {};

TEST_P(MDfunByHand, GivesTheWorkedScore) {
  const ScoreCase& c = GetParam();
  EXPECT_NEAR(MDfun(WindowGeometry(c.M), c.p.data(), 1), c.expected, 1e-12);
}

// Four SNPs: tags that determine the target (parity) and independent ones.
std::vector<double> three_tags(bool parity) {
  const double w[8] = {0.05, 0.2, 0.1, 0.15, 0.1, 0.1, 0.25, 0.05};
  std::vector<double> p(16, 0.0);
  for (int g = 0; g < 8; ++g) {
    if (parity) p[(std::popcount(unsigned(g)) % 2) * 8 + g] = w[g];
    if (!parity) p[g] = 0.7 * w[g], p[8 + g] = 0.3 * w[g];
  }
  return p;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, MDfunByHand, ::testing::Values(
    ScoreCase{"one_tag_squared_correlation", 2, {0.3, 0.2, 0.1, 0.4}, 1.0 / 6},
    ScoreCase{"tags_determine_the_target", 4, three_tags(true), 1.0},
    ScoreCase{"independent_tags", 4, three_tags(false), 0.0},
    ScoreCase{"unseen_tag_haplotype_left_out", 2, {0.6, 0, 0.4, 0}, 0.0}),
    [](const ::testing::TestParamInfo<ScoreCase>& c) { return std::string(c.param.name); });
// clang-format on

class TargetFrequencyBounds : public ::testing::TestWithParam<std::pair<double, bool>> {};

// P in [1e-6, 0.999999] is scored (here above 0), outside it the score is 0.
TEST_P(TargetFrequencyBounds, ScoresOnlyInsideTheBounds) {
  const auto [P, scored] = GetParam();
  const double a1 = P / 2, b1 = P - a1;  // P is their exact sum
  ASSERT_EQ(a1 + b1, P);
  const std::vector<double> p = {(1 - P) * 0.9, (1 - P) * 0.1, a1, b1};
  EXPECT_EQ(MDfun(WindowGeometry(2), p.data(), 1) > 0.0, scored);
}

INSTANTIATE_TEST_SUITE_P(EdgesOfP, TargetFrequencyBounds,
                         ::testing::Values(std::pair{0.999999, true},
                                           std::pair{std::nextafter(0.999999, 2.0), false},
                                           std::pair{1e-6, true},
                                           std::pair{std::nextafter(1e-6, 0.0), false}));

class MDfunDifferential : public ::testing::TestWithParam<int> {};

// Random normalised vectors, some entries 0 (whole tag haplotypes too),
// every target position j: the same bytes as the literal version.
TEST_P(MDfunDifferential, MatchesTheLiteralBitForBit) {
  const WindowGeometry g(GetParam());
  std::mt19937 rng(1234 + g.M);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<double> p(g.K);
  for (int trial = 0; trial < 300; ++trial) {
    const double zero_share = unit(rng);
    double sum = 0;
    for (double& x : p) sum += (x = unit(rng) < zero_share ? 0.0 : unit(rng));
    for (double& x : p) x /= sum;
    for (int j = 1; j <= g.M; ++j) {
      ASSERT_EQ(std::bit_cast<uint64_t>(MDfun(g, p.data(), j)),
                std::bit_cast<uint64_t>(literal::MDfun(g, p.data(), j)))
          << "trial " << trial << " j " << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(M2To8, MDfunDifferential, ::testing::Range(2, 9));

}  // namespace
}  // namespace tessellar
