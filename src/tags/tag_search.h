// Choosing the tag SNPs of one target: evaluating one tag set (getMD) and
// searching every set of M - 1 candidates near the target (getMD_max).
#pragma once

#include <memory>
#include <vector>

#include "input/haplotypes.h"
#include "input/study.h"

namespace tessellar {

// A run-wide prepared form of hap_table for fast haplotype counting (for
// instance bit-packed columns); built once after the table is read.
class HapIndex;
std::shared_ptr<const HapIndex> prepare_haplotypes(const HapTable& haps);

// Working memory of the search, reused across targets (one per thread).
class TagScratch;
std::unique_ptr<TagScratch> make_tag_scratch();

// The score of one tag set (M union rows, target first). Counts the phased
// haplotypes when hap_flag is on and every SNP has a haplotype row;
// otherwise fills the first R window rows of tags (R rows of M ints) from
// geno through table_row and runs the EM on the mode's pattern list
// (mode 0: family list from the panel; otherwise: study list).
double getMD(const int* set, int hap_flag, const HapTable& hap, const int* hap_row, int hap_ncol,
             const GenoMatrix& geno, int* tags, const int* table_row, int R, int mode);

// The tag search for union row target in mode 0 (untyped) or 1 (typed with
// missing codes). Sets *score to 0, then to the best score found; tag_list
// (M entries: target, then the tags in ascending union order) is written
// only when a set improves on the best. pos, hap_row, panel_row and
// study_row are indexable from -1 to n.
void getMD_max(int* tag_list, double* score, int target, int mode, int hap_flag, int speed_flag,
               const int* pos, int n, const HapTable& hap, const HapIndex& hap_index,
               const int* hap_row, int hap_ncol, const GenoMatrix& panel_geno, int* panel_tags,
               const int* panel_row, int panel_ncol, const GenoMatrix& study_geno, int* study_tags,
               const int* study_row, int nind, TagScratch& scratch);

}  // namespace tessellar
