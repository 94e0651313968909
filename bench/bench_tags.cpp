// The tag search of one target, fast and literal: 20 candidates, every set of
// 4 (4,845 sets), haplotypes in weak LD so that the early stop never fires.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "tags/tag_world.h"

namespace tessellar {
namespace {

using testing_tags::UnionVectors;
using testing_tags::World;

// 41 SNPs 1 kb apart, the target in the middle; each haplotype copies one of
// 12 founders with 15% of its alleles changed.
World weak_ld_world(int H) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> unit(0, 1);
  World w;
  w.haps.ncol = H;
  w.study_geno.members = 1;
  w.panel_geno.members = 1;
  std::vector<std::vector<uint8_t>> founders(12, std::vector<uint8_t>(41));
  for (auto& f : founders) {
    for (auto& b : f) b = unit(rng) < 0.35;
  }
  std::vector<int> origin(H);
  for (int& o : origin) o = static_cast<int>(rng() % founders.size());
  const std::vector<int8_t> code{1};
  for (int u = 0; u < 41; ++u) {
    std::vector<uint8_t> bits(H);
    for (int k = 0; k < H; ++k) bits[k] = founders[origin[k]][u] ^ (unit(rng) < 0.15);
    w.add(100000 + 1000 * u, &bits, &code, &code);
  }
  return w;
}

struct Target {
  World w;
  UnionVectors u;
  std::vector<int> tag_list;
  std::vector<int> rows;
  explicit Target(int H) : w(weak_ld_world(H)), u(w), tag_list(5), rows(5) {
    install_window_size(5);
  }
};

void BM_getMD_max_fast(benchmark::State& state) {
  Target t(static_cast<int>(state.range(0)));
  const auto index = prepare_haplotypes(t.w.haps);
  const auto scratch = make_tag_scratch();
  double score = 0;
  for (auto _ : state) {
    getMD_max(t.tag_list.data(), &score, 20, 1, 1, 1, t.u.pos.data(), t.w.n(), t.w.haps, *index,
              t.u.hap.data(), t.w.haps.ncol, t.w.panel_geno, t.rows.data(), t.u.panel.data(), 1,
              t.w.study_geno, t.rows.data(), t.u.study.data(), 1, *scratch);
    benchmark::DoNotOptimize(score);
  }
  state.counters["score"] = score;
  state.SetItemsProcessed(state.iterations() * 4845);
}

void BM_getMD_max_literal(benchmark::State& state) {
  Target t(static_cast<int>(state.range(0)));
  double score = 0;
  for (auto _ : state) {
    literal::getMD_max(t.tag_list.data(), &score, 20, 1, 1, 1, t.u.pos.data(), t.w.n(), t.w.haps,
                       t.u.hap.data(), t.w.haps.ncol, t.w.panel_geno, t.rows.data(),
                       t.u.panel.data(), 1, t.w.study_geno, t.rows.data(), t.u.study.data(), 1);
    benchmark::DoNotOptimize(score);
  }
  state.counters["score"] = score;
  state.SetItemsProcessed(state.iterations() * 4845);
}

BENCHMARK(BM_getMD_max_fast)->Arg(120)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_getMD_max_literal)->Arg(120)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tessellar

BENCHMARK_MAIN();
