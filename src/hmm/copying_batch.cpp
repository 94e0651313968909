// impute_haplotypes: the passes of impute_haplotype for kCopyingBatch study
// haplotypes at once (values of state j for haplotype h at [j * H + h]),
// each haplotype with exactly the arithmetic of the one-haplotype kernel.
// The reference alleles and the carrier lists are read once per batch
// instead of once per haplotype.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "hmm/copying_batch_steps.h"
#include "hmm/copying_model.h"
#include "hmm/copying_paths.h"

namespace tessellar::hmm {

template <class Real>
void CopyingBatchWorkspace<Real>::reserve(int sites, int states) {
  constexpr std::size_t h = kCopyingBatch;
  const std::size_t k = static_cast<std::size_t>(states) * h;
  const std::size_t chunks = (static_cast<std::size_t>(sites) + kChunk - 1) / kChunk;
  if (forward_.size() < kChunk * k) forward_.resize(kChunk * k);
  if (checkpoints_.size() < chunks * k) checkpoints_.resize(chunks * k);
  if (totals_.size() < sites * h) totals_.resize(sites * h);
  if (carry_.size() < 2 * k) carry_.resize(2 * k);
  if (posterior_.size() < 2 * k) posterior_.resize(2 * k);
}

template <class Real>
struct BatchKernel {
  static constexpr int H = kCopyingBatch;
  static constexpr int kChunk = CopyingBatchWorkspace<Real>::kChunk;
  using Work = CopyingBatchWorkspace<Real>;

  // The haplotypes' alleles; lanes past count read as missing.
  struct Batch {
    const CopyingModel<Real>* model;
    const int8_t* const* observed;
    int count;
  };

  TSL_KERNEL_INLINE static BatchEmission<Real, H> emissions(const Batch& b, int m) {
    BatchEmission<Real, H> e;
    for (int h = 0; h < H; ++h) {
      const Emission<Real> one = emission(h < b.count ? b.observed[h][m] : -1, b.model->error);
      e.of[0][h] = one.zero;
      e.of[1][h] = one.one;
    }
    return e;
  }

  // The transitions into site m, from the totals of site m - 1.
  TSL_KERNEL_INLINE static BatchTransition<Real, H> into(const Batch& b, const Work& work, int m) {
    BatchTransition<Real, H> t;
    const int k = b.model->states;
    for (int h = 0; h < H; ++h) {
      const Transition<Real> one =
          m == 0 ? Transition<Real>{Real(0), Real(1) / Real(k)}
                 : transition(b.model->switches[m], work.totals_[(m - 1) * H + h], k);
      t.keep[h] = one.keep;
      t.jump[h] = one.jump;
    }
    return t;
  }

  TSL_KERNEL_INLINE static void forward(const Batch& b, Work& work, double* log_likelihood) {
    const CopyingModel<Real>& model = *b.model;
    const std::size_t kh = std::size_t(model.states) * H;
    Real* carry = work.carry_.data();
    std::fill(carry, carry + kh, Real(0));
    std::fill(log_likelihood, log_likelihood + H, 0.0);
    for (int m = 0; m < model.sites; ++m) {
      if (m % kChunk == 0)
        std::copy(carry, carry + kh, work.checkpoints_.data() + (m / kChunk) * kh);
      Real* total = work.totals_.data() + std::size_t(m) * H;
      batch_forward_step<Real, H>(model.alleles + std::size_t(m) * model.states, model.states,
                                  emissions(b, m), into(b, work, m), carry,
                                  static_cast<Real*>(nullptr), total);
      for (int h = 0; h < H; ++h) log_likelihood[h] += std::log(static_cast<double>(total[h]));
    }
  }

  // x of the chunk [first, last) into the forward array.
  TSL_KERNEL_INLINE static void recompute(const Batch& b, Work& work, int first, int last) {
    const CopyingModel<Real>& model = *b.model;
    const std::size_t kh = std::size_t(model.states) * H;
    Real* carry = work.carry_.data() + kh;
    const Real* checkpoint = work.checkpoints_.data() + (first / kChunk) * kh;
    std::copy(checkpoint, checkpoint + kh, carry);
    Real total[H];
    for (int m = first; m < last; ++m)
      batch_forward_step<Real, H>(model.alleles + std::size_t(m) * model.states, model.states,
                                  emissions(b, m), into(b, work, m), carry,
                                  work.forward_.data() + (m - first) * kh, total);
  }

