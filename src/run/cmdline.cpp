// Option table, echo lines, defaults report, banner, stamps, existence checks.
#include "run/cmdline.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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
};

struct OptionWord {
  const char* word;
  Option option;
  Takes takes;
  const char* echo;  // printed after the echo prefix
  int Settings::*flag = nullptr;
  std::string Settings::*path = nullptr;
  int Settings::*number = nullptr;
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
};

constexpr const char* kUsage =
    R"(Tessellar v1.0: imputes SNP genotypes of a study sample from a reference
panel of trios, duos and singletons and phased haplotypes.

Usage: tessellar [options]

Inputs (text, or VCF/BCF told from the content):
  -gfile FILE        study genotypes                     [genotype.dat]
  -efile FILE        reference panel genotypes           [external.dat]
  -hfile FILE        phased haplotypes; not needed with a VCF panel, whose
                     phased GT gives them                [haplotype.dat]
  -ped FILE          family structure of a VCF panel (.fam: family, individual,
                     father, mother, sex, phenotype)     [every sample a singleton]
  -panel T D U       trios, duos and singletons of a text panel  [30 0 0]
Output:
  -ofile FILE        output; its name sets the format: .vcf.gz (bgzipped VCF
                     with a tabix index), .bcf (with a CSI index), .vcf, or
                     any other name the text format          [imp_geno.out]
Imputation:
  -tag N             tag SNPs per target, 1 to 10                  [4]
  -window BP         distance within which candidate tags are chosen [50000]
  -max N             most candidate tags                           [20]
  -min N             fewest candidate tags, beyond the window if need be [8]
  -no_fix            no strand check and fix              [strands checked]
  -no_remove         keep A/T and C/G SNPs whose strand cannot be told
  -threads N         worker threads, 1 to 256; same output for any N [1]
Quality:
  -sites FILE        per-site file: the fate of every SNP of the inputs and its
                     AF, MAF, INFO, tag-set score and tags (.gz: bgzipped)
  -loo               leave-one-out check: impute each typed SNP as if untyped,
                     report its ER2 and a summary by allele frequency
Genome-wide runs:
  -region C:S-E      impute and write only the SNPs of contig C at positions S
                     to E (also C, or C:S-); chunks of a contig concatenate to
                     the whole run's output; VCF/BCF inputs are read through
                     their indexes (bcftools index)
  -h, -speed         accepted; they change the run log only
Other:
  -help, --help      this summary;  --version  the version

Formats: text files have one line per SNP (study: name, position, recode flag,
two alleles, codes 0/1/2/9 counting the second allele; panel: name, position,
two alleles, codes; haplotypes: name, 0/1 per haplotype). VCF/BCF inputs give
biallelic SNPs (ALT counted; others are skipped and counted in the run log),
matched by contig (a "chr" prefix ignored) and position. Text output: one line
per SNP with probabilities of 2, 1, 0 copies; VCF output: GT:DS:GP per sample.

Examples:
  tessellar -gfile genotype.dat -efile external.dat -hfile haplotype.dat -panel 30 0 0
  tessellar -gfile study.vcf.gz -efile panel.vcf.gz -ped panel.ped -ofile imputed.vcf.gz
)";

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
    case Takes::panel:
      s.nTR = to_int(entry.word, values[0]);
      s.nDU = to_int(entry.word, values[1]);
      s.nUN = to_int(entry.word, values[2]);
      std::printf(entry.echo, s.nTR, s.nDU, s.nUN);
      break;
  }
  if (entry.option == kThreads && (s.threads < 1 || s.threads > kMaxThreads))
    fatal("-threads takes a number of threads from 1 to %d, found '%s'.", kMaxThreads, values[0]);
}

// Values that would leave the later steps without meaning stop the run.
void check_values(const Settings& s, int tags) {
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

// Opens path for reading and closes it at once; without blocking on a pipe
// that has no writer yet.
void check_exists(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return;
  }
  if (errno == ENOENT || errno == ENOTDIR) fatal("'%s' does not exist.", path.c_str());
  fatal("'%s' cannot be read: %s.", path.c_str(), std::strerror(errno));
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
  parsed.settings.geometry = WindowGeometry(tags + 1);
  parsed.settings.panel_given = parsed.given[kPanel];
  parsed.settings.hfile_given = parsed.given[kHfile];
  return parsed;
}

void print_defaults(const ParsedOptions& options, const InputsSeen& seen) {
  const Settings& s = options.settings;
  auto missing = [&](Option o) { return !options.given[o]; };
  std::printf("\nDefaults in effect:\n");
  if (missing(kGfile)) std::printf("        -- study genotypes read from '%s'\n", s.gfile.c_str());
  if (missing(kEfile))
    std::printf("        -- external genotypes read from '%s'\n", s.efile.c_str());
  if (missing(kH)) std::printf("        -- phased haplotypes not available\n");
  if (missing(kHfile))
    std::printf("        -- phased haplotypes read from '%s'\n",
                (seen.haplotypes_from_panel ? s.efile : s.hfile).c_str());
  if (missing(kOfile)) std::printf("        -- results written to '%s'\n", s.ofile.c_str());
  if (missing(kNoFix)) std::printf("        -- internal check and fix of strand alignment\n");
  if (missing(kNoRemove)) std::printf("        -- removal of A/T and C/G SNPs\n");
  if (s.hap_flag == 1 && missing(kSpeed)) std::printf("        -- speeding not used\n");
  if (missing(kPanel) && !seen.panel_vcf) std::printf("        -- reference panel has 30 trios\n");
  if (missing(kPanel) && seen.panel_vcf && s.ped.empty())
    std::printf("        -- every sample of the reference panel a singleton\n");
  if (missing(kPanel) && seen.panel_vcf && !s.ped.empty())
    std::printf("        -- trios, duos and singletons of the reference panel from '%s'\n",
                s.ped.c_str());
  if (missing(kTag)) std::printf("        -- imputation based on %d tag SNPs\n", s.geometry.tags());
  if (missing(kWindow))
    std::printf("        -- candidate tags chosen within the distance of %d bp\n", s.window);
  if (missing(kMax))
    std::printf("        -- candidate tags chosen at a maximun number of %d\n", s.maxnum);
  if (missing(kMin))
    std::printf("        -- candidate tags chosen at a minimun number of %d\n", s.minnum);
}

ParsedOptions begin_run_log(int argc, const char* const* argv) {
  print_banner();
  print_stamp("\nTessellar started: %s\n");
  std::printf("Options in effect:\n");
  return parse_options(argc, argv);
}

void finish_run_log_head(const ParsedOptions& options, const InputsSeen& seen) {
  const Settings& s = options.settings;
  print_defaults(options, seen);
  std::printf("\n");
  check_exists(s.gfile);
  check_exists(s.efile);
  if (s.hap_flag == 1 && !seen.haplotypes_from_panel) check_exists(s.hfile);
  if (!s.ped.empty()) check_exists(s.ped);
}

bool print_help_or_version(int argc, const char* const* argv) {
  if (argc < 2) return false;
  const std::string first = argv[1];
  if (first == "--version") {
    std::printf("Tessellar v1.0\n");
    return true;
  }
  if (first != "-help" && first != "--help") return false;
  std::fputs(kUsage, stdout);
  return true;
}

void print_complete_stamp() {
  print_stamp("\nTessellar complete: %s");
}

}  // namespace tessellar
