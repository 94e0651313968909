// The copying model taken literally: every copying path of a tiny window is
// enumerated and weighed (uniform start, stay or jump, emission), in double.
// The reference against which the kernel's forward-backward is checked.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace tessellar::hmm::literal {

// Posterior state probabilities of every typed site (posterior[m][j]) and
// the log-likelihood of the observed alleles.
struct Enumerated {
  std::vector<std::vector<double>> posterior;
  double log_likelihood = 0;
};

// alleles[m * states + j], switches[m] (switches[0] unused), observed[m]
// (0/1, -1 missing), as in CopyingModel; states^sites paths.
inline Enumerated enumerate_paths(int sites, int states, const uint8_t* alleles,
                                  const double* switches, double error, const int8_t* observed) {
  Enumerated out;
  out.posterior.assign(sites, std::vector<double>(states, 0.0));
  std::vector<int> path(sites, 0);
  double total = 0;
  for (;;) {
    double weight = 1.0 / states;
    for (int m = 0; m < sites; ++m) {
      if (m > 0) {
        const double stay = path[m] == path[m - 1] ? 1.0 - switches[m] : 0.0;
        weight *= stay + switches[m] / states;
      }
      if (observed[m] >= 0) {
        const bool same = alleles[m * states + path[m]] == observed[m];
        weight *= same ? 1.0 - error : error;
      }
    }
    total += weight;
    for (int m = 0; m < sites; ++m) out.posterior[m][path[m]] += weight;
    int m = 0;  // next path: count in base `states`
    while (m < sites && ++path[m] == states) path[m++] = 0;
    if (m == sites) break;
  }
  for (auto& site : out.posterior)
    for (double& p : site) p /= total;
  out.log_likelihood = std::log(total);
  return out;
}

}  // namespace tessellar::hmm::literal