  using V = typename BatchVector<Real, H>::type;

  // The doses of the untyped sites [first, last) for every haplotype from the
  // posteriors of the typed sites on their left and right and the scales
  // that normalise them; one_sided: left alone.
  TSL_KERNEL_INLINE static void untyped_doses(const UntypedSites<Real>& untyped, int first,
                                              int last, const Real* __restrict left,
                                              const Real* left_scale, const Real* __restrict right,
                                              const Real* right_scale, bool one_sided, int count,
                                              const HaplotypeDoses<Real>* out) {
    for (int u = first; u < last; ++u) {
      const int* carriers = untyped.carriers + untyped.carrier_begin[u];
      const int n = untyped.carrier_begin[u + 1] - untyped.carrier_begin[u];
      V lane[kCarrierLanes][2];
      for (auto& l : lane) l[0] = l[1] = V{};
      const auto add = [&](int l, int state) {
        V v;
        load(v, left + state * H);
        lane[l][0] += v;
        load(v, right + state * H);
        lane[l][1] += v;
      };
      int i = 0;
      for (; i + kCarrierLanes <= n; i += kCarrierLanes)
        for (int l = 0; l < kCarrierLanes; ++l) add(l, carriers[i + l]);
      for (int l = 0; i + l < n; ++l) add(l, carriers[i + l]);
      for (int width = kCarrierLanes / 2; width > 0; width /= 2) {
        for (int l = 0; l < width; ++l) {
          lane[l][0] = lane[l][0] + lane[l + width][0];
          lane[l][1] = lane[l][1] + lane[l + width][1];
        }
      }
      Real sum_left[H], sum_right[H];
      store(sum_left, lane[0][0]);
      store(sum_right, lane[0][1]);
      for (int h = 0; h < count; ++h)
        if (out[h].untyped)
          out[h].untyped[u] =
              untyped_dose(sum_left[h] * left_scale[h], sum_right[h] * right_scale[h],
                           untyped.weight[u], one_sided, untyped.carried[u] != 0);
    }
  }

