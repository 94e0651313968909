// The copying kernel on a window of the real task's shape: 600 reference
// haplotypes, 2,200 typed sites, 22,800 untyped sites with a 1/x-like
// carrier spectrum; one study haplotype per iteration, cycling through 16.
// Counters: ns per state and typed site, ms per haplotype.
#include <benchmark/benchmark.h>

#include <vector>

#include "hmm/copying_model.h"
#include "hmm/random_window.h"

namespace {

using namespace tessellar;
using testing_support::RandomWindow;

constexpr int kStates = 600;
constexpr int kSites = 2200;
constexpr int kUntyped = 22800;
constexpr int kStudy = 16;

template <class Real>
struct Task {
  RandomWindow<Real> window{7, kStates, kSites, kUntyped, Real(0.03), Real(0.01)};
  std::vector<std::vector<int8_t>> study;
  Task() {
    for (int h = 0; h < kStudy; ++h) study.push_back(window.study(0.03, 0.01, 0.01));
  }
};

void report(benchmark::State& state) {
  state.counters["ns_per_state_site"] =
      benchmark::Counter(double(state.iterations()) * kStates * kSites * 1e-9,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["ms_per_haplotype"] = benchmark::Counter(
      double(state.iterations()) * 1e-3, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// typed: whether the typed and left-out doses are asked for; untyped:
// whether the untyped ones are.
template <class Real>
void BM_impute(benchmark::State& state, Real, bool typed, bool untyped) {
  static const Task<Real> task;
  const hmm::CopyingModel<Real> model = task.window.model();
  const hmm::UntypedSites<Real> sites = task.window.untyped();
  std::vector<Real> typed_dose(kSites), left_out(kSites), dose(kUntyped);
  const hmm::HaplotypeDoses<Real> out{typed ? typed_dose.data() : nullptr,
                                      typed ? left_out.data() : nullptr,
                                      untyped ? dose.data() : nullptr};
  hmm::CopyingWorkspace<Real> work;
  work.reserve(kSites, kStates);
  int h = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(hmm::impute_haplotype(model, sites, task.study[h].data(), work, out));
    benchmark::ClobberMemory();
    h = (h + 1) % kStudy;
  }
  report(state);
}

BENCHMARK_CAPTURE(BM_impute, float_all, float(), true, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_impute, float_typed_only, float(), true, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_impute, double_all, double(), true, true)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
