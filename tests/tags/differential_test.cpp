// The fast tag search against the literal one, bit for bit, on seeded
// random unions in which every SNP has a haplotype row, as in every run:
// both counting searches called directly, and getMD_max as a whole with
// its scratch kept across the targets; then the pruning that lets the
// counting searches skip sets.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <vector>

#include "support.h"
#include "tags/count_search.h"

namespace tessellar {
namespace {

using testing_support::Prepared;
using testing_support::run_search;
using testing_support::SearchResult;
using testing_support::World;

struct Shape {
  int M;            // window: M - 1 tags
  int H;            // phased haplotypes
  int founders;     // haplotypes copy one of these (0: independent columns)
  double mutation;  // chance of a changed allele per entry
  int maxnum;       // most candidates
};

// 30 rows with repeated distances, 5 % monomorphic, a few founders shared
// by many haplotypes so that many sets score alike or nearly alike.
World random_world(const Shape& shape, std::mt19937& rng) {
  std::uniform_real_distribution<double> unit(0, 1);
  World w;
  w.haps.ncol = shape.H;
  std::vector<std::vector<uint8_t>> founders(std::max(shape.founders, 1), std::vector<uint8_t>(30));
  for (auto& f : founders) {
    for (auto& b : f) b = rng() % 2;
  }
  std::vector<int> origin(shape.H);
  for (int& o : origin) o = static_cast<int>(rng() % founders.size());
  for (int u = 0, p = 1000; u < 30; ++u) {
    p += static_cast<int>(rng() % 4) * 50;
    std::vector<uint8_t> bits(shape.H);
    const bool mono = unit(rng) < 0.05;
    for (int k = 0; k < shape.H; ++k) {
      const uint8_t b = shape.founders ? founders[origin[k]][u] : rng() % 2;
      bits[k] = mono ? 1 : b ^ (unit(rng) < shape.mutation);
    }
    const double kind = unit(rng);
    w.add(p, &bits, kind<0.8, kind> 0.1);
  }
  return w;
}

enum class Search { subsets, masks, whole };
const char* const kSearchName[] = {"search_by_subsets", "search_by_masks", "getMD_max"};

SearchResult run_counting(Search search, const Settings& s, const Prepared& p, int target,
                          Mode mode) {
  SearchResult r;
  r.tag_list.assign(s.geometry.M, -7);
  r.score = 0;
  const TagScratchPtr scratch = make_tag_scratch();
  const int N = collect_candidates(s, p.u, target, mode, *scratch);
  if (N < s.geometry.tags()) return r;  // getMD_max tries no set
  const CountingInputs in{s.geometry, candidates(*scratch).data(), N,
                          target,     p.u.hap_row.data(),          p.index};
  if (search == Search::masks) {
    search_by_masks(in, r.tag_list.data(), &r.score, *scratch);
  } else {
    EXPECT_TRUE(search_by_subsets(in, r.tag_list.data(), &r.score, *scratch));
  }
  return r;
}

class CountingSearches : public ::testing::TestWithParam<Shape> {};

TEST_P(CountingSearches, MatchTheLiteralSearch) {
  const Shape shape = GetParam();
  for (int seed = 0; seed < 3; ++seed) {
    std::mt19937 rng(100 * shape.M + 7 * shape.H + seed);
    Settings s;
    s.geometry = WindowGeometry(shape.M);
    s.window = 200 + static_cast<int>(rng() % 2000);
    s.minnum = static_cast<int>(rng() % 8);
    s.maxnum = shape.maxnum;
    const World w = random_world(shape, rng);
    const Prepared p(w);
    const TagScratchPtr kept = make_tag_scratch();
    for (int t = 0; t < w.n(); ++t) {
      for (Mode mode : {Mode::untyped, Mode::incomplete}) {
        if ((mode == Mode::untyped ? w.panel : w.study)[t] < 0) continue;
        const SearchResult slow = run_search(s, w, t, mode, true);
        for (Search search : {Search::subsets, Search::masks, Search::whole}) {
          const SearchResult fast = search == Search::whole
                                        ? run_search(s, w, t, mode, false, &p, kept.get())
                                        : run_counting(search, s, p, t, mode);
          const auto where = ::testing::Message() << kSearchName[int(search)] << ", seed " << seed
                                                  << ", target " << t << ", mode " << int(mode);
          ASSERT_EQ(fast.tag_list, slow.tag_list) << where;
          ASSERT_EQ(std::bit_cast<uint64_t>(fast.score), std::bit_cast<uint64_t>(slow.score))
              << where << ": " << fast.score << " vs " << slow.score;
        }
      }
    }
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Shapes, CountingSearches, ::testing::Values(
    Shape{2, 120, 0, 0, 12}, Shape{3, 65, 3, 0.02, 10}, Shape{4, 64, 4, 0.05, 10},
    Shape{5, 100, 3, 0.01, 20}, Shape{5, 63, 2, 0.0, 12}, Shape{5, 7, 2, 0.1, 10},
    Shape{5, 1, 0, 0, 8}, Shape{5, 130, 1, 0.0, 10}, Shape{5, 0, 0, 0, 8},
    Shape{4, 1100, 5, 0.03, 10}, Shape{6, 300, 5, 0.03, 10}, Shape{7, 129, 6, 0.05, 9}));
// clang-format on

// The limit on B that the counting searches prune with, read after the
// search base has worked it out for a best score.
class LimitProbe : CountingSearchBase {
 public:
  LimitProbe(const CountingInputs& in, TagScratch& scratch)
      : CountingSearchBase(in, tag_list_, &score_, scratch) {}
  double limit(double best) {
    if (!start()) return std::nan("");
    best_ = best;
    set_limit();
    return B_limit_;
  }

 private:
  int tag_list_[kMaxM] = {};
  double score_ = 0;
};

// A set is skipped when its B is at most the limit: its closed-form score
// must then lie a whole margin below best + 1e-6, so that even with the
// largest rounding error its exact score cannot beat the best.
TEST(Pruning, NoSkippedSetCanBeatTheBest) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 300; ++trial) {
    const WindowGeometry g(2 + trial % 6);
    HapTable haps;
    haps.ncol = 2 + static_cast<int>(rng() % 5000);
    haps.nsnp = 1;
    const int C1 = 1 + static_cast<int>(rng() % (haps.ncol - 1));
    haps.bits.assign(haps.ncol, 0);
    std::fill_n(haps.bits.begin(), C1, 1);
    const HapIndex index(haps);
    const int hap_row = 0;
    const TagScratchPtr scratch = make_tag_scratch();
    LimitProbe probe(CountingInputs{g, nullptr, 0, 0, &hap_row, index}, *scratch);
    const double best = std::uniform_real_distribution<double>(0, 0.99)(rng);
    const double B = probe.limit(best);
    const double margin = count_score_margin(g.K, haps.ncol, C1);
    if (std::isinf(margin)) continue;
    ASSERT_LE(closed_form_score(B, haps.ncol, C1) + margin, best + kScoreStep + margin / 2)
        << "H " << haps.ncol << " C1 " << C1 << " best " << best;
  }
}

// The margin covers the distance between the exact score and the closed
// form several times over, for random counts with the target frequency
// anywhere, extremes included.
TEST(Pruning, MarginCoversTheRoundingOfTheClosedForm) {
  for (int m : {2, 5, 8}) {
    const WindowGeometry g(m);
    std::mt19937 rng(5 + m);
    const TagScratchPtr scratch = make_tag_scratch();
    std::vector<int> counts(g.K);
    for (int trial = 0; trial < 1000; ++trial) {
      const int H = 1 + static_cast<int>(rng() % (trial % 4 == 0 ? 50000 : 3000));
      std::fill(counts.begin(), counts.end(), 0);
      const int skew = static_cast<int>(rng() % 4);  // 0: even; else mostly one target allele
      const int used = 1 + static_cast<int>(rng() % g.K);
      for (int k = 0; k < H; ++k) {
        int h = static_cast<int>(rng() % used);
        if (skew && rng() % 1000 > 0) h = (skew == 1 ? 0 : g.K / 2) + h % (g.K / 2);
        ++counts[h];
      }
      int C1 = 0;
      for (int h = g.K / 2; h < g.K; ++h) C1 += counts[h];
      const double exact = score_from_counts(g, counts.data(), H, *scratch);
      if (C1 == 0 || C1 == H || exact == 0.0) continue;
      ASSERT_LE(std::abs(exact - count_score(g, counts.data(), H, C1, *scratch)),
                count_score_margin(g.K, H, C1) / 4)
          << "H " << H << " C1 " << C1;
    }
  }
}

}  // namespace
}  // namespace tessellar
