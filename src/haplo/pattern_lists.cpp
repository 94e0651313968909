// Study and family pattern lists. The compatible pairs of a row are
// enumerated from its bit masks in ascending (hap1, hap2) order, which is the
// order of scanning every h1 <= h2 between the row's bounds lo and hi.
#include "haplo/pattern_lists.h"

namespace tessellar {

namespace {

// The submask of free that follows s in ascending order (0 after the last):
// with the bits outside free set, adding 1 carries straight through them
// into the next free bit, and masking with free clears them again.
inline unsigned next_submask(unsigned s, unsigned free) {
  return ((s | ~free) + 1u) & free;
}

// Calls visit(h1, h2) for every pair compatible with r, h1 <= h2, in
// ascending order of h1, then h2. full is K - 1.
template <typename Visit>
void for_each_pair(const RowMasks& r, unsigned full, Visit&& visit) {
  if (!r.possible) return;
  const unsigned free1 = full & ~static_cast<unsigned>(r.fixed1);
  const unsigned free2 = full & ~static_cast<unsigned>(r.fixed2);
  unsigned s = 0;
  do {  // ascending submasks s of free1
    const int h1 = r.ones1 | static_cast<int>(s);
    const unsigned base2 = static_cast<unsigned>(r.ones2 | (~h1 & r.flip2));
    unsigned t = 0;
    do {  // ascending submasks t of free2
      const int h2 = static_cast<int>(base2 | t);
      if (h2 >= h1) visit(h1, h2);
      t = next_submask(t, free2);
    } while (t != 0);
    s = next_submask(s, free1);
  } while (s != 0);
}

// Bounds of a row: lo has the positions coded 2, hi those not coded 0.
void row_bounds(const WindowGeometry& g, const int* row, int& lo, int& hi) {
  lo = 0;
  hi = 0;
  for (int s = 0; s < g.M; ++s) {
    if (row[s] == 2) lo += g.pow2[g.M - 1 - s];
    if (row[s] != 0) hi += g.pow2[g.M - 1 - s];
  }
}

// Appends value to v, throwing ListBudgetExceeded when v already holds budget records.
template <typename T>
void append(std::vector<T>& v, const T& value, std::size_t budget) {
  if (v.size() >= budget) throw ListBudgetExceeded();
  v.push_back(value);
}

// Fills out with the compatible pairs of row, in list order.
void row_pairs(const WindowGeometry& g, const int* row, std::vector<node>& out) {
  out.clear();
  const unsigned full = static_cast<unsigned>(g.K - 1);
  for_each_pair(row_masks(g, row), full, [&](int h1, int h2) { out.push_back({h1, h2}); });
}

// Appends the configurations of the trio whose rows start at rows.
void add_trio(const WindowGeometry& g, FamilyList& list, const int* rows, std::vector<node>& p1,
              std::vector<node>& p2, std::size_t budget) {
  row_pairs(g, rows, p1);
  row_pairs(g, rows + g.M, p2);
  const RowMasks child = row_masks(g, rows + 2 * g.M);
  const int begin = static_cast<int>(list.configs.size());
  for (const node& a : p1) {
    for (const node& b : p2) {
      if (compatible(child, a.hap1, b.hap1) || compatible(child, a.hap1, b.hap2) ||
          compatible(child, a.hap2, b.hap1) || compatible(child, a.hap2, b.hap2)) {
        append(list.configs, node_ex{a.hap1, a.hap2, b.hap1, b.hap2}, budget);
      }
    }
  }
  list.units.push_back({3, begin, static_cast<int>(list.configs.size())});
}

// Appends the configurations of the duo whose rows start at rows.
void add_duo(const WindowGeometry& g, FamilyList& list, const int* rows, std::vector<node>& p1,
             std::size_t budget) {
  row_pairs(g, rows, p1);
  const RowMasks child = row_masks(g, rows + g.M);
  int lo = 0;
  int hi = 0;
  row_bounds(g, rows + g.M, lo, hi);
  const int begin = static_cast<int>(list.configs.size());
  for (const node& a : p1) {
    for (int h3 = lo; h3 <= hi; ++h3) {
      if (compatible(child, a.hap1, h3) || compatible(child, a.hap2, h3)) {
        append(list.configs, node_ex{a.hap1, a.hap2, h3, -1}, budget);
      }
    }
  }
  list.units.push_back({2, begin, static_cast<int>(list.configs.size())});
}

// Appends the configurations of the singleton row.
void add_singleton(const WindowGeometry& g, FamilyList& list, const int* row, std::size_t budget) {
  const unsigned full = static_cast<unsigned>(g.K - 1);
  const int begin = static_cast<int>(list.configs.size());
  for_each_pair(row_masks(g, row), full, [&](int h1, int h2) {
    append(list.configs, node_ex{h1, h2, -1, -1}, budget);
  });
  list.units.push_back({1, begin, static_cast<int>(list.configs.size())});
}

}  // namespace

RowMasks row_masks(const WindowGeometry& g, const int* row) {
  RowMasks r;
  for (int s = 0; s < g.M; ++s) {
    const int bit = 1 << (g.M - 1 - s);
    const int code = row[s];
    if (code < 0) r.possible = false;
    if (code == 0 || code == 2 || code == 3) r.fixed1 |= bit;
    if (code == 2) r.ones1 |= bit;
    if (code == 0 || code == 1 || code == 2) r.fixed2 |= bit;
    if (code == 2) r.ones2 |= bit;
    if (code == 1) r.flip2 |= bit;
  }
  return r;
}

int indicator(const WindowGeometry& g, const int* row, int h1, int h2) {
  return compatible(row_masks(g, row), h1, h2);
}

void makelist(const WindowGeometry& g, StudyList& list, const int* rows, int n,
              std::size_t budget) {
  const unsigned full = static_cast<unsigned>(g.K - 1);
  freelink(list);
  list.individuals.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const int begin = static_cast<int>(list.pairs.size());
    for_each_pair(row_masks(g, rows + static_cast<std::ptrdiff_t>(i) * g.M), full,
                  [&](int h1, int h2) {
                    append(list.pairs, node{h1, h2}, budget);
                  });
    list.individuals.push_back({i, begin, static_cast<int>(list.pairs.size())});
  }
}

void makelist_ex(const WindowGeometry& g, FamilyList& list, const int* rows, int ntr, int ndu,
                 int nun, std::size_t budget) {
  const std::ptrdiff_t M = g.M;
  freelink_ex(list);
  list.units.reserve(static_cast<std::size_t>(ntr + ndu + nun));
  std::vector<node> p1;
  std::vector<node> p2;
  for (int t = 0; t < ntr; ++t) add_trio(g, list, rows + 3 * t * M, p1, p2, budget);
  const int* duos = rows + 3 * ntr * M;
  for (int d = 0; d < ndu; ++d) add_duo(g, list, duos + 2 * d * M, p1, budget);
  const int* singles = duos + 2 * ndu * M;
  for (int u = 0; u < nun; ++u) add_singleton(g, list, singles + u * M, budget);
}

void freelink(StudyList& list) {
  list.pairs.clear();
  list.individuals.clear();
}

void freelink_ex(FamilyList& list) {
  list.configs.clear();
  list.units.clear();
}

}  // namespace tessellar
