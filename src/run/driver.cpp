// The run driver: the pipeline of one run.
#include "run/driver.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "core/fatal.h"
#include "core/temp_files.h"
#include "input/inputs.h"
#include "input/vcf_reader.h"
#include "run/cmdline.h"
#include "run/contig_run.h"
#include "run/engine.h"
#include "run/region_run.h"
#include "run/run_inputs.h"
#include "run/run_outputs.h"

namespace tessellar {
namespace {

// Settings that make a run far costlier than the defaults are announced.
void warn_of_cost(const Settings& s) {
  const int k = s.geometry.tags();
  double sets = 1;  // C(maxnum, k)
  for (int i = 0; i < k; ++i) sets = sets * (s.maxnum - i) / (i + 1);
  // Each set costs about as much as its 2^k tag haplotypes (measured: -tag
  // 5 about 4 times, -tag 6 about 33 times the defaults' time).
  constexpr double kDefaultSets = 4845;  // C(20, 4)
  const double factor = sets * std::ldexp(1.0, k) / (kDefaultSets * 16);
  if (factor > 5)
    std::fprintf(stderr,
                 "Warning: -max %d and -tag %d make %.0f tag sets per target (the defaults make "
                 "4,845); the run may take about %.0f times as long.\n",
                 s.maxnum, k, sets, factor);
}

// A whole run: every contig of the study in turn.
void run_whole(const Settings& s, const Settings& run, const Engine& engine, RunInputs& in,
               RunOutputs& out, int argc, char** argv) {
  const std::string text_contig = text_contig_name(in);
  out.start(in, text_contig, argc, argv);
  ContigSinks sinks = out.sinks(s);
  const bool by_name = pairs_by_name(in);
  PanelTable no_panel;  // for a study contig that the panel lacks
  no_panel.ncol = no_panel.geno.members = in.panel.members;
  for (StudyContig& sc : in.study.contigs) {
    ContigInputs c = contig_inputs(in, sc, in.study.vcf ? sc.name : text_contig, by_name, no_panel,
                                   out.sites != nullptr);
    PreparedContig prepared(run, c, out.sites != nullptr, engine);
    out.totals.add(prepared.write(sinks, kFirstPosition, kLastPosition));
  }
  if (out.sites != nullptr) write_contigs_without_study(in, by_name, *out.sites);
  out.commit(s);
}

void run(int argc, char** argv) {
  const ParsedOptions options = begin_run_log(argc, argv);
  const Settings& s = options.settings;
  // The panel's format decides where the haplotypes come from.
  Readers vcf;
  vcf.panel = VcfReader::open_if_vcf(s.efile, "panel");
  const bool own_haplotypes = vcf.panel != nullptr && !s.hfile_given;
  finish_run_log_head(options, InputsSeen{vcf.panel != nullptr, own_haplotypes});
  check_outputs(s, own_haplotypes);
  RunOutputs out(s);
  const bool hmm = s.engine == EngineKind::hmm;
  if (!hmm) warn_of_cost(s);
  vcf.study = VcfReader::open_if_vcf(s.gfile, "study");
  const std::unique_ptr<Engine> engine = hmm ? make_hmm_engine(s) : make_tag_engine();
  if (!own_haplotypes) vcf.haps = VcfReader::open_if_vcf(s.hfile, "haplotype");

  RunInputs in;
  in.text_only = vcf.study == nullptr && vcf.panel == nullptr && vcf.haps == nullptr;
  const bool region = s.has_region;
  if (region) begin_region_reading(s, vcf, own_haplotypes, in);
  const Settings run = read_inputs(s, vcf, own_haplotypes, in);
  if (region) check_region_positions(in, s);
  if (!region) {
    check_mixed(in, s);
    run_whole(s, run, *engine, in, out, argc, argv);
  } else if (in.text_only) {
    run_text_region(s, run, *engine, in, out, argc, argv);
  } else {
    run_region(s, run, *engine, in, own_haplotypes, out, argc, argv);
  }
  engine->finish(s, out.totals);
  print_complete_stamp();
}

}  // namespace

int run_tessellar(int argc, char** argv) {
  // Without a standard output the run log has nowhere to go, and the first
  // file opened would take its descriptor and receive the log.
  if (::fcntl(STDOUT_FILENO, F_GETFD) == -1) {
    std::fprintf(stderr, "Error: cannot write the run log on standard output: %s.\n",
                 std::strerror(errno));
    return 1;
  }
  install_signal_handlers();
  try {
    if (print_help_or_version(argc, argv)) {
      std::fflush(stdout);
      return 0;
    }
    run(argc, argv);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return 1;  // the run log was lost
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
