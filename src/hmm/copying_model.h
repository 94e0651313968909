// The haploid haplotype-copying model (Li and Stephens): a study haplotype is
// a mosaic of reference haplotypes (the states). At each typed site it copies
// one state; between typed sites m-1 and m it jumps with probability
// switches[m] to a state drawn uniformly, else keeps its state; the observed
// allele differs from the copied one with probability error, and a missing
// allele emits 1. Forward-backward runs at the typed sites only, rescaled at
// every site so that a whole chromosome cannot underflow; the state
// probabilities reach the untyped sites by linear interpolation between the
// flanking typed sites.
//
// Everything here is a kernel: inputs are explicit, outputs go to buffers
// the caller owns, and nothing is allocated per call once the workspace has
// room. Every sum over states runs in one fixed order, so results do not
// depend on the thread that computes them, the instruction set it uses
// (copying_paths.h), or the batch a haplotype is imputed in. Real is float
// (the engine) or double (the tests).
#pragma once

#include <cstdint>
#include <vector>

namespace tessellar::hmm {

// The reference side of one window: `states` reference haplotypes at `sites`
// typed sites.
template <class Real>
struct CopyingModel {
  int sites = 0;                     // typed sites, at least 1
  int states = 0;                    // reference haplotypes, at least 1
  const uint8_t* alleles = nullptr;  // [sites * states]: allele (0/1) of state j at site m is
                                     // alleles[m * states + j]
  const Real* switches = nullptr;    // [sites]: jump probability from site m-1 to m
                                     // (switches[0] is not read)
  Real error = 0;                    // probability that the observed allele is the other one
                                     // (0 < error < 1)
};

// The untyped sites of the window, in position order. Site u lies after typed
// site left[u] (-1: before the first typed site) and before left[u] + 1
// (sites: after the last); its state probabilities are
// (1 - weight[u]) P(left) + weight[u] P(left + 1), the posteriors of the two
// flanking typed sites (only the one that exists at the window's ends).
// Its alleles are given sparsely: the states listed carry `carried[u]`, all
// others the other allele.
template <class Real>
struct UntypedSites {
  int count = 0;
  const int* left = nullptr;           // [count]
  const Real* weight = nullptr;        // [count]: 0 at typed site left[u], 1 at left[u] + 1
  const int* carrier_begin = nullptr;  // [count + 1]: carriers of site u are
                                       // carriers[carrier_begin[u] .. carrier_begin[u + 1])
  const int* carriers = nullptr;       // state indexes, ascending within a site
  const uint8_t* carried = nullptr;    // [count]: the allele (0/1) that the listed states carry
};

// Working memory of one thread, grown to the largest window it meets.
template <class Real>
class CopyingWorkspace {
 public:
  // Makes room for a window of sites x states (no allocation when it fits).
  void reserve(int sites, int states);

 private:
  template <class R>
  friend struct CopyingKernel;
  // The forward pass keeps only its carry at the start of every chunk of
  // kChunk sites; the backward pass recomputes one chunk at a time.
  static constexpr int kChunk = 64;
  std::vector<Real> forward_;      // [kChunk * states]: x of the sites of one chunk
  std::vector<Real> checkpoints_;  // [chunks * states]: the forward carry entering each chunk
  std::vector<Real> totals_;       // [sites]: S of every site
  std::vector<Real> carry_;        // [2 * states]: the backward and the forward carry
  std::vector<Real> posterior_;    // [2 * states]: the posteriors of two neighbouring typed sites
  std::vector<Real> scratch_;      // [2 * states]: the backward step's zero and one terms
  std::vector<Real> pairs_;        // [2 * states]: the two posteriors interleaved
};

// What one study haplotype gets; each pointer may be null when not wanted.
template <class Real>
struct HaplotypeDoses {
  Real* typed = nullptr;     // [sites]: P(allele 1) at each typed site given all observed alleles
  Real* left_out = nullptr;  // [sites]: the same with the site's own allele left out (the
                             // leave-one-out check)
  Real* untyped = nullptr;   // [untyped.count]: P(allele 1) at each untyped site
};

// Imputes one study haplotype: observed[m] is its allele (0/1) at typed site m
// or -1 when missing. Returns the log-likelihood of the observed alleles.
template <class Real>
double impute_haplotype(const CopyingModel<Real>& model, const UntypedSites<Real>& untyped,
                        const int8_t* observed, CopyingWorkspace<Real>& work,
                        const HaplotypeDoses<Real>& out);

// How many study haplotypes impute_haplotypes takes at once.
inline constexpr int kCopyingBatch = 8;

// Working memory of one thread for impute_haplotypes, grown to the largest
// window it meets.
template <class Real>
class CopyingBatchWorkspace {
 public:
  // Makes room for a window of sites x states (no allocation when it fits).
  void reserve(int sites, int states);

 private:
  template <class R>
  friend struct BatchKernel;
  static constexpr int kChunk = 8;  // sites recomputed at a time (measured best)
  // As in CopyingWorkspace, with kCopyingBatch values per state (state j of
  // haplotype h at [j * kCopyingBatch + h]):
  std::vector<Real> forward_;      // kChunk sites
  std::vector<Real> checkpoints_;  // one site per chunk
  std::vector<Real> totals_;       // [sites * kCopyingBatch]
  std::vector<Real> carry_;        // two sites: the backward and the forward carry
  std::vector<Real> posterior_;    // two sites
};

// Imputes count study haplotypes of one window together (1 <= count <=
// kCopyingBatch), about twice as fast per full batch as one at a time (the
// reference alleles and carrier lists are read once for all), each with
// exactly the bits impute_haplotype gives it: observed[h] and
// out[h] are haplotype h's alleles and doses as there; log_likelihood (may be
// null) receives the count log-likelihoods.
template <class Real>
void impute_haplotypes(const CopyingModel<Real>& model, const UntypedSites<Real>& untyped,
                       int count, const int8_t* const* observed, CopyingBatchWorkspace<Real>& work,
                       const HaplotypeDoses<Real>* out, double* log_likelihood);

// The posterior state probabilities at every typed site,
// posterior[m * states + j] (each site sums to 1); the tests compare them with
// an enumeration of every copying path. Returns the log-likelihood.
template <class Real>
double state_posteriors(const CopyingModel<Real>& model, const int8_t* observed,
                        CopyingWorkspace<Real>& work, Real* posterior);

}  // namespace tessellar::hmm
