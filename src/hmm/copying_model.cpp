// Forward-backward of the haploid copying model over one window, and the
// doses at typed and untyped sites drawn from it. The passes are compiled
// twice, for the baseline instruction set and for AVX2, and chosen at run
// time; both give the same bits (fixed lanes, no fused multiply-adds).
#include "hmm/copying_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "hmm/copying_paths.h"
#include "hmm/copying_steps.h"

namespace tessellar::hmm {

template <class Real>
void CopyingWorkspace<Real>::reserve(int sites, int states) {
  const std::size_t k = static_cast<std::size_t>(states);
  const std::size_t chunks = (static_cast<std::size_t>(sites) + kChunk - 1) / kChunk;
  if (forward_.size() < kChunk * k) forward_.resize(kChunk * k);
  if (checkpoints_.size() < chunks * k) checkpoints_.resize(chunks * k);
  if (totals_.size() < static_cast<std::size_t>(sites)) totals_.resize(sites);
  if (carry_.size() < 2 * k) carry_.resize(2 * k);
  if (posterior_.size() < 2 * k) posterior_.resize(2 * k);
  if (scratch_.size() < 2 * k) scratch_.resize(2 * k);
  if (pairs_.size() < 2 * k) pairs_.resize(2 * k);
}

namespace {

// The posteriors of two typed sites side by side: pairs[2j] = left[j],
// pairs[2j + 1] = right[j].
template <class Real>
TSL_KERNEL_INLINE void interleave(const Real* __restrict left, const Real* __restrict right,
                                  int states, Real* __restrict pairs) {
  for (int j = 0; j < states; ++j) {
    pairs[2 * j] = left[j];
    pairs[2 * j + 1] = right[j];
  }
}

// A pair of values added as one (GCC and Clang vector extension): the left
// and right posteriors of a state, loaded together.
template <class Real>
struct PairOf;
template <>
struct PairOf<float> {
  typedef float type __attribute__((vector_size(2 * sizeof(float))));
};
template <>
struct PairOf<double> {
  typedef double type __attribute__((vector_size(2 * sizeof(double))));
};

// The sums of both sides of pairs over the states listed in carriers[0 .. n).
template <class Real>
struct PairSum {
  Real left = 0;
  Real right = 0;
};

template <class Real>
TSL_KERNEL_INLINE PairSum<Real> carrier_sum(const Real* __restrict pairs,
                                            const int* __restrict carriers, int n) {
  using Pair = typename PairOf<Real>::type;
  Pair lane[kCarrierLanes] = {};
  const auto add = [&](int l, int state) {
    Pair pair;
    std::memcpy(&pair, pairs + 2 * state, sizeof pair);
    lane[l] += pair;
  };
  int i = 0;
  for (; i + kCarrierLanes <= n; i += kCarrierLanes)
    for (int l = 0; l < kCarrierLanes; ++l) add(l, carriers[i + l]);
  for (int l = 0; i + l < n; ++l) add(l, carriers[i + l]);
  for (int width = kCarrierLanes / 2; width > 0; width /= 2)
    for (int l = 0; l < width; ++l) lane[l] = lane[l] + lane[l + width];
  return {lane[0][0], lane[0][1]};
}

// The doses of the untyped sites [first, last) from pairs, whose sides are
// normalised by left_scale and right_scale; one_sided: the sites lie beyond
// the window's typed sites and take the left side alone.
template <class Real>
TSL_KERNEL_INLINE void untyped_doses(const UntypedSites<Real>& untyped, int first, int last,
                                     const Real* pairs, Real left_scale, Real right_scale,
                                     bool one_sided, Real* dose) {
  for (int u = first; u < last; ++u) {
    const int begin = untyped.carrier_begin[u];
    const PairSum<Real> s =
        carrier_sum(pairs, untyped.carriers + begin, untyped.carrier_begin[u + 1] - begin);
    dose[u] = untyped_dose(s.left * left_scale, s.right * right_scale, untyped.weight[u], one_sided,
                           untyped.carried[u] != 0);
  }
}

}  // namespace

// The passes over one window; a friend of the workspace. Everything is
// inlined into the instruction-set paths below.
template <class Real>
struct CopyingKernel {
  static constexpr int kChunk = CopyingWorkspace<Real>::kChunk;

  // The transition into site m (the uniform start at site 0).
  TSL_KERNEL_INLINE static Transition<Real> into(const CopyingModel<Real>& model,
                                                 const CopyingWorkspace<Real>& work, int m) {
    if (m == 0) return {Real(0), Real(1) / Real(model.states)};
    return transition(model.switches[m], work.totals_[m - 1], model.states);
  }

