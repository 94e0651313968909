// The checks of a panel's families on hand-made rows: one trio and one duo,
// whose children's genotypes fit their parents' haplotypes or not, and
// whose transmitted haplotypes change where the parents' phase is switched.
#include "hmm/panel_families.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessellar::hmm {
namespace {

// One row: the trio's father, mother and child codes and the duo's parent
// and child codes (panel columns), and the haplotype columns: father's two,
// mother's two, the duo parent's two and the duo child's other allele.
struct Row {
  std::string codes;  // 5 codes, '9' missing
  std::string haps;   // 7 alleles
};

struct FamilyCase {
  const char* name;
  std::vector<Row> rows;
  FamilyCheck expected;
};

void PrintTo(const FamilyCase& c, std::ostream* os) {
  *os << c.name;
}

FamilyCheck check(const std::vector<Row>& rows) {
  PanelTable panel;
  panel.nTR = 1;
  panel.nDU = 1;
  panel.ncol = 5;
  panel.nsnp = static_cast<int>(rows.size());
  panel.geno.members = 5;
  HapTable haps;
  haps.ncol = 7;
  haps.nsnp = panel.nsnp;
  SnpUnion u;
  const int n = panel.nsnp;
  for (ivector* v : {&u.pos, &u.study_row, &u.panel_row, &u.hap_row}) *v = ivector(-1, n);
  u.n = n;
  for (int j = 0; j < n; ++j) {
    u.pos[j] = 100 * (j + 1);
    u.study_row[j] = -1;
    u.panel_row[j] = j;
    u.hap_row[j] = j;
    for (char c : rows[static_cast<std::size_t>(j)].codes)
      panel.geno.codes.push_back(int8_t(c - '0'));
    for (char c : rows[static_cast<std::size_t>(j)].haps) haps.bits.push_back(uint8_t(c - '0'));
  }
  return check_families(u, panel, haps, 0, n);
}

// Codes: father mother child | parent child. Haplotypes: f f m m | p p o.
const FamilyCase kCases[] = {
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

class Families : public testing::TestWithParam<FamilyCase> {};

TEST_P(Families, CountErrorsAndChanges) {
  const FamilyCheck got = check(GetParam().rows);
  const FamilyCheck& e = GetParam().expected;
  EXPECT_EQ(got.genotypes, e.genotypes);
  EXPECT_EQ(got.mendel_errors, e.mendel_errors);
  EXPECT_EQ(got.informative, e.informative);
  EXPECT_EQ(got.changes, e.changes);
}

INSTANTIATE_TEST_SUITE_P(Cases, Families, testing::ValuesIn(kCases));

}  // namespace
}  // namespace tessellar::hmm
