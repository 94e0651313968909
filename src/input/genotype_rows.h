// The row reader shared by the three input files: the two counting steps of
// the first pass, the second pass over the rows, and the genotype rows of
// the study and the panel file (name, position, for the study a recode flag,
// two allele letters, then one genotype code per member), checked field by
// field as they are read.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "input/text_reader.h"

namespace tessellar {

// Genotype codes of one table, stored SNP by SNP: the codes of all
// individuals (or panel members) at one row are contiguous. Rows first
// onwards have their codes here: every row, but in a run of one region
// from text files only the consecutive rows that the region reads.
struct GenoMatrix {
  int members = 0;            // individuals or panel members per row
  int first = 0;              // the first row stored
  std::vector<int8_t> codes;  // codes[(row - first) * members + member]: 0, 1, 2 or 9
  int at(int member, int row) const { return codes[offset(row) + member]; }
  int8_t* row(int r) { return codes.data() + offset(r); }
  const int8_t* row(int r) const { return codes.data() + offset(r); }
  bool has_row(int r) const {
    return r >= first && offset(r) + static_cast<std::size_t>(members) <= codes.size();
  }

 private:
  std::size_t offset(int r) const { return static_cast<std::size_t>(r - first) * members; }
};

// The rows of a text genotype file whose codes are kept: those at positions
// lo to hi (every row by default). The rows of a text file stand in
// ascending position, so these are consecutive; the others keep everything
// but their codes.
struct KeptPositions {
  long long lo = std::numeric_limits<long long>::min();
  long long hi = std::numeric_limits<long long>::max();
  bool all() const { return *this == KeptPositions{}; }
  bool operator==(const KeptPositions&) const = default;
};

// What one genotype file holds and how its messages name things.
struct GenotypeLayout {
  bool has_recode;      // true: a recode flag follows the position (study file)
  const char* member;   // "individual" or "panel member", for messages
  const char* members;  // "individuals" or "panel members", for messages
};

// The rows of one genotype file, with the per-row counted-allele frequency
// and missing share worked out from the codes as read.
struct GenotypeRows {
  int nsnp = 0;  // SNP rows
  std::vector<std::string> name;
  std::vector<int> pos;
  std::vector<int> recode;  // empty unless layout.has_recode
  std::vector<std::array<char, 2>> allele;
  GenoMatrix geno;
  std::vector<double> freq;  // sum of codes other than 9 / (2 cnt); NaN when cnt is 0
  std::vector<double> miss;  // (members - cnt) / members
};

// Skips the first k fields of the first line and returns the number of
// characters after them on that line that are not white space; the reader
// is left at the start of the second line.
int count_columns(TextReader& file, int k);

// Continues from there: 1 for the first line plus the number of further
// lines holding a character that is not white space.
int count_rows(TextReader& file);

// Reads nsnp rows of members codes each from the start of file (the counts of
// the first pass), keeping the codes of the rows at the kept positions;
// every malformed row stops the run with a message naming the file and line.
GenotypeRows read_genotype_rows(TextReader& file, const GenotypeLayout& layout, int members,
                                int nsnp, KeptPositions kept = {});

// Works out freq and miss of row s from its codes: the counted-allele
// frequency among the codes other than 9 (NaN without any) and the share of 9s.
void set_frequencies(GenotypeRows& rows, int s);
void set_frequencies(GenotypeRows& rows, int s, const int8_t* codes);  // codes given

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
