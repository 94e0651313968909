// The forward and backward steps of copying_steps.h for H study haplotypes
// at once over the same states: values are kept state by state with the H
// haplotypes side by side (value of state j for haplotype h at [j * H + h]),
// so each state's allele is read once for all H and the loop over h is what
// the compiler vectorises. For every haplotype the arithmetic and the order
// of every sum are those of the one-haplotype steps: the same bits.
#pragma once

#include <cstdint>
#include <cstring>

#include "hmm/copying_steps.h"

namespace tessellar::hmm {

// The values of the H haplotypes of one state as one vector (GCC and Clang
// vector extension), lowered to the registers the instruction set has.
// Vectors never cross a function boundary (no ABI change).
template <class Real, int H>
struct BatchVector {
  typedef Real type __attribute__((vector_size(H * sizeof(Real))));
};

template <class V, class Real>
TSL_KERNEL_INLINE void load(V& v, const Real* p) {
  std::memcpy(&v, p, sizeof v);
}
template <class V, class Real>
TSL_KERNEL_INLINE void store(Real* p, const V& v) {
  std::memcpy(p, &v, sizeof v);
}

// The emissions of H haplotypes at one site: of[a][h] for a state carrying
// allele a.
template <class Real, int H>
struct BatchEmission {
  Real of[2][H];
};

// The transitions of H haplotypes into one site.
template <class Real, int H>
struct BatchTransition {
  Real keep[H];
  Real jump[H];
};

// total[h] = the sum over states of values[j * H + h], state j in lane
// j % kLanes, the lanes pairwise (as lane_sum).
template <class Real, int H>
TSL_KERNEL_INLINE void batch_lane_sum(const Real* __restrict values, int states,
                                      Real* __restrict total) {
  using V = typename BatchVector<Real, H>::type;
  V lane[kLanes] = {};
  const auto add = [&](int l, int j) {
    V v;
    load(v, values + j * H);
    lane[l] += v;
  };
  int j = 0;
  for (; j + kLanes <= states; j += kLanes)
    for (int l = 0; l < kLanes; ++l) add(l, j + l);
  for (int l = 0; j + l < states; ++l) add(l, j + l);
  for (int width = kLanes / 2; width > 0; width /= 2)
    for (int l = 0; l < width; ++l) lane[l] = lane[l] + lane[l + width];
  store(total, lane[0]);
}

// forward_step for H haplotypes: carry and prior are [states * H]; total[h]
// receives S of haplotype h.
template <class Real, int H>
TSL_KERNEL_INLINE void batch_forward_step(const uint8_t* __restrict alleles, int states,
                                          const BatchEmission<Real, H>& e,
                                          const BatchTransition<Real, H>& t, Real* __restrict carry,
                                          Real* __restrict prior, Real* __restrict total) {
  using V = typename BatchVector<Real, H>::type;
  V keep, jump, c, em;
  load(keep, t.keep);
  load(jump, t.jump);
  for (int j = 0; j < states; ++j) {
    load(c, carry + j * H);
    load(em, e.of[alleles[j] != 0]);
    const V x = keep * c + jump;
    store(prior + j * H, x);
    store(carry + j * H, V(em * x));
  }
  batch_lane_sum<Real, H>(carry, states, total);
}

// backward_step for H haplotypes: the buffers are [states * H] each; sums[h]
// receives haplotype h's sums.
template <class Real, int H>
TSL_KERNEL_INLINE void batch_backward_step(const uint8_t* __restrict alleles, int states,
                                           const BatchEmission<Real, H>& e,
                                           const BatchTransition<Real, H>& t,
                                           const Real* __restrict prior,
                                           BackwardBuffers<Real> buffers,
                                           BackwardSums<Real>* __restrict sums) {
  using V = typename BatchVector<Real, H>::type;
  V keep, jump, c, x, em;
  load(keep, t.keep);
  load(jump, t.jump);
  for (int j = 0; j < states; ++j) {
    const int a = alleles[j] != 0;
    load(c, buffers.carry + j * H);
    load(x, prior + j * H);
    load(em, e.of[a]);
    const V b = keep * c + jump;
    const V q = x * b;
    const V one = q * Real(a);
    store(buffers.carry + j * H, V(em * b));
    store(buffers.posterior + j * H, V(em * q));
    store(buffers.one + j * H, one);
    store(buffers.zero + j * H, V(q - one));
  }
  Real emitted[H], zero[H], one[H];
  batch_lane_sum<Real, H>(buffers.carry, states, emitted);
  batch_lane_sum<Real, H>(buffers.zero, states, zero);
  batch_lane_sum<Real, H>(buffers.one, states, one);
  for (int h = 0; h < H; ++h) sums[h] = {emitted[h], zero[h], one[h]};
}

}  // namespace tessellar::hmm
