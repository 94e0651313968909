// The inputs of the haplotype-copying kernel for one window of a contig,
// built from the tables that the readers, the union and the alignment made:
// the typed sites (union rows with a study row and a haplotype row) with the
// reference haplotypes' alleles and the switch probabilities between them,
// the untyped sites with the haplotypes that carry each one's rarer allele
// and their place between the typed sites, and the observed alleles of a
// study haplotype. Also the genetic positions and switch probabilities that
// a genetic map gives. The caller owns the tables; a WindowInputs owns what
// it builds and is reused from window to window.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "hmm/copying_model.h"
#include "input/genetic_map.h"
#include "input/haplotypes.h"
#include "input/snp_union.h"
#include "input/study.h"

namespace tessellar::hmm {

// A contig's tables after the union, the haplotype rows, the alignment and
// the filters. The haplotype rows count the allele that the codes count.
struct ContigTables {
  const SnpUnion& snp_union;
  const StudyTable& study;  // with its alleles
  const HapTable& haps;     // the states: haps.ncol reference haplotypes
  // Per union row its genetic position in cM (from a map), or empty: then
  // switches are constant per typed interval and interpolation goes by bp.
  const std::vector<double>& cm;
};

// The model's parameters.
struct ModelParameters {
  double switch_prob = 0.03;  // per typed interval, without a map
  double ne = 1e5;            // effective population size, with a map
  double error = 0.01;        // mismatch probability
};

// Whether union row j is a typed site: in the study and with a haplotype row.
inline bool is_typed(const SnpUnion& u, int j) {
  return u.study_row[j] >= 0 && u.hap_row[j] >= 0;
}

// The genetic position of every union row (cM, interpolated in the map).
std::vector<double> genetic_positions(const MapContig& map, const SnpUnion& u);

// The switch probability over d_cm centimorgans with states reference
// haplotypes: 1 - exp(-4 ne d / states), d in Morgans.
double switch_probability(double d_cm, double ne, int states);

class WindowInputs {
 public:
  // The typed sites among union rows [first, last), with their states'
  // alleles and the switch probabilities between them.
  void set_typed(const ContigTables& t, int first, int last, const ModelParameters& p);

  // The untyped sites: the union rows of targets (ascending, each with a
  // haplotype row, within [first, last) of set_typed), with the states that
  // carry their rarer allele and their interpolation between typed sites
  // (in cM with a map, else in bp; in bp too where the map is flat there).
  void set_untyped(const ContigTables& t, std::span<const int> targets);

  int typed_count() const { return static_cast<int>(typed_rows_.size()); }
  int untyped_count() const { return static_cast<int>(left_.size()); }
  int states() const { return states_; }
  // The union row of typed site m, and its study row.
  int typed_row(int m) const { return typed_rows_[static_cast<std::size_t>(m)]; }
  int typed_study_row(int m) const { return typed_study_rows_[static_cast<std::size_t>(m)]; }

  // Views of the kernel's inputs, valid until the next set_ call. model()
  // needs a typed site or more.
  CopyingModel<float> model() const;
  UntypedSites<float> untyped() const;

  // The observed alleles (0, 1, -1 for missing) of study haplotype h
  // (individual h / 2, GT allele h % 2) at the typed sites, into out
  // [typed_count()].
  void observed(const StudyTable& study, int h, int8_t* out) const;

  // The share of the states that carry allele 1 at untyped site u: its dose
  // in a window without typed sites, where every state is equally likely.
  float state_frequency(int u) const;

 private:
  int states_ = 0;
  float error_ = 0;
  std::vector<int> typed_rows_;
  std::vector<int> typed_study_rows_;
  std::vector<uint8_t> alleles_;  // [typed * states]
  std::vector<float> switches_;   // [typed]
  std::vector<int> left_;         // [untyped]
  std::vector<float> weight_;     // [untyped]
  std::vector<int> carrier_begin_;
  std::vector<int> carriers_;
  std::vector<uint8_t> carried_;
};

}  // namespace tessellar::hmm
