// The rounds of the phasing: the greedy first phase, then per round the
// prefix orders of every haplotype, each sample's states and pair pass, and
// its switches and missing alleles written to the next round's haplotypes.
#include "hmm/phasing.h"

#include <algorithm>
#include <utility>

namespace tessellar::hmm {

ParallelFor serial_for() {
  return [](int items, const std::function<void(int, int)>& body) {
    for (int item = 0; item < items; ++item) body(0, item);
  };
}

WindowPhaser::WindowPhaser(int workers, KernelPath path)
    : path_(path), workers_(static_cast<std::size_t>(std::max(1, workers))) {}

void WindowPhaser::start(const GenotypeWindow& window, PhasedWindow& out) {
  window_ = &window;
  const int sites = window.sites;
  out.sites = sites;
  out.samples = window.samples;
  out.het_begin.assign(1, 0);
  out.het_sites.clear();
  missing_begin_.assign(1, 0);
  missing_sites_.clear();
  for (int i = 0; i < window.samples; ++i) {
    const int8_t* g = window.genotypes + static_cast<std::size_t>(i) * sites;
    for (int m = 0; m < sites; ++m) {
      if (g[m] == 1) out.het_sites.push_back(m);
      if (g[m] < 0) missing_sites_.push_back(m);
    }
    out.het_begin.push_back(static_cast<int>(out.het_sites.size()));
    missing_begin_.push_back(static_cast<int>(missing_sites_.size()));
  }
  out.switch_prob.assign(out.het_sites.size(), 0.0f);
  const std::size_t size = 2 * static_cast<std::size_t>(window.samples) * sites;
  current_.resize(size);
  next_.resize(size);
  // The reference haplotypes row by row, and packed for the first phase.
  const std::size_t r = static_cast<std::size_t>(window.references);
  references_.resize(r * sites);
  rows_.resize(r);
  for (std::size_t j = 0; j < r; ++j) {
    uint8_t* row = references_.data() + j * sites;
    for (std::size_t m = 0; m < static_cast<std::size_t>(sites); ++m)
      row[m] = window.reference[m * r + j];
    rows_[j] = row;
  }
  packed_.resize(packed_size(window.references, sites));
  if (sites > 0 && r > 0) pack_states(rows_.data(), window.references, sites, packed_.data());
}

const uint8_t* WindowPhaser::haplotype_row(int h) const {
  const std::size_t sites = static_cast<std::size_t>(window_->sites);
  const int r = window_->references;
  return h < r ? references_.data() + static_cast<std::size_t>(h) * sites
               : current_.data() + static_cast<std::size_t>(h - r) * sites;
}

void WindowPhaser::gather_haplotypes(const GenotypeWindow& window) {
  const std::size_t r = static_cast<std::size_t>(window.references);
  const std::size_t n = r + 2 * static_cast<std::size_t>(window.samples);
  const std::size_t sites = static_cast<std::size_t>(window.sites);
  all_.resize(sites * n);
  for (std::size_t m = 0; m < sites; ++m)
    std::copy_n(window.reference + m * r, r, all_.begin() + static_cast<std::ptrdiff_t>(m * n));
  for (std::size_t h = 0; h < n - r; ++h) {
    const uint8_t* row = current_.data() + h * sites;
    for (std::size_t m = 0; m < sites; ++m) all_[m * n + r + h] = row[m];
  }
}

void WindowPhaser::phase(const GenotypeWindow& window, const PhasingSettings& settings,
                         const ParallelFor& parallel, PhasedWindow& out) {
  start(window, out);
  const int sites = window.sites;
  if (sites > 0) {
    const PackedStates reference{sites, window.references, packed_.data(), window.switches,
                                 window.error};
    parallel(window.samples, [&](int worker, int i) {
      Worker& w = workers_[static_cast<std::size_t>(worker)];
      uint8_t* a = current_.data() + 2 * static_cast<std::size_t>(i) * sites;
      initial_phase(path_, reference, window.genotypes + static_cast<std::size_t>(i) * sites,
                    w.work, a, a + sites);
    });
    for (int round = 0; round < settings.rounds; ++round) {
      gather_haplotypes(window);
      orders_.build(all_.data(), sites, window.references + 2 * window.samples, settings.every);
      const bool last = round == settings.rounds - 1;
      parallel(window.samples, [&](int worker, int i) {
        round_sample(workers_[static_cast<std::size_t>(worker)], i, last, settings, out);
      });
      std::swap(current_, next_);
    }
  }
  out.haplotypes.assign(current_.begin(), current_.end());
  window_ = nullptr;
}

void WindowPhaser::round_sample(Worker& w, int i, bool last, const PhasingSettings& settings,
                                PhasedWindow& out) {
  const GenotypeWindow& window = *window_;
  const std::size_t sites = static_cast<std::size_t>(window.sites);
  const int references = window.references;
  const int* hets = out.het_sites.data() + out.het_begin[static_cast<std::size_t>(i)];
  const int het_count =
      out.het_begin[static_cast<std::size_t>(i) + 1] - out.het_begin[static_cast<std::size_t>(i)];
  const int* missing = missing_sites_.data() + missing_begin_[static_cast<std::size_t>(i)];
  const int missing_count =
      missing_begin_[static_cast<std::size_t>(i) + 1] - missing_begin_[static_cast<std::size_t>(i)];
  w.switch_prob.assign(static_cast<std::size_t>(het_count), 0.0f);
  w.missing.resize(2 * static_cast<std::size_t>(missing_count));
  // The pass: the sample's current haplotypes over its states.
  w.chooser.choose(orders_, references + 2 * i, references + 2 * i + 1, settings.choice, w.states);
  const std::size_t k = w.states.size();
  if (k > 0 && (het_count > 1 || missing_count > 0)) {
    w.rows.resize(k);
    for (std::size_t j = 0; j < k; ++j) w.rows[j] = haplotype_row(w.states[j]);
    w.alleles.resize(packed_size(static_cast<int>(k), window.sites));
    pack_states(w.rows.data(), static_cast<int>(k), window.sites, w.alleles.data());
    w.pair.resize(2 * sites);
    const uint8_t* own = current_.data() + 2 * static_cast<std::size_t>(i) * sites;
    std::copy_n(own, 2 * sites, w.pair.begin());
    for (int u = 0; u < missing_count; ++u)
      w.pair[static_cast<std::size_t>(missing[u])] = w.pair[sites + missing[u]] = -1;
    const PackedStates model{window.sites, static_cast<int>(k), w.alleles.data(), window.switches,
                             window.error};
    const PairAlleles pair{w.pair.data(), w.pair.data() + sites, het_count,
                           hets,          missing_count,         missing};
    const PairScores scores{w.switch_prob.data(), w.missing.data(),
                            w.missing.data() + missing_count};
    score_pair(path_, model, pair, w.work, scores);
  } else {
    // Nothing to decide (or nothing to copy from): the haplotypes stay.
    const uint8_t* own = current_.data() + 2 * static_cast<std::size_t>(i) * sites;
    for (int u = 0; u < missing_count; ++u) {
      w.missing[static_cast<std::size_t>(u)] = own[missing[u]];
      w.missing[static_cast<std::size_t>(missing_count + u)] = own[sites + missing[u]];
    }
  }
  apply(w, i, last, out);
}

// The next round's haplotypes of sample i: the phase switched from every
// heterozygote whose switch probability is above one half on (the switches
// add up along the sample), missing genotypes given their likelier alleles;
// in the last round also the switch probabilities against these haplotypes.
void WindowPhaser::apply(const Worker& w, int i, bool last, PhasedWindow& out) {
  const std::size_t sites = static_cast<std::size_t>(window_->sites);
  const std::size_t first = static_cast<std::size_t>(out.het_begin[static_cast<std::size_t>(i)]);
  const int het_count = out.het_begin[static_cast<std::size_t>(i) + 1] - static_cast<int>(first);
  const int* hets = out.het_sites.data() + first;
  const int* missing = missing_sites_.data() + missing_begin_[static_cast<std::size_t>(i)];
  const int missing_count =
      missing_begin_[static_cast<std::size_t>(i) + 1] - missing_begin_[static_cast<std::size_t>(i)];
  const uint8_t* from = current_.data() + 2 * static_cast<std::size_t>(i) * sites;
  uint8_t* to = next_.data() + 2 * static_cast<std::size_t>(i) * sites;
  std::copy_n(from, 2 * sites, to);
  bool flip = false;
  int het = 0;
  int unknown = 0;
  for (std::size_t m = 0; m < sites; ++m) {
    if (het < het_count && static_cast<std::size_t>(hets[het]) == m) {
      const float p = w.switch_prob[static_cast<std::size_t>(het)];
      const bool change = het > 0 && p > 0.5f;
      flip ^= change;
      if (last) out.switch_prob[first + static_cast<std::size_t>(het)] = change ? 1.0f - p : p;
      ++het;
      if (flip) std::swap(to[m], to[sites + m]);
    } else if (unknown < missing_count && static_cast<std::size_t>(missing[unknown]) == m) {
      const float pa = w.missing[static_cast<std::size_t>(unknown)];
      const float pb = w.missing[static_cast<std::size_t>(missing_count + unknown)];
      to[m] = (flip ? pb : pa) > 0.5f;
      to[sites + m] = (flip ? pa : pb) > 0.5f;
      ++unknown;
    }
  }
}

}  // namespace tessellar::hmm
