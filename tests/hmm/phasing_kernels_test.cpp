// The phasing's per-sample passes: the switch probabilities of a round
// against the likelihoods of the switched haplotypes (from the copying
// kernel, in double), the missing alleles' probabilities against its
// posterior doses, every instruction-set path bit for bit, and the greedy
// first phase on hand-worked panels.
#include "hmm/phasing_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace tessellar::hmm {
namespace {

struct PairCase {
  const char* name;
  int states;
  int sites;
  double het_rate;
  double missing_rate;
  uint32_t seed;
};

void PrintTo(const PairCase& c, std::ostream* os) {
  *os << c.name;
}

const PairCase kPairs[] = {
    {"one_state", 1, 40, 0.3, 0.05, 1},      {"lane_width", 16, 33, 0.4, 0.1, 2},
    {"lane_plus_one", 17, 50, 0.5, 0.0, 3},  {"chunk_edges", 23, 16 * 3 + 1, 0.3, 0.1, 4},
    {"one_chunk", 40, 15, 0.6, 0.2, 5},      {"all_hets", 31, 70, 1.0, 0.0, 6},
    {"missing_only", 20, 60, 0.0, 0.3, 7},   {"hets_at_chunk_starts", 45, 97, 0.9, 0.05, 8},
    {"real_width", 300, 120, 0.35, 0.03, 9},
};

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
    switches.resize(sites);
    switches_double.resize(sites);
    for (int m = 0; m < sites; ++m) {
      switches[m] = float(0.01 + 0.1 * unit(random));
      switches_double[m] = switches[m];
    }
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
        a.push_back(-1), b.push_back(-1);
        continue;
      }
      if (u < c.missing_rate + c.het_rate)
        y = 1 - x;  // a heterozygote
      else if (x != y)
        y = x;
      if (x != y) hets.push_back(m);
      a.push_back(int8_t(x)), b.push_back(int8_t(y));
    }
    words = packed(alleles, sites, states);
  }
  PackedStates model() const { return {sites, states, words.data(), switches.data(), 0.01f}; }
  CopyingModel<double> model_double() const {
    return {sites, states, alleles.data(), switches_double.data(), 0.01};
  }
  PairAlleles pair() const {
    return {a.data(), b.data(), int(hets.size()), hets.data(), int(missing.size()), missing.data()};
  }
};

struct Scores {
  std::vector<float> switch_prob, missing_a, missing_b;
  explicit Scores(const RandomPair& p)
      : switch_prob(p.hets.size(), -1.0f),
        missing_a(p.missing.size()),
        missing_b(p.missing.size()) {}
  PairScores out() { return {switch_prob.data(), missing_a.data(), missing_b.data()}; }
};

class Pair : public ::testing::TestWithParam<PairCase> {};

// L(x->y) is the likelihood of the haplotype that follows x before the
// heterozygote and y from it on.
TEST_P(Pair, SwitchProbabilitiesAreThoseOfTheSwitchedHaplotypes) {
  const RandomPair p(GetParam());
  Scores s(p);
  PhasingWorkspace work;
  score_pair(fastest_path(), p.model(), p.pair(), work, s.out());
  CopyingWorkspace<double> reference;
  const auto log_likelihood = [&](const std::vector<int8_t>& h) {
    return impute_haplotype(p.model_double(), UntypedSites<double>{}, h.data(), reference,
                            HaplotypeDoses<double>{});
  };
  const double stay = log_likelihood(p.a) + log_likelihood(p.b);
  for (std::size_t k = 0; k < p.hets.size(); ++k) {
    if (k == 0) {
      EXPECT_EQ(s.switch_prob[0], 0.0f);
      continue;
    }
    std::vector<int8_t> x = p.a, y = p.b;
    for (int m = p.hets[k]; m < p.sites; ++m) std::swap(x[m], y[m]);
    const double change = log_likelihood(x) + log_likelihood(y);
    const double expected = 1.0 / (1.0 + std::exp(stay - change));
    EXPECT_NEAR(s.switch_prob[k], expected, 2e-4 + 1e-3 * expected) << "heterozygote " << k;
  }
}

