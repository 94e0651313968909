// The fast pattern lists, EM and posterior step against the literal
// versions, bit for bit, on seeded random study and panel windows.
#include <gtest/gtest.h>

#include <vector>

#include "haplo/em.h"
#include "haplo/imputation.h"
#include "literal/haplo_literal.h"
#include "support.h"

namespace tessellar {
namespace {

using testing_support::RowGen;
using testing_support::same_bits;

// One random window: study and panel rows and their lists, fast and literal.
struct Window {
  WindowGeometry g;
  int n = 0, ntr = 0, ndu = 0, nun = 0;
  StudyList study;
  FamilyList families;
  literal::StudyList lit_study;
  literal::FamilyList lit_families;

  // M from 1 to 6, missing share, sizes and units from the seed; missing:
  // the share of missing codes (else from the seed).
  explicit Window(unsigned seed, double missing = -1) : g(1 + static_cast<int>(seed % 6)) {
    if (missing < 0) missing = std::min(0.15 * ((seed / 6) % 5), g.M >= 5 ? 0.3 : 0.6);
    RowGen gen(seed, g.M, missing);
    n = gen.uniform(0, 30);
    ntr = gen.uniform(0, 4);
    ndu = gen.uniform(0, 3);
    nun = gen.uniform(0, 3);
    const std::vector<int> study_rows = gen.study(n);
    const std::vector<int> panel_rows = gen.panel(ntr, ndu, nun);
    makelist(g, study, study_rows.data(), n);
    makelist_ex(g, families, panel_rows.data(), ntr, ndu, nun);
    lit_study = literal::makelist(g, study_rows.data(), n);
    lit_families = literal::makelist_ex(g, panel_rows.data(), ntr, ndu, nun);
  }
};

constexpr unsigned kSeeds = 300;

TEST(Differential, PatternListsMatchTheLiteralOnes) {
  for (unsigned seed = 1; seed <= kSeeds; ++seed) {
    const Window w(seed);
    const StudyList a = literal::flatten(w.lit_study);
    ASSERT_EQ(w.study.individuals.size(), a.individuals.size()) << seed;
    for (std::size_t i = 0; i < a.individuals.size(); ++i) {
      const node0 x = w.study.individuals[i], y = a.individuals[i];
      ASSERT_TRUE(x.index == y.index && x.begin == y.begin && x.end == y.end) << seed;
    }
    for (std::size_t k = 0; k < a.pairs.size(); ++k) {
      ASSERT_TRUE(w.study.pairs[k].hap1 == a.pairs[k].hap1 &&
                  w.study.pairs[k].hap2 == a.pairs[k].hap2);
    }
    const FamilyList b = literal::flatten(w.lit_families);
    ASSERT_EQ(w.families.units.size(), b.units.size()) << seed;
    ASSERT_EQ(w.families.configs.size(), b.configs.size()) << seed;
    for (std::size_t u = 0; u < b.units.size(); ++u) {
      const node_ex0 x = w.families.units[u], y = b.units[u];
      ASSERT_TRUE(x.kind == y.kind && x.begin == y.begin && x.end == y.end) << seed;
    }
    for (std::size_t k = 0; k < b.configs.size(); ++k) {
      const node_ex x = w.families.configs[k], y = b.configs[k];
      ASSERT_TRUE(x.hap1 == y.hap1 && x.hap2 == y.hap2 && x.hap3 == y.hap3 && x.hap4 == y.hap4)
          << seed;
    }
  }
}

// (use_study, use_families, group_mode) of the A1 calls compared.
struct Use {
  int study, families, group_mode;
};
constexpr Use kUses[] = {{1, -1, 9}, {-1, 1, 9}, {1, 1, 9}, {1, -1, 1}};

// The EM estimates and results of both versions, from the start values.
void expect_same_em(Window& w, const std::vector<double>& start, unsigned seed) {
  std::vector<int> groups(static_cast<std::size_t>(w.n));
  for (int i = 0; i < w.n; ++i) groups[i] = i % 3;
  for (const Use& use : kUses) {
    std::vector<double> fast = start, lit = start;
    const int r1 = A1(w.g.K, fast.data(), &w.study, &w.families, 0, 2, use.study, use.families,
                      groups.data(), use.group_mode);
    const int r2 = literal::A1(w.g.K, lit.data(), &w.lit_study, &w.lit_families, 0, 2, use.study,
                               use.families, groups.data(), use.group_mode);
    ASSERT_EQ(r1, r2) << "seed " << seed;
    ASSERT_TRUE(same_bits(fast, lit))
        << "seed " << seed << " use " << use.study << "/" << use.families << "/" << use.group_mode;
  }
}

TEST(Differential, EmMatchesTheLiteralBitForBit) {
  for (unsigned seed = 1; seed <= kSeeds; ++seed) {
    Window w(seed);
    std::vector<double> start(w.g.K, 1.0 / w.g.K);
    for (int k = 0; seed % 4 == 0 && k < w.g.K; ++k) start[k] = (1.0 + k % 5) / (3.0 * w.g.K);
    expect_same_em(w, start, seed);
  }
}

// Mostly missing windows converge slowly: many runs reach the limit of 500
// iterations, and the estimates must still agree bit for bit.
TEST(Differential, EmMatchesTheLiteralUpToTheIterationLimit) {
  for (unsigned seed = 2; seed <= 24; seed += 6) {
    Window w(seed, 0.8);
    expect_same_em(w, std::vector<double>(w.g.K, 1.0 / w.g.K), seed);
  }
}

TEST(Differential, PosteriorsMatchTheLiteralBitForBit) {
  for (unsigned seed = 1; seed <= kSeeds; ++seed) {
    Window w(seed);
    std::vector<double> f(w.g.K, 1.0 / w.g.K);
    A1(w.g.K, f.data(), &w.study, nullptr, -1, -1, 1, -1);
    for (double& x : f) x = (x + 0.000001) / 1.000032;  // as the program smooths
    std::vector<std::vector<double>> a(3, std::vector<double>(w.n, -1.0)), b = a;
    imputation(w.g, f.data(), w.study, {a[0].data(), a[1].data(), a[2].data()});
    literal::imputation(w.g, f.data(), w.lit_study, {b[0].data(), b[1].data(), b[2].data()});
    for (int x = 0; x < 3; ++x) ASSERT_TRUE(same_bits(a[x], b[x])) << "seed " << seed;
  }
}

}  // namespace
}  // namespace tessellar
