// EM estimation of the haplotype frequencies over one window from the study
// pattern list, the family pattern list, or both.
#pragma once

#include "haplo/pattern_lists.h"

namespace tessellar {

// Sum of |v[0]| .. |v[n-1]| in index order.
double length(const double* v, int n);

// Runs the EM on hapfreq (K entries: start values in, estimate out). study
// and families may be null; each takes part only when its use_ flag is 1.
// With group_mode 1 a study individual takes part only when
// groups[index] is group_a or group_b. Returns 0 when 500 iterations ran,
// else 1. When no unit takes part hapfreq is left as it is and 1 returned.
int A1(double* hapfreq, const StudyList* study, const FamilyList* families, int group_a,
       int group_b, int use_study, int use_families, const int* groups = nullptr,
       int group_mode = 9);

// A1 that also stores in *iterations the number of iterations run (0 when
// no unit takes part). For benchmarks and tests.
int A1_counted(double* hapfreq, const StudyList* study, const FamilyList* families, int group_a,
               int group_b, int use_study, int use_families, const int* groups, int group_mode,
               int* iterations);

}  // namespace tessellar
