// The steps of the phasing's passes (phasing_kernels.cpp), for a sample's
// two haplotypes a and b together over the same states: the steps of
// copying_steps.h with both haplotypes in one loop and the states' alleles
// packed kLanes to a word, read once for both. The fixed summation lanes
// are held as one vector (element l is lane l: state j adds into it when
// j % kLanes == l, in increasing j), added at the end as lane_total adds
// them, so every sum has the bits of lane_sum on every instruction set.
// Buffers over states are padded to whole blocks of kLanes; the states past
// the last emit 0 (and predictions there are zeroed), so they add nothing.
// The caller owns every buffer; nothing is allocated.
#pragma once

#include <cstdint>
#include <cstring>

#include "hmm/copying_steps.h"
#include "hmm/phasing_kernels.h"

namespace tessellar::hmm {

static_assert(kLanes == kBlock, "a block of states is two planes of alleles");

// A block's kLanes lanes as two halves of kHalf (GCC and Clang vector
// extension; a half is one AVX register, two SSE registers): element l of
// half h is lane h * kHalf + l. Vectors never cross a function boundary (no
// ABI change); conditions are computed as 0/1 weights, which select exactly
// (x * 1 = x, x * 0 = 0, x + 0 = x).
inline constexpr int kHalf = kLanes / 2;
typedef float Half __attribute__((vector_size(kHalf * sizeof(float))));
typedef int32_t HalfInts __attribute__((vector_size(kHalf * sizeof(int32_t))));
struct Lanes {
  Half half[2] = {};
};

// Values of the two haplotypes.
struct PairOf {
  float a = 0;
  float b = 0;
};

// Both haplotypes' pointers into buffers of whole blocks.
struct PairBuffers {
  float* a;
  float* b;
};

// The lanes added pairwise, as lane_total does.
TSL_KERNEL_INLINE float lanes_total(const Lanes& sum) {
  float lane[kLanes];
  std::memcpy(lane, &sum.half[0], sizeof sum.half[0]);
  std::memcpy(lane + kHalf, &sum.half[1], sizeof sum.half[1]);
  return lane_total(lane);
}

// Block `block` of a buffer.
TSL_KERNEL_INLINE void load(Lanes& v, const float* p, int block) {
  std::memcpy(&v.half[0], p + block * kLanes, sizeof v.half[0]);
  std::memcpy(&v.half[1], p + block * kLanes + kHalf, sizeof v.half[1]);
}
TSL_KERNEL_INLINE void store(float* p, int block, const Lanes& v) {
  std::memcpy(p + block * kLanes, &v.half[0], sizeof v.half[0]);
  std::memcpy(p + block * kLanes + kHalf, &v.half[1], sizeof v.half[1]);
}

// The allele weights (0.0f, 1.0f) of a block of a site: half h from
// plane 2 block + h, whose bit l is 2^l as a float, times 2^-l exactly.
TSL_KERNEL_INLINE void unpack(Lanes& weight, SiteAlleles alleles, int block) {
  const HalfInts bit = {1 << 0, 1 << 1, 1 << 2, 1 << 3, 1 << 4, 1 << 5, 1 << 6, 1 << 7};
  const Half inverse = {1.0f, 0.5f, 0.25f, 0.125f, 0.0625f, 0.03125f, 0.015625f, 0.0078125f};
  for (int h = 0; h < 2; ++h) {
    const HalfInts bits = (HalfInts{} + static_cast<int32_t>(alleles.plane(2 * block + h))) & bit;
    weight.half[h] = __builtin_convertvector(bits, Half) * inverse;
  }
}

// The blocks of a whole block's states, and the last block when it is
// partial: its weights of the states it has (1) and has not (0).
struct FullBlock {};
struct PartBlock {
  Lanes valid;
};
TSL_KERNEL_INLINE void only_states(Lanes&, FullBlock) {}
TSL_KERNEL_INLINE void only_states(Lanes& v, const PartBlock& part) {
  for (int h = 0; h < 2; ++h) v.half[h] *= part.valid.half[h];
}

// Calls body(block, part) for every block of states: part a FullBlock, or
// a PartBlock for a last block with fewer than kLanes states.
template <class Body>
TSL_KERNEL_INLINE void by_blocks(int states, Body&& body) {
  const int full = states / kLanes;
  for (int block = 0; block < full; ++block) body(block, FullBlock{});
  const int rest = states - full * kLanes;
  if (rest == 0) return;
  PartBlock part;
  for (int l = 0; l < kLanes; ++l) part.valid.half[l / kHalf][l % kHalf] = l < rest ? 1.0f : 0.0f;
  body(full, part);
}

// The emissions of one haplotype at a site by the states' allele weights
// (zero past the states): e = zero (1 - w) + one w.
template <class Part>
TSL_KERNEL_INLINE void emissions(Lanes& e, Emission<float> of, const Lanes& ones,
                                 const Part& part) {
  for (int h = 0; h < 2; ++h) e.half[h] = of.zero * (1.0f - ones.half[h]) + of.one * ones.half[h];
  only_states(e, part);
}

// The lambdas of the steps are inlined into them.
#define TSL_BLOCK [&](int block, const auto& part) __attribute__((always_inline))

// forward_step for both haplotypes (no prior): to = e (keep from + jump)
// (to may be from); returns the sums of to. Also the backward step of
// copying_steps.h without its posterior (h = e b, b = keep h' + jump).
TSL_KERNEL_INLINE PairOf pair_step(SiteAlleles alleles, int states, Emission<float> ea,
                                   Emission<float> eb, Transition<float> ta, Transition<float> tb,
                                   PairBuffers from, PairBuffers to) {
  Lanes sum_a, sum_b;
  by_blocks(
      states, TSL_BLOCK {
        Lanes ones, fa, fb, ca, cb;
        unpack(ones, alleles, block);
        emissions(fa, ea, ones, part);
        emissions(fb, eb, ones, part);
        load(ca, from.a, block);
        load(cb, from.b, block);
        for (int h = 0; h < 2; ++h) {
          ca.half[h] = fa.half[h] * (ta.keep * ca.half[h] + ta.jump);
          cb.half[h] = fb.half[h] * (tb.keep * cb.half[h] + tb.jump);
          sum_a.half[h] += ca.half[h];
          sum_b.half[h] += cb.half[h];
        }
        store(to.a, block, ca);
        store(to.b, block, cb);
      });
  return {lanes_total(sum_a), lanes_total(sum_b)};
}

// A predicted distribution's total and its share on the states carrying
// allele 1.
struct Prediction {
  float total = 0;
  float one = 0;
};

// The transition alone for both haplotypes: c = keep c + jump (x of the
// site; zero past the states); pa and pb receive the predictions' sums.
TSL_KERNEL_INLINE void pair_predict(SiteAlleles alleles, int states, Transition<float> ta,
                                    Transition<float> tb, PairBuffers carry, Prediction& pa,
                                    Prediction& pb) {
  Lanes all_a, one_a, all_b, one_b;
  by_blocks(
      states, TSL_BLOCK {
        Lanes ones, ca, cb;
        unpack(ones, alleles, block);
        load(ca, carry.a, block);
        load(cb, carry.b, block);
        for (int h = 0; h < 2; ++h) {
          ca.half[h] = ta.keep * ca.half[h] + ta.jump;
          cb.half[h] = tb.keep * cb.half[h] + tb.jump;
        }
        only_states(ca, part);
        only_states(cb, part);
        for (int h = 0; h < 2; ++h) {
          all_a.half[h] += ca.half[h];
          all_b.half[h] += cb.half[h];
          one_a.half[h] += ca.half[h] * ones.half[h];
          one_b.half[h] += cb.half[h] * ones.half[h];
        }
        store(carry.a, block, ca);
        store(carry.b, block, cb);
      });
  pa = {lanes_total(all_a), lanes_total(one_a)};
  pb = {lanes_total(all_b), lanes_total(one_b)};
}

// The emission alone for both haplotypes, in place: c = e c; returns the
// sums of c.
TSL_KERNEL_INLINE PairOf pair_emit(SiteAlleles alleles, int states, Emission<float> ea,
                                   Emission<float> eb, PairBuffers carry) {
  Lanes sum_a, sum_b;
  by_blocks(
      states, TSL_BLOCK {
        Lanes ones, fa, fb, ca, cb;
        unpack(ones, alleles, block);
        emissions(fa, ea, ones, part);
        emissions(fb, eb, ones, part);
        load(ca, carry.a, block);
        load(cb, carry.b, block);
        for (int h = 0; h < 2; ++h) {
          ca.half[h] = fa.half[h] * ca.half[h];
          cb.half[h] = fb.half[h] * cb.half[h];
          sum_a.half[h] += ca.half[h];
          sum_b.half[h] += cb.half[h];
        }
        store(carry.a, block, ca);
        store(carry.b, block, cb);
      });
  return {lanes_total(sum_a), lanes_total(sum_b)};
}

// A backward step that keeps b: back = keep h + jump, then h = e back;
// returns the sums of h (the bits of pair_step).
TSL_KERNEL_INLINE PairOf pair_back_step(SiteAlleles alleles, int states, Emission<float> ea,
                                        Emission<float> eb, Transition<float> ta,
                                        Transition<float> tb, PairBuffers h, PairBuffers back) {
  Lanes sum_a, sum_b;
  by_blocks(
      states, TSL_BLOCK {
        Lanes ones, fa, fb, ha, hb, ba, bb;
        unpack(ones, alleles, block);
        emissions(fa, ea, ones, part);
        emissions(fb, eb, ones, part);
        load(ha, h.a, block);
        load(hb, h.b, block);
        for (int x = 0; x < 2; ++x) {
          ba.half[x] = ta.keep * ha.half[x] + ta.jump;
          bb.half[x] = tb.keep * hb.half[x] + tb.jump;
          ha.half[x] = fa.half[x] * ba.half[x];
          hb.half[x] = fb.half[x] * bb.half[x];
          sum_a.half[x] += ha.half[x];
          sum_b.half[x] += hb.half[x];
        }
        store(back.a, block, ba);
        store(back.b, block, bb);
        store(h.a, block, ha);
        store(h.b, block, hb);
      });
  return {lanes_total(sum_a), lanes_total(sum_b)};
}

// The four products of the haplotypes' forward values y and backward
// values b at one site: y_a.b_a, y_b.b_b, y_a.b_b, y_b.b_a (y is zero past
// the states).
struct CrossProducts {
  float aa = 0, bb = 0, ab = 0, ba = 0;
};

TSL_KERNEL_INLINE CrossProducts cross_products(int states, PairBuffers y, PairBuffers back) {
  Lanes aa, bb, ab, ba;
  by_blocks(
      states, TSL_BLOCK {
        (void)part;
        Lanes ya, yb, xa, xb;
        load(ya, y.a, block);
        load(yb, y.b, block);
        load(xa, back.a, block);
        load(xb, back.b, block);
        for (int h = 0; h < 2; ++h) {
          aa.half[h] += ya.half[h] * xa.half[h];
          bb.half[h] += yb.half[h] * xb.half[h];
          ab.half[h] += ya.half[h] * xb.half[h];
          ba.half[h] += yb.half[h] * xa.half[h];
        }
      });
  return {lanes_total(aa), lanes_total(bb), lanes_total(ab), lanes_total(ba)};
}

// sum_j y(j) b(j) over all states and over those carrying allele 1, of one
// haplotype (y is zero past the states).
TSL_KERNEL_INLINE Prediction allele_products(SiteAlleles alleles, int states, const float* y,
                                             const float* back) {
  Lanes all, one;
  by_blocks(
      states, TSL_BLOCK {
        (void)part;
        Lanes ones, x, b;
        unpack(ones, alleles, block);
        load(x, y, block);
        load(b, back, block);
        for (int h = 0; h < 2; ++h) {
          const Half q = x.half[h] * b.half[h];
          all.half[h] += q;
          one.half[h] += q * ones.half[h];
        }
      });
  return {lanes_total(all), lanes_total(one)};
}

#undef TSL_BLOCK

}  // namespace tessellar::hmm
