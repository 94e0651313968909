// Pattern lists and EM over realistic windows at M = 5, fast and literal
// side by side: 30 trios with a few per cent missing codes (and with one
// more trio missing at every SNP), and 1,000 study individuals.
#include <benchmark/benchmark.h>

#include <vector>

#include "core/settings.h"
#include "haplo/em.h"
#include "haplo/imputation.h"
#include "haplo/pattern_lists.h"
#include "literal/haplo_literal.h"
#include "support.h"

namespace {

using namespace tessellar;

constexpr int kM = 5;
constexpr int kTrios = 30;
constexpr int kStudy = 1000;
const WindowGeometry kG(kM);

std::vector<int> panel_rows() {
  testing_support::RowGen gen(17, kM, 0.03);
  return gen.panel(kTrios, 0, 0, 0.0);
}

std::vector<int> study_rows() {
  testing_support::RowGen gen(29, kM, 0.05);
  return gen.study(kStudy);
}

// The 30 trios and a 31st whose three members are missing at every SNP.
std::vector<int> with_missing_trio_rows() {
  std::vector<int> rows = panel_rows();
  rows.insert(rows.end(), 3 * kM, 9);
  return rows;
}

// EM iterations from the uniform start on these lists.
int em_iterations(const StudyList* study, const FamilyList* families) {
  std::vector<double> f(kG.K, 1.0 / kG.K);
  EmUnits units;
  units.study = study;
  units.families = families;
  return estimate_frequencies(kG.K, f.data(), units).iterations;
}

// Reports time per EM iteration and records visited per second.
void report(benchmark::State& state, int iterations, std::size_t records) {
  state.counters["em_iterations"] = iterations;
  state.counters["per_em_iteration"] = benchmark::Counter(
      iterations, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.SetItemsProcessed(state.iterations() * iterations * static_cast<long>(records));
}

void BM_makelist_ex_fast(benchmark::State& state) {
  const auto rows = panel_rows();
  FamilyList list;
  for (auto _ : state) {
    makelist_ex(kG, list, rows.data(), kTrios, 0, 0);
    benchmark::DoNotOptimize(list.configs.data());
  }
  state.counters["configs"] = static_cast<double>(list.configs.size());
}
BENCHMARK(BM_makelist_ex_fast);

void BM_makelist_ex_literal(benchmark::State& state) {
  const auto rows = panel_rows();
  for (auto _ : state) {
    literal::FamilyList list = literal::makelist_ex(kG, rows.data(), kTrios, 0, 0);
    benchmark::DoNotOptimize(list.head.get());
  }
}
BENCHMARK(BM_makelist_ex_literal);

void BM_makelist_fast(benchmark::State& state) {
  const auto rows = study_rows();
  StudyList list;
  for (auto _ : state) {
    makelist(kG, list, rows.data(), kStudy);
    benchmark::DoNotOptimize(list.pairs.data());
  }
  state.counters["pairs"] = static_cast<double>(list.pairs.size());
}
BENCHMARK(BM_makelist_fast);

void BM_makelist_literal(benchmark::State& state) {
  const auto rows = study_rows();
  for (auto _ : state) {
    literal::StudyList list = literal::makelist(kG, rows.data(), kStudy);
    benchmark::DoNotOptimize(list.head.get());
  }
}
BENCHMARK(BM_makelist_literal);

// Arg 0: the 30 trios; arg 1: with the missing trio (278,784 more configurations).
std::vector<int> family_case(int which) {
  return which == 0 ? panel_rows() : with_missing_trio_rows();
}
int family_trios(int which) {
  return which == 0 ? kTrios : kTrios + 1;
}

void BM_A1_families_fast(benchmark::State& state) {
  const auto rows = family_case(static_cast<int>(state.range(0)));
  FamilyList list;
  makelist_ex(kG, list, rows.data(), family_trios(static_cast<int>(state.range(0))), 0, 0);
  const int n = em_iterations(nullptr, &list);
  std::vector<double> f(32);
  for (auto _ : state) {
    f.assign(32, 1.0 / 32);
    A1(kG.K, f.data(), nullptr, &list, -1, -1, -1, 1);
    benchmark::DoNotOptimize(f.data());
  }
  report(state, n, list.configs.size());
}
BENCHMARK(BM_A1_families_fast)->Arg(0)->Arg(1);

void BM_A1_families_literal(benchmark::State& state) {
  const auto rows = family_case(static_cast<int>(state.range(0)));
  const int ntr = family_trios(static_cast<int>(state.range(0)));
  FamilyList flat;
  makelist_ex(kG, flat, rows.data(), ntr, 0, 0);
  const int n = em_iterations(nullptr, &flat);
  literal::FamilyList list = literal::makelist_ex(kG, rows.data(), ntr, 0, 0);
  std::vector<double> f(32);
  for (auto _ : state) {
    f.assign(32, 1.0 / 32);
    literal::A1(kG.K, f.data(), nullptr, &list, -1, -1, -1, 1);
    benchmark::DoNotOptimize(f.data());
  }
  report(state, n, flat.configs.size());
}
BENCHMARK(BM_A1_families_literal)->Arg(0)->Arg(1);

void BM_A1_study_fast(benchmark::State& state) {
  const auto rows = study_rows();
  StudyList list;
  makelist(kG, list, rows.data(), kStudy);
  const int n = em_iterations(&list, nullptr);
  std::vector<double> f(32);
  for (auto _ : state) {
    f.assign(32, 1.0 / 32);
    A1(kG.K, f.data(), &list, nullptr, -1, -1, 1, -1);
    benchmark::DoNotOptimize(f.data());
  }
  report(state, n, list.pairs.size());
}
BENCHMARK(BM_A1_study_fast);

void BM_A1_study_literal(benchmark::State& state) {
  const auto rows = study_rows();
  StudyList flat;
  makelist(kG, flat, rows.data(), kStudy);
  const int n = em_iterations(&flat, nullptr);
  literal::StudyList list = literal::makelist(kG, rows.data(), kStudy);
  std::vector<double> f(32);
  for (auto _ : state) {
    f.assign(32, 1.0 / 32);
    literal::A1(kG.K, f.data(), &list, nullptr, -1, -1, 1, -1);
    benchmark::DoNotOptimize(f.data());
  }
  report(state, n, flat.pairs.size());
}
BENCHMARK(BM_A1_study_literal);

void BM_imputation_fast(benchmark::State& state) {
  const auto rows = study_rows();
  StudyList list;
  makelist(kG, list, rows.data(), kStudy);
  std::vector<double> f(32, 1.0 / 32);
  A1(kG.K, f.data(), &list, nullptr, -1, -1, 1, -1);
  for (double& x : f) x = (x + 0.001) / 1.032;
  std::vector<double> p0(kStudy), p1(kStudy), p2(kStudy);
  for (auto _ : state) {
    imputation(kG, f.data(), list, {p0.data(), p1.data(), p2.data()});
    benchmark::DoNotOptimize(p0.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(list.pairs.size()));
}
BENCHMARK(BM_imputation_fast);

}  // namespace

BENCHMARK_MAIN();
