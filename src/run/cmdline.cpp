// Option table, echo lines, defaults report, banner, stamps, existence checks.
#include "run/cmdline.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "run/fatal.h"

namespace tessellar {
namespace {

// Most panel members a panel line can hold within its 99,999 characters.
constexpr long long kMaxPanelMembers = 50000;

// Most worker threads of the pass.
constexpr int kMaxThreads = 256;

struct OptionWord {
  const char* word;
  Option option;
  int values;        // arguments taken after the word
  const char* echo;  // printed after the echo prefix
};

constexpr OptionWord kOptions[] = {
    {"-gfile", kGfile, 1, "study genotypes read from '%s'\n"},
    {"-efile", kEfile, 1, "external genotypes read from '%s'\n"},
    {"-h", kH, 0, "phased haplotypes available\n"},
    {"-hfile", kHfile, 1, "phased haplotypes read from '%s'\n"},
    {"-ofile", kOfile, 1, "results written to '%s_***.out'\n"},
    {"-no_fix", kNoFix, 0, "no internal check and fix of strand alignment\n"},
    {"-no_remove", kNoRemove, 0, "no removal of A/T and C/G SNPs\n"},
    {"-speed", kSpeed, 0, "speed up the program by ignoring SNPs not in 'phase.dat'\n"},
    {"-panel", kPanel, 3, "reference panel has %d trios, %d duos and %d singletons\n"},
    {"-tag", kTag, 1, "imputation based on %d tag SNPs\n"},
    {"-window", kWindow, 1, "candidate tags chosen within the distance of %d bp\n"},
    {"-max", kMax, 1, "candidate tags chosen at a maximun number of %d\n"},
    {"-min", kMin, 1, "candidate tags chosen at a minimum number of %d\n"},
    {"-threads", kThreads, 1, "imputation on %d threads\n"},
};

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

void apply(const OptionWord& entry, const char* const* values, Settings& s) {
  const char* v = values[0];
  switch (entry.option) {
    case kGfile:
      s.gfile = v;
      std::printf(entry.echo, v);
      break;
    case kEfile:
      s.efile = v;
      std::printf(entry.echo, v);
      break;
    case kH:
      s.hap_flag = 1;
      std::printf("%s", entry.echo);
      break;
    case kHfile:
      s.hfile = v;
      std::printf(entry.echo, v);
      break;
    case kOfile:
      s.ofile = v;
      std::printf(entry.echo, v);
      break;
    case kNoFix:
      s.no_fix = 1;
      std::printf("%s", entry.echo);
      break;
    case kNoRemove:
      s.no_remove = 1;
      std::printf("%s", entry.echo);
      break;
    case kSpeed:
      s.speed_flag = 1;
      std::printf("%s", entry.echo);
      break;
    case kPanel:
      s.nTR = to_int(entry.word, values[0]);
      s.nDU = to_int(entry.word, values[1]);
      s.nUN = to_int(entry.word, values[2]);
      std::printf(entry.echo, s.nTR, s.nDU, s.nUN);
      break;
    case kTag: {
      int tags = to_int(entry.word, v);
      s.M = tags + 1;
      std::printf(entry.echo, tags);
      break;
    }
    case kWindow:
      s.window = to_int(entry.word, v);
      std::printf(entry.echo, s.window);
      break;
    case kMax:
      s.maxnum = to_int(entry.word, v);
      std::printf(entry.echo, s.maxnum);
      break;
    case kMin:
      s.minnum = to_int(entry.word, v);
      std::printf(entry.echo, s.minnum);
      break;
    case kThreads:
      s.threads = to_int(entry.word, v);
      std::printf(entry.echo, s.threads);
      if (s.threads < 1 || s.threads > kMaxThreads)
        fatal("-threads takes a number of threads from 1 to %d, found '%s'.", kMaxThreads, v);
      break;
    case kOptionCount:
      break;
  }
}

// Values that would leave the later steps without meaning stop the run.
void check_values(const Settings& s) {
  if (s.M - 1 < 1 || s.M - 1 > kMaxTags)
    fatal("-tag takes a number of tag SNPs from 1 to %d, found %d.", kMaxTags, s.M - 1);
  if (s.window < 0) fatal("-window takes a distance of 0 bp or more, found %d.", s.window);
  if (s.maxnum < 0)
    fatal("-max takes a number of candidate tags of 0 or more, found %d.", s.maxnum);
  if (s.minnum < 0)
    fatal("-min takes a number of candidate tags of 0 or more, found %d.", s.minnum);
  if (s.nTR < 0 || s.nDU < 0 || s.nUN < 0)
    fatal("-panel takes three numbers of 0 or more (trios, duos, singletons), found %d, %d and %d.",
          s.nTR, s.nDU, s.nUN);
  if (s.nTR == 0 && s.nDU == 0 && s.nUN == 0)
    fatal("-panel needs at least one trio, duo or singleton, found 0, 0 and 0.");
  long long members = 3LL * s.nTR + 2LL * s.nDU + s.nUN;
  if (members > kMaxPanelMembers)
    fatal(
        "-panel describes %lld panel members; a panel line of at most 99,999 characters "
        "holds at most %lld.",
        members, kMaxPanelMembers);
}

void print_banner() {
  std::printf("\n");
  std::printf("@--------------------------------------------------@\n");
  std::printf("|    Tessellar   |   v1.0   |      15/Mar/2010     |\n");
  std::printf("----------------------------------------------------\n");
  std::printf("|          For documentation & citation            |\n");
  std::printf("| %-48s |\n", "https://tessellar.org/docs");
  std::printf("@--------------------------------------------------@\n\n");
}

void print_stamp(const char* format) {
  std::time_t now = std::time(nullptr);
  std::printf(format, std::asctime(std::localtime(&now)));
}

void check_exists(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) fatal("'%s' does not exist.", path.c_str());
  std::fclose(file);
}

}  // namespace

