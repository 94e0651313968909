// Per-site quality figures of an imputed SNP: the estimated ALT frequency,
// the IMPUTE information measure, the empirical r2 of a leave-one-out
// imputation against the observed genotypes, and the run's summary of the
// leave-one-out check by minor-allele-frequency bin.
#pragma once

#include <array>
#include <cstdint>

#include "output/records.h"

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

// The estimated dosage r2 of a record's imputed genotypes (codes 9 with
// probabilities), as imputation tools report it: the variance of their
// dosages e = P(1) + 2 P(2) over the binomial variance 2p(1 - p) at their
// mean ALT frequency p = mean e / 2, capped at 1; 0 when p is 0 or 1 or no
// genotype is imputed. Observed genotypes take no part.
double dosage_r2(const SnpRecord& record);

// The squared Pearson correlation between the dosages P(1) + 2 P(2) and the
// observed codes over the individuals whose code is not 9; 0 when either
// side has no variance.
double empirical_r2(const int8_t* observed, const std::array<const double*, 3>& prob, int n);

// The minor-allele-frequency bins of the leave-one-out summary.
inline constexpr int kMafBins = 4;

// The leave-one-out check's figures, summed over the SNPs checked.
class LooSummary {
 public:
  // with_r2: the table has a column of the mean R2 (the hmm engine).
  explicit LooSummary(bool with_r2 = false) : with_r2_(with_r2) {}
  // Adds a checked SNP with observed minor-allele frequency maf: the ER2,
  // INFO and R2 of its imputation as if untyped.
  void add(double maf, double er2, double info, double r2 = 0);
  // The table of the run log.
  void print() const;

 private:
  bool with_r2_;
  std::array<int, kMafBins> count_{};
  std::array<double, kMafBins> er2_{};
  std::array<double, kMafBins> info_{};
  std::array<double, kMafBins> r2_{};
};

}  // namespace tessellar
