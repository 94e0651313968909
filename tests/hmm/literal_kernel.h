// The copying kernel written plainly: scalar loops, the whole forward array
// kept, every sum in the kernel's fixed lanes (state j in lane j % 16,
// carrier i of a site in lane i % 4, lanes added pairwise), so that every
// instruction-set path of the kernel must give exactly its bits.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "hmm/copying_model.h"

namespace tessellar::hmm::literal {

// The sum of lane[0 .. n) halving the width: lane[l] += lane[l + n / 2].
template <class Real>
Real pairwise(std::vector<Real> lane) {
  for (std::size_t width = lane.size() / 2; width > 0; width /= 2)
    for (std::size_t l = 0; l < width; ++l) lane[l] = lane[l] + lane[l + width];
  return lane[0];
}

template <class Real>
Real clamp01(Real p) {
  return std::min(Real(1), std::max(Real(0), p));
}

// impute_haplotype, literally.
template <class Real>
double impute(const CopyingModel<Real>& model, const UntypedSites<Real>& untyped,
              const int8_t* observed, const HaplotypeDoses<Real>& out) {
  const int k = model.states;
  const int sites = model.sites;
  auto allele = [&](int m, int j) { return model.alleles[std::size_t(m) * k + j]; };
  std::vector<Real> e0(sites), e1(sites);
  for (int m = 0; m < sites; ++m) {
    const Real match = Real(1) - model.error;
    e0[m] = observed[m] < 0 ? Real(1) : observed[m] == 0 ? match : model.error;
    e1[m] = observed[m] < 0 ? Real(1) : observed[m] == 1 ? match : model.error;
  }
  // Forward: x[m][j], the prediction before the allele at m.
  std::vector<std::vector<Real>> x(sites, std::vector<Real>(k));
  std::vector<Real> y(k, Real(0));
  Real total = 1;
  double log_likelihood = 0;
  for (int m = 0; m < sites; ++m) {
    Real keep = 0, jump = Real(1) / Real(k);
    if (m > 0) keep = (Real(1) - model.switches[m]) / total, jump = model.switches[m] / Real(k);
    std::vector<Real> lane(16, Real(0));
    for (int j = 0; j < k; ++j) {
      x[m][j] = keep * y[j] + jump;
      y[j] = (allele(m, j) ? e1[m] : e0[m]) * x[m][j];
      lane[j % 16] += y[j];
    }
    total = pairwise(lane);
    log_likelihood += std::log(double(total));
  }
  // Backward, with the posteriors of every site kept.
  std::vector<std::vector<Real>> p(sites, std::vector<Real>(k));
  std::vector<Real> scale(sites);
  std::vector<Real> h(k, Real(0));
  Real keep = 0, jump = 1;
  for (int m = sites - 1; m >= 0; --m) {
    std::vector<Real> emitted(16, Real(0)), zero(16, Real(0)), one(16, Real(0));
    for (int j = 0; j < k; ++j) {
      const Real b = keep * h[j] + jump;
      const Real q = x[m][j] * b;
      const Real em = allele(m, j) ? e1[m] : e0[m];
      h[j] = em * b;
      p[m][j] = em * q;
      emitted[j % 16] += h[j];
      (allele(m, j) ? one : zero)[j % 16] += q;
    }
    const Real z = pairwise(zero), o = pairwise(one);
    const Real posterior_total = z * e0[m] + o * e1[m];
    scale[m] = Real(1) / posterior_total;
    if (out.typed) out.typed[m] = clamp01(o * e1[m] / posterior_total);
    if (out.left_out) out.left_out[m] = clamp01(o / (z + o));
    if (m > 0) keep = (Real(1) - model.switches[m]) / pairwise(emitted);
    if (m > 0) jump = model.switches[m] / Real(k);
  }
  for (int u = 0; out.untyped && u < untyped.count; ++u) {
    const int l = untyped.left[u];
    const int left = std::max(l, 0), right = l + 1 < sites ? l + 1 : sites - 1;
    const bool one_sided = l < 0 || l + 1 >= sites;
    const int first = l < 0 ? right : left;  // the one side of a one-sided site
    std::vector<Real> lane_left(4, Real(0)), lane_right(4, Real(0));
    for (int i = untyped.carrier_begin[u]; i < untyped.carrier_begin[u + 1]; ++i) {
      const int j = untyped.carriers[i], lane = (i - untyped.carrier_begin[u]) % 4;
      lane_left[lane] += p[one_sided ? first : left][j];
      lane_right[lane] += p[one_sided ? first : right][j];
    }
    const Real w = untyped.weight[u];
    const Real s_left = pairwise(lane_left) * scale[one_sided ? first : left];
    const Real s_right = pairwise(lane_right) * scale[one_sided ? first : right];
    const Real share = one_sided ? s_left : (Real(1) - w) * s_left + w * s_right;
    out.untyped[u] = clamp01(untyped.carried[u] ? share : Real(1) - share);
  }
  return log_likelihood;
}

}  // namespace tessellar::hmm::literal
