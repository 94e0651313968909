// The counting tag search: prefix masks, popcounts and pruning on B.
#include "tags/count_search.h"

#include <algorithm>

#include "tags/tag_score.h"

namespace tessellar {

namespace {

// The popcount of one mask of W words.
int mask_count(const uint64_t* x, int W) {
  return and_popcount(x, x, W);
}

// out[i] = popcount(masks[i] & R) for count masks of W words each.
void and_counts(const uint64_t* masks, int count, int W, const uint64_t* R, int* out) {
  for (int i = 0; i < count; ++i) {
    out[i] = and_popcount(masks + static_cast<std::size_t>(i) * W, R, W);
  }
}

// What a set needs of one haplotype x over the target and the first M - 3
// tags: its mask with the M - 2nd tag's allele 1 (mid) and the popcounts t
// (of x), u (x with that allele 1) and v (x with the last tag's allele 1).
// The counts of x split by the last two tags follow from w = popcount(mid &
// last row): [1][1] w, [1][0] u - w, [0][1] v - w, [0][0] t - u - v + w.
struct Split {
  int c[2][2];
};

inline Split split_by_last(int t, int u, int v, int w) {
  return {{{t - u - v + w, v - w}, {u - w, w}}};
}

// B of the closed form for the groups of the current set: group g pairs the
// target-0 and target-1 haplotypes 2g and 2g + 1 (mid masks of W words,
// popcounts t, u, v as in Split) against the last tag's row R.
// group_sum with the word count fixed at compile time when kW > 0, so
// that the popcount loops unroll for the common small tables.
// With kTable, terms is the table of every term c1 * c1 * (1.0 / c) of
// count_values (stride H + 1), else the reciprocals; both give the same value.
template <int kW, bool kTable>
inline double group_sum_words(const uint64_t* mid, const int* t, const int* u, const int* v,
                              int groups, int W, const uint64_t* R, const double* terms,
                              int stride) {
  if constexpr (kW > 0) W = kW;
  double b00 = 0, b01 = 0, b10 = 0, b11 = 0;  // one sum per allele pair of the last two tags
  for (int g = 0; g < groups; ++g) {
    const int z = 2 * g;  // the target-0 half; z + 1 is the target-1 half
    const int wz = and_popcount(mid + static_cast<std::size_t>(z) * W, R, W);
    const int wo = and_popcount(mid + static_cast<std::size_t>(z + 1) * W, R, W);
    const Split zero = split_by_last(t[z], u[z], v[z], wz);
    const Split one = split_by_last(t[z + 1], u[z + 1], v[z + 1], wo);
    if constexpr (kTable) {
      b00 += terms[one.c[0][0] * stride + one.c[0][0] + zero.c[0][0]];
      b01 += terms[one.c[0][1] * stride + one.c[0][1] + zero.c[0][1]];
      b10 += terms[one.c[1][0] * stride + one.c[1][0] + zero.c[1][0]];
      b11 += terms[one.c[1][1] * stride + one.c[1][1] + zero.c[1][1]];
    } else {
      add_term(b00, one.c[0][0], one.c[0][0] + zero.c[0][0], terms);
      add_term(b01, one.c[0][1], one.c[0][1] + zero.c[0][1], terms);
      add_term(b10, one.c[1][0], one.c[1][0] + zero.c[1][0], terms);
      add_term(b11, one.c[1][1], one.c[1][1] + zero.c[1][1], terms);
    }
  }
  return (b00 + b01) + (b10 + b11);
}

template <bool kTable>
double group_sum_table(const uint64_t* mid, const int* t, const int* u, const int* v, int groups,
                       int W, const uint64_t* R, const double* terms, int stride) {
  switch (W) {
    case 1:
      return group_sum_words<1, kTable>(mid, t, u, v, groups, W, R, terms, stride);
    case 2:
      return group_sum_words<2, kTable>(mid, t, u, v, groups, W, R, terms, stride);
    case 3:
      return group_sum_words<3, kTable>(mid, t, u, v, groups, W, R, terms, stride);
    case 4:
      return group_sum_words<4, kTable>(mid, t, u, v, groups, W, R, terms, stride);
    case 5:
      return group_sum_words<5, kTable>(mid, t, u, v, groups, W, R, terms, stride);
    case 6:
      return group_sum_words<6, kTable>(mid, t, u, v, groups, W, R, terms, stride);
    case 7:
      return group_sum_words<7, kTable>(mid, t, u, v, groups, W, R, terms, stride);
    case 8:
      return group_sum_words<8, kTable>(mid, t, u, v, groups, W, R, terms, stride);
    case 9:
      return group_sum_words<9, kTable>(mid, t, u, v, groups, W, R, terms, stride);
    case 10:
      return group_sum_words<10, kTable>(mid, t, u, v, groups, W, R, terms, stride);
    case 11:
      return group_sum_words<11, kTable>(mid, t, u, v, groups, W, R, terms, stride);
    case 12:
      return group_sum_words<12, kTable>(mid, t, u, v, groups, W, R, terms, stride);
    case 13:
      return group_sum_words<13, kTable>(mid, t, u, v, groups, W, R, terms, stride);
    case 14:
      return group_sum_words<14, kTable>(mid, t, u, v, groups, W, R, terms, stride);
    case 15:
      return group_sum_words<15, kTable>(mid, t, u, v, groups, W, R, terms, stride);
    case 16:
      return group_sum_words<16, kTable>(mid, t, u, v, groups, W, R, terms, stride);
    default:
      return group_sum_words<0, kTable>(mid, t, u, v, groups, W, R, terms, stride);
  }
}

// B of the current set through the term table when there is one.
double group_sum(const uint64_t* mid, const int* t, const int* u, const int* v, int groups, int W,
                 const uint64_t* R, const TagScratch& s) {
  if (!s.term.empty())
    return group_sum_table<true>(mid, t, u, v, groups, W, R, s.term.data(), s.count_value_h + 1);
  return group_sum_table<false>(mid, t, u, v, groups, W, R, s.reciprocal.data(), 0);
}

// The search over prefix levels: level d holds the non-empty haplotypes over
// the target and the first d tags of the current set as column masks. The
// deepest level (M - 3 tags) is paired by target allele into groups, and the
// last two tags are counted from it by the inclusion-exclusion of Split,
// one popcount per haplotype and set.
class CountSearch : CountingSearchBase {
 public:
  CountSearch(const CountingInputs& in, int* tag_list, double* score, TagScratch& scratch)
      : CountingSearchBase(in, tag_list, score, scratch) {}

