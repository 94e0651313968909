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

// The states are visited lane group by lane group, kGroup lanes at a time
// (the states of lanes [l0, l0 + kGroup), in increasing order), so that a
// step adds into only kGroup accumulators per sum, kept in registers: each
// lane still sums its states in increasing order, as lane_sum does.
inline constexpr int kGroup = 4;

// Calls visit(g, j) for every state j < states with g = j % kLanes - l0,
// and done(l0) after the states of each group.
template <class Visit, class Done>
TSL_KERNEL_INLINE void by_lane_groups(int states, Visit&& visit, Done&& done) {
  for (int l0 = 0; l0 < kLanes; l0 += kGroup) {
    int j = l0;
    for (; j + kGroup <= states; j += kLanes)
      for (int g = 0; g < kGroup; ++g) visit(g, j + g);
    for (int g = 0; g < kGroup && j + g < states; ++g) visit(g, j + g);
    done(l0);
  }
}

// The lanes of H haplotypes added pairwise (as lane_total) into total[h].
template <class Real, int H, class V>
TSL_KERNEL_INLINE void batch_lane_total(V (&lane)[kLanes], Real* __restrict total) {
  for (int width = kLanes / 2; width > 0; width /= 2)
    for (int l = 0; l < width; ++l) lane[l] = lane[l] + lane[l + width];
  store(total, lane[0]);
}

// forward_step for H haplotypes: carry and prior (null: not wanted) are
// [states * H]; total[h] receives S of haplotype h.
template <class Real, int H>
TSL_KERNEL_INLINE void batch_forward_step(const uint8_t* __restrict alleles, int states,
                                          const BatchEmission<Real, H>& e,
                                          const BatchTransition<Real, H>& t, Real* __restrict carry,
                                          Real* __restrict prior, Real* __restrict total) {
  using V = typename BatchVector<Real, H>::type;
  V keep, jump, lane[kLanes], sum[kGroup] = {};
  load(keep, t.keep);
  load(jump, t.jump);
  by_lane_groups(
      states,
      [&](int g, int j) {
        V c, em;
        load(c, carry + j * H);
        load(em, e.of[alleles[j] != 0]);
        const V x = keep * c + jump;
        const V y = em * x;
        if (prior) store(prior + j * H, x);
        store(carry + j * H, y);
        sum[g] += y;
      },
      [&](int l0) {
        for (int g = 0; g < kGroup; ++g) lane[l0 + g] = sum[g], sum[g] = V{};
      });
  batch_lane_total<Real, H>(lane, total);
}

// backward_step for H haplotypes: carry and posterior are [states * H] as in
// BackwardBuffers; sums[h] receives haplotype h's sums. The zero and one
// sums add q(j) - q(j) w(j) and q(j) w(j), w the allele, as backward_step
// does.
template <class Real, int H>
TSL_KERNEL_INLINE void batch_backward_step(const uint8_t* __restrict alleles, int states,
                                           const BatchEmission<Real, H>& e,
                                           const BatchTransition<Real, H>& t,
                                           const Real* __restrict prior, Real* __restrict carry,
                                           Real* __restrict posterior,
                                           BackwardSums<Real>* __restrict sums) {
  using V = typename BatchVector<Real, H>::type;
  V keep, jump, emitted[kLanes], zero[kLanes], one[kLanes];
  V emitted_sum[kGroup] = {}, zero_sum[kGroup] = {}, one_sum[kGroup] = {};
  load(keep, t.keep);
  load(jump, t.jump);
  by_lane_groups(
      states,
      [&](int g, int j) {
        V c, x, em;
        const int a = alleles[j] != 0;
        load(c, carry + j * H);
        load(x, prior + j * H);
        load(em, e.of[a]);
        const V b = keep * c + jump;
        const V q = x * b;
        const V h = em * b;
        const V q1 = q * Real(a);
        store(carry + j * H, h);
        store(posterior + j * H, V(em * q));
        emitted_sum[g] += h;
        one_sum[g] += q1;
        zero_sum[g] += q - q1;
      },
      [&](int l0) {
        for (int g = 0; g < kGroup; ++g) {
          emitted[l0 + g] = emitted_sum[g], emitted_sum[g] = V{};
          zero[l0 + g] = zero_sum[g], zero_sum[g] = V{};
          one[l0 + g] = one_sum[g], one_sum[g] = V{};
        }
      });
  Real total[3][H];
  batch_lane_total<Real, H>(emitted, total[0]);
  batch_lane_total<Real, H>(zero, total[1]);
  batch_lane_total<Real, H>(one, total[2]);
  for (int h = 0; h < H; ++h) sums[h] = {total[0][h], total[1][h], total[2][h]};
}

}  // namespace tessellar::hmm
