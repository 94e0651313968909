// The command line and the head of the run log: banner, start stamp, the
// options and defaults in effect, the existence checks of the input files,
// and the complete stamp that ends a successful run. The command line is
// the only writer of the run's settings.
#pragma once

#include <array>

#include "core/settings.h"

namespace tessellar {

// The options in the order of the defaults report (-threads has no line
// there); a mark per option says whether it was given.
enum Option {
  kGfile,
  kEfile,
  kH,
  kHfile,
  kOfile,
  kNoFix,
  kNoRemove,
  kSpeed,
  kPanel,
  kTag,
  kWindow,
  kMax,
  kMin,
  kThreads,  // not in the defaults report
  kOptionCount
};

struct ParsedOptions {
  Settings settings;
  std::array<bool, kOptionCount> given{};
};

// Reads the options argv[1] .. argv[argc - 1] in order, printing each
// option's echo line; an unknown word, a missing value or a value out of
// range stops the run.
ParsedOptions parse_options(int argc, const char* const* argv);

// Prints "\nDefaults in effect:\n" and a line for each option not given.
void print_defaults(const ParsedOptions& options);

// The whole head of the run log: banner, start stamp, options, defaults and
// the existence checks of the input files. Returns the run's settings.
Settings start_run(int argc, const char* const* argv);

// "\nTessellar complete: <asctime>" on standard output.
void print_complete_stamp();

}  // namespace tessellar
