// The counting search by subset intersections. For one target and its
// candidate list, the haplotypes carrying allele 1 at every tag of each
// subset of at most M - 1 candidates are counted once, among all and among
// those with target allele 1; each set's tag-haplotype counts then follow
// from the counts of its subsets by inclusion-exclusion, with no popcount
// per set. The sets are tried in the search order, with the same pruning
// and exact scoring as the mask search.
#include <algorithm>
#include <array>
#include <bit>

#include "tags/count_search.h"

namespace tessellar {

namespace {

// Most subsets the tables may hold; past it the mask search runs instead.
constexpr std::size_t kMaxSubsets = std::size_t{1} << 22;

// A pair of counts in one word: all haplotypes in the high half, those with
// target allele 1 in the low half, so that one subtraction of the
// inclusion-exclusion updates both. Differences of packed counts stay packed
// as long as both halves stay non-negative (no borrow crosses from the low
// half), which exact cell counts do; counts stay below 2^31 haplotypes.
inline uint64_t pack(int all, int ones) {
  return (static_cast<uint64_t>(all) << 32) | static_cast<uint32_t>(ones);
}
inline int all_of(uint64_t p) {
  return static_cast<int>(p >> 32);
}
inline int ones_of(uint64_t p) {
  return static_cast<int>(p & 0xffffffffu);
}

// From counts over supersets (entry m: allele 1 at every tag in m) to the
// counts of exact tag haplotypes, over n entries (kN when it is not 0).
template <int kN>
inline void superset_inverse(uint64_t* f, int n) {
  if constexpr (kN > 0) n = kN;
  for (int b = 1; b < n; b <<= 1) {
    for (int m = 0; m < n; ++m) {
      if ((m & b) == 0) f[m] -= f[m | b];
    }
  }
}

class SubsetSearch : CountingSearchBase {
 public:
  SubsetSearch(const CountingInputs& in, int* tag_list, double* score, TagScratch& scratch)
      : CountingSearchBase(in, tag_list, score, scratch), t_(scratch.subsets) {}

  // Lays out the tables; false when they would be too large.
  bool plan() {
    if (k_ < 1 || k_ > N_ || k_ > kMaxTags) return false;
    t_.binom.assign(static_cast<std::size_t>(N_ + 1) * (k_ + 1), 0);
    for (int n = 0; n <= N_; ++n) {
      binom(n, 0) = 1;
      for (int j = 1; j <= k_ && j <= n; ++j) {
        // saturated, so that huge candidate lists fail the size test below
        binom(n, j) = std::min(binom(n - 1, j - 1) + binom(n - 1, j), kMaxSubsets + 1);
      }
    }
    t_.offset.assign(k_ + 2, 0);
    for (int j = 0; j <= k_; ++j) {
      t_.offset[j + 1] = t_.offset[j] + binom(N_, j);
      if (t_.offset[j + 1] > kMaxSubsets) return false;
    }
    return true;
  }

  void run() {
    if (!start()) return;
    const uint64_t* T = target_row();
    fill_tables(T);
    const std::size_t subsets = std::size_t{1} << (k_ - 1);
    t_.rank.assign(subsets, 0);
    t_.size.assign(subsets, 0);
    t_.counts.assign(subsets, 0);
    t_.counts[0] = pack(H_, C1_);
    places_.fill(0);
    choose(0, 0);
  }

 private:
  std::size_t& binom(int n, int j) { return t_.binom[static_cast<std::size_t>(n) * (k_ + 1) + j]; }

  // The counts of every subset of size 0 .. k, at offset[j] + colex rank.
  // The tag-only halves depend on the candidate rows alone; neighbouring
  // targets mostly share their candidates, so they are kept between calls.
  // The target halves are counted among the haplotypes with the target's
  // minor allele only, on rows restricted to them (a few words for a rare
  // target), and turned into target-1 counts.
  void fill_tables(const uint64_t* T) {
    t_.packed.resize(t_.offset[k_ + 1]);
    t_.packed[0] = pack(H_, C1_);
    if (!same_candidates()) {
      t_.masks.assign(static_cast<std::size_t>(k_ + 1) * W_, 0);
      fill_all(0, 0, 0);
      remember_candidates();
    }
    restrict_rows(T);
    t_.masks.assign(static_cast<std::size_t>(k_ + 1) * minor_words_, 0);
    fill_minor(0, 0, 0);
  }

