// The option table, the parsing of the options and their echo lines.
#include "run/cmdline.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "core/fatal.h"

namespace tessellar {
namespace {

// Most panel members a panel line can hold within its 99,999 characters.
constexpr long long kMaxPanelMembers = 50000;

// Most worker threads of the pass.
constexpr int kMaxThreads = 256;

// How an option's values are taken and echoed.
enum class Takes {
  nothing,  // sets its flag to 1; the echo text has no value
  path,     // one path; echoed as given
  number,   // one integer, converted as atoi does; echoed converted
  tags,     // one integer, the tag count: M = value + 1
  panel,    // three integers: nTR, nDU, nUN
  region,   // CONTIG, CONTIG:START, CONTIG:START-END
  engine,   // tags or hmm
  real,     // one number (strtod), checked against the option's range
};

struct OptionWord {
  const char* word;
  Option option;
  Takes takes;
  const char* echo;  // printed after the echo prefix
  int Settings::*flag = nullptr;
  std::string Settings::*path = nullptr;
  int Settings::*number = nullptr;
  double Settings::*real = nullptr;
};

int values_taken(Takes takes) {
  switch (takes) {
    case Takes::nothing:
      return 0;
    case Takes::panel:
      return 3;
    default:
      return 1;
  }
}

const OptionWord kOptions[] = {
    {"-gfile", kGfile, Takes::path, "study genotypes read from '%s'\n", nullptr, &Settings::gfile},
    {"-efile", kEfile, Takes::path, "external genotypes read from '%s'\n", nullptr,
     &Settings::efile},
    {"-h", kH, Takes::nothing, "phased haplotypes available\n", &Settings::hap_flag},
    {"-hfile", kHfile, Takes::path, "phased haplotypes read from '%s'\n", nullptr,
     &Settings::hfile},
    {"-ofile", kOfile, Takes::path, "results written to '%s_***.out'\n", nullptr, &Settings::ofile},
    {"-no_fix", kNoFix, Takes::nothing, "no internal check and fix of strand alignment\n",
     &Settings::no_fix},
    {"-no_remove", kNoRemove, Takes::nothing, "no removal of A/T and C/G SNPs\n",
     &Settings::no_remove},
    {"-speed", kSpeed, Takes::nothing, "speed up the program by ignoring SNPs not in 'phase.dat'\n",
     &Settings::speed_flag},
    {"-panel", kPanel, Takes::panel, "reference panel has %d trios, %d duos and %d singletons\n"},
    {"-tag", kTag, Takes::tags, "imputation based on %d tag SNPs\n"},
    {"-window", kWindow, Takes::number, "candidate tags chosen within the distance of %d bp\n",
     nullptr, nullptr, &Settings::window},
    {"-max", kMax, Takes::number, "candidate tags chosen at a maximun number of %d\n", nullptr,
     nullptr, &Settings::maxnum},
    {"-min", kMin, Takes::number, "candidate tags chosen at a minimum number of %d\n", nullptr,
     nullptr, &Settings::minnum},
    {"-threads", kThreads, Takes::number, "imputation on %d threads\n", nullptr, nullptr,
     &Settings::threads},
    {"-ped", kPed, Takes::path, "family structure of the VCF panel read from '%s'\n", nullptr,
     &Settings::ped},
    {"-sites", kSites, Takes::path, "per-site fates and figures written to '%s'\n", nullptr,
     &Settings::sites},
    {"-loo", kLoo, Takes::nothing, "leave-one-out check of the typed SNPs\n", &Settings::loo},
    {"-region", kRegion, Takes::region, "only the SNPs of region %s imputed and written\n"},
    {"-engine", kEngine, Takes::engine, "imputation by %s\n"},
    {"-map", kMap, Takes::path,
     "switch probabilities of the hmm engine from the genetic map '%s'\n", nullptr, &Settings::map},
    {"-switch", kSwitch, Takes::real,
     "switch probability of %g per interval between typed sites (hmm engine, no map)\n", nullptr,
     nullptr, nullptr, &Settings::switch_prob},
    {"-ne", kNe, Takes::real, "effective population size of %g (hmm engine, with a map)\n", nullptr,
     nullptr, nullptr, &Settings::ne},
    {"-error", kError, Takes::real,
     "mismatch probability of %g between a study allele and the copied one (hmm engine)\n", nullptr,
     nullptr, nullptr, &Settings::error_prob},
    {"-rounds", kRounds, Takes::number,
     "phasing of unphased study genotypes in %d rounds (hmm engine)\n", nullptr, nullptr,
     &Settings::rounds},
    {"-states", kStates, Takes::number, "%d copying states per sample in phasing (hmm engine)\n",
     nullptr, nullptr, &Settings::states},
    {"-draws", kDraws, Takes::number,
     "%d haplotype pairs per sample drawn from the phasing and imputed (hmm engine)\n", nullptr,
     nullptr, &Settings::draws},
    {"-seed", kSeed, Takes::number, "random draws of haplotype pairs from seed %d (hmm engine)\n",
     nullptr, nullptr, &Settings::seed},
    {"-rephase", kRephase, Takes::nothing,
     "a study phased in its input phased again (hmm engine)\n", &Settings::rephase},
};

// The range of an integer option of the hmm engine, from low to high.
struct IntRange {
  Option option;
  int low;
  int high;
  const char* what;  // what the option takes, for the message
};
const IntRange kIntRanges[] = {
    {kThreads, 1, kMaxThreads, "a number of threads"},
    {kRounds, 0, 100, "a number of phasing rounds"},
    {kStates, 1, 100000, "a number of copying states"},
    {kDraws, 1, 64, "a number of haplotype pairs"},
    {kSeed, 0, INT_MAX, "a seed"},
};

// The engines by name, with what the -engine echo says of them.
struct EngineName {
  const char* name;
  EngineKind kind;
  const char* echo;
};
const EngineName kEngines[] = {
    {"tags", EngineKind::tags, "tag SNPs and EM (the tag engine)"},
    {"hmm", EngineKind::hmm, "the haplotype-copying model (the hmm engine)"},
};

// The range of a real-valued option: above low and below high.
struct RealRange {
  double low;
  double high;
  const char* what;  // what the option takes, for the message
};

RealRange range_of(Option option) {
  switch (option) {
    case kSwitch:
      return {0, 1, "a probability above 0 and below 1"};
    case kError:
      return {0, 0.5, "a probability above 0 and below 0.5"};
    default:
      return {0, HUGE_VAL, "a number above 0"};
  }
}

// The value of a real-valued option: a whole number text within its range.
double to_real(const OptionWord& entry, const char* text) {
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  while (end != nullptr && *end != '\0' && std::isspace(static_cast<unsigned char>(*end))) ++end;
  const RealRange range = range_of(entry.option);
  if (end == text || *end != '\0' || errno == ERANGE || !(value > range.low) ||
      !(value < range.high))
    fatal("%s takes %s, found '%s'.", entry.word, range.what, text);
  return value;
}

const OptionWord* find_option(const char* word) {
  for (const OptionWord& entry : kOptions)
    if (std::strcmp(entry.word, word) == 0) return &entry;
  return nullptr;
}

// Converts like atoi (leading white space, a sign, the leading digits; 0
// without digits), but stops the run where atoi's result would be undefined.
int to_int(const char* option, const char* text) {
  errno = 0;
  long value = std::strtol(text, nullptr, 10);
  if (errno == ERANGE || value < INT_MIN || value > INT_MAX)
    fatal("the value '%s' of option '%s' is out of range.", text, option);
  return static_cast<int>(value);
}

// A position of -region: digits, commas allowed between them; -1 when not one.
long long region_position(std::string_view text) {
  long long value = 0;
  bool digits = false;
  for (char c : text) {
    if (c == ',' && digits) continue;
    if (c < '0' || c > '9' || value > (1LL << 40)) return -1;
    value = value * 10 + (c - '0');
    digits = true;
  }
  return digits && value >= 1 ? value : -1;
}

// CONTIG, CONTIG:START (to the end), CONTIG:START- or CONTIG:START-END,
// split at the last colon (contig names may hold colons).
Region parse_region(const char* text) {
  const std::string_view all(text);
  Region r;
  const std::size_t colon = all.rfind(':');
  const auto bad = [&]() {
    fatal("-region takes CONTIG:START-END (or CONTIG, CONTIG:START-), found '%s'.", text);
  };
  if (colon == std::string_view::npos) {
    r.contig = std::string(all);
  } else {
    r.contig = std::string(all.substr(0, colon));
    const std::string_view range = all.substr(colon + 1);
    const std::size_t dash = range.find('-');
    r.start = region_position(range.substr(0, dash));
    if (r.start < 0) bad();
    if (dash != std::string_view::npos && dash + 1 < range.size()) {
      r.end = region_position(range.substr(dash + 1));
      if (r.end < 0) bad();
    }  // CONTIG:START alone, as htslib reads it: from START to the contig's end
  }
  if (r.contig.empty() || r.end < r.start) bad();
  return r;
}

// Sets what the option sets and prints its echo text; values holds its
// arguments. The tag count is kept apart until the options end.
void apply(const OptionWord& entry, const char* const* values, Settings& s, int& tags) {
  switch (entry.takes) {
    case Takes::nothing:
      s.*entry.flag = 1;
      std::printf("%s", entry.echo);
      break;
    case Takes::path:
      s.*entry.path = values[0];
      std::printf(entry.echo, values[0]);
      // Without a name these files would be left out, not read or written.
      if (values[0][0] == '\0' && entry.option == kPed)
        fatal("-ped takes the name of a ped file, found an empty name.");
      if (values[0][0] == '\0' && entry.option == kSites)
        fatal("-sites takes the name of the per-site file, found an empty name.");
      break;
    case Takes::number:
      s.*entry.number = to_int(entry.word, values[0]);
      std::printf(entry.echo, s.*entry.number);
      break;
    case Takes::tags:
      tags = to_int(entry.word, values[0]);
      std::printf(entry.echo, tags);
      break;
    case Takes::region:
      std::printf(entry.echo, values[0]);
      s.region = parse_region(values[0]);
      s.has_region = true;
      break;
    case Takes::engine: {
      const EngineName* found = nullptr;
      for (const EngineName& e : kEngines)
        if (std::strcmp(e.name, values[0]) == 0) found = &e;
      if (found == nullptr) fatal("-engine takes tags or hmm, found '%s'.", values[0]);
      s.engine = found->kind;
      std::printf(entry.echo, found->echo);
      break;
    }
    case Takes::real:
      s.*entry.real = to_real(entry, values[0]);
      std::printf(entry.echo, s.*entry.real);
      break;
    case Takes::panel:
      s.nTR = to_int(entry.word, values[0]);
      s.nDU = to_int(entry.word, values[1]);
      s.nUN = to_int(entry.word, values[2]);
      std::printf(entry.echo, s.nTR, s.nDU, s.nUN);
      break;
  }
  for (const IntRange& r : kIntRanges)
    if (entry.option == r.option && (s.*entry.number < r.low || s.*entry.number > r.high))
      fatal("%s takes %s from %d to %d, found '%s'.", entry.word, r.what, r.low, r.high, values[0]);
}

// Values of the tag engine's options that would leave its steps without meaning.
void check_tag_values(const Settings& s, int tags) {
  if (tags < 1 || tags > kMaxTags)
    fatal("-tag takes a number of tag SNPs from 1 to %d, found %d.", kMaxTags, tags);
  if (s.window < 0) fatal("-window takes a distance of 0 bp or more, found %d.", s.window);
  if (s.maxnum < 0)
    fatal("-max takes a number of candidate tags of 0 or more, found %d.", s.maxnum);
  if (s.minnum < 0)
    fatal("-min takes a number of candidate tags of 0 or more, found %d.", s.minnum);
  if (s.maxnum < tags)
    fatal("-max %d allows fewer candidate tags than -tag %d needs: no target could be imputed.",
          s.maxnum, tags);
  if (s.minnum > s.maxnum)
    fatal("-min %d asks for more candidate tags than -max %d allows.", s.minnum, s.maxnum);
}

// Values that would leave the later steps without meaning stop the run.
// The hmm engine ignores the tag engine's options, so it does not check them.
void check_values(const Settings& s, int tags) {
  if (s.engine == EngineKind::tags) check_tag_values(s, tags);
  if (s.nTR < 0 || s.nDU < 0 || s.nUN < 0)
    fatal("-panel takes three numbers of 0 or more (trios, duos, singletons), found %d, %d and %d.",
          s.nTR, s.nDU, s.nUN);
  if (s.nTR == 0 && s.nDU == 0 && s.nUN == 0)
    fatal("-panel needs at least one trio, duo or singleton, found 0, 0 and 0.");
  const long long members = s.panel_members();
  if (members > kMaxPanelMembers)
    fatal(
        "-panel describes %lld panel members; a panel line of at most 99,999 characters "
        "holds at most %lld.",
        members, kMaxPanelMembers);
}

// The given options that the engine of the run does not use, as one line on
// standard error: "-tag, -max" for the list {-tag, -max}.
void warn_of_unused(const ParsedOptions& parsed, std::initializer_list<Option> options,
                    const char* format) {
  std::string words;
  for (Option o : options) {
    if (!parsed.given[o]) continue;
    if (!words.empty()) words += ", ";
    for (const OptionWord& entry : kOptions)
      if (entry.option == o) words += entry.word;
  }
  if (!words.empty()) std::fprintf(stderr, format, words.c_str());
}

void warn_of_unused_options(const ParsedOptions& parsed) {
  const Settings& s = parsed.settings;
  if (s.engine == EngineKind::tags) {
    warn_of_unused(parsed, {kMap, kSwitch, kNe, kError, kRounds, kStates, kDraws, kSeed, kRephase},
                   "Warning: the tag engine ignores %s (options of -engine hmm).\n");
    return;
  }
  warn_of_unused(parsed, {kTag, kWindow, kMax, kMin},
                 "Warning: -engine hmm ignores %s (options of the tag engine).\n");
  if (!s.map.empty())
    warn_of_unused(parsed, {kSwitch},
                   "Warning: -engine hmm ignores %s with a genetic map: the switch probabilities "
                   "follow the map and -ne.\n");
  if (s.map.empty())
    warn_of_unused(parsed, {kNe},
                   "Warning: -engine hmm ignores %s without a genetic map (-map).\n");
}

}  // namespace

ParsedOptions parse_options(int argc, const char* const* argv) {
  ParsedOptions parsed;
  int tags = parsed.settings.geometry.tags();
  for (int a = 1; a < argc; ++a) {
    std::printf("        -- '%s' ", argv[a]);
    const OptionWord* entry = find_option(argv[a]);
    if (entry == nullptr) fatal("Unknown command line option '%s'.", argv[a]);
    const int values = values_taken(entry->takes);
    const int left = argc - 1 - a;
    if (left < values && left == 0)
      fatal("option '%s' takes %d value%s, but none follows it.", entry->word, values,
            values == 1 ? "" : "s");
    if (left < values)
      fatal("option '%s' takes %d values, but only %d follow%s it.", entry->word, values, left,
            left == 1 ? "s" : "");
    apply(*entry, argv + a + 1, parsed.settings, tags);
    parsed.given[entry->option] = true;
    a += values;
  }
  check_values(parsed.settings, tags);
  if (parsed.settings.engine == EngineKind::tags)
    parsed.settings.geometry = WindowGeometry(tags + 1);
  warn_of_unused_options(parsed);
  parsed.settings.panel_given = parsed.given[kPanel];
  parsed.settings.hfile_given = parsed.given[kHfile];
  return parsed;
}

}  // namespace tessellar
