// The per-site file (-sites): one tab-separated line per SNP that any input
// held, in contig and position order, saying what became of it (its fate)
// with its per-site figures. The pass reports the outcome of each union
// row; the SNPs outside the union (skipped records, another variant at a
// study SNP's position, haplotype rows tied to no panel SNP) are merged in
// by position.
#pragma once

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "input/panel.h"
#include "input/snp_union.h"
#include "input/study.h"
#include "output/output.h"
#include "output/records.h"

namespace tessellar {

enum class Fate {
  typed,             // written through: every genotype observed
  typed_imputed,     // typed, the missing genotypes imputed from the study
  imputed,           // imputed from the panel
  study_only,        // typed with missing genotypes, not in the panel
  monomorphic,       // one allele (almost) absent
  strand_ambiguous,  // A/T or C/G whose strand the frequencies cannot tell
  no_haplotype_row,  // in the panel without phased haplotypes
  no_tag_set,        // no usable tag set near it
  allele_mismatch,   // a panel record of another variant at a study SNP's position
  haplotype_only,    // a haplotype row tied to no panel SNP
  no_study_contig,   // on a contig that the study lacks
  skipped_multiallelic,
  skipped_symbolic,
  skipped_indel,
  skipped_filter,
  skipped_unphased,  // a haplotype record without phased GT for every sample
};

// The fate's name in the file.
const char* fate_name(Fate fate);

// A SNP outside the union.
struct ExtraSite {
  static constexpr int kUnknown = std::numeric_limits<int>::min();
  int pos = kUnknown;  // kUnknown: a text haplotype row, which has no position
  std::string name;
  std::string ref;
  std::string alt;
  bool in_study = false;
  bool in_panel = false;
  bool haplotypes = false;
  Fate fate = Fate::skipped_filter;
};

// Panel row r of t as an extra line, with its letters as the panel lists them.
ExtraSite panel_extra(const PanelTable& t, int r, bool haplotypes, Fate fate);

// What the per-site lines of one contig read: its study and panel tables
// and their union, after the alignment and filters.
struct SitesTables {
  const StudyTable& study;
  const PanelTable& panel;
  const SnpUnion& snp_union;
};

// The union rows as the inputs gave them, before the filters took any out.
struct UnionOrigins {
  std::vector<int> study_row;
  std::vector<int> panel_row;
};

class SitesFile {
 public:
  // Creates path (bgzipped when it ends in ".gz") and writes the header
  // line; with_r2: a last column R2 (the hmm engine's runs).
  explicit SitesFile(const std::string& path, bool with_r2 = false);

  // The lines of one contig: extras (any order; sorted here) merged by
  // position with the outcomes of the union rows, given in row order.
  void begin_contig(const std::string& contig, std::vector<ExtraSite> extras);
  void write_rows(const SitesTables& tables, const UnionOrigins& origins,
                  const std::vector<RowOutcome>& outcomes);
  void end_contig();

  // Closes and renames the file; stops the run on failure.
  void commit();

 private:
  void write_extras_before(long long pos);
  void append_extra(const ExtraSite& e);

  OutputFile file_;
  bool with_r2_;
  std::string contig_;
  std::vector<ExtraSite> extras_;
  std::size_t next_extra_ = 0;
  OutputChunk chunk_;
};

}  // namespace tessellar
