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

#include <algorithm>
#include <cstdint>

// The steps are inlined into each instruction-set path of their callers.
#if defined(__GNUC__)
#define TSL_KERNEL_INLINE [[gnu::always_inline]] inline
#else
#define TSL_KERNEL_INLINE inline
#endif

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
TSL_KERNEL_INLINE Real lane_total(Real (&lane)[kLanes]) {
  for (int width = kLanes / 2; width > 0; width /= 2)
    for (int l = 0; l < width; ++l) lane[l] = lane[l] + lane[l + width];
  return lane[0];
}

// The sum of values[0 .. n) in the fixed lanes.
template <class Real>
TSL_KERNEL_INLINE Real lane_sum(const Real* __restrict values, int n) {
  Real lane[kLanes] = {};
  int j = 0;
  for (; j + kLanes <= n; j += kLanes)
    for (int l = 0; l < kLanes; ++l) lane[l] += values[j + l];
  for (int l = 0; j + l < n; ++l) lane[l] += values[j + l];
  return lane_total(lane);
}

// One forward step at a site whose states carry alleles[0 .. states) (0/1).
// carry holds y of the previous site on entry and y of this site on return;
// prior (null: not wanted; may not alias carry) receives x of this site.
// Returns S of this site.
template <class Real>
TSL_KERNEL_INLINE Real forward_step(const uint8_t* __restrict alleles, int states, Emission<Real> e,
                                    Transition<Real> t, Real* __restrict carry,
                                    Real* __restrict prior) {
  if (prior) {
    for (int j = 0; j < states; ++j) {
      const Real x = t.keep * carry[j] + t.jump;
      prior[j] = x;
      carry[j] = (alleles[j] ? e.one : e.zero) * x;
    }
  } else {
    for (int j = 0; j < states; ++j)
      carry[j] = (alleles[j] ? e.one : e.zero) * (t.keep * carry[j] + t.jump);
  }
  return lane_sum(carry, states);
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

// The buffers of a backward step, [states] each, owned by the caller:
// carry holds h of the next site on entry and h of this site on return;
// posterior receives the unnormalised state posterior e(j) x(j) b(j), whose
// total is zero * e.zero + one * e.one; zero and one are scratch.
template <class Real>
struct BackwardBuffers {
  Real* carry = nullptr;
  Real* posterior = nullptr;
  Real* zero = nullptr;
  Real* one = nullptr;
};

// One backward step at a site whose states carry alleles[0 .. states) (0/1),
// t being the transition into the next site and prior x of this site (from
// the forward pass). No two buffers may alias.
template <class Real>
TSL_KERNEL_INLINE BackwardSums<Real> backward_step(const uint8_t* __restrict alleles, int states,
                                                   Emission<Real> e, Transition<Real> t,
                                                   const Real* __restrict prior,
                                                   BackwardBuffers<Real> buffers) {
  Real* __restrict carry = buffers.carry;
  Real* __restrict posterior = buffers.posterior;
  Real* __restrict zero = buffers.zero;
  Real* __restrict one = buffers.one;
  for (int j = 0; j < states; ++j) {
    const Real b = t.keep * carry[j] + t.jump;
    const Real q = prior[j] * b;
    // Selections by a 0/1 weight, exact: x * 1 = x, x * 0 = 0, x + 0 = x.
    const Real w = alleles[j];
    const Real em = e.zero * (Real(1) - w) + e.one * w;
    carry[j] = em * b;
    posterior[j] = em * q;
    one[j] = q * w;
    zero[j] = q - one[j];
  }
  return {lane_sum(carry, states), lane_sum(zero, states), lane_sum(one, states)};
}

// A probability made safe from rounding: within [0, 1].
template <class Real>
TSL_KERNEL_INLINE Real clamp01(Real p) {
  return std::min(Real(1), std::max(Real(0), p));
}

// What a typed site gets from its backward sums: P(allele 1) given every
// observed allele (typed) and given all but its own (left_out), and 1 / the
// total of its unnormalised posterior (scale).
template <class Real>
struct TypedDoses {
  Real typed = 0;
  Real left_out = 0;
  Real scale = 0;
};

template <class Real>
TSL_KERNEL_INLINE TypedDoses<Real> typed_doses(const BackwardSums<Real>& s, Emission<Real> e) {
  const Real total = s.zero * e.zero + s.one * e.one;
  return {clamp01(s.one * e.one / total), clamp01(s.one / (s.zero + s.one)), Real(1) / total};
}

// Number of fixed lanes of the sums over an untyped site's listed carriers:
// carrier i adds into lane i % kCarrierLanes, then the lanes pairwise.
inline constexpr int kCarrierLanes = 4;

// The dose of an untyped site from the sums of the normalised posteriors of
// its listed carriers at the typed sites on its left and right (each the sum
// of the unnormalised posteriors in the carrier lanes times the site's
// scale), weight its place between them; one_sided: the site lies beyond
// the window's typed sites and left is its one neighbour; carried: the
// allele the listed carry.
template <class Real>
TSL_KERNEL_INLINE Real untyped_dose(Real left, Real right, Real weight, bool one_sided,
                                    bool carried) {
  const Real share = one_sided ? left : (Real(1) - weight) * left + weight * right;
  return clamp01(carried ? share : Real(1) - share);
}

}  // namespace tessellar::hmm
