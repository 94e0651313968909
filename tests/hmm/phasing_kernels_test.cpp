// The phasing's per-sample passes: the switch probabilities of a round
// against the likelihoods of the switched haplotypes (from the copying
// kernel, in double), the missing alleles' probabilities against its
// posterior doses, every instruction-set path alike, and the greedy
// first phase on hand-worked panels.
#include "hmm/phasing_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace tessellar::hmm {
namespace {

// The alleles of site-major bytes (alleles[m * states + j]) packed.
std::vector<AlleleByte> packed(const std::vector<uint8_t>& alleles, int sites, int states) {
  std::vector<uint8_t> by_state(alleles.size());
  std::vector<const uint8_t*> rows(states);
  for (int j = 0; j < states; ++j) {
    for (int m = 0; m < sites; ++m)
      by_state[std::size_t(j) * sites + m] = alleles[std::size_t(m) * states + j];
    rows[j] = by_state.data() + std::size_t(j) * sites;
  }
  std::vector<AlleleByte> out(packed_size(states, sites));
  pack_states(rows.data(), states, sites, out.data());
  return out;
}

struct PairCase {
  const char* name;
  int states;
  int sites;
  double het_rate;
  double missing_rate;
  uint32_t seed;
};

// A sample's pair over random states: the states' alleles copy a few
// patterns (so that likelihoods differ clearly), the pair copies them too.
struct RandomPair {
  int states, sites;
  std::vector<uint8_t> alleles;
  std::vector<AlleleByte> words;
  std::vector<float> switches;
  std::vector<double> switches_double;
  std::vector<int8_t> a, b;
  std::vector<int> hets, missing;