  bool same_candidates() const {
    if (t_.key_index != index_.id() || t_.key_tags != k_) return false;
    if (t_.key_rows.size() != static_cast<std::size_t>(N_)) return false;
    for (int p = 0; p < N_; ++p) {
      if (t_.key_rows[static_cast<std::size_t>(p)] != hap_row_[cand_[p]]) return false;
    }
    return true;
  }

  void remember_candidates() {
    t_.key_index = index_.id();
    t_.key_tags = k_;
    t_.key_rows.resize(static_cast<std::size_t>(N_));
    for (int p = 0; p < N_; ++p) t_.key_rows[static_cast<std::size_t>(p)] = hap_row_[cand_[p]];
  }

  uint64_t* mask(int d, int words) { return t_.masks.data() + static_cast<std::size_t>(d) * words; }

  // The tag-only halves (all haplotypes) of every subset of size d + 1 and
  // more that extends a subset of size d (mask at level d, rank partial).
  void fill_all(int d, int first, std::size_t partial) {
    const std::size_t* column = t_.binom.data() + d + 1;
    for (int q = first; q < N_; ++q) {
      const uint64_t* row = tag_row(q);
      const std::size_t rank = partial + column[static_cast<std::size_t>(q) * (k_ + 1)];
      uint64_t& entry = t_.packed[t_.offset[d + 1] + rank];
      const uint64_t* all = d == 0 ? row : mask(d, W_);
      if (d + 1 == k_) {
        entry = pack(and_popcount(all, row, W_), 0);
        continue;
      }
      uint64_t* next = mask(d + 1, W_);
      for (int w = 0; w < W_; ++w) next[w] = all[w] & row[w];
      entry = pack(and_popcount(next, next, W_), 0);
      fill_all(d + 1, q + 1, rank);
    }
  }

  // The candidate rows restricted to the columns of the target's minor
  // allele, one bit per such column.
  void restrict_rows(const uint64_t* T) {
    minor_is_one_ = C1_ <= H_ - C1_;
    std::vector<int>& cols = t_.minor_cols;
    cols.clear();
    for (int c = 0; c < H_; ++c) {
      const bool one = (T[c / 64] >> (c % 64)) & 1;
      if (one == minor_is_one_) cols.push_back(c);
    }
    minor_words_ = (static_cast<int>(cols.size()) + 63) / 64;
    t_.minor_rows.assign(static_cast<std::size_t>(N_) * minor_words_, 0);
    for (int q = 0; q < N_; ++q) {
      const uint64_t* row = tag_row(q);
      uint64_t* out = minor_row(q);
      for (std::size_t i = 0; i < cols.size(); ++i) {
        const int c = cols[i];
        out[i / 64] |= ((row[c / 64] >> (c % 64)) & 1) << (i % 64);
      }
    }
  }
  uint64_t* minor_row(int q) {
    return t_.minor_rows.data() + static_cast<std::size_t>(q) * minor_words_;
  }

  // The target halves: counted among the minor-allele haplotypes, then
  // stored as the count of those with target allele 1.
  void fill_minor(int d, int first, std::size_t partial) {
    const int W = minor_words_;
    const std::size_t* column = t_.binom.data() + d + 1;
    for (int q = first; q < N_; ++q) {
      const uint64_t* row = minor_row(q);
      const std::size_t rank = partial + column[static_cast<std::size_t>(q) * (k_ + 1)];
      uint64_t& entry = t_.packed[t_.offset[d + 1] + rank];
      const uint64_t* minor = d == 0 ? row : mask(d, W);
      int count;
      if (d + 1 == k_) {
        count = and_popcount(minor, row, W);
      } else {
        uint64_t* next = mask(d + 1, W);
        for (int w = 0; w < W; ++w) next[w] = minor[w] & row[w];
        count = and_popcount(next, next, W);
      }
      const int all = all_of(entry);
      entry = pack(all, minor_is_one_ ? count : all - count);
      if (d + 1 < k_) fill_minor(d + 1, q + 1, rank);
    }
  }

  // Chooses the tag at depth d from list place first on, in the search order.
  void choose(int d, int first) {
    if (d + 1 == k_) {
      last_tags(first);
      return;
    }
    const int half = 1 << d;
    for (int q = first; q <= N_ - (k_ - d) && !stopped_; ++q) {
      places_[d] = q;
      for (int m = 0; m < half; ++m) {
        const int size = t_.size[m] + 1;
        const std::size_t rank = t_.rank[m] + binom(q, size);
        t_.size[m | half] = size;
        t_.rank[m | half] = rank;
        t_.counts[m | half] = t_.packed[t_.offset[size] + rank];
      }
      choose(d + 1, q + 1);
    }
  }

