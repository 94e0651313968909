// The genotype probabilities of one window from unphased study genotypes:
// the window's samples are phased once (phasing.h), then for each sample M
// haplotype pairs are drawn from the phasing (phase_draws.h), every pair's
// haplotypes are imputed by the copying kernel (one sample's pairs in
// batches of kCopyingBatch haplotypes), and the genotype probabilities of
// the pairs, P(2) = x1 x2, P(1) = x1 (1 - x2) + x2 (1 - x1),
// P(0) = (1 - x1) (1 - x2), are averaged. Samples run in parallel on the
// worker team, each written to its own place, so the results do not depend
// on the number of workers; the draws depend on the seed, the window and
// the sample alone, so a window gives the same results in every run that
// computes it.
#pragma once

#include <cstdint>
#include <vector>

#include "core/worker_team.h"
#include "hmm/copying_model.h"
#include "hmm/phase_draws.h"
#include "hmm/phasing.h"
#include "hmm/window_inputs.h"
#include "input/study.h"

namespace tessellar::hmm {

// The genotype probabilities of g = 0, 1, 2 copies of allele 1 from the
// two haplotype doses (each P(allele 1)).
struct GenotypeProbabilities {
  double p0, p1, p2;
};
GenotypeProbabilities genotype_probabilities(double x1, double x2);

// How the windows are phased and the pairs drawn.
struct PhasingParameters {
  PhasingSettings phasing;
  int draws = 4;      // haplotype pairs per sample (1 or more)
  uint64_t seed = 1;  // of the draws
};

// The averaged genotype probabilities of every sample: P(g) for g = 0, 1,
// 2 at [(i * sites + site) * 3 + g].
struct WindowGenotypes {
  int samples = 0;
  int untyped = 0;      // untyped sites
  int typed_first = 0;  // the typed sites kept: typed_first .. typed_first + typed - 1
  int typed = 0;
  std::vector<float> untyped_probs;
  std::vector<float> typed_probs;  // given every observed genotype
  std::vector<float> left_out;     // with each typed site's own genotype left out (if asked)

  const float* untyped_at(int i, int u) const { return untyped_probs.data() + at(i, untyped, u); }
  const float* typed_at(int i, int m) const {
    return typed_probs.data() + at(i, typed, m - typed_first);
  }
  const float* left_out_at(int i, int m) const {
    return left_out.data() + at(i, typed, m - typed_first);
  }

 private:
  static std::size_t at(int i, int sites, int site) {
    return (static_cast<std::size_t>(i) * static_cast<std::size_t>(sites) +
            static_cast<std::size_t>(site)) *
           3;
  }
};

class GenotypeComputer {
 public:
  // Working memory for the team's workers.
  explicit GenotypeComputer(const WorkerTeam& team);

  // Phases the study samples over the typed sites of inputs (from their
  // genotype codes), for window number `window` of the contig; compute()
  // then draws from this phasing until the next call.
  void phase(const WindowInputs& inputs, const StudyTable& study, const PhasingParameters& p,
             long long window, WorkerTeam& team);

  // The genotype probabilities of every sample at all untyped sites of
  // inputs and at typed sites typed_first .. typed_first + typed - 1 (with
  // the left-out ones when left_out). inputs must hold the typed sites that
  // phase() saw.
  void compute(const WindowInputs& inputs, int typed_first, int typed, bool left_out,
               WorkerTeam& team, WindowGenotypes& out);

  // The phasing of the window (for the tests).
  const PhasedWindow& phased() const { return phased_; }

 private:
  // A worker's memory for one sample's draws.
  struct Worker {
    CopyingBatchWorkspace<float> work;
    std::vector<int8_t> observed;  // [2 draws * sites]
    std::vector<float> typed;      // [2 draws * sites]
    std::vector<float> left_out;   // [2 draws * sites] when asked
    std::vector<float> untyped;    // [2 draws * untyped sites]
  };
  void impute_sample(Worker& w, const WindowInputs& inputs, int i, bool left_out,
                     WindowGenotypes& out) const;

  WindowPhaser phaser_;
  std::vector<Worker> workers_;
  PhasedWindow phased_;
  std::vector<int8_t> genotypes_;  // [samples * sites]: the window's genotypes
  DrawKey key_;
  int draws_ = 1;
};

}  // namespace tessellar::hmm
