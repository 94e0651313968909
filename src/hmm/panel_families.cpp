// Mendel errors and changes of the transmitted haplotype in a panel's
// trios and duos.
#include "hmm/panel_families.h"

#include <cstdint>
#include <vector>

namespace tessellar::hmm {

namespace {

// The transmissions of the panel's parents along the rows: per parent the
// haplotype (0, 1) it last transmitted, -1 before any.
class Transmissions {
 public:
  explicit Transmissions(int parents) : last_(static_cast<std::size_t>(parents), -1) {}

  // Parent k with haplotypes a and b transmitted allele `allele` (0/1).
  void seen(int k, int a, int b, int allele, FamilyCheck& c) {
    if (a == b) return;
    const int8_t which = allele == a ? 0 : 1;
    int8_t& last = last_[static_cast<std::size_t>(k)];
    ++c.informative;
    c.changes += last >= 0 && last != which;
    last = which;
  }

 private:
  std::vector<int8_t> last_;
};

}  // namespace

FamilyCheck check_families(const SnpUnion& u, const PanelTable& panel, const HapTable& haps,
                           int row_begin, int row_end) {
  FamilyCheck c;
  if (panel.nTR + panel.nDU == 0) return c;
  Transmissions parents(2 * panel.nTR + panel.nDU);
  for (int j = row_begin; j < row_end; ++j) {
    const int p = u.panel_row[j];
    const int h = u.hap_row[j];
    if (p < 0 || h < 0 || !panel.geno.has_row(p) || h < haps.first ||
        h >= haps.first + haps.stored())
      continue;
    const int8_t* codes = panel.geno.row(p);
    const uint8_t* bits = haps.hap(h);
    for (int t = 0; t < panel.nTR; ++t) {
      const int child = codes[3 * t + 2];
      if (child == 9) continue;
      const uint8_t* f = bits + 4 * t;  // father's two haplotypes, then the mother's
      const uint8_t* m = f + 2;
      ++c.genotypes;
      // The father's allele when the mother is homozygous, and the other way.
      const int from_father = child - m[0];
      const int from_mother = child - f[0];
      const bool fits = child == f[0] + m[0] || child == f[0] + m[1] || child == f[1] + m[0] ||
                        child == f[1] + m[1];
      if (!fits) {
        ++c.mendel_errors;
        continue;
      }
      if (m[0] == m[1]) parents.seen(2 * t, f[0], f[1], from_father, c);
      if (f[0] == f[1]) parents.seen(2 * t + 1, m[0], m[1], from_mother, c);
    }
    for (int d = 0; d < panel.nDU; ++d) {
      const int child = codes[3 * panel.nTR + 2 * d + 1];
      if (child == 9) continue;
      const uint8_t* parent = bits + 4 * panel.nTR + 3 * d;
      const int transmitted = child - parent[2];  // the child's other allele
      ++c.genotypes;
      if (transmitted != parent[0] && transmitted != parent[1]) {
        ++c.mendel_errors;
        continue;
      }
      parents.seen(2 * panel.nTR + d, parent[0], parent[1], transmitted, c);
    }
  }
  return c;
}

}  // namespace tessellar::hmm
