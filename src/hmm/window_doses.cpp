// The doses of a window, batch by batch of study haplotypes on the worker team.
#include "hmm/window_doses.h"

#include <algorithm>

namespace tessellar::hmm {

DoseComputer::DoseComputer(const WorkerTeam& team)
    : workers_(static_cast<std::size_t>(team.size())) {}

void DoseComputer::compute(const WindowInputs& inputs, const StudyTable& study, int typed_first,
                           int typed, bool left_out, WorkerTeam& team, WindowDoses& out) {
  const int haplotypes = 2 * study.nind;
  const int sites = inputs.typed_count();
  out.haplotypes = haplotypes;
  out.untyped = inputs.untyped_count();
  out.typed_first = typed_first;
  out.typed = typed;
  const std::size_t h_count = static_cast<std::size_t>(haplotypes);
  out.untyped_doses.resize(h_count * static_cast<std::size_t>(out.untyped));
  out.typed_doses.resize(h_count * static_cast<std::size_t>(typed));
  out.left_out.resize(left_out ? h_count * static_cast<std::size_t>(typed) : 0);
  if (sites == 0) {
    for (int u = 0; u < out.untyped; ++u) {
      const float f = inputs.state_frequency(u);
      for (std::size_t h = 0; h < h_count; ++h) out.untyped_doses[h * out.untyped + u] = f;
    }
    return;
  }
  // Every worker's memory before the loop.
  const std::size_t batch =
      static_cast<std::size_t>(kCopyingBatch) * static_cast<std::size_t>(sites);
  for (Worker& w : workers_) {
    w.work.reserve(sites, inputs.states());
    w.observed.resize(batch);
    w.typed.resize(batch);
    w.left_out.resize(left_out ? batch : 0);
  }
  const int batches = (haplotypes + kCopyingBatch - 1) / kCopyingBatch;
  team.run(batches, [&](int worker, int b) {
    const int first = b * kCopyingBatch;
    impute_batch(workers_[static_cast<std::size_t>(worker)], inputs, study, first,
                 std::min(kCopyingBatch, haplotypes - first), left_out, out);
  });
}

void DoseComputer::impute_batch(Worker& w, const WindowInputs& inputs, const StudyTable& study,
                                int first, int count, bool left_out, WindowDoses& out) const {
  const std::size_t sites = static_cast<std::size_t>(inputs.typed_count());
  const int8_t* observed[kCopyingBatch];
  HaplotypeDoses<float> doses[kCopyingBatch];
  for (int k = 0; k < count; ++k) {
    const int h = first + k;
    int8_t* own = w.observed.data() + static_cast<std::size_t>(k) * sites;
    inputs.observed(study, h, own);
    observed[k] = own;
    doses[k].typed = w.typed.data() + static_cast<std::size_t>(k) * sites;
    doses[k].left_out =
        left_out ? w.left_out.data() + static_cast<std::size_t>(k) * sites : nullptr;
    doses[k].untyped = out.untyped == 0
                           ? nullptr
                           : out.untyped_doses.data() + static_cast<std::size_t>(h) * out.untyped;
  }
  impute_haplotypes(inputs.model(), inputs.untyped(), count, observed, w.work, doses, nullptr);
  for (int k = 0; k < count; ++k) {
    const std::size_t at = static_cast<std::size_t>(first + k) * out.typed;
    std::copy_n(doses[k].typed + out.typed_first, out.typed, out.typed_doses.begin() + at);
    if (left_out)
      std::copy_n(doses[k].left_out + out.typed_first, out.typed, out.left_out.begin() + at);
  }
}

}  // namespace tessellar::hmm
