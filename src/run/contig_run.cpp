// One contig from its tables to its records.
#include "run/contig_run.h"

#include <algorithm>
#include <cstdio>
#include <span>

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

PreparedContig::PreparedContig(const Settings& run, ContigInputs& c, bool keep_origins)
    : run_(run), c_(c) {
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
  hap_index_ = std::make_unique<HapIndex>(*haps_);
  tables_ =
      std::make_unique<RunTables>(RunTables{c.name, study, panel, *haps_, *hap_index_, snp_union_});
}

int PreparedContig::first_row_at(long long pos) const {
  int lo = 0;
  int hi = snp_union_.n;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (snp_union_.pos[mid] < pos) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

void PreparedContig::each_collection(long long from, long long to,
                                     const std::function<void(const TagScratch&)>& visit) const {
  const TagScratchPtr scratch = make_tag_scratch();
  const SnpUnion& u = snp_union_;
  const int end = first_row_at(to + 1);
  for (int j = first_row_at(from); j < end; ++j) {
    const RowAction action = row_action(run_, *tables_, j);
    const bool checked =
        run_.loo && u.study_row[j] >= 0 && u.panel_row[j] >= 0 && u.hap_row[j] >= 0;
    for (const Mode mode : {Mode::untyped, Mode::incomplete}) {
      const bool wanted = mode == Mode::untyped ? action == RowAction::kImputeUntyped || checked
                                                : action == RowAction::kImputeIncomplete;
      if (!wanted) continue;
      collect_candidates(run_, u, j, mode, *scratch);
      visit(*scratch);
    }
  }
}

CandidateEdges PreparedContig::reach(long long from, long long to) const {
  CandidateEdges edges;
  each_collection(from, to, [&](const TagScratch& scratch) {
    const CandidateEdges e = candidate_edges(scratch);
    edges.left = edges.left || e.left;
    edges.right = edges.right || e.right;
  });
  return edges;
}

TablesRead PreparedContig::tables_read(long long from, long long to) const {
  const SnpUnion& u = snp_union_;
  int lo = first_row_at(from);  // union rows
  int hi = first_row_at(to + 1) - 1;
  each_collection(from, to, [&](const TagScratch& scratch) {
    const std::span<const int> c = candidates(scratch);  // ascending
    if (c.empty()) return;
    lo = std::min(lo, c.front());
    hi = std::max(hi, c.back());
  });
  TablesRead read;
  if (lo > hi) return read;
  read.positions = {u.pos[lo], u.pos[hi]};
  for (int j = lo; j <= hi; ++j) {
    const int h = u.hap_row[j];
    if (h < 0) continue;
    if (read.haplotypes.first > read.haplotypes.last) read.haplotypes = {h, h};
    read.haplotypes.first = std::min(read.haplotypes.first, h);
    read.haplotypes.last = std::max(read.haplotypes.last, h);
  }
  return read;
}

PassTotals PreparedContig::write(ContigSinks& sinks, long long from, long long to) {
  const PanelTable& panel = *c_.panel;
  if (!mismatched_.empty())
    std::printf(
        "contig %s: %zu SNPs of the panel have other alleles than the study's at the same "
        "position and take no part\n",
        c_.name.c_str(), mismatched_.size());
  const RunTables& tables = *tables_;
  OutcomeSink sink = [&](const std::vector<RowOutcome>& outcomes) {
    if (sinks.sites != nullptr) sinks.sites->write_rows(tables, origins_, outcomes);
    if (sinks.loo != nullptr) {
      for (const RowOutcome& o : outcomes)
        if (o.checked) sinks.loo->add(o.checked_maf, o.er2, o.checked_info);
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
  PassJob job{run_,
              tables,
              sinks.format,
              first_row_at(from),
              first_row_at(to + 1),
              want_outcomes ? &sink : nullptr,
              sinks.figures};
  const PassTotals totals = run_pass(job, sinks.output);
  if (sinks.sites != nullptr) sinks.sites->end_contig();
  return totals;
}

}  // namespace tessellar
