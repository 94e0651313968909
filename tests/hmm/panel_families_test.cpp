// The checks of a panel's families on hand-made rows: one trio and one duo,
// whose children's genotypes fit their parents' haplotypes or not, and
// whose transmitted haplotypes change where the parents' phase is switched.
#include "hmm/panel_families.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tessellar::hmm {
namespace {

// Rows of the trio's father, mother and child codes and the duo's parent
// and child codes (panel columns, '9' missing), and of the haplotype
// columns: father's two, mother's two, the duo parent's two and the duo
// child's other allele.
using Rows = std::vector<std::pair<std::string, std::string>>;

FamilyCheck check(const Rows& rows) {
  const int n = static_cast<int>(rows.size());
  PanelTable panel;
  panel.nTR = panel.nDU = 1;
  panel.ncol = panel.geno.members = 5;
  panel.nsnp = n;
  HapTable haps;
  haps.ncol = 7;
  haps.nsnp = n;
  SnpUnion u;
  u.n = n;
  for (ivector* v : {&u.pos, &u.study_row, &u.panel_row, &u.hap_row}) *v = ivector(-1, n);
  for (int j = 0; j < n; ++j) {
    u.pos[j] = 100 * (j + 1);
    u.study_row[j] = -1;
    u.panel_row[j] = u.hap_row[j] = j;
    for (char c : rows[static_cast<std::size_t>(j)].first)
      panel.geno.codes.push_back(int8_t(c - '0'));
    for (char c : rows[static_cast<std::size_t>(j)].second) haps.bits.push_back(uint8_t(c - '0'));
  }
  return check_families(u, panel, haps, 0, n);
}

TEST(Families, CountErrorsAndChanges) {
  // Codes: father mother child | parent child. Haplotypes: f f m m | p p o.
  // Expected: genotypes, Mendel errors, informative sites, changes.
  const struct {
    const char* name;
    Rows rows;
    std::vector<long long> expected;
  } cases[] = {
      // The father transmits his haplotype 0 (the mother is homozygous), the
      // duo parent its 0; then the mother her 1.
      {"consistent", {{"10111", "1000011"}, {"21221", "1101110"}}, {4, 0, 3, 0}},
      {"trio_mendel_error", {{"10201", "1000001"}}, {2, 1, 0, 0}},
      // The duo child's allele from its parent (2 - other 0) is not the parent's.
      {"duo_mendel_error", {{"00002", "0000000"}}, {2, 1, 0, 0}},
      {"missing_children", {{"12919", "1011100"}}, {0, 0, 0, 0}},
      // The father transmits haplotype 0 (allele 1, then 0), then his phase
      // is switched at the third row: a change.
      {"father_phase_switched",
       {{"10100", "1000000"}, {"10000", "0100000"}, {"10000", "1000000"}},
       {6, 0, 3, 1}},
      // Both parents heterozygous: the child tells no transmission.
      {"both_heterozygous", {{"11101", "1001001"}}, {2, 0, 0, 0}},
      // The duo parent transmits haplotype 1, then 0: a change.
      {"duo_parent_changes", {{"00011", "0000010"}, {"00011", "0000011"}}, {4, 0, 2, 1}},
  };
  for (const auto& c : cases) {
    const FamilyCheck got = check(c.rows);
    EXPECT_EQ(
        (std::vector<long long>{got.genotypes, got.mendel_errors, got.informative, got.changes}),
        c.expected)
        << c.name;
  }
}

}  // namespace
}  // namespace tessellar::hmm