TEST_P(Pair, MissingAllelesHaveTheirPosteriorProbabilities) {
  const RandomPair p(GetParam());
  Scores s(p);
  PhasingWorkspace work;
  score_pair(fastest_path(), p.model(), p.pair(), work, s.out());
  CopyingWorkspace<double> reference;
  std::vector<double> dose(p.sites);
  for (int x = 0; x < 2; ++x) {
    impute_haplotype(p.model_double(), UntypedSites<double>{}, (x == 0 ? p.a : p.b).data(),
                     reference, HaplotypeDoses<double>{dose.data(), nullptr, nullptr});
    for (std::size_t u = 0; u < p.missing.size(); ++u)
      EXPECT_NEAR((x == 0 ? s.missing_a : s.missing_b)[u], dose[p.missing[u]], 2e-5)
          << "haplotype " << x << " site " << p.missing[u];
  }
}

TEST_P(Pair, EveryPathGivesTheSameBits) {
  const RandomPair p(GetParam());
  std::vector<Scores> got;
  std::vector<std::vector<uint8_t>> initial;
  std::vector<int8_t> genotypes(p.sites);
  for (int m = 0; m < p.sites; ++m) genotypes[m] = p.a[m] < 0 ? -1 : int8_t(p.a[m] + p.b[m]);
  for (KernelPath path : {KernelPath::kBaseline, KernelPath::kAvx2}) {
    if (!path_available(path)) continue;
    PhasingWorkspace work;
    got.emplace_back(p);
    score_pair(path, p.model(), p.pair(), work, got.back().out());
    initial.emplace_back(2 * p.sites);
    initial_phase(path, p.model(), genotypes.data(), work, initial.back().data(),
                  initial.back().data() + p.sites);
  }
  // The bytes of the floats (no memcmp of an empty vector's null data).
  const auto bytes = [](const std::vector<float>& v) {
    std::string b(v.size() * sizeof(float), '\0');
    if (!v.empty()) std::memcpy(b.data(), v.data(), b.size());
    return b;
  };
  for (std::size_t i = 1; i < got.size(); ++i) {
    EXPECT_EQ(bytes(got[i].switch_prob), bytes(got[0].switch_prob));
    EXPECT_EQ(bytes(got[i].missing_a), bytes(got[0].missing_a));
    EXPECT_EQ(bytes(got[i].missing_b), bytes(got[0].missing_b));
    EXPECT_EQ(initial[i], initial[0]);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Pair, ::testing::ValuesIn(kPairs));

// The greedy first phase on panels whose haplotypes leave one answer.
struct InitialCase {
  const char* name;
  std::vector<std::string> panel;  // one string of alleles per reference haplotype
  std::string genotypes;           // 0, 1, 2 or '.' per site
  std::string a, b;                // the expected haplotypes
};

const InitialCase kInitial[] = {
    // The first heterozygote is a tie: (0, 1); after it each haplotype
    // follows the reference haplotype it matched.
    {"two_references", {"01011", "10100"}, "11111", "01011", "10100"},
    {"first_tie_then_follow", {"10110", "01001"}, "11111", "01001", "10110"},
    {"homozygote_between", {"01011", "10010"}, "11021", "01011", "10010"},
    // Missing: each haplotype takes the allele its prediction favours.
    {"missing_filled", {"01001", "10010"}, "110.1", "01001", "10010"},
    {"third_reference_unused", {"0110", "1001", "1111"}, "1111", "0110", "1001"},
};

TEST(InitialPhase, FollowsTheReferenceHaplotypes) {
  for (const InitialCase& c : kInitial) {
    SCOPED_TRACE(c.name);
    const int sites = int(c.genotypes.size());
    const int states = int(c.panel.size());
    std::vector<uint8_t> alleles(std::size_t(sites) * states);
    for (int j = 0; j < states; ++j)
      for (int m = 0; m < sites; ++m) alleles[std::size_t(m) * states + j] = c.panel[j][m] == '1';
    const std::vector<AlleleByte> words = packed(alleles, sites, states);
    std::vector<float> switches(sites, 0.05f);
    std::vector<int8_t> genotypes;
    for (char g : c.genotypes) genotypes.push_back(g == '.' ? -1 : int8_t(g - '0'));
    PhasingWorkspace work;
    std::vector<uint8_t> a(sites), b(sites);
    initial_phase(fastest_path(), {sites, states, words.data(), switches.data(), 0.01f},
                  genotypes.data(), work, a.data(), b.data());
    std::string ga, gb;
    for (int m = 0; m < sites; ++m) ga += char('0' + a[m]), gb += char('0' + b[m]);
    EXPECT_EQ(ga, c.a);
    EXPECT_EQ(gb, c.b);
  }
}

}  // namespace
}  // namespace tessellar::hmm
