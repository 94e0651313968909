// The head of the run log (banner, start stamp, defaults report, existence
// checks of the inputs), the usage summary and the complete stamp.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "core/fatal.h"
#include "hmm/window_layout.h"
#include "run/cmdline.h"
#include "run/usage.h"

namespace tessellar {
namespace {

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

// The hmm engine's lines of the defaults report, in place of the tag
// engine's: its windows, the switch probabilities, the mismatch
// probability and the phasing's settings in effect.
void print_hmm_defaults(const ParsedOptions& options) {
  const Settings& s = options.settings;
  std::printf(
      "        -- hmm engine: every phased haplotype of the panel a state, windows of %lld bp "
      "reading typed sites %lld bp beyond them\n",
      hmm::kWindowCore, hmm::kWindowFlank);
  if (s.map.empty() && !options.given[kSwitch])
    std::printf("        -- switch probability of %g per interval between typed sites (no map)\n",
                s.switch_prob);
  if (!s.map.empty() && !options.given[kNe])
    std::printf("        -- effective population size of %g with the genetic map\n", s.ne);
  if (!options.given[kError]) std::printf("        -- mismatch probability of %g\n", s.error_prob);
  if (!options.given[kRounds])
    std::printf("        -- phasing of unphased study genotypes in %d rounds\n", s.rounds);
  if (!options.given[kStates])
    std::printf("        -- %d copying states per sample in phasing\n", s.states);
  if (!options.given[kDraws])
    std::printf("        -- %d haplotype pairs per sample drawn from the phasing and imputed\n",
                s.draws);
  if (!options.given[kSeed])
    std::printf("        -- random draws of haplotype pairs from seed %d\n", s.seed);
  if (!options.given[kRephase])
    std::printf(
        "        -- a window whose study genotypes are all phased imputed from that phase\n");
}

}  // namespace

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
  if (s.engine == EngineKind::hmm) {
    print_hmm_defaults(options);
    return;
  }
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
  if (!s.map.empty() && s.engine == EngineKind::hmm) check_exists(s.map);
}

bool print_help_or_version(int argc, const char* const* argv) {
  if (argc < 2) return false;
  const std::string first = argv[1];
  if (first == "--version") {
    std::printf("Tessellar v1.0\n");
    return true;
  }
  if (first != "-help" && first != "--help") return false;
  std::fputs(usage_text(), stdout);
  return true;
}

void print_complete_stamp() {
  print_stamp("\nTessellar complete: %s");
}

}  // namespace tessellar
