// The study genotype file: one line per SNP (name, position, recode flag, two
// allele letters, one code per individual) read into study_table: per row
// its name, position, recode flag, alleles, codes, counted-allele frequency
// (NaN without a code) and share of missing codes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input/genotype_rows.h"

namespace tessellar {

struct StudyTable : GenotypeRows {
  int nind = 0;  // individuals (code columns); geno.at(i, s) is individual i at row s
  // The phased alleles of a VCF study, kept for the hmm engine only (empty
  // otherwise): alleles[(s * nind + i) * 2 + k] is allele k (0 or 1, -1 for
  // missing) of individual i's GT at row s, in GT order; both -1 where an
  // unphased call misses one allele.
  std::vector<int8_t> alleles;
  // Per row with alleles: the first individual whose GT is heterozygous and
  // unphased (its alleles say nothing of the phase), -1 when none.
  std::vector<int> unphased;
};

// Reads gfile into a study table, keeping the codes of the kept positions,
// and prints its log line unless quiet. Any malformed input stops the run
// with an "Error: ..." line naming the file and line.
StudyTable read_study(const std::string& gfile, KeptPositions kept = {}, bool quiet = false);

}  // namespace tessellar
