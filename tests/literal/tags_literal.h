// Plain reference versions of the tag-set score, the evaluation of one tag
// set and the tag search: the straightforward loops, kept to check the fast
// versions in src/tags bit for bit.
#pragma once

#include "core/settings.h"
#include "input/haplotypes.h"
#include "input/study.h"

namespace tessellar::literal {

// Allele a inserted into tag haplotype h at window position j - 1.
int for_w(const WindowGeometry& g, int h, int a, int j);

// The tag-set score of the K frequencies p, every pair tested.
double MDfun(const WindowGeometry& g, const double* p, int j);

// getMD (the run settings first, then its arguments in the given order)
// with a fresh frequency vector, the counting loop adding 1.0 / H per
// column, the EM (the real one) otherwise; arguments as tessellar::getMD.
double getMD(const Settings& run, const int* set, int hap_flag, const HapTable& hap,
             const int* hap_row, int hap_ncol, const GenoMatrix& geno, int* tags,
             const int* table_row, int R, int mode);

// getMD_max: the candidate walk, then every set in nested loops scored by
// literal::getMD; arguments as tessellar::getMD_max without the prepared
// haplotypes and the scratch.
void getMD_max(const Settings& run, int* tag_list, double* score, int target, int mode,
               int hap_flag, int speed_flag, const int* pos, int n, const HapTable& hap,
               const int* hap_row, int hap_ncol, const GenoMatrix& panel_geno, int* panel_tags,
               const int* panel_row, int panel_ncol, const GenoMatrix& study_geno, int* study_tags,
               const int* study_row, int nind);

}  // namespace tessellar::literal
