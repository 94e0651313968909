// The counting tag search: prefix masks, popcounts and the pruning bound.
#include "tags/count_search.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "run/settings.h"
#include "tags/tag_score.h"

namespace tessellar {

const double* count_values(int H, TagScratch& scratch) {
  if (scratch.count_value_h != H) {
    std::vector<double>& v = scratch.count_value;
    v.assign(static_cast<std::size_t>(H) + 1, 0.0);
    for (int c = 1; c <= H; ++c) v[c] = v[c - 1] + 1.0 / H;
    scratch.count_value_h = H;
  }
  return scratch.count_value.data();
}

double score_from_counts(const int* counts, int H, TagScratch& scratch) {
  const int K = settings().K;
  const double* value = count_values(H, scratch);
  std::vector<double>& f = scratch.freq;
  f.resize(K);
  double sum = 0;
  for (int h = 0; h < K; ++h) sum += value[counts[h]];
  for (int h = 0; h < K; ++h) f[h] = value[counts[h]] / sum;
  return MDfun(f.data(), 1);
}

double count_score(const int* counts, int H, int C1) {
  const int n = settings().K / 2;
  double B = 0;
  for (int g = 0; g < n; ++g) {
    const double c1 = counts[n + g];
    const double c = counts[g] + c1;
    if (c > 0) B += c1 * c1 / c;
  }
  const double h = H;
  const double t = C1;
  return (h * B - t * t) / ((h - t) * t);
}

// Rounding analysis, u = 2^-53, n tag haplotypes, m = n (n - 1) / 2 pairs:
// each counted frequency is (c / H)(1 + r) with |r| <= rho = (2H + K + 1) u
// (c additions of 1.0 / H, the normalising sum, one division), which moves
// the exact score by at most 7 rho / (1 - P); MDfun's own rounding adds at
// most (4m + 6n + 64) u / (1 - P), count_score's (n + 3) u / (1 - P) + u.
// The margin is four times their sum; it is trusted only while rho / (1 - P)
// stays small, which keeps the first-order analysis valid.
double count_score_margin(int H, int C1) {
  const double inf = std::numeric_limits<double>::infinity();
  if (C1 <= 0 || C1 >= H) return inf;
  const double u = std::ldexp(1.0, -53);
  const double n = settings().K / 2;
  const double m = n * (n - 1) / 2;
  const double rho = (2.0 * H + settings().K + 1) * u;
  const double one_minus_p = static_cast<double>(H - C1) / H;
  if (rho / one_minus_p > 1e-6) return inf;
  const double bound = (8 * rho + (4 * m + 8 * n + 80) * u) / one_minus_p + 2 * u;
  return 4 * bound;
}

namespace {

// out[i] = popcount(masks[i] & row) for the count masks of W words each.
__attribute__((target_clones("popcnt", "default"))) void split_counts(const uint64_t* masks,
                                                                      int count, int W,
                                                                      const uint64_t* row,
                                                                      int* out) {
  for (int i = 0; i < count; ++i) {
    const uint64_t* x = masks + static_cast<std::size_t>(i) * W;
    int c = 0;
    for (int w = 0; w < W; ++w) c += std::popcount(x[w] & row[w]);
    out[i] = c;
  }
}

// The popcount of one mask of W words.
__attribute__((target_clones("popcnt", "default"))) int mask_count(const uint64_t* x, int W) {
  int c = 0;
  for (int w = 0; w < W; ++w) c += std::popcount(x[w]);
  return c;
}

// The search over prefix levels: level d holds the non-empty haplotypes over
// the target and the first d tags of the current set, each as a column mask.
class CountSearch {
 public:
  CountSearch(const int* candidates, int N, int target, const int* hap_row, const HapIndex& index,
              int* tag_list, double* score, TagScratch& scratch)
      : cand_(candidates),
        N_(N),
        k_(settings().M - 1),
        target_(target),
        hap_row_(hap_row),
        index_(index),
        W_(index.words()),
        tag_list_(tag_list),
        score_(score),
        s_(scratch) {}

  void run() {
    const int H = index_.ncol();
    const uint64_t* T = index_.row(hap_row_[target_]);
    const int C1 = mask_count(T, W_);
    if (C1 == 0 || C1 == H) return;  // P is 0 or 1 for every set: every score is 0
    H_ = H;
    C1_ = C1;
    margin_ = count_score_margin(H, C1);
    count_values(H, s_);
    s_.levels.resize(k_);
    s_.counts.assign(settings().K, 0);
    s_.places.resize(k_);
    start_level(T);
    walk(0, 0);
  }

