// The estimated dosage r2 (R2) of the hmm engine's genotype probabilities
// on hand-worked cases.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/quality.h"

namespace tessellar {
namespace {

struct R2Case {
  const char* name;
  std::vector<int8_t> codes;    // 9: imputed
  std::vector<double> dosages;  // as P(1) up to 1, else P(2) = dosage - 1 and P(1) = 1 - P(2)
  double r2;
};

class DosageR2 : public testing::TestWithParam<R2Case> {};

TEST_P(DosageR2, IsTheVarianceOverTheBinomialOfTheImputedOnes) {
  R2Case c = GetParam();
  std::vector<double> p[3];
  for (const double d : c.dosages) {
    p[2].push_back(d > 1 ? d - 1 : 0);
    p[1].push_back(d > 1 ? 1 - p[2].back() : d);
    p[0].push_back(1 - p[1].back() - p[2].back());
  }
  SnpRecord r;
  r.nind = static_cast<int>(c.codes.size());
  r.codes = c.codes.data();
  r.prob = {p[0].data(), p[1].data(), p[2].data()};
  EXPECT_NEAR(dosage_r2(r), c.r2, 1e-12);
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
