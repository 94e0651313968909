// Phasing of the unphased study genotypes of one window with the haploid
// copying model. Each sample is first phased greedily against the
// reference haplotypes (phasing_kernels.h); then, for a fixed number of
// rounds, each sample's two haplotypes are run over a few hundred states
// chosen among the reference haplotypes and the other samples' current
// haplotypes (their neighbours in the prefix orders, prefix_orders.h), and
// the phase is switched at every heterozygote where a switch is the likelier
// (posterior above one half). Every sample of a round sees the haplotypes
// that the previous round left, so samples run in parallel with the same
// result for any number of workers. The final round's switch probabilities
// give the haplotype pairs drawn for phase averaging (phase_draws.h).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "hmm/copying_paths.h"
#include "hmm/phasing_kernels.h"
#include "hmm/prefix_orders.h"

namespace tessellar::hmm {

// The genotypes of one window and its reference side; the caller owns the
// arrays.
struct GenotypeWindow {
  int sites = 0;                       // typed sites
  int references = 0;                  // reference haplotypes, at least 1
  const uint8_t* reference = nullptr;  // [sites * references]: allele (0/1) of reference
                                       // haplotype j at site m at [m * references + j]
  int samples = 0;                     // study samples
  const int8_t* genotypes = nullptr;   // [samples * sites]: copies of allele 1 (0, 1, 2; -1
                                       // missing) of sample i at site m at [i * sites + m]
  const float* switches = nullptr;     // [sites]: jump probability from site m - 1 to m
                                       // (switches[0] is not read)
  float error = 0;                     // mismatch probability (0 < error < 1)
};

struct PhasingSettings {
  int rounds = 6;      // rounds after the greedy first phase
  int every = 8;       // typed sites between the prefix orders that choose the states
  StateChoice choice;  // neighbours per order and states per sample
};

// A window's phased samples.
struct PhasedWindow {
  int sites = 0;
  int samples = 0;
  // [2 * samples * sites]: allele (0/1) of haplotype x (0, 1) of sample i at
  // site m at [(2 i + x) * sites + m]; a missing genotype holds the alleles
  // likelier under the last round's posteriors.
  std::vector<uint8_t> haplotypes;
  // The heterozygous sites of sample i, ascending:
  // het_sites[het_begin[i] .. het_begin[i + 1]).
  std::vector<int> het_begin;
  std::vector<int> het_sites;
  // Per heterozygote (indexed as het_sites): the probability that the phase
  // of the haplotypes above is switched between the sample's previous
  // heterozygote and this one (0 at its first, and without rounds).
  std::vector<float> switch_prob;

  const uint8_t* haplotype(int i, int x) const {
    return haplotypes.data() + (2 * static_cast<std::size_t>(i) + x) * sites;
  }
};

// Runs body(worker, item) once for every item in [0, items), worker being
// below the number of workers the phaser was made for; returns when all
// calls have returned.
using ParallelFor =
    std::function<void(int items, const std::function<void(int worker, int item)>& body)>;

// A ParallelFor that runs every item on the calling thread, as worker 0.
ParallelFor serial_for();

class WindowPhaser {
 public:
  // Working memory for `workers` workers (1 or more), whose kernels take
  // instruction-set path `path` (which must be available).
  explicit WindowPhaser(int workers, KernelPath path = fastest_path());

  // Phases the samples of `window` into out (whose memory is reused). The
  // result depends on window and settings alone: not on the workers, the
  // path, or the windows phased before.
  void phase(const GenotypeWindow& window, const PhasingSettings& settings,
             const ParallelFor& parallel, PhasedWindow& out);

 private:
  // A worker's memory for one sample.
  struct Worker {
    PhasingWorkspace work;
    StateChooser chooser;
    std::vector<int> states;
    std::vector<const uint8_t*> rows;  // [states]: the chosen states' haplotypes
    std::vector<AlleleByte> alleles;   // their alleles, packed
    std::vector<int8_t> pair;          // [2 * sites]: the sample's haplotypes, -1 where missing
    std::vector<float> switch_prob;
    std::vector<float> missing;  // [2 * missing genotypes]
  };
  void start(const GenotypeWindow& window, PhasedWindow& out);
  void gather_haplotypes(const GenotypeWindow& window);
  const uint8_t* haplotype_row(int h) const;
  void round_sample(Worker& w, int i, bool last, const PhasingSettings& settings,
                    PhasedWindow& out);
  void apply(const Worker& w, int i, bool last, PhasedWindow& out);

  KernelPath path_;
  const GenotypeWindow* window_ = nullptr;
  std::vector<Worker> workers_;
  std::vector<int> missing_begin_;    // [samples + 1]
  std::vector<int> missing_sites_;    // the missing genotypes of each sample, ascending
  std::vector<uint8_t> current_;      // the haplotypes a round reads, laid out as in PhasedWindow
  std::vector<uint8_t> next_;         // the haplotypes it writes
  std::vector<uint8_t> all_;          // [sites * (references + 2 samples)]: every haplotype
  std::vector<uint8_t> references_;   // [references * sites]: haplotype by haplotype
  std::vector<AlleleByte> packed_;    // the reference haplotypes' alleles, packed
  std::vector<const uint8_t*> rows_;  // [references]: their rows
  PrefixOrders orders_;
};

}  // namespace tessellar::hmm
