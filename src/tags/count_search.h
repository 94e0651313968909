// The tag search when every SNP of every set has a haplotype row: counts
// come from the packed rows with AND and popcount, prefix by prefix, and a
// set whose score cannot beat the best is left out through a proven bound.
#pragma once

#include <bit>
#include <cstdint>

#include "tags/tag_scratch.h"
#include "tags/tag_search.h"

namespace tessellar {

// The popcount of a & b over W words, in four independent sums so that the
// popcounts of neighbouring words overlap in the pipeline.
__attribute__((always_inline)) inline int and_popcount(const uint64_t* a, const uint64_t* b,
                                                       int W) {
  int c0 = 0, c1 = 0, c2 = 0, c3 = 0;
  int w = 0;
  for (; w + 4 <= W; w += 4) {
    c0 += std::popcount(a[w] & b[w]);
    c1 += std::popcount(a[w + 1] & b[w + 1]);
    c2 += std::popcount(a[w + 2] & b[w + 2]);
    c3 += std::popcount(a[w + 3] & b[w + 3]);
  }
  for (; w < W; ++w) c0 += std::popcount(a[w] & b[w]);
  return (c0 + c1) + (c2 + c3);
}

// count_value[c] for c = 0..H: 0.0 with 1.0 / H added c times (the value a
// frequency entry takes after c haplotypes on the counting path); fills
// scratch.reciprocal for H as well.
const double* count_values(int H, TagScratch& scratch);

// The score getMD gives on the counting path to the haplotype counts
// counts[0..K-1] over H columns: frequencies by repeated addition,
// normalised in index order, then MDfun(p, 1). Uses scratch.freq.
double score_from_counts(const WindowGeometry& g, const int* counts, int H, TagScratch& scratch);

// The closed form (H B - C1^2) / ((H - C1) C1) of the score, where B is
// the sum over the tag haplotypes of c1^2 / c (c haplotypes, c1 of them with
// target allele 1): the tag-set score in exact arithmetic; 0 < C1 < H.
double closed_form_score(double B, int H, int C1);

// One term of B: acc += ones^2 / all, the division done as a product with
// reciprocal[all] = 1.0 / all (0 for all = 0).
inline void add_term(double& acc, int ones, int all, const double* reciprocal) {
  const double c1 = ones;
  acc += c1 * c1 * reciprocal[all];
}

// closed_form_score of the haplotype counts counts[0..K-1] over H columns
// with C1 of them carrying target allele 1 (B summed as the search does:
// each term as a product with 1.0 / c, in any order). Needs count_values(H).
double count_score(const WindowGeometry& g, const int* counts, int H, int C1, TagScratch& scratch);

// A bound on score_from_counts - count_score for any counts with these H
// and C1 over K window haplotypes (four times the proven rounding bound);
// infinity where no useful bound holds.
double count_score_margin(int K, int H, int C1);

// The inputs of a counting search: the candidate list (ascending union
// rows, each and the target with a haplotype row) and the packed haplotypes.
struct CountingInputs {
  const WindowGeometry& g;
  const int* candidates;
  int N;  // candidates
  int target;
  const int* hap_row;  // by union row
  const HapIndex& index;
};

// What both counting searches of one target share: their inputs, the best
// score so far, and the limit on B below which a set cannot improve on it.
class CountingSearchBase {
 protected:
  CountingSearchBase(const CountingInputs& in, int* tag_list, double* score, TagScratch& scratch);

  // The target row; H and C1 from it, the margin, the limit and the count
  // values. False when every score is 0 (no haplotype or all alike at the target).
  bool start();
  const uint64_t* target_row() const { return index_.row(hap_row_[target_]); }
  const uint64_t* tag_row(int place) const { return index_.row(hap_row_[cand_[place]]); }
  // The search ends once the best score reaches kGoodEnoughScore.
  bool done() const { return best_ >= kGoodEnoughScore; }

  // The B at and below which a set cannot improve on the best: where the
  // closed form, raised by the margin, reaches best + kScoreStep. Solving for B
  // rounds within a few u of B, far inside the margin's slack.
  void set_limit();

  // Scores scratch.counts exactly; an improvement by more than kScoreStep becomes
  // the best, with the set of list places places[0 .. k - 1].
  void consider(const int* places);

  const WindowGeometry& g_;
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
  double B_limit_ = 0;
  double best_ = 0;
  bool stopped_ = false;
};

// The same search through the counts of every subset of at most M - 1
// candidates (with and without target allele 1) and inclusion-exclusion per
// set; false, with nothing done, when those tables would be too large.
bool search_by_subsets(const CountingInputs& in, int* tag_list, double* score, TagScratch& scratch);

// The same search through prefix masks and a popcount per set; it runs
// when the subset tables would be too large (long candidate lists).
void search_by_masks(const CountingInputs& in, int* tag_list, double* score, TagScratch& scratch);

// The set search of getMD_max over candidates[0..N-1] (ascending union
// rows, every one and the target with hap_row >= 0). *score starts at 0 and
// is raised, and tag_list written, on every improvement.
void search_by_counting(const CountingInputs& in, int* tag_list, double* score,
                        TagScratch& scratch);

}  // namespace tessellar
