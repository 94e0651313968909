// The command line and the head of the run log: banner, start stamp, the
// options and defaults in effect, the existence checks of the input files,
// and the complete stamp that ends a successful run. The command line is
// the only writer of the run's settings.
#pragma once

#include <array>
#include <string>

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
  kThreads,  // not in the defaults report, nor the options below
  kPed,
  kSites,
  kLoo,
  kRegion,
  kEngine,
  kMap,
  kSwitch,
  kNe,
  kError,
  kRounds,
  kStates,
  kDraws,
  kSeed,
  kRephase,
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

// What the defaults report says of the inputs beyond the options.
struct InputsSeen {
  bool panel_vcf = false;              // the panel is VCF/BCF: its structure comes from -ped
  bool haplotypes_from_panel = false;  // and it gives the haplotypes (no -hfile)
};

// Prints "\nDefaults in effect:\n" and a line for each option not given.
void print_defaults(const ParsedOptions& options, const InputsSeen& seen);

// The first part of the run log: banner, start stamp, the options in effect.
ParsedOptions begin_run_log(int argc, const char* const* argv);

// The rest of its head: the defaults report and the existence checks of the
// input files (no haplotype file when the panel gives the haplotypes).
void finish_run_log_head(const ParsedOptions& options, const InputsSeen& seen);

// -help, --help and --version as the first argument print the usage summary
// or the version on standard output; true when one did (the run ends, status 0).
bool print_help_or_version(int argc, const char* const* argv);

// "\nTessellar complete: <asctime>" on standard output.
void print_complete_stamp();

}  // namespace tessellar
