// The per-site file: fates, figures, the merge of the SNPs outside the union.
#include "output/sites.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "input/alignment.h"

namespace tessellar {

namespace {

void append_figure(std::string& out, double value) {
  out += '\t';
  if (std::isnan(value)) {
    out += '.';
    return;
  }
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%.4f", value);
  out.append(text, static_cast<std::size_t>(length));
}

void append_flag(std::string& out, bool on) {
  out += '\t';
  out += on ? '1' : '0';
}

// The fate of a union row from the pass's outcome and what the filters left.
Fate fate_of(const SitesTables& t, const UnionOrigins& o, const RowOutcome& r) {
  switch (r.result) {
    case RowOutcome::Result::written_through:
      return Fate::typed;
    case RowOutcome::Result::typed:
      return Fate::typed_imputed;
    case RowOutcome::Result::untyped:
      return Fate::imputed;
    case RowOutcome::Result::no_tag_set:
    case RowOutcome::Result::skipped:
      break;
  }
  const SnpUnion& u = t.snp_union;
  const int j = r.row;
  const int s0 = o.study_row[static_cast<std::size_t>(j)];
  const int p0 = o.panel_row[static_cast<std::size_t>(j)];
  // A typed SNP whose study genotypes were set aside, and which the panel
  // could not impute either, is missing for the first reason.
  if (s0 >= 0 && u.study_row[j] < 0)
    return monomorphic(t.study.freq[static_cast<std::size_t>(s0)]) ? Fate::monomorphic
                                                                   : Fate::strand_ambiguous;
  if (r.result == RowOutcome::Result::no_tag_set) return Fate::no_tag_set;
  if (u.study_row[j] >= 0) return p0 < 0 ? Fate::study_only : Fate::no_haplotype_row;
  if (p0 >= 0 && u.hap_row[j] < 0) return Fate::no_haplotype_row;
  return Fate::monomorphic;
}

}  // namespace

const char* fate_name(Fate fate) {
  switch (fate) {
    case Fate::typed:
      return "typed";
    case Fate::typed_imputed:
      return "typed+imputed";
    case Fate::imputed:
      return "imputed";
    case Fate::study_only:
      return "study-only";
    case Fate::monomorphic:
      return "monomorphic";
    case Fate::strand_ambiguous:
      return "strand-ambiguous";
    case Fate::no_haplotype_row:
      return "no-haplotype-row";
    case Fate::no_tag_set:
      return "no-tag-set";
    case Fate::allele_mismatch:
      return "allele-mismatch";
    case Fate::haplotype_only:
      return "haplotype-only";
    case Fate::no_study_contig:
      return "no-study-contig";
    case Fate::skipped_multiallelic:
      return "skipped-multiallelic";
    case Fate::skipped_symbolic:
      return "skipped-symbolic";
    case Fate::skipped_indel:
      return "skipped-indel";
    case Fate::skipped_filter:
      return "skipped-filter";
    case Fate::skipped_unphased:
      return "skipped-unphased";
  }
  return "?";
}

SitesFile::SitesFile(const std::string& path, bool with_r2)
    : file_(path, path.ends_with(".gz") ? OutputKind::text_gz : OutputKind::text, 1,
            "per-site file"),
      with_r2_(with_r2) {
  file_.write_header(
      std::string(
          "#CONTIG\tPOS\tNAME\tREF\tALT\tIN_STUDY\tIN_PANEL\tHAPLOTYPES\tFATE\tAF\tMAF\tINFO"
          "\tTS\tTAGS\tER2") +
      (with_r2 ? "\tR2\n" : "\n"));
}

void SitesFile::begin_contig(const std::string& contig, std::vector<ExtraSite> extras) {
  contig_ = contig;
  extras_ = std::move(extras);
  // Known positions in order; unknown ones last, in their given order.
  std::stable_sort(extras_.begin(), extras_.end(), [](const ExtraSite& a, const ExtraSite& b) {
    const long long ka = a.pos == ExtraSite::kUnknown ? (1LL << 40) : a.pos;
    const long long kb = b.pos == ExtraSite::kUnknown ? (1LL << 40) : b.pos;
    return ka < kb;
  });
  next_extra_ = 0;
}

ExtraSite panel_extra(const PanelTable& t, int r, bool haplotypes, Fate fate) {
  const auto row = static_cast<std::size_t>(r);
  ExtraSite e;
  e.pos = t.pos[row];
  e.name = t.name[row];
  e.ref = std::string(1, t.allele[row][0]);
  e.alt = std::string(1, t.allele[row][1]);
  e.in_panel = true;
  e.haplotypes = haplotypes;
  e.fate = fate;
  return e;
}

void SitesFile::append_extra(const ExtraSite& e) {
  std::string& out = chunk_.text;
  out += contig_;
  out += '\t';
  out += e.pos == ExtraSite::kUnknown ? "." : std::to_string(e.pos);
  out += '\t';
  out += e.name.empty() ? "." : e.name;
  out += '\t';
  out += e.ref.empty() ? "." : e.ref;
  out += '\t';
  out += e.alt.empty() ? "." : e.alt;
  append_flag(out, e.in_study);
  append_flag(out, e.in_panel);
  append_flag(out, e.haplotypes);
  out += '\t';
  out += fate_name(e.fate);
  out += with_r2_ ? "\t.\t.\t.\t.\t.\t.\t.\n" : "\t.\t.\t.\t.\t.\t.\n";
}

void SitesFile::write_extras_before(long long pos) {
  while (next_extra_ < extras_.size() && extras_[next_extra_].pos != ExtraSite::kUnknown &&
         extras_[next_extra_].pos < pos) {
    append_extra(extras_[next_extra_++]);
  }
}

void SitesFile::write_rows(const SitesTables& t, const UnionOrigins& o,
                           const std::vector<RowOutcome>& outcomes) {
  chunk_.clear();
  const SnpUnion& u = t.snp_union;
  for (const RowOutcome& r : outcomes) {
    const int j = r.row;
    write_extras_before(u.pos[j]);
    const int s0 = o.study_row[static_cast<std::size_t>(j)];
    const int p0 = o.panel_row[static_cast<std::size_t>(j)];
    const Fate fate = fate_of(t, o, r);
    // Names and letters as in the output record: the study's where it keeps
    // the SNP, else the panel's with the counted allele as ALT.
    std::string_view name;
    char ref;
    char alt;
    if (s0 >= 0 && r.result != RowOutcome::Result::untyped) {
      name = t.study.name[static_cast<std::size_t>(s0)];
      ref = t.study.allele[static_cast<std::size_t>(s0)][0];
      alt = t.study.allele[static_cast<std::size_t>(s0)][1];
    } else {
      name = t.panel.name[static_cast<std::size_t>(p0)];
      const auto& a = t.panel.allele[static_cast<std::size_t>(p0)];
      const bool first = t.panel.is_flipped(p0);
      ref = a[first ? 1 : 0];
      alt = a[first ? 0 : 1];
    }
    std::string& out = chunk_.text;
    out += contig_;
    out += '\t';
    out += std::to_string(u.pos[j]);
    out += '\t';
    if (name.empty()) {
      out += '.';
    } else {
      out += name;
    }
    out += '\t';
    out += ref;
    out += '\t';
    out += alt;
    append_flag(out, s0 >= 0);
    append_flag(out, p0 >= 0);
    append_flag(out, u.hap_row[j] >= 0);
    out += '\t';
    out += fate_name(fate);
    append_figure(out, r.af);
    append_figure(out, std::isnan(r.af) ? r.af : std::min(r.af, 1 - r.af));
    append_figure(out, r.info);
    append_figure(out, r.score);
    out += '\t';
    out += r.tags.empty() ? "." : r.tags;
    append_figure(out, r.er2);
    if (with_r2_) append_figure(out, r.r2);
    out += '\n';
  }
  file_.prepare(chunk_);
  file_.write(chunk_);
}

void SitesFile::end_contig() {
  chunk_.clear();
  while (next_extra_ < extras_.size()) append_extra(extras_[next_extra_++]);
  file_.prepare(chunk_);
  file_.write(chunk_);
  extras_.clear();
}

void SitesFile::commit() {
  file_.commit();
}

}  // namespace tessellar