  explicit RandomPair(const PairCase& c) : states(c.states), sites(c.sites) {
    std::mt19937 random(c.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    alleles.resize(std::size_t(states) * sites);
    for (auto& x : alleles) x = unit(random) < 0.4;
    for (int m = 0; m < sites; ++m) switches.push_back(float(0.01 + 0.1 * unit(random)));
    switches_double.assign(switches.begin(), switches.end());
    std::uniform_int_distribution<int> pick(0, states - 1);
    int sa = pick(random), sb = pick(random);
    for (int m = 0; m < sites; ++m) {
      if (unit(random) < 0.1) sa = pick(random);
      if (unit(random) < 0.1) sb = pick(random);
      int x = alleles[std::size_t(m) * states + sa];
      int y = alleles[std::size_t(m) * states + sb];
      const double u = unit(random);
      if (u < c.missing_rate) {
        missing.push_back(m);
        x = y = -1;
      } else if (u < c.missing_rate + c.het_rate) {
        y = 1 - x;  // a heterozygote
        hets.push_back(m);
      } else {
        y = x;
      }
      a.push_back(int8_t(x)), b.push_back(int8_t(y));
    }
    words = packed(alleles, sites, states);
  }
  PackedStates model() const { return {sites, states, words.data(), switches.data(), 0.01f}; }
  PairAlleles pair() const {
    return {a.data(), b.data(), int(hets.size()), hets.data(), int(missing.size()), missing.data()};
  }
  // The log-likelihood of h in the copying kernel in double; dose: P(allele 1) per site.
  double impute(const std::vector<int8_t>& h, double* dose = nullptr) const {
    CopyingWorkspace<double> work;
    return impute_haplotype(
        CopyingModel<double>{sites, states, alleles.data(), switches_double.data(), 0.01},
        UntypedSites<double>{}, h.data(), work, {dose, nullptr, nullptr});
  }
};

class Pair : public ::testing::TestWithParam<PairCase> {};

// L(x->y) is the likelihood of the haplotype that follows x before the
// heterozygote and y from it on; every path gives the same bits, also of
// the greedy first phase.
TEST_P(Pair, ScoresAreTheCopyingKernelsOnEveryPath) {
  const RandomPair p(GetParam());
  std::vector<double> dose_a(p.sites), dose_b(p.sites);
  const double stay = p.impute(p.a, dose_a.data()) + p.impute(p.b, dose_b.data());
  std::vector<double> expected(p.hets.size(), 0.0);
  for (std::size_t k = 1; k < p.hets.size(); ++k) {
    std::vector<int8_t> x = p.a, y = p.b;
    for (int m = p.hets[k]; m < p.sites; ++m) std::swap(x[m], y[m]);
    expected[k] = 1.0 / (1.0 + std::exp(stay - p.impute(x) - p.impute(y)));
  }
  std::vector<int8_t> genotypes(p.sites);
  for (int m = 0; m < p.sites; ++m) genotypes[m] = p.a[m] < 0 ? -1 : int8_t(p.a[m] + p.b[m]);
  std::vector<float> first_scores;
  std::vector<uint8_t> first_initial;
  for (KernelPath path : {KernelPath::kBaseline, KernelPath::kAvx2}) {
    if (!path_available(path)) continue;
    PhasingWorkspace work;
    // The switch probabilities, then the missing alleles' of a and of b.
    const std::size_t h = p.hets.size(), u = p.missing.size();
    std::vector<float> scores(h + 2 * u, -1.0f);
    score_pair(path, p.model(), p.pair(), work,
               {scores.data(), scores.data() + h, scores.data() + h + u});
    for (std::size_t k = 0; k < h; ++k)
      EXPECT_NEAR(scores[k], expected[k], 2e-4 + 1e-3 * expected[k]) << "heterozygote " << k;
    for (std::size_t i = 0; i < u; ++i) {
      EXPECT_NEAR(scores[h + i], dose_a[p.missing[i]], 2e-5) << "site " << p.missing[i];
      EXPECT_NEAR(scores[h + u + i], dose_b[p.missing[i]], 2e-5) << "site " << p.missing[i];
    }
    std::vector<uint8_t> initial(2 * p.sites);
    initial_phase(path, p.model(), genotypes.data(), work, initial.data(),
                  initial.data() + p.sites);
    if (first_initial.empty()) first_scores = scores, first_initial = initial;
    EXPECT_EQ(scores, first_scores) << "path " << int(path);
    EXPECT_EQ(initial, first_initial) << "path " << int(path);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Pair,
                         ::testing::Values(PairCase{"one_state", 1, 40, 0.3, 0.05, 1},
                                           PairCase{"lane_width", 16, 33, 0.4, 0.1, 2},
                                           PairCase{"lane_plus_one", 17, 50, 0.5, 0.0, 3},
                                           PairCase{"chunk_edges", 23, 16 * 3 + 1, 0.3, 0.1, 4},
                                           PairCase{"one_chunk", 40, 15, 0.6, 0.2, 5},
                                           PairCase{"all_hets", 31, 70, 1.0, 0.0, 6},
                                           PairCase{"missing_only", 20, 60, 0.0, 0.3, 7},
                                           PairCase{"hets_at_chunk_starts", 45, 97, 0.9, 0.05, 8},
                                           PairCase{"real_width", 300, 120, 0.35, 0.03, 9}),
                         [](const ::testing::TestParamInfo<PairCase>& c) {
                           return std::string(c.param.name);
                         });

// The greedy first phase on panels whose haplotypes leave one answer.
TEST(InitialPhase, FollowsTheReferenceHaplotypes) {
  const struct {
    std::vector<std::string> panel;  // one string of alleles per reference haplotype
    std::string genotypes;           // 0, 1, 2 or '.' per site
    std::string a, b;                // the expected haplotypes
  } cases[] = {
      // The first heterozygote is a tie: (0, 1); after it each haplotype
      // follows the reference haplotype it matched.
      {{"01011", "10100"}, "11111", "01011", "10100"},
      {{"10110", "01001"}, "11111", "01001", "10110"},
      {{"01011", "10010"}, "11021", "01011", "10010"},
      // Missing: each haplotype takes the allele its prediction favours.
      {{"01001", "10010"}, "110.1", "01001", "10010"},
      // A third reference haplotype unused.
      {{"0110", "1001", "1111"}, "1111", "0110", "1001"},
  };
  for (const auto& c : cases) {
    const int sites = int(c.genotypes.size());
    const int states = int(c.panel.size());
    std::vector<uint8_t> alleles(std::size_t(sites) * states);
    std::vector<int8_t> genotypes;
    for (int m = 0; m < sites; ++m) {
      for (int j = 0; j < states; ++j) alleles[std::size_t(m) * states + j] = c.panel[j][m] == '1';
      genotypes.push_back(c.genotypes[m] == '.' ? -1 : int8_t(c.genotypes[m] - '0'));
    }
    const std::vector<AlleleByte> words = packed(alleles, sites, states);
    const std::vector<float> switches(sites, 0.05f);
    PhasingWorkspace work;
    std::vector<uint8_t> a(sites), b(sites);
    initial_phase(fastest_path(), {sites, states, words.data(), switches.data(), 0.01f},
                  genotypes.data(), work, a.data(), b.data());
    std::string ga, gb;
    for (int m = 0; m < sites; ++m) ga += char('0' + a[m]), gb += char('0' + b[m]);
    EXPECT_EQ(ga + " " + gb, c.a + " " + c.b) << c.genotypes;
  }
}

}  // namespace
}  // namespace tessellar::hmm
