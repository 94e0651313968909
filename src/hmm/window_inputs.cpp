// Building a window's kernel inputs from the contig's tables.
#include "hmm/window_inputs.h"

#include <algorithm>
#include <cmath>

namespace tessellar::hmm {

std::vector<double> genetic_positions(const MapContig& map, const SnpUnion& u) {
  std::vector<double> cm(static_cast<std::size_t>(u.n));
  for (int j = 0; j < u.n; ++j) cm[static_cast<std::size_t>(j)] = map.cm_at(u.pos[j]);
  return cm;
}

double switch_probability(double d_cm, double ne, int states) {
  return -std::expm1(-4.0 * ne * (d_cm / 100.0) / states);
}

void WindowInputs::set_typed(const ContigTables& t, int first, int last, const ModelParameters& p) {
  const SnpUnion& u = t.snp_union;
  states_ = t.haps.ncol;
  error_ = static_cast<float>(p.error);
  typed_rows_.clear();
  typed_study_rows_.clear();
  for (int j = first; j < last; ++j) {
    if (!is_typed(u, j)) continue;
    typed_rows_.push_back(j);
    typed_study_rows_.push_back(u.study_row[j]);
  }
  const std::size_t k = static_cast<std::size_t>(states_);
  alleles_.resize(typed_rows_.size() * k);
  switches_.assign(typed_rows_.size(), 0.0f);
  for (std::size_t m = 0; m < typed_rows_.size(); ++m) {
    const int j = typed_rows_[m];
    const uint8_t* bits = t.haps.hap(u.hap_row[j]);
    std::copy(bits, bits + k, alleles_.begin() + static_cast<std::ptrdiff_t>(m * k));
    if (m == 0) continue;
    switches_[m] = t.cm.empty() ? static_cast<float>(p.switch_prob)
                                : static_cast<float>(switch_probability(
                                      t.cm[static_cast<std::size_t>(j)] -
                                          t.cm[static_cast<std::size_t>(typed_rows_[m - 1])],
                                      p.ne, states_));
  }
}

namespace {

// Where x lies from a to b, 0 to 1; 0 when they are the same.
double fraction(double x, double a, double b) {
  return b > a ? (x - a) / (b - a) : 0.0;
}

}  // namespace

void WindowInputs::set_untyped(const ContigTables& t, std::span<const int> targets) {
  const SnpUnion& u = t.snp_union;
  left_.clear();
  weight_.clear();
  carrier_begin_.assign(1, 0);
  carriers_.clear();
  carried_.clear();
  std::size_t next = 0;  // the first typed site after the target
  for (const int j : targets) {
    while (next < typed_rows_.size() && typed_rows_[next] < j) ++next;
    const int left = static_cast<int>(next) - 1;
    double w = 0;
    if (left >= 0 && next < typed_rows_.size()) {
      const int a = typed_rows_[next - 1];
      const int b = typed_rows_[next];
      const auto at = [&](int row) { return t.cm[static_cast<std::size_t>(row)]; };
      const bool by_map = !t.cm.empty() && at(b) > at(a);
      w = by_map ? fraction(at(j), at(a), at(b)) : fraction(u.pos[j], u.pos[a], u.pos[b]);
    }
    left_.push_back(left);
    weight_.push_back(static_cast<float>(w));
    // The states carrying the rarer allele.
    const uint8_t* bits = t.haps.hap(u.hap_row[j]);
    int ones = 0;
    for (int s = 0; s < states_; ++s) ones += bits[s];
    const uint8_t carried = ones <= states_ - ones ? 1 : 0;
    for (int s = 0; s < states_; ++s)
      if (bits[s] == carried) carriers_.push_back(s);
    carried_.push_back(carried);
    carrier_begin_.push_back(static_cast<int>(carriers_.size()));
  }
}

CopyingModel<float> WindowInputs::model() const {
  CopyingModel<float> m;
  m.sites = typed_count();
  m.states = states_;
  m.alleles = alleles_.data();
  m.switches = switches_.data();
  m.error = error_;
  return m;
}

UntypedSites<float> WindowInputs::untyped() const {
  UntypedSites<float> s;
  s.count = untyped_count();
  s.left = left_.data();
  s.weight = weight_.data();
  s.carrier_begin = carrier_begin_.data();
  s.carriers = carriers_.data();
  s.carried = carried_.data();
  return s;
}

void WindowInputs::observed(const StudyTable& study, int h, int8_t* out) const {
  const std::size_t column = static_cast<std::size_t>(h / 2) * 2 + static_cast<std::size_t>(h % 2);
  const std::size_t stride = 2 * static_cast<std::size_t>(study.nind);
  for (std::size_t m = 0; m < typed_study_rows_.size(); ++m)
    out[m] = study.alleles[static_cast<std::size_t>(typed_study_rows_[m]) * stride + column];
}

float WindowInputs::state_frequency(int u) const {
  const std::size_t i = static_cast<std::size_t>(u);
  const int listed = carrier_begin_[i + 1] - carrier_begin_[i];
  const int ones = carried_[i] == 1 ? listed : states_ - listed;
  return static_cast<float>(ones) / static_cast<float>(states_);
}

}  // namespace tessellar::hmm
