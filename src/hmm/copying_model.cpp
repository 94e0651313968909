// Forward-backward of the haploid copying model over one window, and the
// doses at typed and untyped sites drawn from it.
#include "hmm/copying_model.h"

#include <algorithm>
#include <cmath>

#include "hmm/copying_steps.h"

namespace tessellar::hmm {

template <class Real>
void CopyingWorkspace<Real>::reserve(int sites, int states) {
  const std::size_t k = static_cast<std::size_t>(states);
  const std::size_t cells = static_cast<std::size_t>(sites) * k;
  if (forward_.size() < cells) forward_.resize(cells);
  if (backward_.size() < k) backward_.resize(k);
  if (posterior_.size() < 2 * k) posterior_.resize(2 * k);
  if (scratch_.size() < k) scratch_.resize(k);
}

namespace {

// A probability made safe from rounding: within [0, 1].
template <class Real>
Real clamp01(Real p) {
  return std::min(Real(1), std::max(Real(0), p));
}

// One typed site's posterior as the untyped sites need it: the unnormalised
// state probabilities and their total.
template <class Real>
struct SitePosterior {
  const Real* p = nullptr;
  Real total = 1;
};

// P(allele 1) at an untyped site from one typed site's posterior: the sum
// over the listed carriers in list order, or 1 minus it when they carry 0.
template <class Real>
Real carried_one(const SitePosterior<Real>& site, const int* first, const int* last,
                 bool carry_one) {
  Real sum = 0;
  for (const int* c = first; c != last; ++c) sum += site.p[*c];
  const Real share = sum / site.total;
  return clamp01(carry_one ? share : Real(1) - share);
}

}  // namespace

// The passes over one window; a friend of the workspace.
template <class Real>
struct CopyingKernel {
  // The forward pass: x of every site into the workspace's forward array.
  // Returns the log-likelihood.
  static double forward(const CopyingModel<Real>& model, const int8_t* observed,
                        CopyingWorkspace<Real>& work) {
    const int k = model.states;
    Real* carry = work.scratch_.data();
    std::fill(carry, carry + k, Real(0));
    Transition<Real> t{Real(0), Real(1) / Real(k)};
    double log_likelihood = 0;
    Real total = 1;
    for (int m = 0; m < model.sites; ++m) {
      if (m > 0) t = transition(model.switches[m], total, k);
      const Emission<Real> e = emission(observed[m], model.error);
      total = forward_step(model.alleles + std::size_t(m) * k, k, e, t, carry,
                           work.forward_.data() + std::size_t(m) * k);
      log_likelihood += std::log(static_cast<double>(total));
    }
    return log_likelihood;
  }

  // The backward pass from the last site down; at each site calls
  // visit(m, e, sums, posterior) with the unnormalised posterior (null when
  // keep_posterior is false).
  template <class Visit>
  static void backward(const CopyingModel<Real>& model, const int8_t* observed,
                       CopyingWorkspace<Real>& work, bool keep_posterior, Visit&& visit) {
    const int k = model.states;
    Real* carry = work.backward_.data();
    std::fill(carry, carry + k, Real(0));
    Transition<Real> t{Real(0), Real(1)};
    for (int m = model.sites - 1; m >= 0; --m) {
      const Emission<Real> e = emission(observed[m], model.error);
      Real* posterior = keep_posterior ? work.posterior_.data() + (m & 1) * k : nullptr;
      const BackwardSums<Real> sums =
          backward_step(model.alleles + std::size_t(m) * k, k, e, t,
                        work.forward_.data() + std::size_t(m) * k, carry, posterior);
      visit(m, e, sums, posterior);
      if (m > 0) t = transition(model.switches[m], sums.emitted, k);
    }
  }
};

namespace {

// The untyped sites with left[u] == m (m = -1: before the first typed site),
// the sites [first, last), from the posteriors of typed sites m and m + 1
// (each may be absent: p null).
template <class Real>
void untyped_doses(const UntypedSites<Real>& untyped, int first, int last,
                   const SitePosterior<Real>& left, const SitePosterior<Real>& right, Real* dose) {
  for (int u = first; u < last; ++u) {
    const int* c0 = untyped.carriers + untyped.carrier_begin[u];
    const int* c1 = untyped.carriers + untyped.carrier_begin[u + 1];
    const bool one = untyped.carried[u] != 0;
    if (!right.p) {
      dose[u] = carried_one(left, c0, c1, one);
    } else if (!left.p) {
      dose[u] = carried_one(right, c0, c1, one);
    } else {
      const Real w = untyped.weight[u];
      dose[u] = clamp01((Real(1) - w) * carried_one(left, c0, c1, one) +
                        w * carried_one(right, c0, c1, one));
    }
  }
}

}  // namespace

template <class Real>
double impute_haplotype(const CopyingModel<Real>& model, const UntypedSites<Real>& untyped,
                        const int8_t* observed, CopyingWorkspace<Real>& work,
                        const HaplotypeDoses<Real>& out) {
  work.reserve(model.sites, model.states);
  const double log_likelihood = CopyingKernel<Real>::forward(model, observed, work);
  const bool doses = out.untyped && untyped.count > 0;
  int pending = doses ? untyped.count : 0;  // untyped sites [0, pending) still to do
  SitePosterior<Real> next;                 // the posterior of site m + 1
  CopyingKernel<Real>::backward(
      model, observed, work, doses,
      [&](int m, Emission<Real> e, const BackwardSums<Real>& s, const Real* posterior) {
        const Real total = s.zero * e.zero + s.one * e.one;
        if (out.typed) out.typed[m] = clamp01(s.one * e.one / total);
        if (out.left_out) out.left_out[m] = clamp01(s.one / (s.zero + s.one));
        if (!doses) return;
        const SitePosterior<Real> here{posterior, total};
        int first = pending;
        while (first > 0 && untyped.left[first - 1] >= m) --first;
        untyped_doses(untyped, first, pending, here, next, out.untyped);
        pending = first;
        if (m == 0) untyped_doses(untyped, 0, pending, SitePosterior<Real>{}, here, out.untyped);
        next = here;
      });
  return log_likelihood;
}

template <class Real>
double state_posteriors(const CopyingModel<Real>& model, const int8_t* observed,
                        CopyingWorkspace<Real>& work, Real* posterior) {
  work.reserve(model.sites, model.states);
  const double log_likelihood = CopyingKernel<Real>::forward(model, observed, work);
  const int k = model.states;
  CopyingKernel<Real>::backward(
      model, observed, work, true,
      [&](int m, Emission<Real> e, const BackwardSums<Real>& s, const Real* p) {
        const Real total = s.zero * e.zero + s.one * e.one;
        Real* row = posterior + std::size_t(m) * k;
        for (int j = 0; j < k; ++j) row[j] = p[j] / total;
      });
  return log_likelihood;
}

template class CopyingWorkspace<float>;
template class CopyingWorkspace<double>;
template double impute_haplotype(const CopyingModel<float>&, const UntypedSites<float>&,
                                 const int8_t*, CopyingWorkspace<float>&,
                                 const HaplotypeDoses<float>&);
template double impute_haplotype(const CopyingModel<double>&, const UntypedSites<double>&,
                                 const int8_t*, CopyingWorkspace<double>&,
                                 const HaplotypeDoses<double>&);
template double state_posteriors(const CopyingModel<float>&, const int8_t*,
                                 CopyingWorkspace<float>&, float*);
template double state_posteriors(const CopyingModel<double>&, const int8_t*,
                                 CopyingWorkspace<double>&, double*);

}  // namespace tessellar::hmm
