// The run driver: the pipeline of one run.
#include "run/driver.h"

#include <cstdio>
#include <new>
#include <string>

#include "core/fatal.h"
#include "input/inputs.h"
#include "input/vcf_reader.h"
#include "run/cmdline.h"
#include "run/contig_run.h"
#include "run/output.h"
#include "run/text_format.h"
#include "run/vcf_format.h"

namespace tessellar {
namespace {

// The inputs of the run, read.
struct Inputs {
  StudyInput study;
  PanelInput panel;
  HapInput haps;
  bool text_only = true;  // all three are text files: the union pairs by position alone
};

// A text input carries no contig: beside one, each VCF input may hold only one.
void check_mixed(const Inputs& in, const Settings& s) {
  const bool haps_text = !in.panel.own_haplotypes && !in.haps.vcf;
  const bool any_text = !in.study.vcf || !in.panel.vcf || haps_text;
  const bool any_vcf = in.study.vcf || in.panel.vcf || in.haps.vcf;
  if (!any_text || !any_vcf) return;
  auto check = [](bool vcf, std::size_t contigs, const std::string& path) {
    if (vcf && contigs > 1)
      fatal(
          "'%s' holds %zu contigs; beside a text input, which carries none, a VCF input may hold "
          "only one",
          path.c_str(), contigs);
  };
  check(in.study.vcf, in.study.contigs.size(), s.gfile);
  check(in.panel.vcf, in.panel.contigs.size(), s.efile);
  check(in.haps.vcf, in.haps.contigs.size(), s.hfile);
}

// Whether two contig names match: by name without "chr" when both inputs
// carry contigs, always when either is text (one contig).
bool same_contig(const std::string& a, const std::string& b, bool by_name) {
  return !by_name || contig_key(a) == contig_key(b);
}

template <typename Contig>
Contig* matching(std::vector<Contig>& contigs, const std::string& name, bool by_name) {
  for (Contig& c : contigs)
    if (same_contig(c.name, name, by_name)) return &c;
  return nullptr;
}

// The name of a text study's contig in the output: a VCF input's, else "1".
std::string text_contig_name(const Inputs& in) {
  if (in.panel.vcf && !in.panel.contigs.empty()) return in.panel.contigs[0].name;
  if (in.haps.vcf && !in.haps.contigs.empty()) return in.haps.contigs[0].name;
  return "1";
}

Fate skipped_fate(const SkippedRecord& r) {
  if (r.unphased) return Fate::skipped_unphased;
  switch (r.reason) {
    case SkipReason::multiallelic:
      return Fate::skipped_multiallelic;
    case SkipReason::symbolic:
      return Fate::skipped_symbolic;
    case SkipReason::indel:
      return Fate::skipped_indel;
    case SkipReason::filter:
      return Fate::skipped_filter;
  }
  return Fate::skipped_filter;
}

// The skipped records of one input on the contig, as per-site lines.
void add_skipped(const std::vector<SkippedRecord>& records, const std::string& contig, bool by_name,
                 int input, std::vector<ExtraSite>& extras) {
  for (const SkippedRecord& r : records) {
    if (!same_contig(r.contig, contig, by_name)) continue;
    ExtraSite e;
    e.pos = r.pos;
    e.name = r.id;
    e.ref = r.ref;
    e.alt = r.alt;
    e.in_study = input == 0;
    e.in_panel = input == 1;
    e.haplotypes = input == 2;
    e.fate = skipped_fate(r);
    extras.push_back(std::move(e));
  }
}

// The VCF header of the output.
std::string output_header(const Inputs& in, const std::string& text_contig, int argc, char** argv) {
  VcfHeaderInfo info;
  info.command_line = joined_command_line(argc, argv);
  info.samples = in.study.samples;
  if (in.study.vcf) {
    for (const HeaderContig& c : in.study.header_contigs)
      info.contigs.push_back({c.name, c.length});
  } else {
    info.contigs.push_back({text_contig, 0});
  }
  return vcf_header(info);
}

// The panel's contigs that the study lacks: their SNPs on the per-site file.
void write_contigs_without_study(Inputs& in, bool by_name, SitesFile& sites) {
  for (PanelContig& pc : in.panel.contigs) {
    if (matching(in.study.contigs, pc.name, by_name) != nullptr) continue;
    std::vector<ExtraSite> extras;
    const PanelTable& t = pc.table;
    for (int r = 0; r < t.nsnp; ++r) {
      ExtraSite e;
      e.pos = t.pos[static_cast<std::size_t>(r)];
      e.name = t.name[static_cast<std::size_t>(r)];
      e.ref = std::string(1, t.allele[static_cast<std::size_t>(r)][0]);
      e.alt = std::string(1, t.allele[static_cast<std::size_t>(r)][1]);
      e.in_panel = true;
      e.haplotypes = !pc.hap_of_row.empty() && pc.hap_of_row[static_cast<std::size_t>(r)] >= 0;
      e.fate = Fate::no_study_contig;
      extras.push_back(std::move(e));
    }
    add_skipped(in.panel.skipped_records, pc.name, by_name, 1, extras);
    sites.begin_contig(pc.name, std::move(extras));
    sites.end_contig();
  }
}

void run(int argc, char** argv) {
  const ParsedOptions options = begin_run_log(argc, argv);
  const Settings& s = options.settings;
  // The panel's format decides where the haplotypes come from.
  std::unique_ptr<VcfReader> panel_vcf = VcfReader::open_if_vcf(s.efile, "panel");
  const bool own_haplotypes = panel_vcf != nullptr && !s.hfile_given;
  finish_run_log_head(options, own_haplotypes);
  std::unique_ptr<VcfReader> study_vcf = VcfReader::open_if_vcf(s.gfile, "study");
  std::unique_ptr<VcfReader> hap_vcf =
      own_haplotypes ? nullptr : VcfReader::open_if_vcf(s.hfile, "haplotype");

  Inputs in;
  in.text_only = study_vcf == nullptr && panel_vcf == nullptr && hap_vcf == nullptr;
  in.study = read_study_input(s, std::move(study_vcf));
  in.panel = read_panel_input(s, std::move(panel_vcf), own_haplotypes);
  Settings run = s;  // with the panel's family units
  run.nTR = in.panel.nTR;
  run.nDU = in.panel.nDU;
  run.nUN = in.panel.nUN;
  if (!own_haplotypes) in.haps = read_haplotype_input(run, in.panel, std::move(hap_vcf));
  check_mixed(in, s);

  const OutputKind kind = output_kind(s.ofile);
  OutputFile output(s.ofile, kind, s.threads);
  const std::string text_contig = text_contig_name(in);
  std::unique_ptr<RecordFormat> format;
  if (kind == OutputKind::text) {
    format = std::make_unique<TextFormat>();
  } else {
    format = std::make_unique<VcfFormat>();
    output.write_header(output_header(in, text_contig, argc, argv));
  }
  std::unique_ptr<SitesFile> sites;
  if (!s.sites.empty()) sites = std::make_unique<SitesFile>(s.sites);
  LooSummary loo;
  ContigSinks sinks{*format, output, sites.get(), s.loo ? &loo : nullptr};

  const bool by_name = in.study.vcf && (in.panel.vcf || in.haps.vcf);
  PanelTable no_panel;  // for a study contig that the panel lacks
  no_panel.ncol = no_panel.geno.members = in.panel.nTR * 3 + in.panel.nDU * 2 + in.panel.nUN;
  for (StudyContig& sc : in.study.contigs) {
    ContigInputs c;
    c.name = in.study.vcf ? sc.name : text_contig;
    c.study = &sc.table;
    PanelContig* pc = matching(in.panel.contigs, sc.name, by_name && in.panel.vcf);
    c.panel = pc != nullptr ? &pc->table : &no_panel;
    c.own = own_haplotypes ? pc : nullptr;
    c.haps = own_haplotypes ? nullptr : matching(in.haps.contigs, sc.name, by_name && in.haps.vcf);
    c.by_alleles = !in.text_only;
    c.vcf_haplotypes = in.haps.vcf;
    if (sites != nullptr) {
      add_skipped(in.study.skipped_records, sc.name, by_name, 0, c.extras);
      add_skipped(in.panel.skipped_records, sc.name, by_name && in.panel.vcf, 1, c.extras);
      add_skipped(in.haps.skipped_records, sc.name, by_name && in.haps.vcf, 2, c.extras);
    }
    impute_contig(run, c, sinks);
  }
  if (sites != nullptr) write_contigs_without_study(in, by_name, *sites);
  output.commit();
  if (sites != nullptr) sites->commit();
  if (s.loo) loo.print();
  print_complete_stamp();
}

}  // namespace

int run_tessellar(int argc, char** argv) {
  try {
    if (print_help_or_version(argc, argv)) {
      std::fflush(stdout);
      return 0;
    }
    run(argc, argv);
    std::fflush(stdout);
    return 0;
  } catch (const RunStopped&) {
    std::fflush(stdout);
    return 1;
  } catch (const std::bad_alloc&) {
    try {
      fatal("not enough memory for this run.");
    } catch (const RunStopped&) {
    }
    return 1;
  }
}

}  // namespace tessellar
