// Genotype pattern lists over one haplotype window: the compatible haplotype
// pairs of each study individual (node0 / node) and the compatible founder
// configurations of each panel trio, duo and singleton (node_ex0 / node_ex).
// Records are stored contiguously in list order; the caller owns the lists.
#pragma once

#include <cstddef>
#include <exception>
#include <vector>

namespace tessellar {

// Most records (pairs or configurations) one list may hold; building a
// longer list throws ListBudgetExceeded. About 33.5 million records, some
// 800 MB: the default settings stay far below it (30 trios missing at every
// SNP of a 5-SNP window give 8.4 million configurations).
inline constexpr std::size_t kListBudget = std::size_t{1} << 25;

struct ListBudgetExceeded : std::exception {
  const char* what() const noexcept override { return "pattern list over budget"; }
};

// One compatible pair of one individual: hap1 <= hap2.
struct node {
  int hap1;
  int hap2;
};

// One study individual: its pairs are pairs[begin, end) of the list.
struct node0 {
  int index;  // row number in the matrix given to makelist
  int begin;
  int end;
};

struct StudyList {
  std::vector<node> pairs;         // every individual's pairs, in list order
  std::vector<node0> individuals;  // one per row, in row order
};

// One configuration of one family unit (hap3 / hap4 are -1 where unused).
struct node_ex {
  int hap1;
  int hap2;
  int hap3;
  int hap4;
};

// One family unit: kind 3 trio, 2 duo, 1 singleton; configs[begin, end).
struct node_ex0 {
  int kind;
  int begin;
  int end;
};

struct FamilyList {
  std::vector<node_ex> configs;  // every unit's configurations, in list order
  std::vector<node_ex0> units;   // trios, then duos, then singletons
};

// 1 when the pair (h1, h2) can produce the window row (M codes), else 0.
int indicator(const int* row, int h1, int h2);

// Replaces list with the study pattern list of n window rows; row r is
// rows[r * M .. r * M + M - 1]. Throws ListBudgetExceeded past kListBudget.
void makelist(StudyList& list, const int* rows, int n);

// Replaces list with the family pattern list of the panel window rows
// (3 ntr + 2 ndu + nun rows of M codes, in panel column order).
void makelist_ex(FamilyList& list, const int* rows, int ntr, int ndu, int nun);

// Empty the lists (their storage is kept for reuse).
void freelink(StudyList& list);
void freelink_ex(FamilyList& list);

}  // namespace tessellar
