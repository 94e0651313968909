// Posterior probabilities of the target's genotypes from the study pattern
// list: each pair's probability under random pairing, normalised over the
// individual's pairs, goes to the genotype given by the pair's top bits.
#include "haplo/imputation.h"

#include "run/settings.h"

namespace tessellar {

namespace {

// Probability of the unordered pair (h1, h2) under f.
inline double pair_prob(const double* f, int h1, int h2) {
  const double m = h1 != h2 ? 2.0 : 1.0;
  return m * f[h1] * f[h2];
}

}  // namespace

void imputation(const double* hapfreq, const StudyList& study, const std::array<double*, 3>& prob) {
  const Settings& cfg = settings();
  const int top = cfg.pow2[cfg.M - 1];
  const node* pairs = study.pairs.data();
  for (const node0& ind : study.individuals) {
    const int i = ind.index;
    prob[0][i] = 0.0;
    prob[1][i] = 0.0;
    prob[2][i] = 0.0;
    double s = 0.0;
    for (int k = ind.begin; k < ind.end; ++k) s += pair_prob(hapfreq, pairs[k].hap1, pairs[k].hap2);
    for (int k = ind.begin; k < ind.end; ++k) {
      const node& p = pairs[k];
      const int g = p.hap1 / top + p.hap2 / top;
      prob[g][i] += pair_prob(hapfreq, p.hap1, p.hap2) / s;
    }
  }
}

}  // namespace tessellar
