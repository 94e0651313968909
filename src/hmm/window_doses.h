// The doses of one window: every study haplotype run through the copying
// kernel, in parallel over batches of haplotypes (each haplotype gets the
// bits it would get alone), each worker with a workspace of its own, each
// haplotype's results written to its own place, so that the doses do not
// depend on the number of workers.
#pragma once

#include <cstdint>
#include <vector>

#include "core/worker_team.h"
#include "hmm/copying_model.h"
#include "hmm/window_inputs.h"
#include "input/study.h"

namespace tessellar::hmm {

// P(allele 1) of every study haplotype h (individual h / 2, GT allele h % 2)
// at the window's untyped sites and at a run of its typed sites.
struct WindowDoses {
  int haplotypes = 0;
  int untyped = 0;      // untyped sites
  int typed_first = 0;  // the typed sites kept: typed_first .. typed_first + typed - 1
  int typed = 0;
  std::vector<float> untyped_doses;  // [h * untyped + u]
  std::vector<float> typed_doses;    // [h * typed + m - typed_first], given every observed allele
  std::vector<float> left_out;       // the same with the site's own allele left out (if asked)

  float untyped_dose(int h, int u) const {
    return untyped_doses[static_cast<std::size_t>(h) * untyped + u];
  }
  float typed_dose(int h, int m) const {
    return typed_doses[static_cast<std::size_t>(h) * typed + m - typed_first];
  }
  float left_out_dose(int h, int m) const {
    return left_out[static_cast<std::size_t>(h) * typed + m - typed_first];
  }
};

class DoseComputer {
 public:
  // Working memory for the team's workers.
  explicit DoseComputer(const WorkerTeam& team);

  // The doses of inputs for every haplotype of study: at all untyped sites,
  // and at typed sites typed_first .. typed_first + typed - 1 (with the
  // left-out doses when left_out). A window without typed sites gives each
  // untyped site the share of the states that carry allele 1.
  void compute(const WindowInputs& inputs, const StudyTable& study, int typed_first, int typed,
               bool left_out, WorkerTeam& team, WindowDoses& out);

 private:
  // A worker's memory for one batch of kCopyingBatch haplotypes.
  struct Worker {
    CopyingBatchWorkspace<float> work;
    std::vector<int8_t> observed;  // [kCopyingBatch * sites]
    std::vector<float> typed;      // [kCopyingBatch * sites]
    std::vector<float> left_out;   // [kCopyingBatch * sites] when asked
  };
  void impute_batch(Worker& w, const WindowInputs& inputs, const StudyTable& study, int first,
                    int count, bool left_out, WindowDoses& out) const;
  std::vector<Worker> workers_;
};

}  // namespace tessellar::hmm
