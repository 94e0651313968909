// The untyped sites' interpolation on a hand-worked window, the model's
// invariances, float against double, and determinism.
#include "hmm/copying_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "hmm/random_window.h"

namespace tessellar::hmm {
namespace {

using testing_support::RandomWindow;

// Three typed sites of four states with switch probability 1 at every
// interval, so each site's posterior is its own emission normalised (error
// 0.25, match 0.75):
//   site 0: alleles 0 1 1 1, observed 0 -> P0 = (1/2, 1/6, 1/6, 1/6)
//   site 1: alleles 1 1 0 0, observed 1 -> P1 = (3/8, 3/8, 1/8, 1/8)
//   site 2: alleles 0 0 0 1, observed 1 -> P2 = (1/6, 1/6, 1/6, 1/2)
struct UntypedCase {
  const char* name;
  int left;
  double weight;
  std::vector<int> carriers;
  uint8_t carried;
  double dose;
};

const UntypedCase kUntyped[] = {
    {"before_first", -1, 0.7, {0}, 1, 1.0 / 2},
    {"before_first_carry_0", -1, 0.0, {0, 3}, 0, 1 - 2.0 / 3},
    {"weight_0", 0, 0.0, {1, 2}, 1, 1.0 / 3},
    {"weight_1", 0, 1.0, {1, 2}, 1, 1.0 / 2},
    {"weight_quarter", 0, 0.25, {1, 2}, 1, 0.75 / 3 + 0.25 / 2},
    {"weight_quarter_carry_0", 0, 0.25, {1, 2}, 0, 1 - (0.75 / 3 + 0.25 / 2)},
    {"all_carry", 0, 0.25, {0, 1, 2, 3}, 1, 1.0},
    {"none_listed_carry_1", 1, 0.5, {}, 1, 0.0},
    {"none_listed_carry_0", 1, 0.5, {}, 0, 1.0},
    {"second_interval", 1, 0.5, {3}, 1, 0.5 / 8 + 0.5 / 2},
    {"second_interval_quarter", 1, 0.25, {0, 3}, 1, 0.75 / 2 + 0.25 * 2 / 3},
    {"after_last", 2, 0.3, {3}, 1, 1.0 / 2},
    {"after_last_carry_0", 2, 0.0, {2}, 0, 1 - 1.0 / 6},
};

void PrintTo(const UntypedCase& c, std::ostream* os) {
  *os << c.name;
}

class Interpolation : public ::testing::TestWithParam<UntypedCase> {};

TEST_P(Interpolation, HandWorked) {
  const UntypedCase& c = GetParam();
  const uint8_t alleles[] = {0, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 1};
  const double switches[] = {1, 1, 1};
  const int8_t observed[] = {0, 1, 1};
  const CopyingModel<double> model{3, 4, alleles, switches, 0.25};
  // The site twice with a decoy between, so that each is found by its place.
  const int decoy = 3;
  const int left[] = {c.left, c.left, c.left};
  const double weight[] = {c.weight, c.weight, c.weight};
  std::vector<int> carriers = c.carriers;
  carriers.push_back(decoy);
  carriers.insert(carriers.end(), c.carriers.begin(), c.carriers.end());
  const int n = int(c.carriers.size());
  const int begin[] = {0, n, n + 1, 2 * n + 1};
  const uint8_t carried[] = {c.carried, uint8_t(1 - c.carried), c.carried};
  const UntypedSites<double> untyped{3, left, weight, begin, carriers.data(), carried};
  double dose[3] = {-1, -1, -1};
  CopyingWorkspace<double> work;
  impute_haplotype(model, untyped, observed, work, {nullptr, nullptr, dose});
  EXPECT_NEAR(dose[0], c.dose, 1e-12);
  EXPECT_NEAR(dose[2], c.dose, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Window, Interpolation, ::testing::ValuesIn(kUntyped),
                         [](const ::testing::TestParamInfo<UntypedCase>& p) {
                           return std::string(p.param.name);
                         });

// Identical reference haplotypes get the same probability at every site.
TEST(Invariance, DuplicatesShareEqually) {
  RandomWindow<double> window(21, 9, 40, 0, 0.05, 0.01);
  auto& alleles = window.alleles();
  for (int m = 0; m < 40; ++m) alleles[m * 9 + 7] = alleles[m * 9 + 2];
  const std::vector<int8_t> observed = window.study(0.05, 0.01, 0.1);
  std::vector<double> posterior(40 * 9);
  CopyingWorkspace<double> work;
  state_posteriors(window.model(), observed.data(), work, posterior.data());
  for (int m = 0; m < 40; ++m) {
    EXPECT_EQ(posterior[m * 9 + 2], posterior[m * 9 + 7]) << "site " << m;
    double sum = 0;
    for (int j = 0; j < 9; ++j) sum += posterior[m * 9 + j];
    EXPECT_NEAR(sum, 1.0, 1e-12);
  }
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
  for (int u = 0; u < 2000; ++u)
    EXPECT_NEAR(dose[u], window.untyped_allele(u, copied), 0.02) << "untyped site " << u;
}

// All doses of one study haplotype.
template <class Real>
struct Doses {
  std::vector<Real> typed, left_out, untyped;
  double log_likelihood = 0;
};

template <class Real>
Doses<Real> impute(const RandomWindow<Real>& window, const std::vector<int8_t>& observed,
                   CopyingWorkspace<Real>& work) {
  const CopyingModel<Real> model = window.model();
  Doses<Real> d;
  d.typed.resize(model.sites);
  d.left_out.resize(model.sites);
  d.untyped.resize(window.untyped().count);
  d.log_likelihood = impute_haplotype(model, window.untyped(), observed.data(), work,
                                      {d.typed.data(), d.left_out.data(), d.untyped.data()});
  return d;
}

// Float and double agree on realistic windows.
TEST(Precision, FloatFollowsDouble) {
  for (uint32_t seed : {31u, 32u, 33u}) {
    RandomWindow<float> single(seed, 150, 400, 3000, 0.03f, 0.01f);
    RandomWindow<double> twice(seed, 150, 400, 3000, 0.03, 0.01);
    const std::vector<int8_t> observed = twice.study(0.03, 0.01, 0.02);
    CopyingWorkspace<float> work_f;
    CopyingWorkspace<double> work_d;
    const Doses<float> f = impute(single, observed, work_f);
    const Doses<double> d = impute(twice, observed, work_d);
    EXPECT_NEAR(f.log_likelihood, d.log_likelihood, 1e-5 * std::abs(d.log_likelihood));
    for (int m = 0; m < 400; ++m) {
      EXPECT_NEAR(f.typed[m], d.typed[m], 1e-5);
      EXPECT_NEAR(f.left_out[m], d.left_out[m], 1e-5);
    }
    for (int u = 0; u < 3000; ++u) EXPECT_NEAR(f.untyped[u], d.untyped[u], 1e-5);
  }
}

template <class Real>
bool same_bits(const std::vector<Real>& a, const std::vector<Real>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Real)) == 0);
}

// The same haplotype gives the same bits in a fresh workspace, in one that
// served a larger window before, and when repeated.
TEST(Determinism, SameBitsWhateverTheWorkspace) {
  RandomWindow<float> big(41, 600, 300, 100, 0.03f, 0.01f);
  RandomWindow<float> window(42, 37, 250, 2500, 0.03f, 0.01f);
  const std::vector<int8_t> observed = window.study(0.03, 0.01, 0.02);
  CopyingWorkspace<float> fresh, used;
  impute(big, big.study(0.03, 0.01, 0.02), used);
  const Doses<float> a = impute(window, observed, fresh);
  const Doses<float> b = impute(window, observed, used);
  const Doses<float> c = impute(window, observed, fresh);
  for (const Doses<float>* other : {&b, &c}) {
    EXPECT_TRUE(same_bits(a.typed, other->typed));
    EXPECT_TRUE(same_bits(a.left_out, other->left_out));
    EXPECT_TRUE(same_bits(a.untyped, other->untyped));
    EXPECT_EQ(a.log_likelihood, other->log_likelihood);
  }
}

}  // namespace
}  // namespace tessellar::hmm
