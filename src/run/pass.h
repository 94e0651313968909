// The pass over the union rows in ascending position: each row is written
// through, imputed in mode 0 or mode 1, or skipped. With several threads the
// targets are imputed in parallel and the records still written in row order.
#pragma once

#include "run/impute.h"
#include "run/output.h"
#include "run/records.h"

namespace tessellar {

// What the pass does with one union row.
enum class RowAction { kSkip, kWriteThrough, kImputeUntyped, kImputeIncomplete };

// The action for union row j, by the first matching rule.
RowAction row_action(const Settings& settings, const RunTables& tables, int j);

// Writes the records of every union row to output in the given format,
// imputing on settings.threads worker threads (1: in the calling thread);
// the output is the same for every thread count. Shows progress on standard
// error when it is a terminal.
void run_pass(const Settings& settings, const RunTables& tables, const RecordFormat& format,
              OutputFile& output);

}  // namespace tessellar
