// Run-wide settings of Tessellar and the shape of a haplotype window. The
// command line fills one Settings object; every other part of the program
// receives it (or just the window geometry) by const reference.
#pragma once

#include <array>
#include <string>

namespace tessellar {

// Largest tag count that -tag accepts: M = 11, K = 2048 haplotypes.
inline constexpr int kMaxTags = 10;
inline constexpr int kMaxM = kMaxTags + 1;

// The haplotype window of one imputation step: M SNPs (the target at window
// position 0, then M - 1 tags), K = 2^M haplotype indexes, and pow2[k] = 2^k
// for k = 0..M. The allele at window position s is bit M - 1 - s.
struct WindowGeometry {
  int M = 5;
  int K = 32;
  std::array<int, kMaxM + 1> pow2{};

  // The geometry of a window of m SNPs, 1 <= m <= kMaxM.
  explicit WindowGeometry(int m = 5);
  int tags() const { return M - 1; }
  // Haplotype indexes over the tags alone: K / 2.
  int tag_haplotypes() const { return K / 2; }
};

// What a target is imputed from: mode 0, an SNP the panel types and the
// study does not (from the panel's families); mode 1, a study SNP with
// missing codes (from the study individuals).
enum class Mode { untyped = 0, incomplete = 1 };

// Part of one contig: positions start to end (1-based, inclusive).
struct Region {
  std::string contig;
  long long start = 1;
  long long end = (1LL << 62);
  bool contains(long long pos) const { return pos >= start && pos <= end; }
};

// Which engine imputes: tag SNPs with EM, or the haplotype-copying model.
enum class EngineKind { tags, hmm };

// The defaults of the haplotype-copying model's parameters.
inline constexpr double kDefaultSwitch = 0.03;  // per typed interval, without a genetic map
inline constexpr double kDefaultNe = 1e5;       // effective population size, with a map
inline constexpr double kDefaultError = 0.01;   // mismatch probability
// And of the phasing of unphased study genotypes.
inline constexpr int kDefaultRounds = 6;    // rounds after the greedy first phase
inline constexpr int kDefaultStates = 300;  // copying states per sample
inline constexpr int kDefaultDraws = 4;     // haplotype pairs imputed per sample
inline constexpr int kDefaultSeed = 1;      // of the draws

struct Settings {
  std::string gfile = "genotype.dat";   // study genotypes
  std::string efile = "external.dat";   // reference panel genotypes
  std::string hfile = "haplotype.dat";  // phased haplotypes
  std::string ofile = "imp_geno.out";   // output file, used exactly as given
  std::string ped;                      // family structure of a VCF panel ("": none)
  std::string sites;                    // the per-site file ("": none)
  int loo = 0;                          // 1: leave-one-out check of the typed SNPs
  bool has_region = false;              // -region: impute only the SNPs of region
  Region region;
  int hap_flag = 1;          // always on: the haplotype file is read
  int no_fix = 0;            // 1: no strand check and fix
  int no_remove = 0;         // 1: keep unresolved A/T and C/G SNPs
  int speed_flag = 1;        // always on: panel SNPs without haplotype row dropped
  int nTR = 30;              // trios in the panel
  int nDU = 0;               // duos
  int nUN = 0;               // singletons
  WindowGeometry geometry;   // M = tag count + 1, K = 2^M
  int window = 50000;        // candidate distance in bp
  int maxnum = 20;           // most candidates
  int minnum = 8;            // fewest candidates when that many exist
  int threads = 1;           // worker threads of the pass
  bool panel_given = false;  // -panel was given
  bool hfile_given = false;  // -hfile was given

  // The engine, and the parameters of the hmm engine.
  EngineKind engine = EngineKind::tags;
  std::string map;                      // -map: genetic map ("": none)
  double switch_prob = kDefaultSwitch;  // switch probability per typed interval, without a map
  double ne = kDefaultNe;               // effective population size, with a map
  double error_prob = kDefaultError;    // mismatch probability
  int rounds = kDefaultRounds;          // -rounds: phasing rounds
  int states = kDefaultStates;          // -states: copying states per sample in phasing
  int draws = kDefaultDraws;            // -draws: haplotype pairs per sample
  int seed = kDefaultSeed;              // -seed: of the draws
  int rephase = 0;                      // 1: -rephase, a phased study phased again

  // Panel members: 3 nTR + 2 nDU + nUN.
  long long panel_members() const { return 3LL * nTR + 2LL * nDU + nUN; }
};

}  // namespace tessellar