  // Every last tag after the chosen k - 1 places, with the number of tag
  // haplotypes fixed at compile time for the common window sizes.
  void last_tags(int first) {
    switch (k_) {
      case 1:
        return last_tags_of<1>(first);
      case 2:
        return last_tags_of<2>(first);
      case 3:
        return last_tags_of<4>(first);
      case 4:
        return last_tags_of<8>(first);
      case 5:
        return last_tags_of<16>(first);
      case 6:
        return last_tags_of<32>(first);
      default:
        return last_tags_of<0>(first);
    }
  }

  // The prefix's tag haplotypes are counted once; for each last tag only
  // the subsets that contain it are looked up, the haplotypes with its
  // allele 1 follow by inclusion-exclusion and those with allele 0 by
  // difference. kHalf = 2^(k - 1), or 0 for any k.
  template <int kHalf>
  void last_tags_of(int first) {
    constexpr int kRoom = kHalf > 0 ? kHalf : 1 << (kMaxTags - 1);
    static_assert(kHalf <= kRoom, "the prefix of k - 1 tags has 2^(k - 1) haplotypes");
    const int half = kHalf > 0 ? kHalf : 1 << (k_ - 1);
    uint64_t prefix[kRoom];
    uint64_t cell[2 * kRoom];
    const uint64_t* entry[kRoom];
    int column[kRoom];
    std::copy_n(t_.counts.begin(), half, prefix);
    superset_inverse<kHalf>(prefix, half);
    for (int m = 0; m < half; ++m) {
      column[m] = t_.size[m] + 1;
      entry[m] = t_.packed.data() + t_.offset[column[m]] + t_.rank[m];
    }
    for (int q = first; q < N_; ++q) {
      if (done()) {
        stopped_ = true;
        return;
      }
      const std::size_t* binom_q = t_.binom.data() + static_cast<std::size_t>(q) * (k_ + 1);
      // subset m of the chosen places has popcount(m) elements, so with
      // kHalf fixed the binomial column of each entry is a constant
      for (int m = 0; m < half; ++m) {
        const int j = kHalf > 0 ? std::popcount(static_cast<unsigned>(m)) + 1 : column[m];
        cell[half + m] = entry[m][binom_q[j]];
      }
      superset_inverse<kHalf>(cell + half, half);
      for (int m = 0; m < half; ++m) cell[m] = prefix[m] - cell[half + m];
      if (set_sum(cell, 2 * half) <= B_limit_) continue;
      places_[k_ - 1] = q;
      fill_counts(cell);
      consider(places_.data());
    }
  }

  // B of the set: the sum over its n tag haplotypes of c1^2 / c, in four
  // partial sums that the processor can add in parallel (B only decides,
  // with its margin, which sets are scored, and the margin covers any order).
  double set_sum(const uint64_t* cell, int n) const {
    double b[4] = {0, 0, 0, 0};
    if (!s_.term.empty()) {
      const int stride = s_.count_value_h + 1;
      const double* term = s_.term.data();
      for (int x = 0; x < n; ++x) b[x & 3] += term[ones_of(cell[x]) * stride + all_of(cell[x])];
    } else {
      const double* reciprocal = s_.reciprocal.data();
      for (int x = 0; x < n; ++x) add_term(b[x & 3], ones_of(cell[x]), all_of(cell[x]), reciprocal);
    }
    return (b[0] + b[1]) + (b[2] + b[3]);
  }

  // counts[h] over the target and the tags in window order: the tag at
  // depth d is bit k - 1 - d of the tag haplotype index, the target bit k.
  void fill_counts(const uint64_t* cell) {
    const int n = 1 << k_;
    s_.counts.assign(g_.K, 0);
    for (int x = 0; x < n; ++x) {
      int tag_index = 0;
      for (int d = 0; d < k_; ++d) tag_index |= ((x >> d) & 1) << (k_ - 1 - d);
      s_.counts[n + tag_index] = ones_of(cell[x]);
      s_.counts[tag_index] = all_of(cell[x]) - ones_of(cell[x]);
    }
  }

  TagScratch::Subsets& t_;
  bool minor_is_one_ = true;  // the target's minor allele is 1
  int minor_words_ = 0;       // words of a restricted row
  std::array<int, kMaxM> places_{};
};

}  // namespace

bool search_by_subsets(const CountingInputs& in, int* tag_list, double* score,
                       TagScratch& scratch) {
  SubsetSearch search(in, tag_list, score, scratch);
  if (!search.plan()) return false;
  search.run();
  return true;
}

}  // namespace tessellar
