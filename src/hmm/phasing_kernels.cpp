// The greedy first phase and one round's pair pass of the phasing, compiled
// for the baseline instruction set and for AVX2 like the copying kernel;
// both paths give the same bits (fixed lanes, no fused multiply-adds).
#include "hmm/phasing_kernels.h"

#include <algorithm>

#include "hmm/copying_steps.h"

namespace tessellar::hmm {

void PhasingWorkspace::reserve(int sites, int states) {
  const std::size_t k = static_cast<std::size_t>(states);
  const std::size_t chunks = (static_cast<std::size_t>(sites) + kChunk - 1) / kChunk;
  if (carry_.size() < 2 * k) carry_.resize(2 * k);
  if (back_.size() < 2 * k) back_.resize(2 * k);
  if (checkpoints_.size() < 2 * chunks * k) checkpoints_.resize(2 * chunks * k);
  if (chunk_.size() < 2 * kChunk * k) chunk_.resize(2 * kChunk * k);
  if (totals_.size() < 2 * static_cast<std::size_t>(sites)) totals_.resize(2 * sites);
}

namespace {

// forward_step's prior when it is not wanted.
float* const kNoPrior = nullptr;

// The sums of a predicted state distribution: its total, and its share on
// the states carrying allele 1.
struct Prediction {
  float total = 0;
  float one = 0;
};

// The transition alone: carry holds y of the previous site on entry and x
// of this site on return.
TSL_KERNEL_INLINE Prediction predict_step(const uint8_t* __restrict alleles, int states,
                                          Transition<float> t, float* __restrict carry) {
  float all[kLanes] = {};
  float one[kLanes] = {};
  const auto add = [&](int j, int l) {
    const float x = t.keep * carry[j] + t.jump;
    carry[j] = x;
    all[l] += x;
    one[l] += alleles[j] ? x : 0.0f;
  };
  int j = 0;
  for (; j + kLanes <= states; j += kLanes)
    for (int l = 0; l < kLanes; ++l) add(j + l, l);
  for (int l = 0; j + l < states; ++l) add(j + l, l);
  return {lane_total(all), lane_total(one)};
}

// The emission alone: to[j] = e(j) from[j]; returns the sum of to.
TSL_KERNEL_INLINE float emit_step(const uint8_t* __restrict alleles, int states, Emission<float> e,
                                  const float* from, float* to) {
  for (int j = 0; j < states; ++j) to[j] = (alleles[j] ? e.one : e.zero) * from[j];
  return lane_sum(to, states);
}

// back[j] = keep * carry[j] + jump: b of a site from h of the next one.
TSL_KERNEL_INLINE void back_step(int states, Transition<float> t, const float* __restrict carry,
                                 float* __restrict back) {
  for (int j = 0; j < states; ++j) back[j] = t.keep * carry[j] + t.jump;
}

// sum_j x[j] y[j] (ones: over the states carrying allele 1 only), in the fixed lanes.
TSL_KERNEL_INLINE float lane_dot(const uint8_t* __restrict alleles, bool ones,
                                 const float* __restrict x, const float* __restrict y, int n) {
  float lane[kLanes] = {};
  const auto add = [&](int j, int l) {
    const float xy = x[j] * y[j];
    lane[l] += ones ? (alleles[j] ? xy : 0.0f) : xy;
  };
  int j = 0;
  for (; j + kLanes <= n; j += kLanes)
    for (int l = 0; l < kLanes; ++l) add(j + l, l);
  for (int l = 0; j + l < n; ++l) add(j + l, l);
  return lane_total(lane);
}

}  // namespace

// The passes; a friend of the workspace, inlined into each path below.
struct PhasingKernel {
  static constexpr int kChunk = PhasingWorkspace::kChunk;

  // The transition into site m from a site whose carried values sum to
  // previous (the uniform start at site 0).
  TSL_KERNEL_INLINE static Transition<float> into(const CopyingModel<float>& model, float previous,
                                                  int m) {
    if (m == 0) return {0.0f, 1.0f / static_cast<float>(model.states)};
    return transition(model.switches[m], previous, model.states);
  }

