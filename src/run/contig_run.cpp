// One contig from its tables to its records.
#include "run/contig_run.h"

#include <algorithm>
#include <cstdio>
#include <span>

#include "input/alignment.h"
#include "input/snp_union.h"
#include "run/pass.h"

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
    e.pos = c.vcf_haplotypes ? c.haps->pos[static_cast<std::size_t>(q)] : ExtraSite::kUnknown;
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

PreparedContig::PreparedContig(const Settings& run, ContigInputs& c, bool keep_origins,
                               const Engine& engine)
    : run_(run), engine_(engine), c_(c) {
  StudyTable& study = *c.study;
  PanelTable& panel = *c.panel;
  if (c.own != nullptr) {
    vcf_haps_ = std::move(c.own->haps);
    hap_of_row_ = std::move(c.own->hap_of_row);
  } else if (c.vcf_haplotypes && c.haps != nullptr) {
    vcf_haps_ = haplotypes_by_position(panel, c.haps->haps, c.haps->pos, c.haps->allele,
                                       hap_of_row_, taken_);
  } else if (c.haps != nullptr) {
    haps_ = &c.haps->haps;
  }
  by_panel_row_ = c.own != nullptr || c.vcf_haplotypes;
  if (by_panel_row_) hap_of_row_.resize(static_cast<std::size_t>(panel.nsnp), -1);

  snp_union_ =
      c.by_alleles ? build_union_by_alleles(study, panel, mismatched_) : build_union(study, panel);
  if (keep_origins) {
    const int n = snp_union_.n;
    origins_.study_row.assign(snp_union_.study_row.data(), snp_union_.study_row.data() + n);
    origins_.panel_row.assign(snp_union_.panel_row.data(), snp_union_.panel_row.data() + n);
  }
  if (by_panel_row_) {
    assign_haplotype_rows(snp_union_, hap_of_row_, run);
  } else {
    match_haplotypes(snp_union_, panel, *haps_, run);
  }
  align_alleles(snp_union_, study, panel, run.no_fix, run.no_remove);
  drop_monomorphic(snp_union_, study, panel);
  if (by_panel_row_) align_haplotypes(vcf_haps_, panel, hap_of_row_);
  // The packed haplotypes only the tag search reads.
  static const HapTable kNoHaplotypes;
  hap_index_ = std::make_unique<HapIndex>(run.engine == EngineKind::tags ? *haps_ : kNoHaplotypes);
  tables_ = std::make_unique<RunTables>(
      RunTables{c.name, study, panel, *haps_, *hap_index_, snp_union_, c.samples});
}

CandidateEdges PreparedContig::reach(long long from, long long to) const {
  return engine_.reach(run_, *tables_, from, to);
}

TablesRead PreparedContig::tables_read(long long from, long long to) const {
  return engine_.tables_read(run_, *tables_, from, to);
}

PassTotals PreparedContig::write(ContigSinks& sinks, long long from, long long to) {
  const PanelTable& panel = *c_.panel;
  if (!mismatched_.empty())
    std::printf(
        "contig %s: %zu SNPs of the panel have other alleles than the study's at the same "
        "position and take no part\n",
        c_.name.c_str(), mismatched_.size());
  const RunTables& tables = *tables_;
  const SitesTables site_tables{tables.study, tables.panel, tables.snp_union};
  OutcomeSink sink = [&](const std::vector<RowOutcome>& outcomes) {
    if (sinks.sites != nullptr) sinks.sites->write_rows(site_tables, origins_, outcomes);
    if (sinks.loo != nullptr) {
      for (const RowOutcome& o : outcomes)
        if (o.checked) sinks.loo->add(o.checked_maf, o.er2, o.checked_info, o.checked_r2);
    }
  };
  const bool want_outcomes = sinks.sites != nullptr || sinks.loo != nullptr;
  if (sinks.sites != nullptr) {
    std::vector<ExtraSite>& extras = c_.extras;
    for (int p : mismatched_) {
      const bool haplotypes = by_panel_row_ && hap_of_row_[static_cast<std::size_t>(p)] >= 0;
      extras.push_back(panel_extra(panel, p, haplotypes, Fate::allele_mismatch));
    }
    if (c_.own == nullptr) add_unmatched_haplotypes(c_, snp_union_, taken_, extras);
    // Within the range only; haplotype rows without a position go with the
    // whole contig alone.
    const bool whole = from <= 1 && to >= kLastPosition;
    std::erase_if(extras, [&](const ExtraSite& e) {
      return e.pos == ExtraSite::kUnknown ? !whole : (e.pos < from || e.pos > to);
    });
    sinks.sites->begin_contig(c_.name, std::move(extras));
  }
  const SnpUnion& u = snp_union_;
  PassJob job{run_,
              tables,
              sinks.format,
              first_row_at(u, from),
              first_row_at(u, to + 1),
              want_outcomes ? &sink : nullptr,
              sinks.figures};
  const PassTotals totals = engine_.write(job, sinks.output);
  if (sinks.sites != nullptr) sinks.sites->end_contig();
  return totals;
}

}  // namespace tessellar
