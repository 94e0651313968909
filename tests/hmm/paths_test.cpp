// Every instruction-set path of the copying kernel against the plain scalar
// version, bit for bit, on seeded random windows of awkward sizes (states
// around the lane width, sites around the recomputed chunks), one haplotype
// at a time and in batches, in workspaces that served a larger window
// before.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hmm/copying_paths.h"
#include "hmm/literal_kernel.h"
#include "hmm/random_window.h"

namespace tessellar::hmm {
namespace {

using testing_support::RandomWindow;

struct Window {
  const char* name;
  int states;
  int sites;
  int untyped;
  uint32_t seed;
};

template <class Real>
bool same_bits(const std::vector<Real>& a, const std::vector<Real>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Real)) == 0);
}

// All doses of one study haplotype, and its log-likelihood.
template <class Real>
struct Out {
  std::vector<Real> typed, left_out, untyped;
  double log_likelihood = 0;
  Out(int sites, int untyped_count) : typed(sites), left_out(sites), untyped(untyped_count) {}
  HaplotypeDoses<Real> doses() { return {typed.data(), left_out.data(), untyped.data()}; }
  bool operator==(const Out& o) const {
    return same_bits(typed, o.typed) && same_bits(left_out, o.left_out) &&
           same_bits(untyped, o.untyped) &&
           std::memcmp(&log_likelihood, &o.log_likelihood, sizeof(double)) == 0;
  }
};

template <class Real>
void check(const Window& w) {
  RandomWindow<Real> window(w.seed, w.states, w.sites, w.untyped, Real(0.03), Real(0.01));
  std::vector<std::vector<int8_t>> observed;
  std::vector<Out<Real>> expected;
  for (int h = 0; h < kCopyingBatch; ++h) {
    observed.push_back(window.study(0.05, 0.02, 0.05));
    expected.emplace_back(w.sites, w.untyped);
    expected[h].log_likelihood =
        literal::impute(window.model(), window.untyped(), observed[h].data(), expected[h].doses());
  }
  RandomWindow<Real> larger(99, 40, 100, 100, Real(0.03), Real(0.01));
  const std::vector<int8_t> other = larger.study(0.05, 0.02, 0.05);
  std::vector<Real> first_posteriors;
  for (KernelPath path : {KernelPath::kBaseline, KernelPath::kAvx2}) {
    if (!path_available(path)) continue;
    CopyingWorkspace<Real> work;
    CopyingBatchWorkspace<Real> batch_work;
    const int8_t* other_alleles = other.data();
    HaplotypeDoses<Real> nothing;
    impute_haplotype(path, larger.model(), larger.untyped(), other.data(), work, nothing);
    impute_haplotypes(path, larger.model(), larger.untyped(), 1, &other_alleles, batch_work,
                      &nothing, nullptr);
    for (int h = 0; h < 3; ++h) {
      Out<Real> got(w.sites, w.untyped);
      got.log_likelihood = impute_haplotype(path, window.model(), window.untyped(),
                                            observed[h].data(), work, got.doses());
      EXPECT_TRUE(got == expected[h]) << "path " << int(path) << ", haplotype " << h;
    }
    std::vector<Real> posterior(std::size_t(w.sites) * w.states);
    state_posteriors(path, window.model(), observed[0].data(), work, posterior.data());
    if (first_posteriors.empty()) first_posteriors = posterior;
    EXPECT_TRUE(same_bits(posterior, first_posteriors)) << "path " << int(path);
    for (int count : {1, 3, kCopyingBatch}) {
      std::vector<Out<Real>> got(count, Out<Real>(w.sites, w.untyped));
      std::vector<const int8_t*> alleles;
      std::vector<HaplotypeDoses<Real>> doses;
      for (int h = 0; h < count; ++h) {
        alleles.push_back(observed[h].data());
        doses.push_back(got[h].doses());
      }
      std::vector<double> log_likelihood(count);
      impute_haplotypes(path, window.model(), window.untyped(), count, alleles.data(), batch_work,
                        doses.data(), log_likelihood.data());
      for (int h = 0; h < count; ++h) {
        got[h].log_likelihood = log_likelihood[h];
        EXPECT_TRUE(got[h] == expected[h])
            << "path " << int(path) << ", batch of " << count << ", haplotype " << h;
      }
    }
  }
}

class Paths : public ::testing::TestWithParam<Window> {};

TEST_P(Paths, FloatSameBitsAsLiteral) {
  check<float>(GetParam());
}
TEST_P(Paths, DoubleSameBitsAsLiteral) {
  check<double>(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Windows, Paths,
    ::testing::Values(Window{"one_state", 1, 70, 50, 1}, Window{"five_states", 5, 3, 40, 2},
                      Window{"lane_width", 16, 64, 300, 3},
                      Window{"lane_width_plus_one", 17, 65, 300, 4},
                      Window{"one_site", 33, 1, 20, 5}, Window{"chunk_minus_one", 40, 63, 500, 6},
                      Window{"three_chunks", 47, 150, 1500, 7}, Window{"no_untyped", 20, 90, 0, 8},
                      Window{"real_width", 600, 130, 1300, 9}),
    [](const ::testing::TestParamInfo<Window>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace tessellar::hmm
