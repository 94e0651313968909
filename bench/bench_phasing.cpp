// The phasing on a window of the real task's shape: 600 reference
// haplotypes, 203 study samples, 2,200 typed sites, genotypes of mosaics of
// founder haplotypes with 1 % missing. Counters (of CPU time, printed with
// an "s" suffix): ms per sample, ns per state and site of one haplotype.
// Run: cmake --build --preset release --target bench_phasing &&
// build/release/bench/bench_phasing --benchmark_min_time=0.5
#include <benchmark/benchmark.h>

#include <vector>

#include "hmm/mosaic_population.h"
#include "hmm/phase_draws.h"
#include "hmm/phasing.h"

namespace {

using namespace tessellar;

constexpr int kSites = 2200;
constexpr int kReferences = 600;
constexpr int kSamples = 203;

const testing_support::MosaicPopulation& population() {
  static const testing_support::MosaicPopulation p = [] {
    testing_support::PopulationShape s;
    s.sites = kSites;
    s.references = kReferences;
    s.samples = kSamples;
    s.founders = 60;
    s.jump = 0.01;
    s.mutation = 0.002;
    s.missing = 0.01;
    return testing_support::MosaicPopulation(3, s);
  }();
  return p;
}

// samples: samples per iteration; states: states of each haplotype pass;
// passes: passes over sites x states per haplotype.
void report(benchmark::State& state, int samples, int states, int passes) {
  const double done = double(state.iterations()) * samples;
  state.counters["ms_per_sample"] =
      benchmark::Counter(done * 1e-3, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["ns_per_state_site"] =
      benchmark::Counter(done * 2 * passes * double(states) * kSites * 1e-9,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The alleles of states 0, step, 2 step, ... of the reference, packed.
std::vector<hmm::AlleleByte> packed(int step) {
  const hmm::GenotypeWindow w = population().window();
  const int k = (kReferences + step - 1) / step;
  std::vector<uint8_t> rows(std::size_t(k) * kSites);
  std::vector<const uint8_t*> row(k);
  for (int j = 0; j < k; ++j) {
    for (int m = 0; m < kSites; ++m)
      rows[std::size_t(j) * kSites + m] = w.reference[std::size_t(m) * kReferences + j * step];
    row[j] = rows.data() + std::size_t(j) * kSites;
  }
  std::vector<hmm::AlleleByte> out(hmm::packed_size(k, kSites));
  hmm::pack_states(row.data(), k, kSites, out.data());
  return out;
}

// The greedy first phase of one sample over all reference haplotypes.
void BM_initial(benchmark::State& state) {
  const hmm::GenotypeWindow w = population().window();
  const std::vector<hmm::AlleleByte> alleles = packed(1);
  const hmm::PackedStates model{w.sites, w.references, alleles.data(), w.switches, w.error};
  hmm::PhasingWorkspace work;
  std::vector<uint8_t> a(kSites), b(kSites);
  int i = 0;
  for (auto _ : state) {
    hmm::initial_phase(hmm::fastest_path(), model, w.genotypes + std::size_t(i) * kSites, work,
                       a.data(), b.data());
    benchmark::ClobberMemory();
    i = (i + 1) % kSamples;
  }
  report(state, 1, kReferences, 1);
}

// One round's pair pass of one sample over 300 states (every other
// reference haplotype), its haplotypes from the greedy phase.
void BM_score_pair(benchmark::State& state) {
  const hmm::GenotypeWindow w = population().window();
  const int k = kReferences / 2;
  const std::vector<hmm::AlleleByte> alleles = packed(2), all = packed(1);
  const hmm::PackedStates model{kSites, k, alleles.data(), w.switches, w.error};
  const hmm::PackedStates reference{kSites, kReferences, all.data(), w.switches, w.error};
  constexpr int kPairs = 8;
  std::vector<std::vector<int8_t>> pairs(kPairs, std::vector<int8_t>(2 * kSites));
  std::vector<std::vector<int>> hets(kPairs), missing(kPairs);
  hmm::PhasingWorkspace work;
  for (int i = 0; i < kPairs; ++i) {
    std::vector<uint8_t> a(kSites), b(kSites);
    const int8_t* g = w.genotypes + std::size_t(i) * kSites;
    hmm::initial_phase(hmm::fastest_path(), reference, g, work, a.data(), b.data());
    for (int m = 0; m < kSites; ++m) {
      pairs[i][m] = g[m] < 0 ? -1 : int8_t(a[m]);
      pairs[i][kSites + m] = g[m] < 0 ? -1 : int8_t(b[m]);
      if (g[m] == 1) hets[i].push_back(m);
      if (g[m] < 0) missing[i].push_back(m);
    }
  }
  std::vector<float> switch_prob(kSites), missing_a(kSites), missing_b(kSites);
  int i = 0;
  for (auto _ : state) {
    const hmm::PairAlleles pair{pairs[i].data(), pairs[i].data() + kSites, int(hets[i].size()),
                                hets[i].data(),  int(missing[i].size()),   missing[i].data()};
    hmm::score_pair(hmm::fastest_path(), model, pair, work,
                    {switch_prob.data(), missing_a.data(), missing_b.data()});
    benchmark::ClobberMemory();
    i = (i + 1) % kPairs;
  }
  report(state, 1, k, 3);
}

// Whole windows: the greedy phase and state.range(0) rounds; counters per
// sample.
void BM_phase_window(benchmark::State& state) {
  hmm::PhasingSettings settings;
  settings.rounds = int(state.range(0));
  hmm::WindowPhaser phaser(1);
  hmm::PhasedWindow out;
  for (auto _ : state) {
    phaser.phase(population().window(), settings, hmm::serial_for(), out);
    benchmark::ClobberMemory();
  }
  report(state, kSamples, settings.choice.states, 3);
}

// Four pairs of every sample drawn from a phased window.
void BM_draws(benchmark::State& state) {
  static const hmm::PhasedWindow phased = [] {
    hmm::PhasedWindow out;
    hmm::WindowPhaser(1).phase(population().window(), hmm::PhasingSettings{}, hmm::serial_for(),
                               out);
    return out;
  }();
  const hmm::GenotypeWindow w = population().window();
  std::vector<int8_t> a(kSites), b(kSites);
  for (auto _ : state) {
    for (int i = 0; i < kSamples; ++i)
      for (int d = 0; d < 4; ++d)
        hmm::draw_pair(phased, w.genotypes + std::size_t(i) * kSites, {1, 0}, i, d, a.data(),
                       b.data());
    benchmark::ClobberMemory();
  }
  report(state, kSamples, 1, 1);
}

BENCHMARK(BM_initial)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_score_pair)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_phase_window)->Arg(0)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_draws)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
