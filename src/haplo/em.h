// EM estimation of the haplotype frequencies over one window from the study
// pattern list, the family pattern list, or both.
#pragma once

#include "haplo/pattern_lists.h"

namespace tessellar {

// The units that take part in one EM run; the lists belong to the caller.
struct EmUnits {
  const StudyList* study = nullptr;      // study individuals; null: none take part
  const FamilyList* families = nullptr;  // panel family units; null: none take part
  // Group filter: when groups is set, study individual i takes part only
  // when groups[i] is group_a or group_b.
  const int* groups = nullptr;
  int group_a = -1;
  int group_b = -1;
};

struct EmResult {
  bool converged = true;  // false when the iteration limit (500) was reached
  int iterations = 0;     // 0 when no unit takes part
};

// Sum of |v[0]| .. |v[n-1]| in index order.
double length(const double* v, int n);

// Runs the EM on hapfreq (K entries: start values in, estimate out) until
// the change of an iteration is at most 0.0001 in sum, or 500 iterations.
// When no unit takes part hapfreq is left as it is.
EmResult estimate_frequencies(int K, double* hapfreq, const EmUnits& units);

// The same under its given name and arguments: study takes part when
// use_study is 1, families when use_families is 1, and with group_mode 1
// only the study individuals whose groups entry is group_a or group_b.
// Returns 0 when 500 iterations ran, else 1.
int A1(int K, double* hapfreq, const StudyList* study, const FamilyList* families, int group_a,
       int group_b, int use_study, int use_families, const int* groups = nullptr,
       int group_mode = 9);

}  // namespace tessellar
