// Imputing one contig: the union of its study and panel rows, the
// haplotype rows, the alignment and filters, then the pass, with the
// per-site file's lines and the leave-one-out summary when they are wanted.
#pragma once

#include <string>
#include <vector>

#include "core/settings.h"
#include "input/inputs.h"
#include "run/output.h"
#include "run/quality.h"
#include "run/records.h"
#include "run/sites.h"

namespace tessellar {

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
};

// What the contig's pass writes to, besides the output.
struct ContigSinks {
  const RecordFormat& format;
  OutputFile& output;
  SitesFile* sites = nullptr;  // the per-site file, or null
  LooSummary* loo = nullptr;   // the leave-one-out summary, or null
};

// Imputes the contig and writes its records (and per-site lines).
void impute_contig(const Settings& run, ContigInputs& c, ContigSinks& sinks);

}  // namespace tessellar