  void run() {
    if (!start()) return;
    const uint64_t* T = target_row();
    s_.levels.resize(std::max(k_ - 1, 1));
    s_.places.resize(k_);
    start_level(T);
    if (k_ == 1) {
      one_tag_sets();
    } else {
      walk(0, 0);
    }
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

  // Pairs the deepest level by target allele (an empty half gets a zero
  // mask) and counts every group haplotype against the rows of the list
  // places first .. N - 1.
  void make_groups(int first) {
    const TagScratch::Level& L = s_.levels[k_ - 2];
    const int half = 1 << (k_ - 2);  // haplotypes over the first M - 3 tags
    TagScratch::Groups& G = s_.groups;
    G.place.assign(2 * half, -1);
    for (int j = 0; j < L.size; ++j) G.place[L.index[j]] = j;
    G.tag.clear();
    G.masks.clear();
    G.total.clear();
    for (int tag = 0; tag < half; ++tag) {
      const int zero = G.place[tag];
      const int one = G.place[half + tag];
      if (zero < 0 && one < 0) continue;
      G.tag.push_back(tag);
      for (int place : {zero, one}) {
        const uint64_t* m = L.masks.data() + static_cast<std::size_t>(place) * W_;
        if (place < 0) {
          G.masks.insert(G.masks.end(), W_, 0);
        } else {
          G.masks.insert(G.masks.end(), m, m + W_);
        }
        G.total.push_back(place < 0 ? 0 : L.total[place]);
      }
    }
    G.size = static_cast<int>(G.tag.size());
    const int x = 2 * G.size;
    G.with.resize(static_cast<std::size_t>(N_) * x);
    for (int p = first; p < N_; ++p) and_counts(G.masks.data(), x, W_, tag_row(p), &G.with[p * x]);
    G.mid.resize(G.masks.size());
    G.mid_total.resize(x);
  }

  // The group masks with allele 1 at the tag of list place p.
  void set_mid(int p) {
    TagScratch::Groups& G = s_.groups;
    const uint64_t* R = tag_row(p);
    for (std::size_t x = 0; x < G.masks.size(); x += W_) {
      for (int w = 0; w < W_; ++w) G.mid[x + w] = G.masks[x + w] & R[w];
    }
    std::copy_n(&G.with[p * 2 * G.size], 2 * G.size, G.mid_total.begin());
  }

  // Chooses the tag at depth d (0-based) from list place first on.
  void walk(int d, int first) {
    if (d == k_ - 2) {
      make_groups(first);
      for (int p = first; p < N_ - 1 && !stopped_; ++p) {
        s_.places[d] = p;
        set_mid(p);
        for (int last = p + 1; last < N_ && !stopped_; ++last) last_tag(last);
      }
      return;
    }
    for (int p = first; p <= N_ - (k_ - d) && !stopped_; ++p) {
      s_.places[d] = p;
      build_level(d + 1, tag_row(p));
      walk(d + 1, p + 1);
    }
  }

  // The K haplotype counts of the set whose last tag is at list place p.
  void fill_counts(int p) {
    const TagScratch::Groups& G = s_.groups;
    const int x = 2 * G.size;
    s_.split.resize(x);
    and_counts(G.mid.data(), x, W_, tag_row(p), s_.split.data());
    s_.counts.assign(g_.K, 0);
    const int* v = &G.with[p * x];
    for (int g = 0; g < G.size; ++g) {
      for (int i = 0; i < 2; ++i) {
        const int h = 2 * g + i;
        const Split c = split_by_last(G.total[h], G.mid_total[h], v[h], s_.split[h]);
        const int idx = (i << (k_ - 2)) | G.tag[g];  // over the target and M - 3 tags
        for (int a3 = 0; a3 < 2; ++a3) {
          for (int a4 = 0; a4 < 2; ++a4) s_.counts[4 * idx + 2 * a3 + a4] = c.c[a3][a4];
        }
      }
    }
  }

  // The set that ends with the candidate at list place p.
  void last_tag(int p) {
    if (done()) {
      stopped_ = true;
      return;
    }
    const TagScratch::Groups& G = s_.groups;
    const double B = group_sum(G.mid.data(), G.total.data(), G.mid_total.data(),
                               &G.with[p * 2 * G.size], G.size, W_, tag_row(p), s_);
    if (B <= B_limit_) return;
    fill_counts(p);
    s_.places[k_ - 1] = p;
    consider(s_.places.data());
  }

  // With a single tag (M = 2): every set counted and scored in full.
  void one_tag_sets() {
    const TagScratch::Level& L = s_.levels[0];
    for (int p = 0; p < N_ && !done(); ++p) {
      int ones[2];
      and_counts(L.masks.data(), 2, W_, tag_row(p), ones);
      s_.counts = {L.total[0] - ones[0], ones[0], L.total[1] - ones[1], ones[1]};
      s_.places[0] = p;
      consider(s_.places.data());
    }
  }
};

}  // namespace

void search_by_masks(const CountingInputs& in, int* tag_list, double* score, TagScratch& scratch) {
  CountSearch(in, tag_list, score, scratch).run();
}

void search_by_counting(const CountingInputs& in, int* tag_list, double* score,
                        TagScratch& scratch) {
  if (search_by_subsets(in, tag_list, score, scratch)) return;
  search_by_masks(in, tag_list, score, scratch);
}

}  // namespace tessellar
