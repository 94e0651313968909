// Choosing the tag SNPs of one target: evaluating one tag set (getMD) and
// searching every set of M - 1 candidates near the target (getMD_max).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/settings.h"
#include "input/haplotypes.h"
#include "input/snp_union.h"
#include "input/study.h"

namespace tessellar {

// The search goes on with a target only when its best score reaches this.
inline constexpr double kMinTagScore = 0.000001;
// A set becomes the best only when it beats the best score by more than this.
inline constexpr double kScoreStep = 1e-6;
// The search ends once the best score reaches this (deliberately not 0.99).
inline constexpr double kGoodEnoughScore = 0.989999;

// hap_table with each SNP row packed into 64-bit words (bit k % 64 of word
// k / 64 is column k; the bits past ncol are 0), for counting haplotypes
// with AND and popcount. Built once per run, read-only after.
class HapIndex {
 public:
  // Packs every stored row of haps (entries other than 0 count as 1).
  explicit HapIndex(const HapTable& haps);
  int ncol() const { return ncol_; }    // phased haplotypes
  int words() const { return words_; }  // words per row: ceil(ncol / 64)
  // The words of hap_table row r.
  const uint64_t* row(int r) const {
    return bits_.data() + static_cast<std::size_t>(r - first_) * words_;
  }
  // A number that no other index of this process carries.
  uint64_t id() const { return id_; }

 private:
  uint64_t id_ = 0;
  int ncol_ = 0;
  int words_ = 0;
  int first_ = 0;  // the first row stored
  std::vector<uint64_t> bits_;
};

// Everything the tag search reads, owned by the caller for the whole run:
// the union (rows indexable from -1 to n), the phased haplotypes with their
// packed index, and the genotype tables of the panel and the study.
struct TagTables {
  const SnpUnion& snp_union;
  const HapTable& hap;
  const HapIndex& hap_index;
  const GenoMatrix& panel_geno;  // panel_ncol members
  int panel_ncol;
  const GenoMatrix& study_geno;  // nind individuals
  int nind;
};

// The caller's window rows (M codes per row): panel_tags with one row per
// panel member, study_tags with one per study individual. The EM path of the
// search uses the mode's rows as working space.
struct WindowRows {
  int* panel_tags;
  int* study_tags;
};

// Working memory of the search, reused across sets and targets; one per
// thread. Its layout is private to the tag search.
class TagScratch;
struct TagScratchDeleter {
  void operator()(TagScratch* scratch) const;
};
using TagScratchPtr = std::unique_ptr<TagScratch, TagScratchDeleter>;

// A fresh scratch for one thread.
TagScratchPtr make_tag_scratch();

// The score of one tag set: set holds M union rows, target first. Counts
// the phased haplotypes when hap_flag is on and every SNP has a haplotype
// row; otherwise fills the mode's window rows with the codes of the set and
// runs the EM on the mode's pattern list (untyped: the panel's families;
// incomplete: the study individuals).
double getMD(const Settings& s, const int* set, const TagTables& t, Mode mode, WindowRows rows,
             TagScratch& scratch);

// Collects the candidate tags of union row target into the scratch and
// returns their number: the qualifying rows nearest to the target, within
// s.window bp but at least s.minnum of them when that many exist and at most
// s.maxnum. Untyped targets want rows in the panel and the study, incomplete
// ones rows in the study; with hap_flag and speed_flag both on they need a
// haplotype row too.
int collect_candidates(const Settings& s, const SnpUnion& u, int target, Mode mode,
                       TagScratch& scratch);

// The candidate list of the last collect_candidates, ascending union rows.
std::span<const int> candidates(const TagScratch& scratch);

// The ends of the union that the last collect_candidates ran into: its walk
// found no further qualifying row before row 0 (left) or after row n - 1
// (right) while it still chose candidates, so that rows beyond that end of
// the union could have changed the list.
struct CandidateEdges {
  bool left = false;
  bool right = false;
};
CandidateEdges candidate_edges(const TagScratch& scratch);

// The tag search for union row target. Sets *score to 0, then to the best
// score found; tag_list (M entries: target, then the tags in ascending union
// order) is written only when a set improves on the best. The mode's window
// rows are overwritten whenever a set takes the EM path.
void getMD_max(const Settings& s, int* tag_list, double* score, int target, Mode mode,
               const TagTables& t, WindowRows rows, TagScratch& scratch);

}  // namespace tessellar