  TSL_KERNEL_INLINE static void initial(const CopyingModel<float>& model, const int8_t* genotypes,
                                        PhasingWorkspace& work, uint8_t* a, uint8_t* b) {
    const int k = model.states;
    work.reserve(model.sites, k);
    float* carry[2] = {work.carry_.data(), work.carry_.data() + k};
    std::fill(carry[0], carry[0] + 2 * k, 0.0f);
    float total[2] = {1.0f, 1.0f};
    const float match = 1.0f - model.error;
    const float miss = model.error;
    for (int m = 0; m < model.sites; ++m) {
      const uint8_t* alleles = model.alleles + static_cast<std::size_t>(m) * k;
      const Transition<float> t[2] = {into(model, total[0], m), into(model, total[1], m)};
      const int g = genotypes[m];
      if (g == 0 || g == 2) {
        const Emission<float> e = emission(g / 2, model.error);
        for (int x = 0; x < 2; ++x)
          total[x] = forward_step(alleles, k, e, t[x], carry[x], kNoPrior);
        a[m] = b[m] = static_cast<uint8_t>(g / 2);
        continue;
      }
      const Prediction p[2] = {predict_step(alleles, k, t[0], carry[0]),
                               predict_step(alleles, k, t[1], carry[1])};
      if (g < 0) {
        a[m] = p[0].one > p[0].total - p[0].one;
        b[m] = p[1].one > p[1].total - p[1].one;
        total[0] = p[0].total;
        total[1] = p[1].total;
        continue;
      }
      // P(a's allele = u) from its prediction, for u = 0 and 1; likewise b.
      const auto given = [&](const Prediction& q, int u) {
        const double one = q.one;
        const double zero = static_cast<double>(q.total) - one;
        return u == 1 ? one * match + zero * miss : zero * match + one * miss;
      };
      const double a0b1 = given(p[0], 0) * given(p[1], 1);
      const double a1b0 = given(p[0], 1) * given(p[1], 0);
      a[m] = a1b0 > a0b1 ? 1 : 0;
      b[m] = static_cast<uint8_t>(1 - a[m]);
      total[0] = emit_step(alleles, k, emission(a[m], model.error), carry[0], carry[0]);
      total[1] = emit_step(alleles, k, emission(b[m], model.error), carry[1], carry[1]);
    }
  }

  TSL_KERNEL_INLINE static const int8_t* observed(const PairAlleles& pair, int x) {
    return x == 0 ? pair.a : pair.b;
  }

  // The forward passes: the totals of every site and the carry entering
  // every chunk, of both haplotypes.
  TSL_KERNEL_INLINE static void forward(const CopyingModel<float>& model, const PairAlleles& pair,
                                        PhasingWorkspace& work) {
    const int k = model.states;
    const std::size_t chunks = (static_cast<std::size_t>(model.sites) + kChunk - 1) / kChunk;
    for (int x = 0; x < 2; ++x) {
      const int8_t* alleles = observed(pair, x);
      float* carry = work.carry_.data() + x * k;
      float* totals = work.totals_.data() + x * model.sites;
      float* checkpoints = work.checkpoints_.data() + x * chunks * k;
      std::fill(carry, carry + k, 0.0f);
      for (int m = 0; m < model.sites; ++m) {
        if (m % kChunk == 0) std::copy(carry, carry + k, checkpoints + std::size_t(m / kChunk) * k);
        totals[m] =
            forward_step(model.alleles + std::size_t(m) * k, k, emission(alleles[m], model.error),
                         into(model, m == 0 ? 1.0f : totals[m - 1], m), carry, kNoPrior);
      }
    }
  }

  // y of both haplotypes at the sites [first, last) of one chunk, into the
  // chunk rows, with the bits of the forward pass.
  TSL_KERNEL_INLINE static void recompute(const CopyingModel<float>& model, const PairAlleles& pair,
                                          PhasingWorkspace& work, int first, int last) {
    const int k = model.states;
    const std::size_t chunks = (static_cast<std::size_t>(model.sites) + kChunk - 1) / kChunk;
    for (int x = 0; x < 2; ++x) {
      const int8_t* alleles = observed(pair, x);
      const float* totals = work.totals_.data() + x * model.sites;
      const float* start =
          work.checkpoints_.data() + (x * chunks + std::size_t(first / kChunk)) * k;
      float* rows = work.chunk_.data() + std::size_t(x) * kChunk * k;
      for (int m = first; m < last; ++m) {
        float* row = rows + std::size_t(m - first) * k;
        const float* previous = m == first ? start : row - k;
        std::copy(previous, previous + k, row);
        forward_step(model.alleles + std::size_t(m) * k, k, emission(alleles[m], model.error),
                     into(model, m == 0 ? 1.0f : totals[m - 1], m), row, kNoPrior);
      }
    }
  }

