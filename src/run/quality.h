// Per-site quality figures of an imputed SNP: the estimated ALT frequency,
// the IMPUTE information measure, the empirical r2 of a leave-one-out
// imputation against the observed genotypes, and the run's summary of the
// leave-one-out check by minor-allele-frequency bin.
#pragma once

#include <array>
#include <cstdint>

#include "run/records.h"

namespace tessellar {

struct DosageFigures {
  double af = 0;    // mean dosage / 2
  double info = 1;  // the information measure
};

// AF and INFO of a record over all its individuals, observed ones counting
// as certain: with e = P(1) + 2 P(2) and f = P(1) + 4 P(2) per individual and
// theta = sum e / 2N, INFO = 1 - sum (f - e^2) / (2N theta (1 - theta)) when
// 0 < theta < 1, else 1. Missing observed codes (9 without probabilities)
// take no part.
DosageFigures dosage_figures(const SnpRecord& record);

// The squared Pearson correlation between the dosages P(1) + 2 P(2) and the
// observed codes over the individuals whose code is not 9; 0 when either
// side has no variance.
double empirical_r2(const int8_t* observed, const std::array<const double*, 3>& prob, int n);

// The minor-allele-frequency bins of the leave-one-out summary.
inline constexpr int kMafBins = 4;

// The leave-one-out check's figures, summed over the SNPs checked.
class LooSummary {
 public:
  // Adds a checked SNP with observed minor-allele frequency maf.
  void add(double maf, double er2, double info);
  // The table of the run log.
  void print() const;

 private:
  std::array<int, kMafBins> count_{};
  std::array<double, kMafBins> er2_{};
  std::array<double, kMafBins> info_{};
};

}  // namespace tessellar
