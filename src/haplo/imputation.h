// Posterior probabilities of the target's three genotypes for every study
// individual, from haplotype frequencies over the window.
#pragma once

#include <array>

#include "haplo/pattern_lists.h"

namespace tessellar {

// prob[x][i] for target genotype x = 0, 1, 2 and each individual i (its
// index) in the list; entries of individuals not in the list are untouched,
// an individual without any pair gets three zeros.
void imputation(const WindowGeometry& g, const double* hapfreq, const StudyList& study,
                const std::array<double*, 3>& prob);

}  // namespace tessellar
