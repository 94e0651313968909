// The prefix orders of a window's haplotypes and the states chosen from them.
#include "hmm/prefix_orders.h"

#include <algorithm>
#include <numeric>

namespace tessellar::hmm {

void PrefixOrders::build(const uint8_t* alleles, int sites, int haplotypes, int every) {
  haplotypes_ = haplotypes;
  checkpoints_ = sites == 0 ? 0 : (sites - 1) / every + 1;
  const std::size_t n = static_cast<std::size_t>(haplotypes);
  orders_.resize(static_cast<std::size_t>(checkpoints_) * n);
  places_.resize(orders_.size());
  zeros_.resize(n);
  ones_.resize(n);
  // The order entering site 0 is by index; each site partitions the
  // previous order stably, allele 0 first.
  std::vector<int>& order = current_;
  order.resize(n);
  std::iota(order.begin(), order.end(), 0);
  int c = 0;
  for (int m = 0; m < sites; ++m) {
    const uint8_t* site = alleles + static_cast<std::size_t>(m) * n;
    std::size_t zeros = 0;
    std::size_t ones = 0;
    for (const int h : order) {
      if (site[h])
        ones_[ones++] = h;
      else
        zeros_[zeros++] = h;
    }
    std::copy_n(zeros_.begin(), zeros, order.begin());
    std::copy_n(ones_.begin(), ones, order.begin() + static_cast<std::ptrdiff_t>(zeros));
    if (m % every != every - 1 && m != sites - 1) continue;
    int* kept = orders_.data() + offset(c);
    int* place = places_.data() + offset(c);
    std::copy(order.begin(), order.end(), kept);
    for (int i = 0; i < haplotypes; ++i) place[kept[i]] = i;
    ++c;
  }
}

void StateChooser::take(int h) {
  if (counts_[static_cast<std::size_t>(h)]++ == 0) touched_.push_back(h);
}

void StateChooser::choose(const PrefixOrders& orders, int own_a, int own_b,
                          const StateChoice& choice, std::vector<int>& states) {
  const int n = orders.haplotypes();
  if (counts_.size() < static_cast<std::size_t>(n)) counts_.resize(static_cast<std::size_t>(n));
  touched_.clear();
  const auto other = [&](int h) { return h != own_a && h != own_b; };
  for (int c = 0; c < orders.checkpoints(); ++c) {
    const int* order = orders.order(c);
    for (const int own : {own_a, own_b}) {
      const int at = orders.place(c)[own];
      int taken = 0;
      for (int i = at - 1; i >= 0 && taken < choice.depth; --i)
        if (other(order[i])) take(order[i]), ++taken;
      taken = 0;
      for (int i = at + 1; i < n && taken < choice.depth; ++i)
        if (other(order[i])) take(order[i]), ++taken;
    }
  }
  // The most often taken first, ties by index: a strict order, so the
  // states kept do not depend on how the selection runs.
  const auto before = [&](int a, int b) {
    const int ca = counts_[static_cast<std::size_t>(a)];
    const int cb = counts_[static_cast<std::size_t>(b)];
    return ca != cb ? ca > cb : a < b;
  };
  const std::size_t keep = std::min(touched_.size(), static_cast<std::size_t>(choice.states));
  std::nth_element(touched_.begin(), touched_.begin() + static_cast<std::ptrdiff_t>(keep),
                   touched_.end(), before);
  states.assign(touched_.begin(), touched_.begin() + static_cast<std::ptrdiff_t>(keep));
  std::sort(states.begin(), states.end());
  for (const int h : touched_) counts_[static_cast<std::size_t>(h)] = 0;
}

}  // namespace tessellar::hmm
