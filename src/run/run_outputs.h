// The outputs of a run, which the driver and the region runs write: the
// output file in its format, the per-site file, the leave-one-out summary;
// and the check that no file the run writes is another or an input.
#pragma once

#include <memory>
#include <string>

#include "core/settings.h"
#include "output/output.h"
#include "output/quality.h"
#include "output/records.h"
#include "output/sites.h"
#include "run/contig_run.h"
#include "run/run_inputs.h"

namespace tessellar {

// The outputs of a run: the output file in its format, the per-site file,
// the leave-one-out summary. The files are created before any input is
// read, so that an output that cannot be written stops the run at once.
struct RunOutputs {
  OutputFile file;
  std::unique_ptr<RecordFormat> format;
  std::unique_ptr<SitesFile> sites;
  LooSummary loo;
  bool hmm;  // the hmm engine's figures
  PassTotals totals;

  explicit RunOutputs(const Settings& s);
  // The format, and the VCF header, once the inputs are read; text_contig:
  // the name of a text study's contig.
  void start(const RunInputs& in, const std::string& text_contig, int argc, char** argv);
  // What the contigs' passes write to.
  ContigSinks sinks(const Settings& s);
  // Flushes the run log, then closes and renames the files and prints the
  // leave-one-out summary; stops the run when the run log was lost.
  void commit(const Settings& s);
};

// No file that the run writes may be another or an input.
void check_outputs(const Settings& s, bool own_haplotypes);

}  // namespace tessellar
