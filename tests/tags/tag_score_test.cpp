// for_w and MDfun on hand-worked cases, and MDfun against the literal one.
#include "tags/tag_score.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "literal/tags_literal.h"
#include "core/settings.h"

namespace tessellar {
namespace {

struct ForWCase {
  int h, a, j, expected;
};

class ForWAtFive : public ::testing::TestWithParam<ForWCase> {};

TEST_P(ForWAtFive, InsertsTheAllele) {
  install_window_size(5);
  const ForWCase c = GetParam();
  EXPECT_EQ(for_w(c.h, c.a, c.j), c.expected);
}

INSTANTIATE_TEST_SUITE_P(HandWorked, ForWAtFive,
                         ::testing::Values(ForWCase{0, 1, 1, 16}, ForWCase{15, 0, 1, 15},
                                           ForWCase{5, 1, 3, 13}, ForWCase{5, 1, 5, 11},
                                           ForWCase{15, 1, 5, 31}, ForWCase{15, 0, 2, 23}));

class ForWEveryWindow : public ::testing::TestWithParam<int> {};

TEST_P(ForWEveryWindow, MatchesTheLiteralArithmetic) {
  const int M = GetParam();
  install_window_size(M);
  for (int j = 1; j <= M; ++j) {
    for (int h = 0; h < (1 << (M - 1)); ++h) {
      ASSERT_EQ(for_w(h, 0, j), literal::for_w(h, 0, j)) << h << " " << j;
      ASSERT_EQ(for_w(h, 1, j), literal::for_w(h, 1, j)) << h << " " << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(M1To11, ForWEveryWindow, ::testing::Range(1, 12));

// p over M = 2: index = target * 2 + tag.
std::vector<double> two_snp(double a0_0, double a0_1, double a1_0, double a1_1) {
  return {a0_0, a0_1, a1_0, a1_1};
}

TEST(MDfun, OneTagGivesTheSquaredCorrelation) {
  install_window_size(2);
  const std::vector<double> p = two_snp(0.3, 0.2, 0.1, 0.4);
  EXPECT_NEAR(MDfun(p.data(), 1), 1.0 / 6, 1e-14);  // (0.4 * 0.3 - 0.1 * 0.2)^2 / 0.06
}

TEST(MDfun, TagsThatDetermineTheTargetScoreOne) {
  install_window_size(4);
  std::vector<double> p(16, 0.0);
  const double w[8] = {0.05, 0.2, 0.1, 0.15, 0.1, 0.1, 0.25, 0.05};
  for (int g = 0; g < 8; ++g) p[(std::popcount(unsigned(g)) % 2) * 8 + g] = w[g];
  EXPECT_NEAR(MDfun(p.data(), 1), 1.0, 1e-12);
}

TEST(MDfun, IndependentTagsScoreZero) {
  install_window_size(4);
  std::vector<double> p(16);
  const double w[8] = {0.05, 0.2, 0.1, 0.15, 0.1, 0.1, 0.25, 0.05};
  for (int g = 0; g < 8; ++g) {
    p[g] = 0.7 * w[g];
    p[8 + g] = 0.3 * w[g];
  }
  EXPECT_NEAR(MDfun(p.data(), 1), 0.0, 1e-12);
}

TEST(MDfun, AZeroTagHaplotypeIsLeftOutOfEveryPair) {
  install_window_size(2);
  const std::vector<double> p = two_snp(0.6, 0, 0.4, 0);  // tag allele 1 never seen
  const double s = MDfun(p.data(), 1);
  EXPECT_FALSE(std::isnan(s));  // 0 / 0 would enter with the pair
  EXPECT_EQ(s, 0.0);
}

// P is the exact sum a1 + b1; the tag haplotypes differ, so the formula
// gives a positive score.
struct BoundCase {
  double P;
  bool scored;
};

class TargetFrequencyBounds : public ::testing::TestWithParam<BoundCase> {};

TEST_P(TargetFrequencyBounds, ScoresOnlyInsideTheBounds) {
  install_window_size(2);
  const BoundCase c = GetParam();
  const double a1 = c.P / 2;
  const double b1 = c.P - a1;
  ASSERT_EQ(a1 + b1, c.P);
  const double rest = 1 - c.P;
  const std::vector<double> p = two_snp(rest * 0.9, rest * 0.1, a1, b1);
  const double s = MDfun(p.data(), 1);
  if (c.scored) {
    EXPECT_GT(s, 0.0);
  } else {
    EXPECT_EQ(s, 0.0);
  }
}

INSTANTIATE_TEST_SUITE_P(EdgesOfP, TargetFrequencyBounds,
                         ::testing::Values(BoundCase{0.999999, true},
                                           BoundCase{std::nextafter(0.999999, 2.0), false},
                                           BoundCase{1e-6, true},
                                           BoundCase{std::nextafter(1e-6, 0.0), false},
                                           BoundCase{0.5, true}));

TEST(MDfun, NotANumberFrequenciesGiveNotANumber) {
  install_window_size(3);
  std::vector<double> p(8, std::numeric_limits<double>::quiet_NaN());
  EXPECT_TRUE(std::isnan(MDfun(p.data(), 1)));
  p.assign(8, 0.0);
  p[1] = std::numeric_limits<double>::quiet_NaN();  // one tag haplotype NaN, the rest 0
  p[5] = 0.5;
  EXPECT_EQ(std::bit_cast<uint64_t>(MDfun(p.data(), 1)),
            std::bit_cast<uint64_t>(literal::MDfun(p.data(), 1)));
}

class MDfunDifferential : public ::testing::TestWithParam<int> {};

// Random normalised vectors, some entries 0 (whole tag haplotypes too),
// every target position j: same bytes as the literal version.
TEST_P(MDfunDifferential, MatchesTheLiteralBitForBit) {
  const int M = GetParam();
  install_window_size(M);
  const int K = 1 << M;
  std::mt19937 rng(1234 + M);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<double> p(K);
  for (int trial = 0; trial < 300; ++trial) {
    const double zero_share = unit(rng);
    double sum = 0;
    for (double& x : p) sum += (x = unit(rng) < zero_share ? 0.0 : unit(rng));
    for (double& x : p) x /= sum;
    for (int j = 1; j <= M; ++j) {
      const double fast = MDfun(p.data(), j);
      const double slow = literal::MDfun(p.data(), j);
      ASSERT_EQ(std::bit_cast<uint64_t>(fast), std::bit_cast<uint64_t>(slow))
          << "trial " << trial << " j " << j << ": " << fast << " vs " << slow;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(M2To8, MDfunDifferential, ::testing::Range(2, 9));

}  // namespace
}  // namespace tessellar
