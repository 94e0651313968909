// The prefix orders against sorting by reversed prefixes, and the states
// chosen from them against a literal count-and-rank, on seeded random
// haplotypes (independent sites, and mosaics with long shared stretches and
// exact duplicates, where ties decide).
#include "hmm/prefix_orders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "hmm/mosaic_population.h"

namespace tessellar::hmm {
namespace {

struct OrderCase {
  const char* name;
  int haplotypes;
  int sites;
  int every;
  bool mosaic;  // mosaic haplotypes, else independent sites
  StateChoice choice;
  uint32_t seed;
};

// Mosaics of 5 founders without mutations (duplicates of whole stretches),
// or a new founder of 64 at every site (independent sites).
std::vector<uint8_t> haplotypes(const OrderCase& c) {
  const testing_support::PopulationShape shape{c.sites,           c.haplotypes,          0,
                                               c.mosaic ? 5 : 64, c.mosaic ? 0.02 : 1.0, 0.0};
  return testing_support::MosaicPopulation(c.seed, shape).reference();
}

// The order after site m: by allele at m, then m - 1, ... 0, then index.
std::vector<int> sorted_order(const std::vector<uint8_t>& alleles, int n, int m) {
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    for (int s = m; s >= 0; --s) {
      const uint8_t x = alleles[std::size_t(s) * n + a];
      const uint8_t y = alleles[std::size_t(s) * n + b];
      if (x != y) return x < y;
    }
    return a < b;
  });
  return order;
}

class Orders : public ::testing::TestWithParam<OrderCase> {};

TEST_P(Orders, AreTheReversedPrefixSortAndGiveTheMostTakenNeighbours) {
  const OrderCase& c = GetParam();
  const std::vector<uint8_t> alleles = haplotypes(c);
  PrefixOrders orders;
  orders.build(alleles.data(), c.sites, c.haplotypes, c.every);
  std::vector<std::vector<int>> sorted;  // at every checkpoint
  for (int m = 0; m < c.sites; ++m)
    if (m % c.every == c.every - 1 || m == c.sites - 1)
      sorted.push_back(sorted_order(alleles, c.haplotypes, m));
  ASSERT_EQ(orders.checkpoints(), int(sorted.size()));
  for (int k = 0; k < orders.checkpoints(); ++k) {
    ASSERT_EQ(std::vector<int>(orders.order(k), orders.order(k) + c.haplotypes), sorted[k])
        << "checkpoint " << k;
    for (int i = 0; i < c.haplotypes; ++i) ASSERT_EQ(orders.place(k)[sorted[k][i]], i);
  }
  StateChooser chooser;
  std::vector<int> got;
  for (int own = 0; own + 1 < c.haplotypes; own += 3) {
    const int own_b = (own * 7 + 1) % c.haplotypes == own ? own + 1 : (own * 7 + 1) % c.haplotypes;
    // Literally: walk the sorted order away from each own haplotype.
    std::map<int, int> count;
    for (const std::vector<int>& order : sorted)
      for (const int x : {own, own_b}) {
        const int at = int(std::find(order.begin(), order.end(), x) - order.begin());
        for (const int step : {-1, 1}) {
          int taken = 0;
          for (int i = at + step; i >= 0 && i < c.haplotypes && taken < c.choice.depth; i += step)
            if (order[i] != own && order[i] != own_b) ++count[order[i]], ++taken;
        }
      }
    std::vector<std::pair<int, int>> ranked;  // (-count, haplotype)
    for (const auto& [h, n] : count) ranked.push_back({-n, h});
    std::sort(ranked.begin(), ranked.end());
    std::vector<int> expected;
    for (std::size_t i = 0; i < ranked.size() && int(i) < c.choice.states; ++i)
      expected.push_back(ranked[i].second);
    std::sort(expected.begin(), expected.end());
    chooser.choose(orders, own, own_b, c.choice, got);
    ASSERT_EQ(got, expected) << "own haplotypes " << own << " and " << own_b;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Orders,
    ::testing::Values(OrderCase{"one_site", 9, 1, 8, false, {4, 300}, 1},
                      OrderCase{"every_site", 20, 13, 1, false, {2, 300}, 2},
                      OrderCase{"every_8_uneven_end", 40, 61, 8, false, {4, 300}, 3},
                      OrderCase{"every_longer_than_window", 25, 7, 8, false, {4, 300}, 4},
                      OrderCase{"few_states_kept", 60, 120, 8, false, {4, 10}, 5},
                      OrderCase{"mosaic_ties", 80, 150, 8, true, {4, 30}, 6},
                      OrderCase{"mosaic_deep", 50, 90, 5, true, {9, 40}, 7},
                      OrderCase{"depth_beyond_haplotypes", 6, 30, 4, true, {8, 300}, 8}),
    [](const ::testing::TestParamInfo<OrderCase>& c) { return std::string(c.param.name); });

}  // namespace
}  // namespace tessellar::hmm
