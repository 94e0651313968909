// Imputing one SNP: the tag search picks the haplotype window, the EM
// estimates its haplotype frequencies (from the panel's families for an
// untyped SNP, from the study for a typed one with missing codes), and the
// posterior genotype probabilities make the SNP's record.
#pragma once

#include <array>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/settings.h"
#include "haplo/pattern_lists.h"
#include "input/haplotypes.h"
#include "input/panel.h"
#include "input/snp_union.h"
#include "input/study.h"
#include "output/records.h"
#include "tags/tag_search.h"

namespace tessellar {

// The tables of one contig, read-only during the pass.
struct RunTables {
  std::string_view contig;  // its name in the output ("" for text inputs)
  const StudyTable& study;
  const PanelTable& panel;
  const HapTable& haps;
  const HapIndex& hap_index;
  const SnpUnion& snp_union;
  std::span<const std::string> samples = {};  // the study's individuals, for messages
};

// The window scratch and per-SNP working memory, made once and reused for
// every target.
class SnpImputer {
 public:
  // names: the records carry their tags' names (for the VCF output and the
  // per-site file).
  SnpImputer(const Settings& settings, const RunTables& tables, bool names = true);
  ~SnpImputer();

  // Imputes union row j in the given mode; false when the tag search finds
  // no window. Throws ListBudgetExceeded when a pattern list would pass its
  // budget.
  bool impute(int j, Mode mode);

  // The record of the last successful impute, viewing this imputer's
  // buffers; with its score and tags, but AF, INFO and ER2 left to the caller.
  SnpRecord& record() { return record_; }

 private:
  bool choose_window(int j, Mode mode);
  void fill_window_rows(Mode mode);
  void estimate_and_impute(Mode mode);
  void make_record(Mode mode);

  const Settings& s_;
  const RunTables& t_;
  const TagTables tag_tables_;
  std::vector<int> tag_list_;
  std::vector<int> study_tags_;
  std::vector<int> panel_tags_;
  TagScratchPtr scratch_;
  StudyList study_list_;
  FamilyList family_list_;
  std::vector<double> hapfreq_;
  std::vector<double> smoothed_;
  std::array<std::vector<double>, 3> prob_;
  std::vector<int8_t> target_codes_;
  bool names_;             // build the tags' names
  double score_ = 0;       // the chosen tag set's score
  std::string tag_names_;  // the tags' names, comma-separated
  SnpRecord record_;
};

// The record of a complete study SNP (study row s), written through.
SnpRecord written_through(const RunTables& tables, int s);

}  // namespace tessellar
