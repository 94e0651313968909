// One contig from its tables to its records.
#include "run/contig_run.h"

#include <cstdio>

#include "input/alignment.h"
#include "input/snp_union.h"
#include "run/pass.h"
#include "tags/tag_search.h"

namespace tessellar {

namespace {

// The haplotype rows that no panel SNP took, for the per-site file:
// taken[q] for VCF rows (tied by position), the union's rows for text ones.
void add_unmatched_haplotypes(const ContigInputs& c, const SnpUnion& u, std::vector<bool> taken,
                              std::vector<ExtraSite>& extras) {
  if (c.haps == nullptr) return;
  if (!c.vcf_haplotypes) {
    taken.assign(static_cast<std::size_t>(c.haps->haps.nsnp), false);
    for (int j = 0; j < u.n; ++j)
      if (u.hap_row[j] >= 0) taken[static_cast<std::size_t>(u.hap_row[j])] = true;
  }
  for (int q = 0; q < c.haps->haps.nsnp; ++q) {
    if (taken[static_cast<std::size_t>(q)]) continue;
    ExtraSite e;
    e.pos = c.vcf_haplotypes ? c.haps->pos[static_cast<std::size_t>(q)] : -1;
    e.name = c.haps->haps.name[static_cast<std::size_t>(q)];
    if (c.vcf_haplotypes) {
      e.ref = std::string(1, c.haps->allele[static_cast<std::size_t>(q)][0]);
      e.alt = std::string(1, c.haps->allele[static_cast<std::size_t>(q)][1]);
    }
    e.haplotypes = true;
    e.fate = Fate::haplotype_only;
    extras.push_back(std::move(e));
  }
}

}  // namespace

void impute_contig(const Settings& run, ContigInputs& c, ContigSinks& sinks) {
  StudyTable& study = *c.study;
  PanelTable& panel = *c.panel;
  HapTable vcf_haps;  // haplotypes that count the panel's ALT, in panel order
  std::vector<int> hap_of_row;
  std::vector<bool> taken;
  const HapTable* haps = &vcf_haps;
  if (c.own != nullptr) {
    vcf_haps = std::move(c.own->haps);
    hap_of_row = std::move(c.own->hap_of_row);
  } else if (c.vcf_haplotypes && c.haps != nullptr) {
    vcf_haps =
        haplotypes_by_position(panel, c.haps->haps, c.haps->pos, c.haps->allele, hap_of_row, taken);
  } else if (c.haps != nullptr) {
    haps = &c.haps->haps;
  }
  const bool by_panel_row = c.own != nullptr || c.vcf_haplotypes;
  if (by_panel_row) hap_of_row.resize(static_cast<std::size_t>(panel.nsnp), -1);

  std::vector<int> mismatched;
  SnpUnion snp_union =
      c.by_alleles ? build_union_by_alleles(study, panel, mismatched) : build_union(study, panel);
  UnionOrigins origins;
  if (sinks.sites != nullptr) {
    origins.study_row.assign(snp_union.study_row.data(), snp_union.study_row.data() + snp_union.n);
    origins.panel_row.assign(snp_union.panel_row.data(), snp_union.panel_row.data() + snp_union.n);
  }
  if (by_panel_row) {
    assign_haplotype_rows(snp_union, hap_of_row, run);
  } else {
    match_haplotypes(snp_union, panel, *haps, run);
  }
  align_alleles(snp_union, study, panel, run.no_fix, run.no_remove);
  drop_monomorphic(snp_union, study, panel);
  if (by_panel_row) align_haplotypes(vcf_haps, panel, hap_of_row);
  if (!mismatched.empty())
    std::printf(
        "contig %s: %zu SNPs of the panel have other alleles than the study's at the same "
        "position and take no part\n",
        c.name.c_str(), mismatched.size());

  const HapIndex hap_index(*haps);
  const RunTables tables{c.name, study, panel, *haps, hap_index, snp_union};
  OutcomeSink sink = [&](const std::vector<RowOutcome>& outcomes) {
    if (sinks.sites != nullptr) sinks.sites->write_rows(tables, origins, outcomes);
    if (sinks.loo != nullptr) {
      for (const RowOutcome& o : outcomes)
        if (o.checked) sinks.loo->add(o.checked_maf, o.er2, o.checked_info);
    }
  };
  const bool want_outcomes = sinks.sites != nullptr || sinks.loo != nullptr;
  if (sinks.sites != nullptr) {
    for (int p : mismatched) {
      ExtraSite e;
      e.pos = panel.pos[static_cast<std::size_t>(p)];
      e.name = panel.name[static_cast<std::size_t>(p)];
      e.ref = std::string(1, panel.allele[static_cast<std::size_t>(p)][0]);
      e.alt = std::string(1, panel.allele[static_cast<std::size_t>(p)][1]);
      e.in_panel = true;
      e.haplotypes = by_panel_row && hap_of_row[static_cast<std::size_t>(p)] >= 0;
      e.fate = Fate::allele_mismatch;
      c.extras.push_back(std::move(e));
    }
    if (c.own == nullptr) add_unmatched_haplotypes(c, snp_union, taken, c.extras);
    sinks.sites->begin_contig(c.name, std::move(c.extras));
  }
  PassJob job{run, tables, sinks.format, 0, snp_union.n, want_outcomes ? &sink : nullptr};
  run_pass(job, sinks.output);
  if (sinks.sites != nullptr) sinks.sites->end_contig();
}

}  // namespace tessellar
