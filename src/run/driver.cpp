// The run driver: the pipeline of one run.
#include "run/driver.h"

#include <cstdio>
#include <new>
#include <string>

#include "core/fatal.h"
#include "input/alignment.h"
#include "input/inputs.h"
#include "input/snp_union.h"
#include "input/vcf_reader.h"
#include "run/cmdline.h"
#include "run/impute.h"
#include "run/output.h"
#include "run/pass.h"
#include "run/text_format.h"
#include "run/vcf_format.h"
#include "tags/tag_search.h"

namespace tessellar {
namespace {

// The inputs of the run, read.
struct Inputs {
  StudyInput study;
  PanelInput panel;
  HapInput haps;
  bool text_only = true;  // all three are text files: the union pairs by position alone
};

// One contig's tables, matched across the inputs.
struct ContigInputs {
  std::string name;  // in the output
  StudyTable* study;
  PanelTable* panel;
  PanelContig* own;  // the panel's own haplotypes, or null
  HapContig* haps;   // the haplotype file's rows, or null
};

// A text input carries no contig: with one, each VCF input may hold only one.
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

// The contig of `contigs` that matches name: by name without "chr", or the
// only one when either side is text.
template <typename Contig>
Contig* matching(std::vector<Contig>& contigs, const std::string& name, bool by_name) {
  if (!by_name) return contigs.empty() ? nullptr : &contigs[0];
  for (Contig& c : contigs)
    if (contig_key(c.name) == contig_key(name)) return &c;
  return nullptr;
}

// The name of a text study's contig in the output: a VCF input's, else "1".
std::string text_contig_name(const Inputs& in) {
  if (in.panel.vcf && !in.panel.contigs.empty()) return in.panel.contigs[0].name;
  if (in.haps.vcf && !in.haps.contigs.empty()) return in.haps.contigs[0].name;
  return "1";
}

// Imputes one contig and writes its records.
void impute_contig(const Settings& run, Inputs& in, ContigInputs& c, const RecordFormat& format,
                   OutputFile& output) {
  StudyTable& study = *c.study;
  PanelTable& panel = *c.panel;
  HapTable vcf_haps;  // haplotypes that count the panel's ALT, in panel order
  std::vector<int> hap_of_row;
  const HapTable* haps = &vcf_haps;
  if (c.own != nullptr) {
    vcf_haps = std::move(c.own->haps);
    hap_of_row = std::move(c.own->hap_of_row);
  } else if (in.haps.vcf && c.haps != nullptr) {
    vcf_haps = haplotypes_by_position(panel, c.haps->haps, c.haps->pos, c.haps->allele, hap_of_row);
  } else if (c.haps != nullptr) {
    haps = &c.haps->haps;
  }
  const bool by_panel_row = c.own != nullptr || in.haps.vcf;
  if (by_panel_row) hap_of_row.resize(static_cast<std::size_t>(panel.nsnp), -1);
  std::vector<int> mismatched;
  SnpUnion snp_union =
      in.text_only ? build_union(study, panel) : build_union_by_alleles(study, panel, mismatched);
  if (by_panel_row) {
    assign_haplotype_rows(snp_union, hap_of_row, run);
  } else {
    match_haplotypes(snp_union, panel, *haps, run);
  }
  align_alleles(snp_union, study, panel, run.no_fix, run.no_remove);
  drop_monomorphic(snp_union, study, panel);
  if (by_panel_row) align_haplotypes(vcf_haps, panel, hap_of_row);
  if (!in.text_only && !mismatched.empty())
    std::printf(
        "contig %s: %zu SNPs of the panel have other alleles than the study's at the same "
        "position and take no part\n",
        c.name.c_str(), mismatched.size());
  const HapIndex hap_index(*haps);
  run_pass(run, RunTables{c.name, study, panel, *haps, hap_index, snp_union}, format, output);
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
    impute_contig(run, in, c, *format, output);
  }
  output.commit();
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
