// Genotype pattern lists over one haplotype window: the compatible haplotype
// pairs of each study individual (node0 / node) and the compatible founder
// configurations of each panel trio, duo and singleton (node_ex0 / node_ex).
// Records are stored contiguously in list order; the caller owns the lists.
#pragma once

#include <cstddef>
#include <exception>
#include <vector>

#include "core/settings.h"

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

// 1 when the pair (h1, h2) can produce the window row (g.M codes), else 0.
// The test is asymmetric for codes other than 0, 1, 2 and 9: a negative code
// rejects every pair, 3 needs allele 0 on h1, 4 and above admit every pair.
int indicator(const WindowGeometry& g, const int* row, int h1, int h2);

// A window row folded into bit masks over the window (bit M-1-s for
// position s), so that the compatibility of a pair costs a few bit
// operations. Equivalent to indicator for every int code.
struct RowMasks {
  bool possible = true;  // false when a code is negative: no pair fits
  int fixed1 = 0;        // positions where h1's allele is fixed (codes 0, 2, 3)
  int ones1 = 0;         // h1's allele there (code 2)
  int fixed2 = 0;        // positions where h2's allele is fixed (codes 0, 1, 2)
  int ones2 = 0;         // positions where h2 must carry 1 (code 2)
  int flip2 = 0;         // positions where h2 carries the other allele than h1 (code 1)
};

// The masks of one window row of g.M codes.
RowMasks row_masks(const WindowGeometry& g, const int* row);

// 1 when (h1, h2) can produce the row that r was made from, else 0.
inline int compatible(const RowMasks& r, int h1, int h2) {
  return r.possible && (h1 & r.fixed1) == r.ones1 && (h2 & r.fixed2) == (r.ones2 | (~h1 & r.flip2));
}

// Probability of the unordered haplotype pair (h1, h2) under the
// frequencies f: 2 f[h1] f[h2] when they differ, f[h1]^2 otherwise.
inline double pair_prob(const double* f, int h1, int h2) {
  const double m = h1 != h2 ? 2.0 : 1.0;
  return m * f[h1] * f[h2];
}

// Replaces list with the study pattern list of n window rows; row r is
// rows[r * M .. r * M + M - 1]. Throws ListBudgetExceeded when the list
// would hold more than budget records.
void makelist(const WindowGeometry& g, StudyList& list, const int* rows, int n,
              std::size_t budget = kListBudget);

// Replaces list with the family pattern list of the panel window rows
// (3 ntr + 2 ndu + nun rows of M codes, in panel column order).
void makelist_ex(const WindowGeometry& g, FamilyList& list, const int* rows, int ntr, int ndu,
                 int nun, std::size_t budget = kListBudget);

// Empty the lists (their storage is kept for reuse).
void freelink(StudyList& list);
void freelink_ex(FamilyList& list);

}  // namespace tessellar
