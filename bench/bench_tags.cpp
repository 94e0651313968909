// The tag search of one target. getMD_max, fast and literal, at the default
// shape (20 candidates, every set of 4 tags: 4,845 sets); and the two
// counting searches side by side, at that shape and on long candidate
// lists, where the subset search's tables may pass their cap and only the
// mask search can run. Haplotypes in weak LD, so that the early stop never fires.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "support.h"
#include "tags/count_search.h"

namespace tessellar {
namespace {

using testing_support::Prepared;
using testing_support::World;

// 2 * candidates + 2 SNPs 1 kb apart; each haplotype copies one of 12
// founders with 15 % of its alleles changed.
World weak_ld_world(int snps, int H) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> unit(0, 1);
  World w;
  w.haps.ncol = H;
  std::vector<std::vector<uint8_t>> founders(12, std::vector<uint8_t>(snps));
  for (auto& f : founders) {
    for (auto& b : f) b = unit(rng) < 0.35;
  }
  std::vector<int> origin(H);
  for (int& o : origin) o = static_cast<int>(rng() % founders.size());
  for (int u = 0; u < snps; ++u) {
    std::vector<uint8_t> bits(H);
    for (int k = 0; k < H; ++k) bits[k] = founders[origin[k]][u] ^ (unit(rng) < 0.15);
    w.add(100000 + 1000 * u, &bits, true, true);
  }
  return w;
}

// The search of the targets in the middle of the world: Arg(candidates,
// tags, haplotypes).
struct Target {
  Settings s;
  World w;
  Prepared p;
  TagScratchPtr scratch = make_tag_scratch();
  std::vector<int> tag_list;
  double sets = 1;  // sets per search: C(candidates, tags)
  Target(const benchmark::State& state)
      : w(weak_ld_world(2 * static_cast<int>(state.range(0)) + 2,
                        static_cast<int>(state.range(2)))),
        p(w) {
    const int candidates = static_cast<int>(state.range(0)),
              tags = static_cast<int>(state.range(1));
    s.geometry = WindowGeometry(tags + 1);
    s.maxnum = candidates;
    s.window = 1000 * candidates;
    tag_list.resize(tags + 1);
    for (int j = 0; j < tags; ++j) sets = sets * (candidates - j) / (j + 1);
  }
  int middle() const { return w.n() / 2; }
};

void BM_getMD_max_fast(benchmark::State& state) {
  Target t(state);
  double score = 0;
  for (auto _ : state) {
    getMD_max(t.s, t.tag_list.data(), &score, t.middle(), Mode::incomplete, t.p.tables(t.w),
              WindowRows{nullptr, nullptr}, *t.scratch);
    benchmark::DoNotOptimize(score);
  }
  state.counters["score"] = score;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * t.sets));
}

void BM_getMD_max_literal(benchmark::State& state) {
  Target t(state);
  double score = 0;
  std::vector<int> rows(t.s.geometry.M);
  for (auto _ : state) {
    literal::getMD_max(t.s, t.tag_list.data(), &score, t.middle(), 1, 1, 1, t.p.u.pos.data(),
                       t.w.n(), t.w.haps, t.p.u.hap_row.data(), t.w.haps.ncol, t.w.geno,
                       rows.data(), t.p.u.panel_row.data(), 1, t.w.geno, rows.data(),
                       t.p.u.study_row.data(), 1);
    benchmark::DoNotOptimize(score);
  }
  state.counters["score"] = score;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * t.sets));
}

// One counting search, called as getMD_max calls it, on two neighbouring
// targets in turn (their candidate lists differ, so nothing kept from the
// previous call helps).
template <bool kSubsets>
void BM_counting(benchmark::State& state) {
  Target t(state);
  double score = 0;
  int calls = 0;
  for (auto _ : state) {
    const int target = t.middle() + (calls++ & 1);
    const int N = collect_candidates(t.s, t.p.u, target, Mode::incomplete, *t.scratch);
    const CountingInputs in{t.s.geometry, candidates(*t.scratch).data(), N,
                            target,       t.p.u.hap_row.data(),          t.p.index};
    score = 0;
    if constexpr (kSubsets) {
      if (!search_by_subsets(in, t.tag_list.data(), &score, *t.scratch)) {
        state.SkipWithError("the subset tables would pass their cap: only the mask search runs");
        break;
      }
    } else {
      search_by_masks(in, t.tag_list.data(), &score, *t.scratch);
    }
    benchmark::DoNotOptimize(score);
  }
  state.counters["score"] = score;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * t.sets));
}

BENCHMARK(BM_getMD_max_fast)
    ->Args({20, 4, 120})
    ->Args({20, 4, 1000})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_getMD_max_literal)
    ->Args({20, 4, 120})
    ->Args({20, 4, 1000})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_counting<true>)
    ->Name("BM_search_by_subsets")
    ->Args({20, 4, 1000})
    ->Args({200, 3, 1000})
    ->Args({200, 4, 1000})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_counting<false>)
    ->Name("BM_search_by_masks")
    ->Args({20, 4, 1000})
    ->Args({200, 3, 1000})
    ->Args({200, 4, 1000})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessellar

BENCHMARK_MAIN();
