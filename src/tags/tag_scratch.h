// The working memory of the tag search, private to src/tags: the candidate
// list, the set under test, the count tables of the two counting searches
// and the pattern lists of the EM path. One per thread; contents are
// meaningless between calls except the subset tables' kept tag-only counts,
// which carry a key saying for which candidates they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "haplo/pattern_lists.h"
#include "tags/tag_search.h"

namespace tessellar {

class TagScratch {
 public:
  std::vector<int> candidates;      // the candidate list, ascending union rows
  std::vector<int> left;            // accepted candidates left of the target, nearest first
  CandidateEdges edges;             // the union's ends that the last collection ran into
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

}  // namespace tessellar
