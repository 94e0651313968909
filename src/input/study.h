// The study genotype file: one line per SNP (name, position, recode flag, two
// allele letters, one code per individual) read into study_table: per row
// its name, position, recode flag, alleles, codes, counted-allele frequency
// (NaN without a code) and share of missing codes.
#pragma once

#include <string>

#include "input/genotype_rows.h"

namespace tessellar {

struct StudyTable : GenotypeRows {
  int nind = 0;  // individuals (code columns); geno.at(i, s) is individual i at row s
};

// Reads gfile into a study table, keeping the codes of the kept positions,
// and prints its log line unless quiet. Any malformed input stops the run
// with an "Error: ..." line naming the file and line.
StudyTable read_study(const std::string& gfile, KeptPositions kept = {}, bool quiet = false);

}  // namespace tessellar
