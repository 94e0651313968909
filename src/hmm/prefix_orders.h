// The positional Burrows-Wheeler transform of a set of haplotypes at the
// typed sites of a window (Durbin 2014): after each site the haplotypes
// sorted by their reversed prefixes (the alleles at that site, the one
// before, and so on back to the first; ties by haplotype index), so that
// neighbours in the order share the longest matches ending there. The
// phasing keeps the order every few sites and takes each study haplotype's
// neighbours there as its copying states. PrefixOrders and StateChooser own
// their memory and reuse it from window to window.
#pragma once

#include <cstdint>
#include <vector>

namespace tessellar::hmm {

class PrefixOrders {
 public:
  // Builds the orders of `haplotypes` haplotypes over `sites` sites from
  // alleles[m * haplotypes + h] (0/1), keeping the order after site m for
  // every m with m % every == every - 1 and after the last site (every >= 1).
  void build(const uint8_t* alleles, int sites, int haplotypes, int every);

  // The orders kept, in site order.
  int checkpoints() const { return checkpoints_; }
  int haplotypes() const { return haplotypes_; }
  // order(c)[i]: the haplotype at place i of the order at checkpoint c.
  const int* order(int c) const { return orders_.data() + offset(c); }
  // place(c)[h]: the place of haplotype h in that order.
  const int* place(int c) const { return places_.data() + offset(c); }

 private:
  std::size_t offset(int c) const {
    return static_cast<std::size_t>(c) * static_cast<std::size_t>(haplotypes_);
  }
  int checkpoints_ = 0;
  int haplotypes_ = 0;
  std::vector<int> orders_;   // [checkpoints * haplotypes]
  std::vector<int> places_;   // [checkpoints * haplotypes]
  std::vector<int> current_;  // the order after the site being added
  std::vector<int> zeros_;    // scratch of one partition
  std::vector<int> ones_;
};

// How a sample's copying states are chosen from the orders.
struct StateChoice {
  int depth = 4;     // neighbours taken above and below each own haplotype at each checkpoint
  int states = 300;  // at most this many states, the most often taken
};

class StateChooser {
 public:
  // The states of the sample whose haplotypes are own_a and own_b: at every
  // checkpoint the `depth` nearest haplotypes above and below each of them
  // in the order, passing over own_a and own_b, each taking counted once per
  // time taken; then the `states` most often taken (ties: lower index
  // first), into states in ascending index. Needs one or more haplotypes
  // besides own_a and own_b to give any.
  void choose(const PrefixOrders& orders, int own_a, int own_b, const StateChoice& choice,
              std::vector<int>& states);

 private:
  void take(int h);
  std::vector<int> counts_;   // [haplotypes]: zero between calls
  std::vector<int> touched_;  // the haplotypes with a count
};

}  // namespace tessellar::hmm
