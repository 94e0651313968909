// The row reader shared by the study and the panel file: one SNP per line
// (name, position, for the study a recode flag, two allele letters, then one
// genotype code per member), checked field by field as it is read.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "input/study.h"
#include "input/text_reader.h"

namespace tessellar {

// What one genotype file holds and how its messages name things.
struct GenotypeLayout {
  bool has_recode;      // true: a recode flag follows the position (study file)
  const char* member;   // "individual" or "panel member", for messages
  const char* members;  // "individuals" or "panel members", for messages
};

// The rows of one genotype file, with the per-row counted-allele frequency
// and missing share worked out from the codes as read.
struct GenotypeRows {
  std::vector<std::string> name;
  std::vector<int> pos;
  std::vector<int> recode;  // empty unless layout.has_recode
  std::vector<std::array<char, 2>> allele;
  GenoMatrix geno;
  std::vector<double> freq;  // sum of codes other than 9 / (2 cnt); NaN when cnt is 0
  std::vector<double> miss;  // (members - cnt) / members
};

// Reads nsnp rows of members codes each from the start of file (the counts of
// the first pass); every malformed row stops the run with a message naming
// the file and line.
GenotypeRows read_genotype_rows(TextReader& file, const GenotypeLayout& layout, int members,
                                int nsnp);

// Stops the run when a file holds no row at all; called after a first pass
// gave no columns, before any other message about the first line.
void check_not_blank(TextReader& file);

// Second pass of every reader: from the start of file, calls parse(line, s)
// for the non-blank lines as rows s = 0 to nsnp - 1; stops the run when the
// file holds no row or not the nsnp rows that the first pass counted.
void for_each_row(TextReader& file, int nsnp,
                  const std::function<void(std::string_view line, int s)>& parse);

// Stops the run when name, on 1-based line of path, exceeds 29 characters.
void check_name_length(const std::string& path, int line, std::string_view name);

// True when line holds nothing but white space.
bool is_blank(std::string_view line);

}  // namespace tessellar
