// Haplotype index arithmetic and the tag-set score: how much of the variance
// of the target's allele count the tag haplotypes explain.
#pragma once

#include "core/settings.h"

namespace tessellar {

// The haplotype index made by inserting allele a (0 or 1) into the tag
// haplotype index h at window position j - 1 (j = 1 .. M; j = 1 is the target).
int for_w(const WindowGeometry& g, int h, int a, int j);

// The tag-set score (0 to 1) of the K frequencies p (normalised) for the
// target at window position j - 1; 0 when the target allele frequency is
// above 0.999999 or below 1e-6.
double MDfun(const WindowGeometry& g, const double* p, int j);

}  // namespace tessellar
