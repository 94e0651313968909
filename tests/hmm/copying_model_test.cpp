// Hand-worked cases of what the brute-force comparison cannot show alone:
// the untyped sites' interpolation, the genotype probabilities of two
// haplotype doses, and the model's invariances.
#include "hmm/copying_model.h"

#include <gtest/gtest.h>

#include <vector>

#include "hmm/random_window.h"
#include "hmm/window_genotypes.h"

namespace tessellar::hmm {
namespace {

using testing_support::RandomWindow;

// Three typed sites of four states with switch probability 1 at every
// interval, so each site's posterior is its own emission normalised (error
// 0.25, match 0.75):
//   site 0: alleles 0 1 1 1, observed 0 -> P0 = (1/2, 1/6, 1/6, 1/6)
//   site 1: alleles 1 1 0 0, observed 1 -> P1 = (3/8, 3/8, 1/8, 1/8)
//   site 2: alleles 0 0 0 1, observed 1 -> P2 = (1/6, 1/6, 1/6, 1/2)
// An untyped site between typed sites left and left + 1 at the given weight
// of the right one, its listed carriers carrying allele `carried`.
TEST(Interpolation, HandWorked) {
  const struct {
    int left;
    double weight;
    std::vector<int> carriers;
    uint8_t carried;
    double dose;
  } cases[] = {
      {-1, 0.7, {0}, 1, 1.0 / 2},                       // before the first: P0
      {0, 0.0, {1, 2}, 1, 1.0 / 3},                     // weight 0: the left site's
      {0, 0.25, {1, 2}, 1, 0.75 / 3 + 0.25 / 2},        // a quarter of the right one
      {0, 0.25, {1, 2}, 0, 1 - (0.75 / 3 + 0.25 / 2)},  // the carriers of allele 0
      {1, 0.5, {}, 0, 1.0},                             // no carrier listed
      {1, 0.25, {0, 3}, 1, 0.75 / 2 + 0.25 * 2 / 3},    // the second interval
      {2, 0.3, {3}, 1, 1.0 / 2},                        // after the last: P2
  };
  const uint8_t alleles[] = {0, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 1};
  const double switches[] = {1, 1, 1};
  const int8_t observed[] = {0, 1, 1};
  const CopyingModel<double> model{3, 4, alleles, switches, 0.25};
  for (const auto& c : cases) {
    // The site twice with a decoy (state 3) between, so that each is found
    // by its place.
    const int left[] = {c.left, c.left, c.left};
    const double weight[] = {c.weight, c.weight, c.weight};
    std::vector<int> carriers = c.carriers;
    carriers.push_back(3);
    carriers.insert(carriers.end(), c.carriers.begin(), c.carriers.end());
    const int n = int(c.carriers.size());
    const int begin[] = {0, n, n + 1, 2 * n + 1};
    const uint8_t carried[] = {c.carried, uint8_t(1 - c.carried), c.carried};
    const UntypedSites<double> untyped{3, left, weight, begin, carriers.data(), carried};
    double dose[3] = {-1, -1, -1};
    CopyingWorkspace<double> work;
    impute_haplotype(model, untyped, observed, work, {nullptr, nullptr, dose});
    EXPECT_NEAR(dose[0], c.dose, 1e-12) << c.left << " " << c.weight;
    EXPECT_NEAR(dose[2], c.dose, 1e-12) << c.left << " " << c.weight;
  }
}

TEST(GenotypeProbabilities, AreTheProductOfTheTwoHaplotypes) {
  const GenotypeProbabilities g = genotype_probabilities(0.2, 0.5);
  EXPECT_DOUBLE_EQ(g.p2, 0.1);
  EXPECT_DOUBLE_EQ(g.p1, 0.2 * 0.5 + 0.5 * 0.8);
  EXPECT_DOUBLE_EQ(g.p0, 0.4);
}

// Identical reference haplotypes get the same probability at every site.
TEST(Invariance, DuplicatesShareEqually) {
  RandomWindow<double> window(21, 9, 40, 0, 0.05, 0.01);
  for (int m = 0; m < 40; ++m) window.alleles()[m * 9 + 7] = window.alleles()[m * 9 + 2];
  const std::vector<int8_t> observed = window.study(0.05, 0.01, 0.1);
  std::vector<double> posterior(40 * 9);
  CopyingWorkspace<double> work;
  state_posteriors(window.model(), observed.data(), work, posterior.data());
  for (int m = 0; m < 40; ++m) EXPECT_EQ(posterior[m * 9 + 2], posterior[m * 9 + 7]) << m;
}

// A study haplotype equal to one reference haplotype everywhere, with a tiny
// error rate, copies it: its doses are that haplotype's alleles.
TEST(Invariance, ExactCopyTakesTheHaplotypesAlleles) {
  const int states = 40, sites = 300, copied = 13;
  RandomWindow<float> window(5, states, sites, 2000, 0.01f, 1e-6f);
  std::vector<int8_t> observed(sites);
  for (int m = 0; m < sites; ++m) observed[m] = window.alleles()[m * states + copied];
  std::vector<float> typed(sites), dose(2000);
  CopyingWorkspace<float> work;
  impute_haplotype(window.model(), window.untyped(), observed.data(), work,
                   {typed.data(), nullptr, dose.data()});
  for (int m = 0; m < sites; ++m) EXPECT_NEAR(typed[m], observed[m], 1e-3) << "site " << m;
  for (int u = 0; u < 2000; ++u) EXPECT_NEAR(dose[u], window.untyped_allele(u, copied), 0.02) << u;
}

}  // namespace
}  // namespace tessellar::hmm
