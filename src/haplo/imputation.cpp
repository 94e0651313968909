// Posterior probabilities of the target's genotypes from the study pattern
// list: each pair's probability under random pairing, normalised over the
// individual's pairs, goes to the genotype given by the pair's top bits.
#include "haplo/imputation.h"

namespace tessellar {

void imputation(const WindowGeometry& g, const double* hapfreq, const StudyList& study,
                const std::array<double*, 3>& prob) {
  const int top = g.pow2[g.M - 1];  // the target's bit
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
      const int genotype = p.hap1 / top + p.hap2 / top;
      prob[genotype][i] += pair_prob(hapfreq, p.hap1, p.hap2) / s;
    }
  }
}

}  // namespace tessellar
