// Scores from haplotype counts: the exact counting-path score, the closed
// form and the margin that makes the closed form a safe pruning test.
#include <bit>
#include <cmath>
#include <limits>

#include "tags/count_search.h"
#include "tags/tag_score.h"

namespace tessellar {

namespace {
// Largest H with a table of the terms of B (some 300 KB).
constexpr int kTermTableMaxH = 192;
}  // namespace

const double* count_values(int H, TagScratch& scratch) {
  if (scratch.count_value_h != H) {
    std::vector<double>& v = scratch.count_value;
    std::vector<double>& r = scratch.reciprocal;
    v.assign(static_cast<std::size_t>(H) + 1, 0.0);
    r.assign(static_cast<std::size_t>(H) + 1, 0.0);
    for (int c = 1; c <= H; ++c) {
      v[c] = v[c - 1] + 1.0 / H;
      r[c] = 1.0 / c;
    }
    // The terms of B as one table lookup, while the table stays in cache.
    std::vector<double>& t = scratch.term;
    t.clear();
    if (H <= kTermTableMaxH) {
      const int stride = H + 1;
      t.assign(static_cast<std::size_t>(stride) * stride, 0.0);
      for (int c1 = 0; c1 <= H; ++c1) {
        for (int c = c1; c <= H; ++c) {
          const double ones = c1;
          t[static_cast<std::size_t>(c1) * stride + c] = ones * ones * r[c];
        }
      }
    }
    scratch.count_value_h = H;
  }
  return scratch.count_value.data();
}

double score_from_counts(const WindowGeometry& g, const int* counts, int H, TagScratch& scratch) {
  const int K = g.K;
  const double* value = count_values(H, scratch);
  std::vector<double>& f = scratch.freq;
  f.resize(K);
  double sum = 0;
  for (int h = 0; h < K; ++h) sum += value[counts[h]];
  for (int h = 0; h < K; ++h) f[h] = value[counts[h]] / sum;
  return MDfun(g, f.data(), 1);
}

double closed_form_score(double B, int H, int C1) {
  const double h = H;
  const double t = C1;
  return (h * B - t * t) / ((h - t) * t);
}

double count_score(const WindowGeometry& g, const int* counts, int H, int C1, TagScratch& scratch) {
  const int n = g.tag_haplotypes();
  const double* reciprocal = scratch.reciprocal.data();
  // Two partial sums, as the searches keep several: the order of the terms
  // of B is free, since the margin covers any order.
  double B[2] = {0, 0};
  for (int h = 0; h < n; ++h) {
    add_term(B[h % 2], counts[n + h], counts[h] + counts[n + h], reciprocal);
  }
  return closed_form_score(B[0] + B[1], H, C1);
}

// Rounding analysis, u = 2^-53, n tag haplotypes, m = n (n - 1) / 2 pairs:
// each counted frequency is (c / H)(1 + r) with |r| <= rho = (2H + K + 1) u
// (c additions of 1.0 / H, the normalising sum, one division), which moves
// the exact score by at most 7 rho / (1 - P); MDfun's own rounding adds at
// most (4m + 6n + 64) u / (1 - P), the closed form's (n + 6) u / (1 - P) + u
// (each term c1 c1 (1 / c) of B is within 2u of its value, their sum in any
// order within n u). In all at most (7 rho + (4m + 7n + 70) u) / (1 - P) + u;
// the code rounds each coefficient up for slack (8 rho, 4m + 8n + 80, 2u)
// and takes four times that as the margin. It is trusted only while
// rho / (1 - P) stays small, which keeps the first-order analysis valid.
double count_score_margin(int K, int H, int C1) {
  const double inf = std::numeric_limits<double>::infinity();
  if (C1 <= 0 || C1 >= H) return inf;
  constexpr double kFirstOrderLimit = 1e-6;  // largest rho / (1 - P) trusted
  constexpr double kSafety = 4;
  const double u = std::ldexp(1.0, -53);
  const double n = K / 2;
  const double m = n * (n - 1) / 2;
  const double rho = (2.0 * H + K + 1) * u;
  const double one_minus_p = static_cast<double>(H - C1) / H;
  if (rho / one_minus_p > kFirstOrderLimit) return inf;
  const double bound = (8 * rho + (4 * m + 8 * n + 80) * u) / one_minus_p + 2 * u;
  return kSafety * bound;
}

CountingSearchBase::CountingSearchBase(const CountingInputs& in, int* tag_list, double* score,
                                       TagScratch& scratch)
    : g_(in.g),
      cand_(in.candidates),
      N_(in.N),
      k_(in.g.tags()),
      target_(in.target),
      hap_row_(in.hap_row),
      index_(in.index),
      W_(in.index.words()),
      tag_list_(tag_list),
      score_(score),
      s_(scratch) {}

bool CountingSearchBase::start() {
  const uint64_t* T = target_row();
  H_ = index_.ncol();
  C1_ = 0;
  for (int w = 0; w < W_; ++w) C1_ += std::popcount(T[w]);
  if (C1_ == 0 || C1_ == H_) return false;  // P is 0 or 1 for every set: every score is 0
  margin_ = count_score_margin(g_.K, H_, C1_);
  set_limit();
  count_values(H_, s_);
  return true;
}

void CountingSearchBase::set_limit() {
  const double h = H_;
  const double t = C1_;
  B_limit_ = ((best_ + kScoreStep - margin_) * (h - t) * t + t * t) / h;
}

void CountingSearchBase::consider(const int* places) {
  const double s = score_from_counts(g_, s_.counts.data(), H_, s_);
  if (s > best_ + kScoreStep) {
    best_ = s;
    *score_ = s;
    set_limit();
    tag_list_[0] = target_;
    for (int i = 0; i < k_; ++i) tag_list_[i + 1] = cand_[places[i]];
  }
}

}  // namespace tessellar