  TSL_KERNEL_INLINE static void impute(const Batch& b, const UntypedSites<Real>& untyped,
                                       Work& work, const HaplotypeDoses<Real>* out,
                                       double* log_likelihood) {
    const CopyingModel<Real>& model = *b.model;
    const int k = model.states;
    const std::size_t kh = std::size_t(k) * H;
    work.reserve(model.sites, k);
    forward(b, work, log_likelihood);
    bool doses = false;
    for (int h = 0; h < b.count; ++h) doses = doses || (out[h].untyped && untyped.count > 0);
    int pending = doses ? untyped.count : 0;
    Real scale[2][H] = {};  // 1 / posterior totals of sites m and m + 1, by m % 2
    Real* carry = work.carry_.data();
    std::fill(carry, carry + kh, Real(0));
    BatchTransition<Real, H> t;
    std::fill(t.keep, t.keep + H, Real(0));
    std::fill(t.jump, t.jump + H, Real(1));
    for (int m = model.sites - 1; m >= 0; --m) {
      const int first_site = m / kChunk * kChunk;
      if (m == model.sites - 1 || (m + 1) % kChunk == 0) recompute(b, work, first_site, m + 1);
      const BatchEmission<Real, H> e = emissions(b, m);
      Real* posterior = work.posterior_.data() + (m & 1) * kh;
      BackwardSums<Real> sums[H];
      batch_backward_step<Real, H>(model.alleles + std::size_t(m) * k, k, e, t,
                                   work.forward_.data() + (m - first_site) * kh, carry, posterior,
                                   sums);
      for (int h = 0; h < H; ++h) {
        const TypedDoses<Real> d = typed_doses(sums[h], Emission<Real>{e.of[0][h], e.of[1][h]});
        scale[m & 1][h] = d.scale;
        if (h < b.count && out[h].typed) out[h].typed[m] = d.typed;
        if (h < b.count && out[h].left_out) out[h].left_out[m] = d.left_out;
        if (m > 0) {
          const Transition<Real> one = transition(model.switches[m], sums[h].emitted, k);
          t.keep[h] = one.keep;
          t.jump[h] = one.jump;
        }
      }
      if (!doses) continue;
      const Real* here = posterior;
      const Real* next = work.posterior_.data() + ((m + 1) & 1) * kh;
      int first = pending;
      while (first > 0 && untyped.left[first - 1] >= m) --first;
      if (first < pending) {
        const bool last_site = m == model.sites - 1;
        untyped_doses(untyped, first, pending, here, scale[m & 1], last_site ? here : next,
                      last_site ? scale[m & 1] : scale[(m + 1) & 1], last_site, b.count, out);
      }
      if (m == 0 && first > 0)
        untyped_doses(untyped, 0, first, here, scale[0], here, scale[0], true, b.count, out);
      pending = first;
    }
  }
};

namespace {

template <class Real>
void batch_baseline(const typename BatchKernel<Real>::Batch& b, const UntypedSites<Real>& untyped,
                    CopyingBatchWorkspace<Real>& work, const HaplotypeDoses<Real>* out,
                    double* log_likelihood) {
  BatchKernel<Real>::impute(b, untyped, work, out, log_likelihood);
}

#if TSL_HMM_AVX2_PATH
template <class Real>
[[gnu::target("avx2")]] void batch_avx2(const typename BatchKernel<Real>::Batch& b,
                                        const UntypedSites<Real>& untyped,
                                        CopyingBatchWorkspace<Real>& work,
                                        const HaplotypeDoses<Real>* out, double* log_likelihood) {
  BatchKernel<Real>::impute(b, untyped, work, out, log_likelihood);
}
#endif

}  // namespace

template <class Real>
void impute_haplotypes(KernelPath path, const CopyingModel<Real>& model,
                       const UntypedSites<Real>& untyped, int count, const int8_t* const* observed,
                       CopyingBatchWorkspace<Real>& work, const HaplotypeDoses<Real>* out,
                       double* log_likelihood) {
  const typename BatchKernel<Real>::Batch b{&model, observed, count};
  double likelihoods[kCopyingBatch];
#if TSL_HMM_AVX2_PATH
  if (path == KernelPath::kAvx2)
    batch_avx2(b, untyped, work, out, likelihoods);
  else
#endif
    batch_baseline(b, untyped, work, out, likelihoods);
  (void)path;
  if (log_likelihood) std::copy(likelihoods, likelihoods + count, log_likelihood);
}

template <class Real>
void impute_haplotypes(const CopyingModel<Real>& model, const UntypedSites<Real>& untyped,
                       int count, const int8_t* const* observed, CopyingBatchWorkspace<Real>& work,
                       const HaplotypeDoses<Real>* out, double* log_likelihood) {
  impute_haplotypes(fastest_path(), model, untyped, count, observed, work, out, log_likelihood);
}

#define TSL_HMM_INSTANTIATE(Real)                                                                  \
  template class CopyingBatchWorkspace<Real>;                                                      \
  template void impute_haplotypes(const CopyingModel<Real>&, const UntypedSites<Real>&, int,       \
                                  const int8_t* const*, CopyingBatchWorkspace<Real>&,              \
                                  const HaplotypeDoses<Real>*, double*);                           \
  template void impute_haplotypes(                                                                 \
      KernelPath, const CopyingModel<Real>&, const UntypedSites<Real>&, int, const int8_t* const*, \
      CopyingBatchWorkspace<Real>&, const HaplotypeDoses<Real>*, double*);
TSL_HMM_INSTANTIATE(float)
TSL_HMM_INSTANTIATE(double)
#undef TSL_HMM_INSTANTIATE

}  // namespace tessellar::hmm