  // The forward pass: the totals of every site and the carry entering every
  // chunk. Returns the log-likelihood.
  TSL_KERNEL_INLINE static double forward(const CopyingModel<Real>& model, const int8_t* observed,
                                          CopyingWorkspace<Real>& work) {
    const int k = model.states;
    Real* carry = work.carry_.data();
    std::fill(carry, carry + k, Real(0));
    double log_likelihood = 0;
    for (int m = 0; m < model.sites; ++m) {
      if (m % kChunk == 0)
        std::copy(carry, carry + k, work.checkpoints_.data() + std::size_t(m / kChunk) * k);
      const Real total =
          forward_step(model.alleles + std::size_t(m) * k, k, emission(observed[m], model.error),
                       into(model, work, m), carry, static_cast<Real*>(nullptr));
      work.totals_[m] = total;
      log_likelihood += std::log(static_cast<double>(total));
    }
    return log_likelihood;
  }

  // x of the sites of the chunk [first, last) into the forward array, the
  // same bits as the forward pass.
  TSL_KERNEL_INLINE static void recompute(const CopyingModel<Real>& model, const int8_t* observed,
                                          CopyingWorkspace<Real>& work, int first, int last) {
    const int k = model.states;
    Real* carry = work.carry_.data() + k;
    const Real* checkpoint = work.checkpoints_.data() + std::size_t(first / kChunk) * k;
    std::copy(checkpoint, checkpoint + k, carry);
    for (int m = first; m < last; ++m)
      forward_step(model.alleles + std::size_t(m) * k, k, emission(observed[m], model.error),
                   into(model, work, m), carry, work.forward_.data() + std::size_t(m - first) * k);
  }

  // Buffers for the backward pass with its carry cleared.
  TSL_KERNEL_INLINE static BackwardBuffers<Real> start_backward(CopyingWorkspace<Real>& work,
                                                                int k) {
    BackwardBuffers<Real> buffers{work.carry_.data(), nullptr, work.scratch_.data(),
                                  work.scratch_.data() + k};
    std::fill(buffers.carry, buffers.carry + k, Real(0));
    return buffers;
  }

  // The backward step at site m into posterior slot m % 2, recomputing the
  // forward chunk when m is its last site; t is the transition into site
  // m + 1 and becomes the one into site m.
  TSL_KERNEL_INLINE static BackwardSums<Real> backward_site(const CopyingModel<Real>& model,
                                                            const int8_t* observed, int m,
                                                            Emission<Real> e, Transition<Real>& t,
                                                            CopyingWorkspace<Real>& work,
                                                            BackwardBuffers<Real>& buffers) {
    const int k = model.states;
    const int first = m / kChunk * kChunk;
    if (m == model.sites - 1 || (m + 1) % kChunk == 0)
      recompute(model, observed, work, first, m + 1);
    buffers.posterior = work.posterior_.data() + (m & 1) * k;
    const BackwardSums<Real> sums =
        backward_step(model.alleles + std::size_t(m) * k, k, e, t,
                      work.forward_.data() + std::size_t(m - first) * k, buffers);
    if (m > 0) t = transition(model.switches[m], sums.emitted, k);
    return sums;
  }

  TSL_KERNEL_INLINE static double impute(const CopyingModel<Real>& model,
                                         const UntypedSites<Real>& untyped, const int8_t* observed,
                                         CopyingWorkspace<Real>& work,
                                         const HaplotypeDoses<Real>& out) {
    work.reserve(model.sites, model.states);
    const int k = model.states;
    const double log_likelihood = forward(model, observed, work);
    const bool doses = out.untyped && untyped.count > 0;
    int pending = doses ? untyped.count : 0;  // untyped sites [0, pending) still to do
    Real* pairs = work.pairs_.data();
    Real next_scale = 0;  // 1 / the posterior total of site m + 1
    BackwardBuffers<Real> buffers = start_backward(work, k);
    Transition<Real> t{Real(0), Real(1)};
    for (int m = model.sites - 1; m >= 0; --m) {
      const Emission<Real> e = emission(observed[m], model.error);
      const BackwardSums<Real> s = backward_site(model, observed, m, e, t, work, buffers);
      const TypedDoses<Real> d = typed_doses(s, e);
      if (out.typed) out.typed[m] = d.typed;
      if (out.left_out) out.left_out[m] = d.left_out;
      if (!doses) continue;
      const Real* here = buffers.posterior;
      const Real* next = work.posterior_.data() + ((m + 1) & 1) * k;
      const Real scale = d.scale;
      int first = pending;
      while (first > 0 && untyped.left[first - 1] >= m) --first;
      if (first < pending) {
        const bool last_site = m == model.sites - 1;
        interleave(here, last_site ? here : next, k, pairs);
        untyped_doses(untyped, first, pending, pairs, scale, last_site ? scale : next_scale,
                      last_site, out.untyped);
      }
      if (m == 0 && first > 0) {
        interleave(here, here, k, pairs);
        untyped_doses(untyped, 0, first, pairs, scale, scale, true, out.untyped);
      }
      pending = first;
      next_scale = scale;
    }
    return log_likelihood;
  }