ParsedOptions parse_options(int argc, const char* const* argv) {
  ParsedOptions parsed;
  for (int a = 1; a < argc; ++a) {
    std::printf("        -- '%s' ", argv[a]);
    const OptionWord* entry = find_option(argv[a]);
    if (entry == nullptr) fatal("Unknown command line option '%s'.", argv[a]);
    int left = argc - 1 - a;
    if (left < entry->values && left == 0)
      fatal("option '%s' takes %d value%s, but none follows it.", entry->word, entry->values,
            entry->values == 1 ? "" : "s");
    if (left < entry->values)
      fatal("option '%s' takes %d values, but only %d follow%s it.", entry->word, entry->values,
            left, left == 1 ? "s" : "");
    static const char* const kNoValue[] = {""};
    apply(*entry, entry->values > 0 ? argv + a + 1 : kNoValue, parsed.settings);
    parsed.given[entry->option] = true;
    a += entry->values;
  }
  return parsed;
}

void print_defaults(const ParsedOptions& options) {
  const Settings& s = options.settings;
  auto missing = [&](Option o) { return !options.given[o]; };
  std::printf("\nDefaults in effect:\n");
  if (missing(kGfile)) std::printf("        -- study genotypes read from '%s'\n", s.gfile.c_str());
  if (missing(kEfile))
    std::printf("        -- external genotypes read from '%s'\n", s.efile.c_str());
  if (missing(kH)) std::printf("        -- phased haplotypes not available\n");
  if (missing(kHfile))
    std::printf("        -- phased haplotypes read from '%s'\n", s.hfile.c_str());
  if (missing(kOfile)) std::printf("        -- results written to '%s'\n", s.ofile.c_str());
  if (missing(kNoFix)) std::printf("        -- internal check and fix of strand alignment\n");
  if (missing(kNoRemove)) std::printf("        -- removal of A/T and C/G SNPs\n");
  if (s.hap_flag == 1 && missing(kSpeed)) std::printf("        -- speeding not used\n");
  if (missing(kPanel)) std::printf("        -- reference panel has 30 trios\n");
  if (missing(kTag)) std::printf("        -- imputation based on %d tag SNPs\n", s.M - 1);
  if (missing(kWindow))
    std::printf("        -- candidate tags chosen within the distance of %d bp\n", s.window);
  if (missing(kMax))
    std::printf("        -- candidate tags chosen at a maximun number of %d\n", s.maxnum);
  if (missing(kMin))
    std::printf("        -- candidate tags chosen at a minimun number of %d\n", s.minnum);
}

void start_run(int argc, const char* const* argv) {
  print_banner();
  print_stamp("\nTessellar started: %s\n");
  std::printf("Options in effect:\n");
  ParsedOptions options = parse_options(argc, argv);
  check_values(options.settings);
  print_defaults(options);
  std::printf("\n");
  install_settings(options.settings);
  const Settings& s = settings();
  check_exists(s.gfile);
  check_exists(s.efile);
  if (s.hap_flag == 1) check_exists(s.hfile);
}

void print_complete_stamp() {
  print_stamp("\nTessellar complete: %s");
}

}  // namespace tessellar
