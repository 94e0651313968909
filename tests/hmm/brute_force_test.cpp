// The kernel's forward-backward against the enumeration of every copying
// path on tiny windows, in double: posteriors, log-likelihood, typed doses,
// leave-one-out doses (the enumeration with the allele missing) and untyped
// doses (the enumerated posteriors interpolated over dense alleles).
#include "hmm/brute_force.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "hmm/copying_model.h"
#include "hmm/random_window.h"

namespace tessellar::hmm {
namespace {

using testing_support::RandomWindow;

struct Case {
  const char* name;
  int states;
  int sites;
  uint32_t seed;
  char switches;  // 'r' random, '0' never, '1' always, 'e' 0, 1 and random in turn
  double error;
  double missing;  // probability that an observed allele is missing
};

class BruteForce : public ::testing::TestWithParam<Case> {};

constexpr double kTolerance = 1e-12;

TEST_P(BruteForce, PosteriorsLikelihoodAndDoses) {
  const Case& c = GetParam();
  RandomWindow<double> window(c.seed, c.states, c.sites, 9, 0.0, 0.0);
  std::mt19937 random(c.seed * 7919u);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int m = 0; m < c.sites; ++m) {
    const double edges[3] = {0.0, 1.0, unit(random)};
    window.switches()[m] = c.switches == 'r'   ? unit(random)
                           : c.switches == 'e' ? edges[m % 3]
                                               : double(c.switches - '0');
  }
  std::vector<int8_t> observed;
  for (int m = 0; m < c.sites; ++m) {
    const int8_t allele = unit(random) < 0.5;
    observed.push_back(unit(random) < c.missing ? int8_t(-1) : allele);
  }
  CopyingModel<double> model = window.model();
  model.error = c.error;
  const auto enumerate = [&](const std::vector<int8_t>& o) {
    return literal::enumerate_paths(c.sites, c.states, model.alleles, model.switches, c.error,
                                    o.data());
  };
  // P(allele 1) at typed site m from enumerated posteriors.
  const auto typed_one = [&](const literal::Enumerated& e, int m) {
    double sum = 0;
    for (int j = 0; j < c.states; ++j)
      if (model.alleles[m * c.states + j]) sum += e.posterior[m][j];
    return sum;
  };
  const literal::Enumerated expected = enumerate(observed);
  CopyingWorkspace<double> work;
  std::vector<double> posterior(std::size_t(c.sites) * c.states);
  EXPECT_NEAR(state_posteriors(model, observed.data(), work, posterior.data()),
              expected.log_likelihood, kTolerance);
  for (int m = 0; m < c.sites; ++m)
    for (int j = 0; j < c.states; ++j)
      EXPECT_NEAR(posterior[m * c.states + j], expected.posterior[m][j], kTolerance)
          << "site " << m << " state " << j;
  const UntypedSites<double> untyped = window.untyped();
  std::vector<double> typed(c.sites), left_out(c.sites), dose(untyped.count);
  EXPECT_NEAR(impute_haplotype(model, untyped, observed.data(), work,
                               {typed.data(), left_out.data(), dose.data()}),
              expected.log_likelihood, kTolerance);
  for (int m = 0; m < c.sites; ++m) {
    EXPECT_NEAR(typed[m], typed_one(expected, m), kTolerance) << "site " << m;
    std::vector<int8_t> hidden = observed;
    hidden[m] = -1;
    EXPECT_NEAR(left_out[m], typed_one(enumerate(hidden), m), kTolerance) << "site " << m;
  }
  for (int u = 0; u < untyped.count; ++u) {
    const int l = untyped.left[u];
    const int r = l + 1;
    const double w = l < 0 ? 1.0 : r == c.sites ? 0.0 : untyped.weight[u];
    double sum = 0;
    for (int j = 0; j < c.states; ++j) {
      const double p = (l >= 0 ? (1 - w) * expected.posterior[l][j] : 0.0) +
                       (r < c.sites ? w * expected.posterior[r][j] : 0.0);
      sum += p * window.untyped_allele(u, j);
    }
    EXPECT_NEAR(dose[u], sum, kTolerance) << "untyped site " << u;
  }
}

INSTANTIATE_TEST_SUITE_P(Tiny, BruteForce,
                         ::testing::Values(Case{"one_state", 1, 4, 1, 'r', 0.01, 0.2},
                                           Case{"one_site", 4, 1, 2, 'r', 0.01, 0.0},
                                           Case{"one_site_missing", 3, 1, 3, 'r', 0.01, 1.0},
                                           Case{"two_states", 2, 6, 4, 'r', 0.05, 0.2},
                                           Case{"three_states", 3, 5, 5, 'r', 0.001, 0.2},
                                           Case{"four_states", 4, 6, 6, 'r', 0.01, 0.2},
                                           Case{"four_states_b", 4, 6, 7, 'r', 0.2, 0.3},
                                           Case{"never_switch", 4, 6, 8, '0', 0.01, 0.1},
                                           Case{"always_switch", 4, 6, 9, '1', 0.01, 0.1},
                                           Case{"edge_switches", 4, 6, 10, 'e', 0.01, 0.2},
                                           Case{"edge_switches_b", 3, 6, 11, 'e', 0.3, 0.0},
                                           Case{"all_missing", 3, 5, 12, 'r', 0.01, 1.0},
                                           Case{"tiny_error", 4, 6, 13, 'r', 1e-6, 0.1},
                                           Case{"half_error", 2, 6, 14, 'r', 0.5, 0.1}),
                         [](const ::testing::TestParamInfo<Case>& c) {
                           return std::string(c.param.name);
                         });

}  // namespace
}  // namespace tessellar::hmm
