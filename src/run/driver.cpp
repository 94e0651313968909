// The run driver: the pipeline of one run.
#include "run/driver.h"

#include <cstdio>
#include <new>
#include <string>

#include "core/fatal.h"
#include "input/alignment.h"
#include "input/haplotypes.h"
#include "input/panel.h"
#include "input/snp_union.h"
#include "input/study.h"
#include "run/cmdline.h"
#include "run/impute.h"
#include "run/output.h"
#include "run/pass.h"
#include "tags/tag_search.h"

namespace tessellar {
namespace {

void run(int argc, char** argv) {
  const Settings s = start_run(argc, argv);
  StudyTable study = read_study(s.gfile);
  PanelTable panel = read_panel(s.efile, s);
  HapTable haps = read_haplotypes(s.hfile, s);
  SnpUnion snp_union = build_union(study, panel);
  match_haplotypes(snp_union, panel, haps, s);
  align_alleles(snp_union, study, panel, s.no_fix, s.no_remove);
  drop_monomorphic(snp_union, study, panel);
  const HapIndex hap_index(haps);
  OutputFile output(s.ofile);
  run_pass(s, RunTables{study, panel, haps, hap_index, snp_union}, output);
  output.commit();
  print_complete_stamp();
}

}  // namespace

int run_tessellar(int argc, char** argv) {
  try {
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
