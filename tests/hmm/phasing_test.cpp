// Phasing of whole windows: samples that are two reference haplotypes come
// back as those two, the switch-error rate on populations with known phase, results that do not
// depend on the workers, the path or the windows phased before, and the draws of haplotype pairs.
#include "hmm/phasing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hmm/mosaic_population.h"
#include "hmm/phase_draws.h"

namespace tessellar::hmm {
namespace {

using testing_support::MosaicPopulation;
using testing_support::PopulationShape;

// The items on `workers` workers, last first, worker = item % workers: the
// order and the spread of a worker team that finishes them in any order.
ParallelFor spread(int workers) {
  return [workers](int items, const std::function<void(int, int)>& body) {
    for (int i = items - 1; i >= 0; --i) body(i % workers, i);
  };
}

PopulationShape shape(int sites, int references, int samples, double missing) {
  return {sites, references, samples, 16, 0.01, 0.002, missing};
}

// The share of the missing genotypes that the phased haplotypes fill with
// the true genotype.
double filled_right(const MosaicPopulation& population, const PhasedWindow& phased) {
  int missing = 0;
  int right = 0;
  for (int i = 0; i < phased.samples; ++i)
    for (int m = 0; m < phased.sites; ++m) {
      if (population.genotypes()[std::size_t(i) * phased.sites + m] >= 0) continue;
      ++missing;
      right += phased.haplotype(i, 0)[m] + phased.haplotype(i, 1)[m] ==
               population.study(i, 0)[m] + population.study(i, 1)[m];
    }
  return missing ? double(right) / missing : 1.0;
}

// Samples that carry two of six reference haplotypes (28 sites) come back as
// those two, their missing genotypes filled, after the greedy first phase
// alone and after the rounds, with every heterozygote's switch probability
// small.
TEST(Phasing, ASampleOfTwoReferenceHaplotypesComesBackAsThoseTwo) {
  const std::vector<std::string> panel = {
      "0110100110010110100101101001", "1011010011101001011010010110",
      "0001111000110011000111100011", "1100001101001100111000011100",
      "0101010101010101010101010101", "1111000011110000111100001111"};
  const struct {
    std::vector<std::pair<int, int>> samples;  // the reference haplotypes of each
    std::string missing;                       // 'x' where every sample's genotype is
    int rounds;
  } cases[] = {{{{1, 2}}, "", 0},
               {{{3, 0}}, "", 6},
               {{{4, 4}}, "", 6},
               {{{1, 2}, {0, 5}, {3, 4}, {2, 5}}, "", 6},
               {{{5, 3}}, "x.........xx.....x.........x", 2}};
  const int sites = int(panel[0].size());
  const int references = int(panel.size());
  std::vector<uint8_t> reference(std::size_t(sites) * references);
  for (int j = 0; j < references; ++j)
    for (int m = 0; m < sites; ++m) reference[std::size_t(m) * references + j] = panel[j][m] == '1';
  const std::vector<float> switches(sites, 0.03f);
  for (const auto& c : cases) {
    std::vector<int8_t> genotypes;
    for (const auto& [x, y] : c.samples)
      for (int m = 0; m < sites; ++m)
        genotypes.push_back(m < int(c.missing.size()) && c.missing[m] == 'x'
                                ? -1
                                : int8_t((panel[x][m] == '1') + (panel[y][m] == '1')));
    const GenotypeWindow window{
        sites,           references, reference.data(), int(c.samples.size()), genotypes.data(),
        switches.data(), 0.01f};
    PhasingSettings settings;
    settings.rounds = c.rounds;
    PhasedWindow phased;
    WindowPhaser(1).phase(window, settings, serial_for(), phased);
    for (std::size_t i = 0; i < c.samples.size(); ++i) {
      std::string a, b;
      for (int m = 0; m < sites; ++m) {
        a += char('0' + phased.haplotype(int(i), 0)[m]);
        b += char('0' + phased.haplotype(int(i), 1)[m]);
      }
      const std::string& x = panel[c.samples[i].first];
      const std::string& y = panel[c.samples[i].second];
      EXPECT_TRUE((a == x && b == y) || (a == y && b == x)) << i << ": " << a << " " << b;
      for (int k = phased.het_begin[i]; k < phased.het_begin[i + 1]; ++k)
        EXPECT_LT(phased.switch_prob[k], 0.05f) << i << " heterozygote " << k;
    }
  }
}

// Populations of mosaics of a few founders, phased; the switch-error rate
// must stay below the bound (about 1.3 times what was measured: 2.0 %,
// 3.3 % and 2.3 %; 20 rounds or 1000 states per sample gave no less), and
// the rounds must take off a fifth or more of the greedy first phase's
// errors (they took off 40 % to 47 %) and fill the missing genotypes well.
// The switch probabilities are against the final haplotypes: a heterozygote
// whose phase the last round switched (its posterior above one half) keeps
// one minus it, so none is above one half, after one round (where many are
// switched) as after six.
TEST(Phasing, SwitchErrorsStayBelowTheBound) {
  const struct {
    PopulationShape shape;
    double bound;
    uint32_t seed;
  } cases[] = {
      {shape(600, 100, 40, 0.0), 0.026, 11},
      {shape(500, 40, 80, 0.0), 0.043, 12},
      {shape(500, 100, 40, 0.05), 0.03, 13},
  };
  for (const auto& c : cases) {
    const MosaicPopulation population(c.seed, c.shape);
    PhasedWindow phased[3];
    const int rounds[3] = {0, 1, 6};
    for (int r = 0; r < 3; ++r) {
      PhasingSettings settings;
      settings.rounds = rounds[r];
      WindowPhaser(1).phase(population.window(), settings, serial_for(), phased[r]);
      int uncertain = 0;
      for (const float p : phased[r].switch_prob) {
        EXPECT_LE(p, 0.5f) << "seed " << c.seed << ", " << rounds[r] << " rounds";
        uncertain += p > 0.1f;
      }
      EXPECT_TRUE(r == 0 || uncertain > 0) << "no uncertain phase: the data test nothing";
    }
    const double first = population.switch_errors(phased[0]);
    const double last = population.switch_errors(phased[2]);
    EXPECT_LT(last, c.bound) << "seed " << c.seed;
    EXPECT_LT(last, 0.8 * first) << "seed " << c.seed;
    // Missing genotypes: 98.6 % right after the rounds (93 % from the greedy
    // phase's forward predictions).
    EXPECT_GT(filled_right(population, phased[2]), 0.975) << "seed " << c.seed;
  }
}

bool same(const PhasedWindow& x, const PhasedWindow& y) {
  return x.haplotypes == y.haplotypes && x.het_sites == y.het_sites &&
         x.switch_prob == y.switch_prob;
}

TEST(Phasing, SameBitsForEveryWorkerCountPathAndHistory) {
  const MosaicPopulation population(21, shape(300, 60, 30, 0.03));
  const MosaicPopulation other(22, shape(350, 80, 25, 0.1));
  PhasingSettings settings;
  PhasedWindow expected;
  WindowPhaser(1).phase(population.window(), settings, serial_for(), expected);
  for (const int workers : {2, 3}) {
    WindowPhaser phaser(workers);
    PhasedWindow got;
    phaser.phase(other.window(), settings, spread(workers), got);  // memory used before
    phaser.phase(population.window(), settings, spread(workers), got);
    EXPECT_TRUE(same(got, expected)) << workers << " workers";
  }
  for (KernelPath path : {KernelPath::kBaseline, KernelPath::kAvx2}) {
    if (!path_available(path)) continue;
    PhasedWindow got;
    WindowPhaser(1, path).phase(population.window(), settings, serial_for(), got);
    EXPECT_TRUE(same(got, expected)) << "path " << int(path);
  }
}

TEST(Draws, UniformIsAFunctionOfEveryPartOfItsKey) {
  const double base = draw_uniform({5, 3}, 7, 2, 11);
  EXPECT_EQ(base, draw_uniform({5, 3}, 7, 2, 11));
  for (const double other : {draw_uniform({6, 3}, 7, 2, 11), draw_uniform({5, 4}, 7, 2, 11),
                             draw_uniform({5, 3}, 8, 2, 11), draw_uniform({5, 3}, 7, 3, 11),
                             draw_uniform({5, 3}, 7, 2, 12)})
    EXPECT_NE(base, other);
}

TEST(Draws, PairsSwitchWithTheFinalProbabilities) {
  // Two samples heterozygous at every site, alleles 0 on haplotype 0; the
  // second one's draws are keyed by its own count of heterozygotes.
  const int sites = 2001;
  PhasedWindow phased;
  phased.sites = sites;
  phased.samples = 2;
  for (int x = 0; x < 4; ++x) phased.haplotypes.insert(phased.haplotypes.end(), sites, x % 2);
  phased.het_begin = {0, sites, 2 * sites};
  for (int k = 0; k < 2 * sites; ++k) phased.het_sites.push_back(k % sites);
  phased.switch_prob.assign(2 * sites, 0.25f);
  phased.switch_prob[0] = phased.switch_prob[sites] = 0.0f;
  std::vector<int8_t> genotypes(sites, 1), a(sites), b(sites);
  genotypes[1000] = -1;
  const DrawKey key{1, 0};
  draw_pair(phased, genotypes.data(), key, 1, 3, a.data(), b.data());
  int switches = 0;
  bool flip = false;
  for (int m = 0; m < sites; ++m) {
    // The switch before heterozygote m is the generator's number for m.
    const bool change = m > 0 && draw_uniform(key, 1, 3, m) < 0.25;
    flip ^= change;
    switches += change;
    EXPECT_EQ(a[m], m == 1000 ? -1 : int(flip)) << "site " << m;
    EXPECT_EQ(b[m], m == 1000 ? -1 : int(!flip)) << "site " << m;
  }
  EXPECT_NEAR(switches / 2000.0, 0.25, 0.04);
}

}  // namespace
}  // namespace tessellar::hmm
