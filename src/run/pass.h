// The pass over the union rows in ascending position: each row is written
// through, imputed in mode 0 or mode 1, or skipped. With several threads the
// targets are imputed in parallel and the records still written in row order.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "hmm/panel_families.h"
#include "output/output.h"
#include "output/records.h"
#include "run/impute.h"

namespace tessellar {

// What the pass does with one union row.
enum class RowAction { kSkip, kWriteThrough, kImputeUntyped, kImputeIncomplete };

// The action for union row j, by the first matching rule.
RowAction row_action(const Settings& settings, const RunTables& tables, int j);

// Receives the outcomes of consecutive union rows, in row order, on the
// thread that writes the output.
using OutcomeSink = std::function<void(const std::vector<RowOutcome>&)>;

// What one pass works on: the union rows [row_begin, row_end) of the
// tables, written to output in the given format.
struct PassJob {
  const Settings& settings;
  const RunTables& tables;
  const RecordFormat& format;
  int row_begin = 0;
  int row_end = 0;
  const OutcomeSink* outcomes = nullptr;  // null: no per-row outcomes wanted
  bool figures = true;  // the records' AF, INFO and tag names are wanted (VCF, per-site file)
};

// The targets of a pass, and those of them that got no tag set; the hmm
// engine's checks of the panel's families.
struct PassTotals {
  int targets = 0;
  int without_tags = 0;
  hmm::FamilyCheck families;
  void add(const PassTotals& o) {
    targets += o.targets;
    without_tags += o.without_tags;
    families.add(o.families);
  }
};

// Writes the records of the job's rows to output, imputing on
// settings.threads worker threads (1: in the calling thread); the output is
// the same for every thread count. Shows progress on standard error when it
// is a terminal.
PassTotals run_pass(const PassJob& job, OutputFile& output);

}  // namespace tessellar
