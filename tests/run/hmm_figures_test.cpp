// The hmm engine's genotype probabilities from two haplotype doses and the
// estimated dosage r2 (R2) on hand-worked cases.
#include <gtest/gtest.h>

#include <vector>

#include "hmm/window_genotypes.h"
#include "output/quality.h"

namespace tessellar {
namespace {

TEST(GenotypeProbabilities, AreTheProductOfTheTwoHaplotypes) {
  const hmm::GenotypeProbabilities g = hmm::genotype_probabilities(0.2, 0.5);
  EXPECT_DOUBLE_EQ(g.p2, 0.1);
  EXPECT_DOUBLE_EQ(g.p1, 0.2 * 0.5 + 0.5 * 0.8);
  EXPECT_DOUBLE_EQ(g.p0, 0.4);
  const hmm::GenotypeProbabilities sure = hmm::genotype_probabilities(1, 0);
  EXPECT_EQ(sure.p1, 1.0);
  EXPECT_EQ(sure.p0 + sure.p2, 0.0);
}

// A record of individuals with the given codes; the imputed ones (9) with
// the given dosages, as P(1) = dosage for dosages up to 1, else P(2) =
// dosage - 1 and P(1) = 1 - P(2).
struct Dosages {
  std::vector<int8_t> codes;
  std::vector<double> p0, p1, p2;
  SnpRecord r;
  Dosages(std::vector<int8_t> c, const std::vector<double>& dosages) : codes(std::move(c)) {
    for (double d : dosages) {
      const double two = d > 1 ? d - 1 : 0;
      const double one = d > 1 ? 1 - two : d;
      p2.push_back(two);
      p1.push_back(one);
      p0.push_back(1 - one - two);
    }
    r.nind = static_cast<int>(codes.size());
    r.codes = codes.data();
    r.prob = {p0.data(), p1.data(), p2.data()};
  }
};

struct R2Case {
  const char* name;
  std::vector<int8_t> codes;
  std::vector<double> dosages;
  double r2;
};

class DosageR2 : public testing::TestWithParam<R2Case> {};

TEST_P(DosageR2, IsTheVarianceOverTheBinomialOfTheImputedOnes) {
  Dosages d(GetParam().codes, GetParam().dosages);
  EXPECT_NEAR(dosage_r2(d.r), GetParam().r2, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DosageR2,
    testing::Values(
        // Mean 1, p 0.5, binomial 0.5: variance 0.25 gives 0.5.
        R2Case{"half", {9, 9, 9, 9}, {0.5, 0.5, 1.5, 1.5}, 0.5},
        // Observed genotypes take no part.
        R2Case{"observed_left_out", {9, 2, 9, 9, 0, 9}, {0.5, 0, 0.5, 1.5, 0, 1.5}, 0.5},
        // Mean 0.5, p 0.25, binomial 0.375, variance 0.0625.
        R2Case{"low", {9, 9}, {0.25, 0.75}, 0.0625 / 0.375},
        // Variance 1 over 0.5: capped at 1.
        R2Case{"capped", {9, 9, 9, 9}, {0, 0, 2, 2}, 1.0},
        R2Case{"constant", {9, 9, 9}, {0.4, 0.4, 0.4}, 0.0},
        R2Case{"monomorphic", {9, 9}, {0, 0}, 0.0}, R2Case{"nothing_imputed", {1, 2}, {0, 0}, 0.0}),
    [](const testing::TestParamInfo<R2Case>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace tessellar
