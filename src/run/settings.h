// Run-wide settings of Tessellar: filled once from the command line, read-only
// for the rest of the run. M, K and pow2 are the haplotype-window dimensions
// that the pattern lists, the EM, the imputation and the tag search read.
#pragma once

#include <array>
#include <string>

namespace tessellar {

// Largest tag count that -tag accepts: M = 11, K = 2048 haplotypes.
inline constexpr int kMaxTags = 10;
inline constexpr int kMaxM = kMaxTags + 1;

struct Settings {
  std::string gfile = "genotype.dat";   // study genotypes
  std::string efile = "external.dat";   // reference panel genotypes
  std::string hfile = "haplotype.dat";  // phased haplotypes
  std::string ofile = "imp_geno.out";   // output file, used exactly as given
  int hap_flag = 1;                     // always on: the haplotype file is read
  int no_fix = 0;                       // 1: no strand check and fix
  int no_remove = 0;                    // 1: keep unresolved A/T and C/G SNPs
  int speed_flag = 1;                   // always on: panel SNPs without haplotype row dropped
  int nTR = 30;                         // trios in the panel
  int nDU = 0;                          // duos
  int nUN = 0;                          // singletons
  int M = 5;                            // window size: tag count + 1
  int K = 32;                           // haplotypes over the window: 2^M
  int window = 50000;                   // candidate distance in bp
  int maxnum = 20;                      // most candidates
  int minnum = 8;                       // fewest candidates when that many exist
  int threads = 1;                      // worker threads of the pass
  std::array<int, kMaxM + 1> pow2{};    // pow2[k] = 2^k for k = 0..M
};

namespace detail {
extern Settings g_settings;
}

// The settings in force. Cheap: a reference to one process-wide object.
inline const Settings& settings() {
  return detail::g_settings;
}

// Installs s as the run's settings, computing K and pow2 from s.M (1..kMaxM).
// Called once by the command line; tests call it to set up a window size.
void install_settings(Settings s);

// Convenience for tests and benchmarks: the default settings with window size m.
void install_window_size(int m);

}  // namespace tessellar
