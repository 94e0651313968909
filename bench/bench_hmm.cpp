// The copying kernel on a window of the real task's shape: 600 reference
// haplotypes, 2,200 typed sites, 22,800 untyped sites with a 1/x-like
// carrier spectrum; one study haplotype per iteration, cycling through 16.
// Counters (of CPU time; printed with an "s" suffix): ns per state and typed
// site, ms per haplotype. Run: cmake --build --preset release --target
// bench_hmm && build/release/bench/bench_hmm --benchmark_min_time=0.5
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

// haplotypes: study haplotypes per iteration.
void report(benchmark::State& state, int haplotypes = 1) {
  const double done = double(state.iterations()) * haplotypes;
  state.counters["ns_per_state_site"] = benchmark::Counter(
      done * kStates * kSites * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["ms_per_haplotype"] =
      benchmark::Counter(done * 1e-3, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
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

// Batches of kCopyingBatch haplotypes through impute_haplotypes; the counters
// are per haplotype.
template <class Real>
void BM_impute_batch(benchmark::State& state, Real) {
  static const Task<Real> task;
  constexpr int kBatch = hmm::kCopyingBatch;
  const hmm::CopyingModel<Real> model = task.window.model();
  const hmm::UntypedSites<Real> sites = task.window.untyped();
  std::vector<std::vector<Real>> typed(kBatch, std::vector<Real>(kSites)),
      left_out(kBatch, std::vector<Real>(kSites)), dose(kBatch, std::vector<Real>(kUntyped));
  std::vector<hmm::HaplotypeDoses<Real>> out;
  for (int h = 0; h < kBatch; ++h)
    out.push_back({typed[h].data(), left_out[h].data(), dose[h].data()});
  hmm::CopyingBatchWorkspace<Real> work;
  work.reserve(kSites, kStates);
  std::vector<double> log_likelihood(kBatch);
  int first = 0;
  for (auto _ : state) {
    const int8_t* observed[kBatch];
    for (int h = 0; h < kBatch; ++h) observed[h] = task.study[(first + h) % kStudy].data();
    hmm::impute_haplotypes(model, sites, kBatch, observed, work, out.data(), log_likelihood.data());
    benchmark::ClobberMemory();
    first = (first + kBatch) % kStudy;
  }
  report(state, kBatch);
}

BENCHMARK_CAPTURE(BM_impute_batch, float_all, float())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_impute_batch, double_all, double())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_impute, float_all, float(), true, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_impute, float_typed_only, float(), true, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_impute, double_all, double(), true, true)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
