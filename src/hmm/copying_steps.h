// Building blocks of the haploid copying model: one forward step and one
// backward step over the states of one site, for any set of states whose
// alleles at the site lie contiguously (all reference haplotypes, or a subset
// chosen per sample). The caller owns every buffer; nothing is allocated.
//
// Conventions. x_m is the predicted state distribution at site m given the
// alleles before m (it sums to 1); the forward step also leaves
// y_m(j) = e_m(j) x_m(j) in its carry and returns S_m = sum_j y_m(j), the
// probability of the allele at m given those before it, so the
// log-likelihood is sum_m log S_m. The backward step keeps h_m(j) =
// e_m(j) b_m(j) with b rescaled at every site. Every sum over states is
// taken in lanes of fixed width kLanes (state j adds into lane j % kLanes in
// increasing j), then the lanes in a fixed pairwise order: the same bits for
// every caller, thread and instruction set.
#pragma once

#include <cstdint>

namespace tessellar::hmm {

// Width of the fixed summation lanes.
inline constexpr int kLanes = 16;

// The emission of a site for a state carrying allele 0 (zero) or 1 (one).
template <class Real>
struct Emission {
  Real zero = 1;
  Real one = 1;
};

// The emissions for an observed allele (0/1; negative: missing, emits 1)
// with mismatch probability error.
template <class Real>
inline Emission<Real> emission(int observed, Real error) {
  if (observed < 0) return {Real(1), Real(1)};
  const Real match = Real(1) - error;
  return observed == 0 ? Emission<Real>{match, error} : Emission<Real>{error, match};
}

// The transition folded with the previous site's rescaling: the value carried
// into the step is keep * carried + jump. For the first site of a forward
// pass (uniform start) keep = 0, jump = 1/K; for the last site of a backward
// pass keep = 0, jump = 1 (the carry must hold finite values, e.g. zeros).
template <class Real>
struct Transition {
  Real keep = 0;
  Real jump = 0;
};

// The transition into a site with switch probability rho from a site whose
// carried values sum to total, over states states.
template <class Real>
inline Transition<Real> transition(Real rho, Real total, int states) {
  return {(Real(1) - rho) / total, rho / Real(states)};
}

// The sum of the lanes in a fixed pairwise order.
template <class Real>
inline Real lane_total(Real (&lane)[kLanes]) {
  for (int width = kLanes / 2; width > 0; width /= 2)
    for (int l = 0; l < width; ++l) lane[l] = lane[l] + lane[l + width];
  return lane[0];
}

// One forward step at a site whose states carry alleles[0 .. states) (0/1).
// carry holds y of the previous site on entry and y of this site on return;
// prior (may not alias carry) receives x of this site. Returns S of this site.
template <class Real>
inline Real forward_step(const uint8_t* __restrict alleles, int states, Emission<Real> e,
                         Transition<Real> t, Real* __restrict carry, Real* __restrict prior) {
  Real lane[kLanes] = {};
  int j = 0;
  for (; j + kLanes <= states; j += kLanes) {
    for (int l = 0; l < kLanes; ++l) {
      const Real x = t.keep * carry[j + l] + t.jump;
      const Real y = (alleles[j + l] ? e.one : e.zero) * x;
      prior[j + l] = x;
      carry[j + l] = y;
      lane[l] += y;
    }
  }
  for (int l = 0; j + l < states; ++l) {
    const Real x = t.keep * carry[j + l] + t.jump;
    const Real y = (alleles[j + l] ? e.one : e.zero) * x;
    prior[j + l] = x;
    carry[j + l] = y;
    lane[l] += y;
  }
  return lane_total(lane);
}

// What the backward step sums at its site: emitted = sum_j h(j) (the total
// that the next step's transition divides by); zero and one = the sums of
// x(j) b(j) over the states carrying 0 and 1. The posterior probability of
// allele 1 is one * e.one / (zero * e.zero + one * e.one); with the site's
// own allele left out it is one / (zero + one).
template <class Real>
struct BackwardSums {
  Real emitted = 0;
  Real zero = 0;
  Real one = 0;
};

// One backward step at a site whose states carry alleles[0 .. states).
// carry holds h of the next site on entry (t its transition) and h of this
// site on return; prior is x of this site (from the forward pass). When
// posterior is not null it receives the unnormalised state posterior
// e(j) x(j) b(j), whose total is zero * e.zero + one * e.one.
template <class Real>
inline BackwardSums<Real> backward_step(const uint8_t* __restrict alleles, int states,
                                        Emission<Real> e, Transition<Real> t,
                                        const Real* __restrict prior, Real* __restrict carry,
                                        Real* __restrict posterior) {
  Real emitted[kLanes] = {};
  Real zero[kLanes] = {};
  Real one[kLanes] = {};
  for (int j = 0; j < states; ++j) {
    const int l = j % kLanes;
    const Real b = t.keep * carry[j] + t.jump;
    const Real q = prior[j] * b;
    const bool carries = alleles[j] != 0;
    const Real em = carries ? e.one : e.zero;
    carry[j] = em * b;
    emitted[l] += carry[j];
    zero[l] += carries ? Real(0) : q;
    one[l] += carries ? q : Real(0);
    if (posterior) posterior[j] = em * q;
  }
  return {lane_total(emitted), lane_total(zero), lane_total(one)};
}

}  // namespace tessellar::hmm
