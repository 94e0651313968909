// What the engines share: union rows by position, and the tables that a range
// of them reads.
#include "run/engine.h"

#include <algorithm>

namespace tessellar {

int first_row_at(const SnpUnion& u, long long pos) {
  int lo = 0;
  int hi = u.n;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (u.pos[mid] < pos) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

TablesRead rows_read(const SnpUnion& u, int lo, int hi) {
  TablesRead read;
  if (lo > hi) return read;
  read.positions = {u.pos[lo], u.pos[hi]};
  for (int j = lo; j <= hi; ++j) {
    const int h = u.hap_row[j];
    if (h < 0) continue;
    if (read.haplotypes.first > read.haplotypes.last) read.haplotypes = {h, h};
    read.haplotypes.first = std::min(read.haplotypes.first, h);
    read.haplotypes.last = std::max(read.haplotypes.last, h);
  }
  return read;
}

}  // namespace tessellar
