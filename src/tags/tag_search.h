// Choosing the tag SNPs of one target: evaluating one tag set (getMD) and
// searching every set of M - 1 candidates near the target (getMD_max).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "haplo/pattern_lists.h"
#include "input/haplotypes.h"
#include "input/study.h"

namespace tessellar {

// hap_table with each SNP row packed into 64-bit words (bit k % 64 of word
// k / 64 is column k; the bits past ncol are 0), for counting haplotypes
// with AND and popcount. Built once per run, read-only after.
class HapIndex {
 public:
  // Packs every row of haps (entries other than 0 count as 1).
  explicit HapIndex(const HapTable& haps);
  int ncol() const { return ncol_; }    // phased haplotypes
  int words() const { return words_; }  // words per row: ceil(ncol / 64)
  // The words of hap_table row r.
  const uint64_t* row(int r) const { return bits_.data() + static_cast<std::size_t>(r) * words_; }
  // A number that no other index of this process carries.
  uint64_t id() const { return id_; }

 private:
  uint64_t id_ = 0;
  int ncol_ = 0;
  int words_ = 0;
  std::vector<uint64_t> bits_;
};

// The run-wide prepared form of haps; the caller keeps it for the run.
std::shared_ptr<const HapIndex> prepare_haplotypes(const HapTable& haps);

// Working memory of the search, reused across sets and targets; one per
// thread. Its contents are meaningless between calls.
struct TagScratch {
  std::vector<int> candidates;      // the candidate list, ascending union rows
  std::vector<int> left;            // accepted candidates left of the target, nearest first
  std::vector<int> set;             // the set under test: M union rows
  std::vector<int> places;          // its candidate list places
  std::vector<double> freq;         // K haplotype frequencies
  std::vector<int> counts;          // K haplotype counts
  std::vector<double> count_value;  // count_value[c]: 1.0 / H added c times
  std::vector<double> reciprocal;   // reciprocal[c]: 1.0 / c (0 for c = 0)
  std::vector<double> term;         // small H: term[c1 * (H + 1) + c] = c1 * c1 * reciprocal[c]
  int count_value_h = -1;           // the H of both tables
  // Prefix levels of the counting search: level d (0 .. M - 3) holds the
  // non-empty haplotypes over the target and the first d tags as column masks.
  struct Level {
    std::vector<uint64_t> masks;  // size() x words of the haplotype index
    std::vector<int> index;       // haplotype index over the level's positions
    std::vector<int> total;       // popcount of each mask
    int size = 0;                 // masks kept
  };
  std::vector<Level> levels;
  // The deepest level (the target and the first M - 3 tags) paired by
  // target allele: group g holds haplotypes 2g (target 0) and 2g + 1
  // (target 1) of tag haplotype tag[g]; an empty half has a zero mask.
  struct Groups {
    std::vector<uint64_t> masks;  // words per haplotype
    std::vector<int> total;       // popcount per haplotype
    std::vector<int> tag;
    std::vector<int> with;       // with[p * 2 size + x]: popcount of mask x & row of place p
    std::vector<uint64_t> mid;   // masks & row of the M - 2nd tag
    std::vector<int> mid_total;  // their popcounts
    std::vector<int> place;      // level place of each index, while pairing
    int size = 0;
  };
  Groups groups;
  std::vector<int> split;  // popcounts of the mid masks against the last tag
  // The subset search: per subset of at most M - 1 candidates (by size,
  // then colex rank) its haplotype counts packed as (all << 32) | target-1.
  struct Subsets {
    std::vector<std::size_t> binom;    // binom[n * (k + 1) + j] = C(n, j)
    std::vector<std::size_t> offset;   // first entry of the subsets of size j
    std::vector<uint64_t> packed;      // the counts of every subset
    std::vector<uint64_t> masks;       // prefix masks while counting
    std::vector<int> minor_cols;       // the columns with the target's minor allele
    std::vector<uint64_t> minor_rows;  // each candidate row restricted to those columns
    std::vector<std::size_t> rank;     // per subset of the chosen places: its entry
    std::vector<int> size;             // and its size
    std::vector<uint64_t> counts;      // and its counts
    // The haplotype index, tag count and candidate rows whose tag-only
    // counts (the high halves of packed) are in the table.
    uint64_t key_index = 0;
    int key_tags = 0;
    std::vector<int> key_rows;
  };
  Subsets subsets;
  StudyList study;  // EM pattern lists
  FamilyList families;
};

// A fresh scratch for one thread.
std::unique_ptr<TagScratch> make_tag_scratch();

// The score of one tag set: set holds M union rows, target first. Counts
// the phased haplotypes (hap, H = hap_ncol columns) when hap_flag is on and
// every SNP has hap_row >= 0; otherwise overwrites the first R window rows
// of tags (R rows of M ints, row r at tags + r * M) with the codes of geno
// at rows table_row[u] and runs the EM on the mode's pattern list (mode 0:
// families of the panel; any other mode: study individuals).
double getMD(const int* set, int hap_flag, const HapTable& hap, const int* hap_row, int hap_ncol,
             const GenoMatrix& geno, int* tags, const int* table_row, int R, int mode);

// The same with the caller's scratch (no allocation once it is warm).
double getMD(const int* set, int hap_flag, const HapTable& hap, const int* hap_row, int hap_ncol,
             const GenoMatrix& geno, int* tags, const int* table_row, int R, int mode,
             TagScratch& scratch);

// Collects the candidate tags of union row target into scratch.candidates
// (ascending union rows) and returns their number: the qualifying rows
// nearest to the target, within window bp but at least minnum of them when
// that many exist and at most maxnum. Mode 0 wants rows in the panel and the
// study, any other mode rows in the study; with hap_flag and speed_flag both
// on they need a haplotype row too.
int collect_candidates(int target, int mode, int hap_flag, int speed_flag, const int* pos, int n,
                       const int* hap_row, const int* panel_row, const int* study_row,
                       TagScratch& scratch);

// The tag search for union row target in mode 0 (untyped in the study) or 1
// (typed with missing codes). Sets *score to 0, then to the best score
// found; tag_list (M entries: target, then the tags in ascending union
// order) is written only when a set improves on the best. pos, hap_row,
// panel_row and study_row are indexable from -1 to n; hap_index is the
// prepared form of hap. The mode's window rows (panel_tags with panel_ncol
// rows in mode 0, study_tags with nind rows in mode 1) are overwritten
// whenever a set takes the EM path.
void getMD_max(int* tag_list, double* score, int target, int mode, int hap_flag, int speed_flag,
               const int* pos, int n, const HapTable& hap, const HapIndex& hap_index,
               const int* hap_row, int hap_ncol, const GenoMatrix& panel_geno, int* panel_tags,
               const int* panel_row, int panel_ncol, const GenoMatrix& study_geno, int* study_tags,
               const int* study_row, int nind, TagScratch& scratch);

}  // namespace tessellar
