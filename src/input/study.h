// The study genotype file: one line per SNP (name, position, recode flag, two
// allele letters, one code per individual) read into study_table, with the
// counting steps that all three readers share.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tessellar {

class TextReader;  // block reader of input/text_reader.h

// Genotype codes of one table, stored SNP by SNP: the codes of all
// individuals (or panel members) at one row are contiguous.
struct GenoMatrix {
  int members = 0;            // individuals or panel members per row
  std::vector<int8_t> codes;  // codes[row * members + member]: 0, 1, 2 or 9
  int at(int member, int row) const {
    return codes[static_cast<std::size_t>(row) * members + member];
  }
  int8_t* row(int r) { return codes.data() + static_cast<std::size_t>(r) * members; }
  const int8_t* row(int r) const { return codes.data() + static_cast<std::size_t>(r) * members; }
};

struct StudyTable {
  int nind = 0;                             // individuals (code columns)
  int nsnp = 0;                             // SNP rows
  std::vector<std::string> name;            // per row, at most 29 characters
  std::vector<int> pos;                     // per row, base pairs
  std::vector<int> recode;                  // per row, the recode flag as read
  std::vector<std::array<char, 2>> allele;  // per row, allele 1 then allele 2
  GenoMatrix geno;                          // geno.at(i, s): individual i at row s
  std::vector<double> freq;                 // per row, counted-allele frequency (NaN: no code)
  std::vector<double> miss;                 // per row, share of individuals with code 9
};

// Skips the first k fields of the first line and returns the number of
// characters after them on that line that are not white space; the reader
// is left at the start of the second line.
int count_columns(TextReader& file, int k);

// Continues from there: 1 for the first line plus the number of further
// lines holding a character that is not white space.
int count_rows(TextReader& file);

// Reads gfile into a study table and prints its log line. Any malformed
// input stops the run with an "Error: ..." line naming the file and line.
StudyTable read_study(const std::string& gfile);

}  // namespace tessellar