  TSL_KERNEL_INLINE static double posteriors(const CopyingModel<Real>& model,
                                             const int8_t* observed, CopyingWorkspace<Real>& work,
                                             Real* posterior) {
    work.reserve(model.sites, model.states);
    const int k = model.states;
    const double log_likelihood = forward(model, observed, work);
    BackwardBuffers<Real> buffers = start_backward(work, k);
    Transition<Real> t{Real(0), Real(1)};
    for (int m = model.sites - 1; m >= 0; --m) {
      const Emission<Real> e = emission(observed[m], model.error);
      const BackwardSums<Real> s = backward_site(model, observed, m, e, t, work, buffers);
      const Real total = s.zero * e.zero + s.one * e.one;
      Real* row = posterior + std::size_t(m) * k;
      for (int j = 0; j < k; ++j) row[j] = buffers.posterior[j] / total;
    }
    return log_likelihood;
  }
};

namespace {

template <class Real>
double impute_baseline(const CopyingModel<Real>& model, const UntypedSites<Real>& untyped,
                       const int8_t* observed, CopyingWorkspace<Real>& work,
                       const HaplotypeDoses<Real>& out) {
  return CopyingKernel<Real>::impute(model, untyped, observed, work, out);
}

template <class Real>
double posteriors_baseline(const CopyingModel<Real>& model, const int8_t* observed,
                           CopyingWorkspace<Real>& work, Real* posterior) {
  return CopyingKernel<Real>::posteriors(model, observed, work, posterior);
}

#if TSL_HMM_AVX2_PATH
template <class Real>
[[gnu::target("avx2")]] double impute_avx2(const CopyingModel<Real>& model,
                                           const UntypedSites<Real>& untyped,
                                           const int8_t* observed, CopyingWorkspace<Real>& work,
                                           const HaplotypeDoses<Real>& out) {
  return CopyingKernel<Real>::impute(model, untyped, observed, work, out);
}

template <class Real>
[[gnu::target("avx2")]] double posteriors_avx2(const CopyingModel<Real>& model,
                                               const int8_t* observed, CopyingWorkspace<Real>& work,
                                               Real* posterior) {
  return CopyingKernel<Real>::posteriors(model, observed, work, posterior);
}
#endif

}  // namespace

KernelPath fastest_path() {
  static const KernelPath path =
      path_available(KernelPath::kAvx2) ? KernelPath::kAvx2 : KernelPath::kBaseline;
  return path;
}

bool path_available(KernelPath path) {
  if (path == KernelPath::kBaseline) return true;
#if TSL_HMM_AVX2_PATH
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

template <class Real>
double impute_haplotype(KernelPath path, const CopyingModel<Real>& model,
                        const UntypedSites<Real>& untyped, const int8_t* observed,
                        CopyingWorkspace<Real>& work, const HaplotypeDoses<Real>& out) {
#if TSL_HMM_AVX2_PATH
  if (path == KernelPath::kAvx2) return impute_avx2(model, untyped, observed, work, out);
#endif
  (void)path;
  return impute_baseline(model, untyped, observed, work, out);
}

template <class Real>
double state_posteriors(KernelPath path, const CopyingModel<Real>& model, const int8_t* observed,
                        CopyingWorkspace<Real>& work, Real* posterior) {
#if TSL_HMM_AVX2_PATH
  if (path == KernelPath::kAvx2) return posteriors_avx2(model, observed, work, posterior);
#endif
  (void)path;
  return posteriors_baseline(model, observed, work, posterior);
}

template <class Real>
double impute_haplotype(const CopyingModel<Real>& model, const UntypedSites<Real>& untyped,
                        const int8_t* observed, CopyingWorkspace<Real>& work,
                        const HaplotypeDoses<Real>& out) {
  return impute_haplotype(fastest_path(), model, untyped, observed, work, out);
}

template <class Real>
double state_posteriors(const CopyingModel<Real>& model, const int8_t* observed,
                        CopyingWorkspace<Real>& work, Real* posterior) {
  return state_posteriors(fastest_path(), model, observed, work, posterior);
}

#define TSL_HMM_INSTANTIATE(Real)                                                         \
  template class CopyingWorkspace<Real>;                                                  \
  template double impute_haplotype(const CopyingModel<Real>&, const UntypedSites<Real>&,  \
                                   const int8_t*, CopyingWorkspace<Real>&,                \
                                   const HaplotypeDoses<Real>&);                          \
  template double impute_haplotype(KernelPath, const CopyingModel<Real>&,                 \
                                   const UntypedSites<Real>&, const int8_t*,              \
                                   CopyingWorkspace<Real>&, const HaplotypeDoses<Real>&); \
  template double state_posteriors(const CopyingModel<Real>&, const int8_t*,              \
                                   CopyingWorkspace<Real>&, Real*);                       \
  template double state_posteriors(KernelPath, const CopyingModel<Real>&, const int8_t*,  \
                                   CopyingWorkspace<Real>&, Real*);
TSL_HMM_INSTANTIATE(float)
TSL_HMM_INSTANTIATE(double)
#undef TSL_HMM_INSTANTIATE

}  // namespace tessellar::hmm
