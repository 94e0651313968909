// The promises of the readers' headers, checked on every table that a fuzz
// target gets back: sizes that agree with the counts, codes and values in
// their ranges, positions in order. A broken one aborts (see common.h).
#pragma once

#include "input/genotype_rows.h"
#include "input/haplotypes.h"

namespace tsl_fuzz {

// Where a table's rows come from: a text study file (with recode flags), a
// text panel file (without), or VCF (recode flags all 0).
enum class RowsFrom { study_text, panel_text, vcf };

// Rows of a study or panel table with `members` codes per row: text rows
// have positions strictly inside +-300,000,000 and names of at most 29
// characters, VCF rows positions from 0 (POS 0: a telomere) and two different bases as alleles.
void check_rows(const tessellar::GenotypeRows& rows, int members, RowsFrom from);

// A haplotype table: ncol values of 0 or 1 per row, one name per row.
void check_haps(const tessellar::HapTable& haps);

// Whether two reads gave the same rows: names, positions, recode flags,
// alleles and codes (freq and miss follow from the codes).
bool same_rows(const tessellar::GenotypeRows& a, const tessellar::GenotypeRows& b);
bool same_haps(const tessellar::HapTable& a, const tessellar::HapTable& b);

}  // namespace tsl_fuzz
