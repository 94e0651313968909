// The doses of a window, haplotype by haplotype on the worker team.
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
  for (Worker& w : workers_) {
    w.work.reserve(sites, inputs.states());
    w.observed.resize(static_cast<std::size_t>(sites));
    w.typed.resize(static_cast<std::size_t>(sites));
    w.left_out.resize(left_out ? static_cast<std::size_t>(sites) : 0);
  }
  const CopyingModel<float> model = inputs.model();
  const UntypedSites<float> untyped = inputs.untyped();
  team.run(haplotypes, [&](int worker, int h) {
    Worker& w = workers_[static_cast<std::size_t>(worker)];
    inputs.observed(study, h, w.observed.data());
    HaplotypeDoses<float> doses;
    doses.typed = w.typed.data();
    doses.left_out = left_out ? w.left_out.data() : nullptr;
    doses.untyped = out.untyped == 0
                        ? nullptr
                        : out.untyped_doses.data() + static_cast<std::size_t>(h) * out.untyped;
    impute_haplotype(model, untyped, w.observed.data(), w.work, doses);
    const std::size_t at = static_cast<std::size_t>(h) * typed;
    std::copy_n(w.typed.begin() + typed_first, typed, out.typed_doses.begin() + at);
    if (left_out) std::copy_n(w.left_out.begin() + typed_first, typed, out.left_out.begin() + at);
  });
}

}  // namespace tessellar::hmm
