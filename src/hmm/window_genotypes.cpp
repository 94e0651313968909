// A window's phasing, and the genotype probabilities averaged over the
// haplotype pairs drawn from it, sample by sample on the worker team.
#include "hmm/window_genotypes.h"

#include <algorithm>

namespace tessellar::hmm {

GenotypeProbabilities genotype_probabilities(double x1, double x2) {
  return {(1 - x1) * (1 - x2), x1 * (1 - x2) + x2 * (1 - x1), x1 * x2};
}

namespace {

ParallelFor on(WorkerTeam& team) {
  return [&team](int items, const std::function<void(int, int)>& body) { team.run(items, body); };
}

float clamped(float x) {
  return std::clamp(x, 0.0f, 1.0f);
}

// The averages over the draws of the genotype probabilities of the pairs
// whose doses are dose[(2 d) * stride + site] and dose[(2 d + 1) * stride +
// site], at sites [first, first + count), into to[3 (site - first) + g].
void average(const float* dose, std::size_t stride, int draws, int first, int count, float* to) {
  for (int site = first; site < first + count; ++site) {
    double sum[3] = {0, 0, 0};
    for (int d = 0; d < draws; ++d) {
      const float* x = dose + 2 * static_cast<std::size_t>(d) * stride + site;
      const GenotypeProbabilities g = genotype_probabilities(clamped(x[0]), clamped(x[stride]));
      sum[0] += g.p0;
      sum[1] += g.p1;
      sum[2] += g.p2;
    }
    float* p = to + 3 * static_cast<std::size_t>(site - first);
    for (int g = 0; g < 3; ++g) p[g] = static_cast<float>(sum[g] / draws);
  }
}

}  // namespace

GenotypeComputer::GenotypeComputer(const WorkerTeam& team)
    : phaser_(team.size()), workers_(static_cast<std::size_t>(team.size())) {}

void GenotypeComputer::phase(const WindowInputs& inputs, const StudyTable& study,
                             const PhasingParameters& p, long long window, WorkerTeam& team) {
  const int sites = inputs.typed_count();
  const int samples = study.nind;
  genotypes_.resize(static_cast<std::size_t>(samples) * static_cast<std::size_t>(sites));
  for (int m = 0; m < sites; ++m) {
    const int row = inputs.typed_study_row(m);
    for (int i = 0; i < samples; ++i) {
      const int code = study.geno.at(i, row);
      genotypes_[static_cast<std::size_t>(i) * sites + m] =
          static_cast<int8_t>(code == 9 ? -1 : code);
    }
  }
  const CopyingModel<float> model = inputs.model();
  const GenotypeWindow w{sites,          model.states, model.alleles, samples, genotypes_.data(),
                         model.switches, model.error};
  phaser_.phase(w, p.phasing, on(team), phased_);
  key_ = {p.seed, window};
  draws_ = std::max(1, p.draws);
}

void GenotypeComputer::compute(const WindowInputs& inputs, int typed_first, int typed,
                               bool left_out, WorkerTeam& team, WindowGenotypes& out) {
  const int samples = phased_.samples;
  out.samples = samples;
  out.untyped = inputs.untyped_count();
  out.typed_first = typed_first;
  out.typed = typed;
  const std::size_t n = static_cast<std::size_t>(samples) * 3;
  out.untyped_probs.resize(n * static_cast<std::size_t>(out.untyped));
  out.typed_probs.resize(n * static_cast<std::size_t>(typed));
  out.left_out.resize(left_out ? n * static_cast<std::size_t>(typed) : 0);
  const std::size_t sites = static_cast<std::size_t>(inputs.typed_count());
  if (sites == 0) {
    // No typed site: every state equally likely for every haplotype.
    for (int u = 0; u < out.untyped; ++u) {
      const float f = inputs.state_frequency(u);
      const GenotypeProbabilities g = genotype_probabilities(f, f);
      for (int i = 0; i < samples; ++i) {
        float* p = out.untyped_probs.data() + (static_cast<std::size_t>(i) * out.untyped + u) * 3;
        p[0] = static_cast<float>(g.p0);
        p[1] = static_cast<float>(g.p1);
        p[2] = static_cast<float>(g.p2);
      }
    }
    return;
  }
  const std::size_t haplotypes = 2 * static_cast<std::size_t>(draws_);
  // Every worker's memory before the loop.
  for (Worker& w : workers_) {
    w.work.reserve(static_cast<int>(sites), inputs.states());
    w.observed.resize(haplotypes * sites);
    w.typed.resize(haplotypes * sites);
    w.left_out.resize(left_out ? haplotypes * sites : 0);
    w.untyped.resize(haplotypes * static_cast<std::size_t>(out.untyped));
  }
  team.run(samples, [&](int worker, int i) {
    impute_sample(workers_[static_cast<std::size_t>(worker)], inputs, i, left_out, out);
  });
}

void GenotypeComputer::impute_sample(Worker& w, const WindowInputs& inputs, int i, bool left_out,
                                     WindowGenotypes& out) const {
  const std::size_t sites = static_cast<std::size_t>(inputs.typed_count());
  const std::size_t untyped = static_cast<std::size_t>(out.untyped);
  const int haplotypes = 2 * draws_;
  const int8_t* genotypes = genotypes_.data() + static_cast<std::size_t>(i) * sites;
  for (int d = 0; d < draws_; ++d) {
    int8_t* pair = w.observed.data() + 2 * static_cast<std::size_t>(d) * sites;
    draw_pair(phased_, genotypes, key_, i, d, pair, pair + sites);
  }
  // The haplotypes in batches of up to kCopyingBatch.
  for (int first = 0; first < haplotypes; first += kCopyingBatch) {
    const int count = std::min(kCopyingBatch, haplotypes - first);
    const int8_t* observed[kCopyingBatch];
    HaplotypeDoses<float> doses[kCopyingBatch];
    for (int k = 0; k < count; ++k) {
      const std::size_t h = static_cast<std::size_t>(first + k);
      observed[k] = w.observed.data() + h * sites;
      doses[k].typed = w.typed.data() + h * sites;
      doses[k].left_out = left_out ? w.left_out.data() + h * sites : nullptr;
      doses[k].untyped = untyped == 0 ? nullptr : w.untyped.data() + h * untyped;
    }
    impute_haplotypes(inputs.model(), inputs.untyped(), count, observed, w.work, doses, nullptr);
  }
  const std::size_t row = static_cast<std::size_t>(i) * 3;
  average(w.untyped.data(), untyped, draws_, 0, out.untyped,
          out.untyped_probs.data() + row * untyped);
  const std::size_t typed = static_cast<std::size_t>(out.typed);
  average(w.typed.data(), sites, draws_, out.typed_first, out.typed,
          out.typed_probs.data() + row * typed);
  if (left_out)
    average(w.left_out.data(), sites, draws_, out.typed_first, out.typed,
            out.left_out.data() + row * typed);
}

}  // namespace tessellar::hmm