  TSL_KERNEL_INLINE static void score(const CopyingModel<float>& model, const PairAlleles& pair,
                                      PhasingWorkspace& work, const PairScores& out) {
    if (pair.hets > 0) out.switch_prob[0] = 0.0f;
    if (pair.hets <= 1 && pair.missing == 0) return;
    const int k = model.states;
    work.reserve(model.sites, k);
    forward(model, pair, work);
    float* h[2] = {work.carry_.data(), work.carry_.data() + k};
    float* back[2] = {work.back_.data(), work.back_.data() + k};
    std::fill(h[0], h[0] + 2 * k, 0.0f);
    Transition<float> t[2] = {{0.0f, 1.0f}, {0.0f, 1.0f}};
    int het = pair.hets - 1;
    int missing = pair.missing - 1;
    for (int m = model.sites - 1; m >= 0; --m) {
      const int first = m / kChunk * kChunk;
      if (m == model.sites - 1 || (m + 1) % kChunk == 0) recompute(model, pair, work, first, m + 1);
      const uint8_t* alleles = model.alleles + std::size_t(m) * k;
      const Emission<float> e[2] = {emission(pair.a[m], model.error),
                                    emission(pair.b[m], model.error)};
      const bool boundary = het >= 1 && pair.het_sites[het] == m + 1;
      const bool unknown = missing >= 0 && pair.missing_sites[missing] == m;
      float total[2];
      if (boundary || unknown) {
        const float* y[2] = {work.chunk_.data() + std::size_t(m - first) * k,
                             work.chunk_.data() + (std::size_t(kChunk) + (m - first)) * k};
        for (int x = 0; x < 2; ++x) back_step(k, t[x], h[x], back[x]);
        if (boundary) out.switch_prob[het--] = switch_probability(alleles, k, y, back);
        if (unknown) {
          for (int x = 0; x < 2; ++x) {
            const float one = lane_dot(alleles, true, y[x], back[x], k);
            const float all = lane_dot(alleles, false, y[x], back[x], k);
            (x == 0 ? out.missing_a : out.missing_b)[missing] = clamp01(one / all);
          }
          --missing;
        }
        for (int x = 0; x < 2; ++x) total[x] = emit_step(alleles, k, e[x], back[x], h[x]);
      } else {
        for (int x = 0; x < 2; ++x) total[x] = forward_step(alleles, k, e[x], t[x], h[x], kNoPrior);
      }
      if (m > 0)
        for (int x = 0; x < 2; ++x) t[x] = transition(model.switches[m], total[x], k);
    }
  }

  // The switch probability at the boundary after the site whose y and b
  // (both haplotypes) are given: L(x->y) = y_x . b_y up to factors that
  // cancel.
  TSL_KERNEL_INLINE static float switch_probability(const uint8_t* alleles, int k,
                                                    const float* const (&y)[2],
                                                    float* const (&back)[2]) {
    const double aa = lane_dot(alleles, false, y[0], back[0], k);
    const double bb = lane_dot(alleles, false, y[1], back[1], k);
    const double ab = lane_dot(alleles, false, y[0], back[1], k);
    const double ba = lane_dot(alleles, false, y[1], back[0], k);
    const double stay = aa * bb;
    const double change = ab * ba;
    return stay + change > 0 ? static_cast<float>(change / (stay + change)) : 0.0f;
  }
};

namespace {

void initial_baseline(const CopyingModel<float>& model, const int8_t* genotypes,
                      PhasingWorkspace& work, uint8_t* a, uint8_t* b) {
  PhasingKernel::initial(model, genotypes, work, a, b);
}

void score_baseline(const CopyingModel<float>& model, const PairAlleles& pair,
                    PhasingWorkspace& work, const PairScores& out) {
  PhasingKernel::score(model, pair, work, out);
}

#if TSL_HMM_AVX2_PATH
[[gnu::target("avx2")]] void initial_avx2(const CopyingModel<float>& model, const int8_t* genotypes,
                                          PhasingWorkspace& work, uint8_t* a, uint8_t* b) {
  PhasingKernel::initial(model, genotypes, work, a, b);
}

[[gnu::target("avx2")]] void score_avx2(const CopyingModel<float>& model, const PairAlleles& pair,
                                        PhasingWorkspace& work, const PairScores& out) {
  PhasingKernel::score(model, pair, work, out);
}
#endif

}  // namespace

void initial_phase(KernelPath path, const CopyingModel<float>& model, const int8_t* genotypes,
                   PhasingWorkspace& work, uint8_t* a, uint8_t* b) {
#if TSL_HMM_AVX2_PATH
  if (path == KernelPath::kAvx2) return initial_avx2(model, genotypes, work, a, b);
#endif
  (void)path;
  initial_baseline(model, genotypes, work, a, b);
}

void score_pair(KernelPath path, const CopyingModel<float>& model, const PairAlleles& pair,
                PhasingWorkspace& work, const PairScores& out) {
#if TSL_HMM_AVX2_PATH
  if (path == KernelPath::kAvx2) return score_avx2(model, pair, work, out);
#endif
  (void)path;
  score_baseline(model, pair, work, out);
}

}  // namespace tessellar::hmm
