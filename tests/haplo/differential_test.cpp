// The fast pattern lists, EM and posterior step against the literal
// versions, bit for bit, on seeded random study and panel windows; and the
// sums that the EM and the posteriors must keep.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "haplo/em.h"
#include "haplo/haplo_test_util.h"
#include "haplo/imputation.h"
#include "literal/haplo_literal.h"
#include "core/settings.h"

namespace tessellar {
namespace {

using testing_haplo::RowGen;
using testing_haplo::same_bits;

// One random window: study and panel rows and their lists, fast and literal.
struct Window {
  int M = 0;
  int K = 0;
  int n = 0;
  int ntr = 0, ndu = 0, nun = 0;
  std::vector<int> study_rows;
  std::vector<int> panel_rows;
  StudyList study;
  FamilyList families;
  literal::StudyList lit_study;
  literal::FamilyList lit_families;
};

constexpr double kMissing[] = {0.0, 0.02, 0.1, 0.3, 0.6};

// Window of seed: M from 1 to 6, missing rate and unit mix from the seed.
void make_window(unsigned seed, Window& w) {
  w.M = 1 + static_cast<int>(seed % 6);
  double missing = kMissing[(seed / 6) % 5];
  if (w.M >= 5 && missing > 0.3) missing = 0.3;  // keeps the literal lists small
  install_window_size(w.M);
  w.K = 1 << w.M;
  RowGen gen(seed, w.M, missing, seed % 11 == 0 ? 0.05 : 0.0);
  w.n = gen.uniform(0, 30);
  w.ntr = gen.uniform(0, 4);
  w.ndu = gen.uniform(0, 3);
  w.nun = gen.uniform(0, 3);
  w.study_rows = gen.study(w.n);
  w.panel_rows = gen.panel(w.ntr, w.ndu, w.nun);
  makelist(w.study, w.study_rows.data(), w.n);
  makelist_ex(w.families, w.panel_rows.data(), w.ntr, w.ndu, w.nun);
  w.lit_study = literal::makelist(w.study_rows.data(), w.n);
  w.lit_families = literal::makelist_ex(w.panel_rows.data(), w.ntr, w.ndu, w.nun);
}

bool same_study(const StudyList& a, const StudyList& b) {
  return testing_haplo::pairs_of(a) == testing_haplo::pairs_of(b) &&
         a.individuals.size() == b.individuals.size() &&
         std::equal(a.individuals.begin(), a.individuals.end(), b.individuals.begin(),
                    [](const node0& x, const node0& y) { return x.index == y.index; });
}

constexpr unsigned kSeeds = 300;

TEST(Differential, PatternListsMatchLiteral) {
  for (unsigned seed = 1; seed <= kSeeds; ++seed) {
    Window w;
    make_window(seed, w);
    ASSERT_TRUE(same_study(w.study, literal::flatten(w.lit_study))) << "seed " << seed;
    ASSERT_EQ(testing_haplo::units_of(w.families),
              testing_haplo::units_of(literal::flatten(w.lit_families)))
        << "seed " << seed;
  }
}

// (use_study, use_families, group_mode) of the A1 calls compared.
struct Use {
  int study;
  int families;
  int group_mode;
};
constexpr Use kUses[] = {{1, -1, 9}, {-1, 1, 9}, {1, 1, 9}, {1, -1, 1}};

TEST(Differential, EmMatchesLiteralBitForBit) {
  for (unsigned seed = 1; seed <= kSeeds; ++seed) {
    Window w;
    make_window(seed, w);
    std::vector<int> groups(static_cast<std::size_t>(w.n));
    for (int i = 0; i < w.n; ++i) groups[i] = i % 3;
    for (const Use& use : kUses) {
      std::vector<double> start(static_cast<std::size_t>(w.K), 1.0 / w.K);
      if (seed % 4 == 0) {  // an uneven start
        for (int k = 0; k < w.K; ++k) start[k] = (1.0 + k % 5) / (3.0 * w.K);
      }
      std::vector<double> fast = start;
      std::vector<double> lit = start;
      const int r1 = A1(fast.data(), &w.study, &w.families, 0, 2, use.study, use.families,
                        groups.data(), use.group_mode);
      const int r2 = literal::A1(lit.data(), &w.lit_study, &w.lit_families, 0, 2, use.study,
                                 use.families, groups.data(), use.group_mode);
      ASSERT_EQ(r1, r2) << "seed " << seed;
      ASSERT_TRUE(same_bits(fast, lit)) << "seed " << seed << " use " << use.study << "/"
                                        << use.families << "/" << use.group_mode;
    }
  }
}

// Mostly missing windows converge slowly: many calls run into the
// 500-iteration limit, and the estimates must still agree bit for bit.
TEST(Differential, EmMatchesLiteralUpToTheIterationLimit) {
  int limited = 0;
  for (unsigned seed = 1; seed <= 16; ++seed) {
    const int M = 2 + static_cast<int>(seed % 3);
    install_window_size(M);
    const int K = 1 << M;
    RowGen gen(seed, M, seed % 2 ? 0.85 : 0.7);
    const std::vector<int> study_rows = gen.study(100);
    const std::vector<int> panel_rows = gen.panel(3, 2, 2, 0.0);
    StudyList study;
    FamilyList families;
    makelist(study, study_rows.data(), 100);
    makelist_ex(families, panel_rows.data(), 3, 2, 2);
    literal::StudyList lit_study = literal::makelist(study_rows.data(), 100);
    literal::FamilyList lit_families = literal::makelist_ex(panel_rows.data(), 3, 2, 2);
    for (const Use& use : kUses) {
      std::vector<double> fast(static_cast<std::size_t>(K), 1.0 / K);
      std::vector<double> lit = fast;
      const int r1 = A1(fast.data(), &study, &families, -1, -1, use.study, use.families);
      const int r2 =
          literal::A1(lit.data(), &lit_study, &lit_families, -1, -1, use.study, use.families);
      ASSERT_EQ(r1, r2) << "seed " << seed;
      ASSERT_TRUE(same_bits(fast, lit)) << "seed " << seed;
      limited += r1 == 0;
    }
  }
  EXPECT_GE(limited, 5);
}

TEST(Differential, PosteriorsMatchLiteralBitForBit) {
  for (unsigned seed = 1; seed <= kSeeds; ++seed) {
    Window w;
    make_window(seed, w);
    std::vector<double> f(static_cast<std::size_t>(w.K), 1.0 / w.K);
    A1(f.data(), &w.study, nullptr, -1, -1, 1, -1);
    for (double& x : f) x = (x + 0.001) / (1.0 + 0.001 * w.K);  // strictly positive
    std::vector<std::vector<double>> a(3, std::vector<double>(w.n, -1.0));
    std::vector<std::vector<double>> b = a;
    imputation(f.data(), w.study, {a[0].data(), a[1].data(), a[2].data()});
    literal::imputation(f.data(), w.lit_study, {b[0].data(), b[1].data(), b[2].data()});
    for (int g = 0; g < 3; ++g) ASSERT_TRUE(same_bits(a[g], b[g])) << "seed " << seed;
    for (const node0& ind : w.study.individuals) {
      const int i = ind.index;
      const double sum = a[0][i] + a[1][i] + a[2][i];
      ASSERT_NEAR(sum, ind.begin < ind.end ? 1.0 : 0.0, 1e-12) << "seed " << seed;
    }
  }
}

// With every unit holding a configuration, each adds 1 per two founder
// haplotypes, so the estimate sums to 1.
TEST(EmProperty, EstimateSumsToOneWhenEveryUnitHasAConfiguration) {
  int checked = 0;
  for (unsigned seed = 1; seed <= kSeeds; ++seed) {
    Window w;
    make_window(seed, w);
    bool all_listed = true;
    for (const node0& ind : w.study.individuals) all_listed &= ind.begin < ind.end;
    for (const node_ex0& u : w.families.units) all_listed &= u.begin < u.end;
    if (!all_listed || (w.n == 0 && w.families.units.empty())) continue;
    std::vector<double> f(static_cast<std::size_t>(w.K), 1.0 / w.K);
    A1(f.data(), &w.study, &w.families, -1, -1, 1, 1);
    ASSERT_NEAR(std::accumulate(f.begin(), f.end(), 0.0), 1.0, 1e-9) << "seed " << seed;
    ++checked;
  }
  EXPECT_GT(checked, static_cast<int>(kSeeds) / 2);
}

}  // namespace
}  // namespace tessellar
