// Imputing one contig: the union of its study and panel rows, the
// haplotype rows, the alignment and filters, then the pass over the rows of
// a range of positions, with the per-site file's lines and the
// leave-one-out summary when they are wanted.
#pragma once

#include <limits>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/settings.h"
#include "input/inputs.h"
#include "output/output.h"
#include "output/quality.h"
#include "output/records.h"
#include "output/sites.h"
#include "run/engine.h"
#include "run/pass.h"
#include "tags/tag_search.h"

namespace tessellar {

// The ends of every position an input can hold (text positions lie between
// -300,000,000 and 300,000,000, VCF ones from 1): write(kFirstPosition,
// kLastPosition) writes the whole contig.
inline constexpr long long kFirstPosition = std::numeric_limits<int>::min();
inline constexpr long long kLastPosition = 1LL << 62;  // as Region{}.end

// One contig's tables, matched across the inputs.
struct ContigInputs {
  std::string name;  // in the output
  StudyTable* study = nullptr;
  PanelTable* panel = nullptr;
  PanelContig* own = nullptr;     // the panel's own haplotypes, or null
  HapContig* haps = nullptr;      // the haplotype file's rows, or null
  bool by_alleles = false;        // the union pairs rows by alleles too (a VCF input)
  bool vcf_haplotypes = false;    // haplotype rows count the panel's ALT (VCF)
  std::vector<ExtraSite> extras;  // SNPs of the inputs outside the union, for the per-site file
  std::span<const std::string> samples;  // the study's individuals, for messages
};

// What the contig's pass writes to, besides the output.
struct ContigSinks {
  const RecordFormat& format;
  OutputFile& output;
  SitesFile* sites = nullptr;  // the per-site file, or null
  LooSummary* loo = nullptr;   // the leave-one-out summary, or null
  bool figures = true;         // AF, INFO and tag names wanted (VCF output, per-site file)
};

// A contig's tables after the union, the haplotype rows and the filters,
// imputed by the run's engine. The tables of c are changed (the alignment)
// and must outlive it, as must the engine.
class PreparedContig {
 public:
  PreparedContig(const Settings& run, ContigInputs& c, bool keep_origins, const Engine& engine);

  // Whether imputing the targets at positions from .. to (the leave-one-out
  // checks included) ran into an end of the union (the engine's reach).
  CandidateEdges reach(long long from, long long to) const;

  // What write(from, to) reads of the tables. Only union positions, family
  // links and haplotype row numbers decide it, so tables without their
  // codes and haplotype values tell it.
  TablesRead tables_read(long long from, long long to) const;

  // Writes the records (and per-site lines) of the rows at positions
  // from .. to; per-site lines of the extras only within them too, those
  // without a position only when from .. to covers 1 .. kLastPosition.
  // Returns the pass's totals.
  PassTotals write(ContigSinks& sinks, long long from, long long to);

 private:
  const Settings& run_;
  const Engine& engine_;
  ContigInputs& c_;
  HapTable vcf_haps_;  // haplotypes that count the panel's ALT, in panel order
  std::vector<int> hap_of_row_;
  std::vector<bool> taken_;
  const HapTable* haps_ = &vcf_haps_;
  bool by_panel_row_ = false;
  std::vector<int> mismatched_;
  SnpUnion snp_union_;
  UnionOrigins origins_;
  std::unique_ptr<HapIndex> hap_index_;
  std::unique_ptr<RunTables> tables_;
};

}  // namespace tessellar
