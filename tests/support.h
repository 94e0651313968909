// Helpers shared by the unit tests and the benchmarks: throw-away input
// files, what a stopped run printed, byte-wise comparison of doubles, seeded
// random window rows, and a small SNP union on which the fast and the
// literal tag search run side by side.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/fatal.h"
#include "core/settings.h"
#include "input/snp_union.h"
#include "literal/tags_literal.h"
#include "tags/tag_search.h"

namespace tessellar::testing_support {

// A file holding exactly text under the test temporary directory; removed
// when the object goes.
class TempFile {
 public:
  explicit TempFile(std::string_view text) {
    static int counter = 0;
    path_ = ::testing::TempDir() + "tsl_" + std::to_string(::getpid()) + "_" +
            std::to_string(++counter) + ".dat";
    std::ofstream(path_, std::ios::binary).write(text.data(), std::streamsize(text.size()));
  }
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Runs f and returns what it printed on standard output; *stopped tells
// whether it stopped the run (RunStopped).
template <class F>
std::string printed(F&& f, bool* stopped) {
  ::testing::internal::CaptureStdout();
  *stopped = false;
  try {
    f();
  } catch (const RunStopped&) {
    *stopped = true;
  }
  return ::testing::internal::GetCapturedStdout();
}

// The "Error: ..." line of a run stopped by f (empty when f did not stop).
template <class F>
std::string error_line(F&& f) {
  bool stopped = false;
  const std::string out = printed(f, &stopped);
  if (!stopped) return "";
  const std::size_t at = out.find("Error: ");
  return at == std::string::npos ? out : out.substr(at, out.find('\n', at) - at);
}

// True when a and b hold the same doubles byte for byte.
inline bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// Seeded window rows over M SNPs: pairs of haplotypes drawn mostly from a
// few common ones, with a share of missing (9) codes.
class RowGen {
 public:
  RowGen(unsigned seed, int M, double missing) : rng_(seed), M_(M), missing_(missing) {
    for (int k = 0; k < 6; ++k) pool_.push_back(uniform(0, (1 << M) - 1));
  }
  int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
  int hap() { return chance(0.8) ? pool_[uniform(0, 5)] : uniform(0, (1 << M_) - 1); }

  // n study rows.
  std::vector<int> study(int n) {
    std::vector<int> rows;
    for (int i = 0; i < n; ++i) add_row(rows, hap(), hap());
    return rows;
  }
  // Rows of ntr trios, ndu duos, nun singletons; a child's haplotype is
  // none of its parent's with chance error (a Mendelian error).
  std::vector<int> panel(int ntr, int ndu, int nun, double error = 0.05) {
    std::vector<int> rows;
    for (int t = 0; t < ntr; ++t) {
      const int a = hap(), b = hap(), c = hap(), d = hap();
      add_row(rows, a, b);
      add_row(rows, c, d);
      add_row(rows, child(a, b, error), child(c, d, error));
    }
    for (int d = 0; d < ndu; ++d) {
      const int a = hap(), b = hap();
      add_row(rows, a, b);
      add_row(rows, child(a, b, error), hap());
    }
    for (int u = 0; u < nun; ++u) add_row(rows, hap(), hap());
    return rows;
  }

 private:
  void add_row(std::vector<int>& rows, int a, int b) {
    for (int j = M_ - 1; j >= 0; --j)
      rows.push_back(chance(missing_) ? 9 : ((a >> j) & 1) + ((b >> j) & 1));
  }
  int child(int a, int b, double error) { return chance(error) ? hap() : chance(0.5) ? a : b; }

  std::mt19937 rng_;
  int M_;
  double missing_;
  std::vector<int> pool_;
};

// A small SNP union and its tables. Rows are added in position order; each
// may be in the study, the panel and the haplotype file (one study
// individual and one panel member, coded 1: the tag search reads codes only
// on its EM path, which needs a SNP without haplotype row).
struct World {
  std::vector<int> pos, study, panel, hap;  // per union row; -1 where absent
  HapTable haps;                            // haps.ncol set before adding rows
  GenoMatrix geno{.members = 1, .first = 0, .codes = {}};

  void add(int p, const std::vector<uint8_t>* bits, bool in_study, bool in_panel) {
    pos.push_back(p);
    hap.push_back(bits ? haps.nsnp++ : -1);
    if (bits) haps.bits.insert(haps.bits.end(), bits->begin(), bits->end());
    for (auto [in, rows] : {std::pair{in_study, &study}, std::pair{in_panel, &panel}}) {
      rows->push_back(in ? static_cast<int>(geno.codes.size()) : -1);
      if (in) geno.codes.push_back(1);
    }
  }
  int n() const { return static_cast<int>(pos.size()); }
};

// The world as the program holds it: the union indexable from -1 to n and
// the packed haplotypes.
struct Prepared {
  SnpUnion u;
  HapIndex index;
  explicit Prepared(const World& w) : index(w.haps) {
    for (ivector* v : {&u.pos, &u.study_row, &u.panel_row, &u.hap_row}) *v = ivector(-1, w.n());
    u.n = w.n();
    u.pos[-1] = -300000000;
    u.pos[w.n()] = 300000000;
    for (int r = -1; r <= w.n(); ++r) {
      const bool in = r >= 0 && r < w.n();
      if (in) u.pos[r] = w.pos[r];
      u.study_row[r] = in ? w.study[r] : -1;
      u.panel_row[r] = in ? w.panel[r] : -1;
      u.hap_row[r] = in ? w.hap[r] : -1;
    }
  }
  TagTables tables(const World& w) const { return {u, w.haps, index, w.geno, 1, w.geno, 1}; }
};

struct SearchResult {
  std::vector<int> tag_list;  // -7 where never written
  double score = -1;
};

// getMD_max on w, the fast one (with the given prepared world and scratch
// when there are, kept across targets as the program keeps them) or the literal one.
inline SearchResult run_search(const Settings& s, const World& w, int target, Mode mode,
                               bool literal, const Prepared* kept = nullptr,
                               TagScratch* kept_scratch = nullptr) {
  const Prepared fresh(w);
  const Prepared& p = kept ? *kept : fresh;
  SearchResult r;
  r.tag_list.assign(s.geometry.M, -7);
  std::vector<int> rows(s.geometry.M, 0);
  if (literal) {
    literal::getMD_max(s, r.tag_list.data(), &r.score, target, static_cast<int>(mode), s.hap_flag,
                       s.speed_flag, p.u.pos.data(), w.n(), w.haps, p.u.hap_row.data(), w.haps.ncol,
                       w.geno, rows.data(), p.u.panel_row.data(), 1, w.geno, rows.data(),
                       p.u.study_row.data(), 1);
  } else {
    const TagScratchPtr scratch = kept_scratch ? nullptr : make_tag_scratch();
    getMD_max(s, r.tag_list.data(), &r.score, target, mode, p.tables(w),
              WindowRows{rows.data(), rows.data()}, kept_scratch ? *kept_scratch : *scratch);
  }
  return r;
}

}  // namespace tessellar::testing_support
