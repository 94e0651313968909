// The instruction-set paths of the copying kernel. impute_haplotype and
// state_posteriors take the fastest path that the processor has; these
// declarations name a path, so that the tests can check that every path
// gives the same bits.
#pragma once

#include "hmm/copying_model.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define TSL_HMM_AVX2_PATH 1
#else
#define TSL_HMM_AVX2_PATH 0
#endif

namespace tessellar::hmm {

enum class KernelPath {
  kBaseline,  // the compiler's baseline instruction set
  kAvx2,      // AVX2 (x86-64 only); no fused multiply-adds
};

// Whether this build and processor can take the path.
bool path_available(KernelPath path);

// The path that impute_haplotype, impute_haplotypes and state_posteriors
// take: AVX2 where available.
KernelPath fastest_path();

// impute_haplotype, impute_haplotypes and state_posteriors along the given path, which must be
// available.
template <class Real>
double impute_haplotype(KernelPath path, const CopyingModel<Real>& model,
                        const UntypedSites<Real>& untyped, const int8_t* observed,
                        CopyingWorkspace<Real>& work, const HaplotypeDoses<Real>& out);
template <class Real>
void impute_haplotypes(KernelPath path, const CopyingModel<Real>& model,
                       const UntypedSites<Real>& untyped, int count, const int8_t* const* observed,
                       CopyingBatchWorkspace<Real>& work, const HaplotypeDoses<Real>* out,
                       double* log_likelihood);
template <class Real>
double state_posteriors(KernelPath path, const CopyingModel<Real>& model, const int8_t* observed,
                        CopyingWorkspace<Real>& work, Real* posterior);

}  // namespace tessellar::hmm
