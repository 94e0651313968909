// Reading the study, the panel and the haplotypes from text or VCF.
#include "input/inputs.h"

#include <cstdio>

#include "core/fatal.h"
#include "input/ped.h"

namespace tessellar {

namespace {

// "        N records of 'path' skipped: ..." when any were.
void print_skipped(const SkipCounts& c, const std::string& path) {
  if (c.total() == 0) return;
  std::printf(
      "%d records of '%s' skipped: %d multi-allelic, %d with symbolic or other alleles, %d "
      "indels, %d not passing the filters\n",
      c.total(), path.c_str(), c.n[0], c.n[1], c.n[2], c.n[3]);
}

// Notes a record that takes no part: counted, and kept for a per-site file.
void skip(const VcfReader& r, const Settings& s, SkipCounts& counts,
          std::vector<SkippedRecord>& kept) {
  ++counts.n[static_cast<int>(r.skip_reason())];
  if (s.sites.empty()) return;
  kept.push_back({std::string(r.contig()), r.pos(), std::string(r.id()), std::string(r.ref_text()),
                  r.alt_text(), r.skip_reason(), false});
}

// Appends the fixed fields of the reader's current record as row s.
void append_site(GenotypeRows& rows, const VcfReader& r) {
  rows.name.emplace_back(r.id());
  rows.pos.push_back(r.pos());
  rows.recode.push_back(0);
  rows.allele.push_back({r.ref(), r.alt()});
  rows.freq.push_back(0);
  rows.miss.push_back(0);
  ++rows.nsnp;
}

// The table of the reader's current contig, a new one when it changes.
template <typename Contig>
Contig& contig_for(std::vector<Contig>& contigs, const VcfReader& r) {
  if (contigs.empty() || contigs.back().name != r.contig()) {
    contigs.emplace_back();
    contigs.back().name = std::string(r.contig());
  }
  return contigs.back();
}

// Appends the alleles of the reader's current record to the study table:
// phased calls as they are, unphased ones when both alleles are there.
void keep_alleles(const VcfReader& r, StudyTable& t) {
  const std::size_t first = t.alleles.size();
  t.alleles.resize(first + 2 * static_cast<std::size_t>(t.nind));
  int8_t* a = t.alleles.data() + first;
  int unphased = -1;
  for (int i = 0; i < t.nind; ++i) {
    const int a0 = r.allele(i, 0);
    const int a1 = r.allele(i, 1);
    const bool phased = r.phased(i, 1);
    const bool whole = a0 >= 0 && a1 >= 0;
    if (!phased && whole && a0 != a1 && unphased < 0) unphased = i;
    const bool kept = phased || whole;
    a[2 * i] = static_cast<int8_t>(kept ? a0 : -1);
    a[2 * i + 1] = static_cast<int8_t>(kept ? a1 : -1);
  }
  t.unphased.push_back(unphased);
}

StudyInput read_study_vcf(const Settings& s, VcfReader& r) {
  StudyInput in;
  in.vcf = true;
  in.samples = r.samples();
  in.header_contigs = r.header_contigs();
  const int nind = static_cast<int>(in.samples.size());
  in.nind = nind;
  if (nind == 0) fatal("'%s' holds no samples: the study needs individuals", r.path().c_str());
  int rows = 0;
  while (r.next()) {
    if (!r.usable()) {
      skip(r, s, in.skipped, in.skipped_records);
      continue;
    }
    r.decode_genotypes();
    StudyTable& t = contig_for(in.contigs, r).table;
    t.nind = nind;
    t.geno.members = nind;
    append_site(t, r);
    for (int i = 0; i < nind; ++i) t.geno.codes.push_back(r.code(i));
    if (s.engine == EngineKind::hmm) keep_alleles(r, t);
    set_frequencies(t, t.nsnp - 1);
    ++rows;
  }
  if (rows == 0 && !s.has_region)
    fatal("'%s' holds no biallelic SNP that passes its filters", r.path().c_str());
  std::printf("%d SNPs and %d individuals read from '%s'\n", rows, nind, r.path().c_str());
  print_skipped(in.skipped, r.path());
  return in;
}

PanelInput read_panel_vcf(const Settings& s, VcfReader& r, bool own_haplotypes) {
  PanelInput in;
  in.vcf = true;
  in.own_haplotypes = own_haplotypes;
  const int n = static_cast<int>(r.samples().size());
  if (n == 0) fatal("'%s' holds no samples: the panel needs members", r.path().c_str());
  const FamilyLayout layout = s.ped.empty() ? singletons_only(n) : read_ped(s.ped, r.samples());
  in.nTR = layout.nTR;
  in.nDU = layout.nDU;
  in.nUN = layout.nUN;
  if (s.panel_given && (s.nTR != in.nTR || s.nDU != in.nDU || s.nUN != in.nUN))
    fatal(
        "-panel says %d trios, %d duos and %d singletons, but the samples of '%s'%s%s make %d, "
        "%d and %d",
        s.nTR, s.nDU, s.nUN, r.path().c_str(), s.ped.empty() ? "" : " with ",
        s.ped.empty() ? "" : ("'" + s.ped + "'").c_str(), in.nTR, in.nDU, in.nUN);
  const int H = static_cast<int>(layout.haplotypes.size());
  in.haplotypes = H;
  std::vector<int> hap_sample;  // haplotype h is allele hap_allele[h] of sample hap_sample[h]
  std::vector<int> hap_allele;
  bool in_order = H == 2 * n;  // both alleles of every sample, in the file's order
  for (const HapSource& h : layout.haplotypes) {
    hap_sample.push_back(layout.sample_of_column[static_cast<std::size_t>(h.column)]);
    hap_allele.push_back(h.allele);
    const int at = static_cast<int>(hap_sample.size()) - 1;
    in_order = in_order && hap_sample.back() == at / 2 && h.allele == at % 2;
  }
  in.members = n;
  int rows = 0;
  int hap_rows = 0;
  while (r.next()) {
    if (!r.usable()) {
      skip(r, s, in.skipped, in.skipped_records);
      continue;
    }
    r.decode_genotypes();
    PanelContig& c = contig_for(in.contigs, r);
    PanelTable& t = c.table;
    t.vcf = true;
    t.ncol = n;
    t.nTR = in.nTR;
    t.nDU = in.nDU;
    t.nUN = in.nUN;
    t.geno.members = n;
    append_site(t, r);
    const std::size_t first = t.geno.codes.size();
    t.geno.codes.resize(first + static_cast<std::size_t>(n));
    int8_t* codes = t.geno.codes.data() + first;
    r.codes(layout.sample_of_column.data(), n, codes);
    set_frequencies(t, t.nsnp - 1);
    ++rows;
    if (!own_haplotypes) continue;
    c.haps.ncol = H;
    const std::size_t at = c.haps.bits.size();
    c.haps.bits.resize(at + static_cast<std::size_t>(H));
    uint8_t* bits = c.haps.bits.data() + at;
    if (!(in_order ? r.phased_alleles_in_order(bits)
                   : r.phased_alleles(hap_sample.data(), hap_allele.data(), H, bits))) {
      c.haps.bits.resize(at);
      c.hap_of_row.push_back(-1);
      continue;
    }
    c.hap_of_row.push_back(c.haps.nsnp++);
    c.haps.name.emplace_back(r.id());
    ++hap_rows;
  }
  if (rows == 0 && !s.has_region)
    fatal("'%s' holds no biallelic SNP that passes its filters", r.path().c_str());
  std::printf("%d SNPs, %d trios, %d duos and %d singletons read from '%s'\n", rows, in.nTR, in.nDU,
              in.nUN, r.path().c_str());
  print_skipped(in.skipped, r.path());
  if (own_haplotypes) {
    std::printf("%d SNPs, %d trios, %d duos, and %d singletons read from '%s'\n", hap_rows, in.nTR,
                in.nDU, in.nUN, r.path().c_str());
    if (rows > hap_rows)
      std::printf(
          "%d SNPs of '%s' without haplotypes: GT unphased or missing for a sample that gives "
          "haplotypes\n",
          rows - hap_rows, r.path().c_str());
  }
  return in;
}

}  // namespace

HapInput read_haplotype_vcf(const Settings& s, VcfReader& r) {
  HapInput in;
  in.vcf = true;
  in.path = r.path();
  const int n = static_cast<int>(r.samples().size());
  if (n == 0) fatal("'%s' holds no samples: no haplotypes", r.path().c_str());
  // Per sample, from its first call that is not a bare "." (a missing call
  // of either ploidy); 0 until then.
  std::vector<int> ploidy(static_cast<std::size_t>(n), 0);
  int H = 0;
  int rows = 0;
  int unphased = 0;
  SkipCounts skipped;
  while (r.next()) {
    if (!r.usable()) {
      skip(r, s, skipped, in.skipped_records);
      continue;
    }
    r.decode_genotypes();
    for (int sample = 0; sample < n; ++sample) {
      if (r.allele(sample, 2) != -2)
        fatal("%s: GT of sample %s is neither haploid nor diploid", r.where().c_str(),
              r.samples()[static_cast<std::size_t>(sample)].c_str());
      int& p = ploidy[static_cast<std::size_t>(sample)];
      if (p == 0 && !r.bare_missing(sample)) p = r.allele(sample, 1) == -2 ? 1 : 2;
    }
    bool ok = true;
    for (int sample = 0; sample < n && ok; ++sample) {
      const int p = ploidy[static_cast<std::size_t>(sample)];
      const bool haploid = r.allele(sample, 1) == -2;
      if (r.bare_missing(sample)) {
        ok = false;
        break;
      }
      if (haploid != (p == 1))
        fatal("%s: sample %s has %s GT here, %s in an earlier record", r.where().c_str(),
              r.samples()[static_cast<std::size_t>(sample)].c_str(),
              haploid ? "a haploid" : "a diploid", p == 1 ? "a haploid one" : "a diploid one");
      for (int k = 0; k < p; ++k) ok = ok && r.allele(sample, k) >= 0;
      if (p == 2) ok = ok && r.phased(sample, 1);
    }
    if (!ok) {
      ++unphased;
      if (!s.sites.empty())
        in.skipped_records.push_back({std::string(r.contig()), r.pos(), std::string(r.id()),
                                      std::string(r.ref_text()), r.alt_text(), SkipReason::filter,
                                      true});
      continue;
    }
    if (H == 0)  // the first row: every sample's ploidy is known
      for (int p : ploidy) H += p;
    HapContig& c = contig_for(in.contigs, r);
    c.haps.ncol = H;
    c.haps.name.emplace_back(r.id());
    c.pos.push_back(r.pos());
    c.allele.push_back({r.ref(), r.alt()});
    const std::size_t first = c.haps.bits.size();
    c.haps.bits.resize(first + static_cast<std::size_t>(H));
    uint8_t* bits = c.haps.bits.data() + first;
    for (int sample = 0; sample < n; ++sample) {
      for (int k = 0; k < ploidy[static_cast<std::size_t>(sample)]; ++k)
        *bits++ = static_cast<uint8_t>(r.allele(sample, k));
    }
    ++c.haps.nsnp;
    ++rows;
  }
  if (rows == 0 && !s.has_region)
    fatal("'%s' holds no biallelic SNP with phased haplotypes that passes its filters",
          r.path().c_str());
  in.rows = rows;
  in.unphased = unphased;
  in.skipped = skipped;
  return in;
}

void print_haplotype_report(const HapInput& in, const PanelInput& panel) {
  std::printf("%d SNPs, %d trios, %d duos, and %d singletons read from '%s'\n", in.rows, panel.nTR,
              panel.nDU, panel.nUN, in.path.c_str());
  print_skipped(in.skipped, in.path);
  if (in.unphased > 0)
    std::printf("%d records of '%s' without haplotypes: GT unphased or missing\n", in.unphased,
                in.path.c_str());
}

std::vector<std::string> numbered_individuals(int n) {
  std::vector<std::string> ids;
  ids.reserve(static_cast<std::size_t>(n));
  for (int i = 1; i <= n; ++i) ids.push_back("IND" + std::to_string(i));
  return ids;
}

StudyInput read_study_input(const Settings& s, std::unique_ptr<VcfReader> vcf,
                            const TextKept& kept) {
  if (vcf != nullptr) return read_study_vcf(s, *vcf);
  StudyInput in;
  in.contigs.push_back({"", read_study(s.gfile, kept.positions, kept.quiet)});
  in.nind = in.contigs[0].table.nind;
  in.samples = numbered_individuals(in.nind);
  return in;
}

PanelInput read_panel_input(const Settings& s, std::unique_ptr<VcfReader> vcf, bool own_haplotypes,
                            const TextKept& kept) {
  if (vcf != nullptr) return read_panel_vcf(s, *vcf, own_haplotypes);
  PanelInput in;
  in.nTR = s.nTR;
  in.nDU = s.nDU;
  in.nUN = s.nUN;
  in.contigs.emplace_back();
  in.contigs[0].table = read_panel(s.efile, s, kept.positions, kept.quiet);
  in.members = in.contigs[0].table.ncol;
  return in;
}

HapInput read_haplotype_input(const Settings& s, const PanelInput& panel,
                              std::unique_ptr<VcfReader> vcf, const TextKept& kept) {
  if (vcf != nullptr) {
    HapInput in = read_haplotype_vcf(s, *vcf);
    print_haplotype_report(in, panel);
    return in;
  }
  Settings layout = s;  // the log line names the panel's family units
  layout.nTR = panel.nTR;
  layout.nDU = panel.nDU;
  layout.nUN = panel.nUN;
  HapInput in;
  in.contigs.emplace_back();
  in.contigs[0].haps = read_haplotypes(s.hfile, layout, kept.haplotypes, kept.quiet);
  return in;
}

}  // namespace tessellar
