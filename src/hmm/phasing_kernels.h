// The per-sample passes of the phasing (phasing.h): the greedy first phase
// of a sample against the reference haplotypes, and one round's
// forward-backward of its two haplotypes over its chosen states, which
// gives the probability of a phase switch at each heterozygote and of
// allele 1 at each missing genotype. The model is the copying model of
// copying_model.h with the states' alleles packed 16 to a word. Kernels in
// its sense: inputs explicit, results into buffers the caller owns, nothing
// allocated once the workspace has room, every sum over states in the fixed
// lanes of copying_steps.h (the same bits on every path).
#pragma once

#include <cstdint>
#include <vector>

#include "hmm/copying_paths.h"

namespace tessellar::hmm {

// The alleles of 8 states at one site: state 8 q + l's allele is bit l of
// plane q's byte; bits past the last state are 0. Planes come in pairs, one
// block of 16 states (kBlock) per pair.
using AlleleByte = uint8_t;
inline constexpr int kBlock = 16;

// The blocks of 16 that hold states.
inline int blocks_of(int states) {
  return (states + kBlock - 1) / kBlock;
}

// The bytes that the alleles of states x sites take packed.
inline std::size_t packed_size(int states, int sites) {
  return 2 * static_cast<std::size_t>(blocks_of(states)) * static_cast<std::size_t>(sites);
}

// The bytes of one site: plane q's at bytes[q * stride].
struct SiteAlleles {
  const AlleleByte* bytes = nullptr;
  std::size_t stride = 0;
  AlleleByte plane(int q) const { return bytes[static_cast<std::size_t>(q) * stride]; }
};

// The copying model over `states` states with packed alleles.
struct PackedStates {
  int sites = 0;
  int states = 0;                       // at least 1
  const AlleleByte* alleles = nullptr;  // [packed_size(states, sites)]: plane q's byte at site
                                        // m at alleles[q * sites + m]
  const float* switches = nullptr;      // [sites]: as in CopyingModel
  float error = 0;
  SiteAlleles at(int m) const { return {alleles + m, static_cast<std::size_t>(sites)}; }
};

// Packs the alleles of `states` haplotypes over `sites` sites: rows[j]
// [sites] holds state j's alleles (0 or 1); out receives
// [packed_size(states, sites)] bytes laid out as in PackedStates.
void pack_states(const uint8_t* const* rows, int states, int sites, AlleleByte* out);

// Working memory of one thread, grown to the largest window it meets.
class PhasingWorkspace {
 public:
  // Makes room for sites x states (no allocation when it fits).
  void reserve(int sites, int states);

  // The states padded to whole blocks.
  static std::size_t padded(int states) {
    return static_cast<std::size_t>(blocks_of(states)) * kBlock;
  }

 private:
  friend struct PhasingKernel;
  // The forward pass keeps its carry every kChunk sites; the backward pass
  // recomputes one chunk at a time (8, 16, 32 and 64 measured alike).
  static constexpr int kChunk = 16;
  // Values of haplotype a, then b, [2 * padded(states)] per site:
  std::vector<float> carry_;        // the carries
  std::vector<float> back_;         // b of one site
  std::vector<float> checkpoints_;  // [chunks]: the carries entering each chunk
  std::vector<float> chunk_;        // [kChunk]: y of the sites of one chunk
  std::vector<float> totals_;       // [2 * sites]: S of a and of b at every site
};

// The greedy first phase of one sample: the forward passes of its two
// haplotypes a and b over every reference haplotype of model together,
// site by site. At a heterozygote the alleles (a, b) = (0, 1) or (1, 0)
// that are likelier given both predicted state distributions are taken
// ((0, 1) on a tie); a homozygote gives both its allele; a missing
// genotype emits 1 on both, and each haplotype is given its allele likelier
// under its predicted distribution (0 on a tie). genotypes[m] counts allele
// 1 (0, 1, 2; -1 missing); a and b [model.sites] receive 0/1.
void initial_phase(KernelPath path, const PackedStates& model, const int8_t* genotypes,
                   PhasingWorkspace& work, uint8_t* a, uint8_t* b);

// A sample's current haplotypes and the sites that matter.
struct PairAlleles {
  const int8_t* a = nullptr;  // [sites]: alleles 0/1, -1 where the genotype is missing
  const int8_t* b = nullptr;
  int hets = 0;                        // heterozygous sites, ascending
  const int* het_sites = nullptr;      // [hets]
  int missing = 0;                     // missing genotypes, ascending
  const int* missing_sites = nullptr;  // [missing]
};

// What one round gives a sample; the caller owns the buffers.
struct PairScores {
  // [hets]: for heterozygote k >= 1 at site t, the posterior probability of
  // a phase switch between heterozygotes k - 1 and k,
  //   L(a->b) L(b->a) / (L(a->a) L(b->b) + L(a->b) L(b->a)),
  // L(x->y) being the likelihood of haplotype x's alleles before t followed
  // by haplotype y's from t on; 0 for k = 0.
  float* switch_prob = nullptr;
  float* missing_a = nullptr;  // [missing]: P(allele 1) of haplotype a at each missing genotype
  float* missing_b = nullptr;
};

// One round's forward-backward of a sample's two haplotypes over the states
// of model (the states chosen for the sample). With at most one
// heterozygote and no missing genotype there is nothing to score, and no
// pass runs.
void score_pair(KernelPath path, const PackedStates& model, const PairAlleles& pair,
                PhasingWorkspace& work, const PairScores& out);

}  // namespace tessellar::hmm