 private:
  // Makes room for up to count masks at level d and empties it.
  TagScratch::Level& reset_level(int d, int count) {
    TagScratch::Level& L = s_.levels[d];
    L.masks.resize(static_cast<std::size_t>(count) * W_);
    L.index.resize(count);
    L.total.resize(count);
    L.size = 0;
    return L;
  }

  // Level 0: the haplotypes with target allele 0 and 1 (both non-empty).
  void start_level(const uint64_t* T) {
    TagScratch::Level& L = reset_level(0, 2);
    uint64_t* zero = L.masks.data();
    for (int w = 0; w < W_; ++w) zero[w] = ~T[w];
    if (H_ % 64 != 0) zero[W_ - 1] &= (uint64_t{1} << (H_ % 64)) - 1;
    std::copy(T, T + W_, zero + W_);
    L.index[0] = 0;
    L.total[0] = H_ - C1_;
    L.index[1] = 1;
    L.total[1] = C1_;
    L.size = 2;
  }

  // Level d from level d - 1 split by the tag row R; empty halves dropped.
  void build_level(int d, const uint64_t* R) {
    const TagScratch::Level& up = s_.levels[d - 1];
    TagScratch::Level& L = reset_level(d, 2 * up.size);
    for (int j = 0; j < up.size; ++j) {
      const uint64_t* m = up.masks.data() + static_cast<std::size_t>(j) * W_;
      uint64_t* zero = L.masks.data() + static_cast<std::size_t>(L.size) * W_;
      uint64_t* one = zero + W_;
      for (int w = 0; w < W_; ++w) {
        zero[w] = m[w] & ~R[w];
        one[w] = m[w] & R[w];
      }
      const int ones = mask_count(one, W_);
      const int zeros = up.total[j] - ones;
      if (zeros > 0) {
        L.index[L.size] = 2 * up.index[j];
        L.total[L.size++] = zeros;
      } else {
        std::copy(one, one + W_, zero);
      }
      if (ones > 0) {
        L.index[L.size] = 2 * up.index[j] + 1;
        L.total[L.size++] = ones;
      }
    }
  }

  // Chooses the tag at depth d (0-based) from list place first on.
  void walk(int d, int first) {
    if (d == k_ - 1) {
      for (int p = first; p < N_ && !stopped_; ++p) last_tag(p);
      return;
    }
    for (int p = first; p <= N_ - (k_ - d) && !stopped_; ++p) {
      s_.places[d] = p;
      build_level(d + 1, index_.row(hap_row_[cand_[p]]));
      walk(d + 1, p + 1);
    }
  }

  // The set that ends with the candidate at place p.
  void last_tag(int p) {
    if (best_ >= 0.989999) {
      stopped_ = true;
      return;
    }
    const int d = k_ - 1;
    const TagScratch::Level& L = s_.levels[d];
    s_.split.resize(L.size);
    split_counts(L.masks.data(), L.size, W_, index_.row(hap_row_[cand_[p]]), s_.split.data());
    int* counts = s_.counts.data();
    std::fill(s_.counts.begin(), s_.counts.end(), 0);
    for (int j = 0; j < L.size; ++j) {
      const int idx = 2 * L.index[j];
      counts[idx + 1] = s_.split[j];
      counts[idx] = L.total[j] - s_.split[j];
    }
    if (count_score(counts, H_, C1_) + margin_ <= best_ + 1e-6) return;
    const double s = score_from_counts(counts, H_, s_);
    if (s > best_ + 1e-6) {
      best_ = s;
      *score_ = s;
      s_.places[d] = p;
      tag_list_[0] = target_;
      for (int i = 0; i < k_; ++i) tag_list_[i + 1] = cand_[s_.places[i]];
    }
  }

  const int* cand_;
  int N_;
  int k_;
  int target_;
  const int* hap_row_;
  const HapIndex& index_;
  int W_;
  int* tag_list_;
  double* score_;
  TagScratch& s_;
  int H_ = 0;
  int C1_ = 0;
  double margin_ = 0;
  double best_ = 0;
  bool stopped_ = false;
};

}  // namespace

void search_by_counting(const int* candidates, int N, int target, const int* hap_row,
                        const HapIndex& index, int* tag_list, double* score, TagScratch& scratch) {
  CountSearch(candidates, N, target, hap_row, index, tag_list, score, scratch).run();
}

}  // namespace tessellar
