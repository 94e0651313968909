// The SNP union: the merge by position or by alleles, the haplotype
// matching (against a plain forward scan) with the speed filter, the allele
// alignment, VCF haplotype rows tied and aligned, and the monomorphic filter.
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "input/alignment.h"
#include "input/snp_union.h"
#include "literal/match_literal.h"

namespace tessellar {
namespace {

// In-memory tables with one row per position: alleles A/G, one member
// coded 1, frequency 0.5, the given names.
template <class Table>
Table table_at(const std::vector<int>& positions, std::vector<std::string> names = {}) {
  const std::size_t n = positions.size();
  Table t;
  t.nsnp = static_cast<int>(n);
  t.pos = positions;
  t.name = names.empty() ? std::vector<std::string>(n, "p") : names;
  t.recode.assign(n, 0);
  t.allele.assign(n, {'A', 'G'});
  t.geno = {.members = 1, .first = 0, .codes = std::vector<int8_t>(n, 1)};
  t.freq.assign(n, 0.5);
  t.miss.assign(n, 0.0);
  if constexpr (std::is_same_v<Table, StudyTable>) t.nind = 1;
  if constexpr (std::is_same_v<Table, PanelTable>) t.ncol = 1;
  return t;
}
const auto study_at = [](const std::vector<int>& p) { return table_at<StudyTable>(p); };
const auto panel_at = [](const std::vector<int>& p, std::vector<std::string> names = {}) {
  return table_at<PanelTable>(p, names);
};

struct MergeCase {
  std::vector<int> study, panel;
  std::vector<std::array<int, 3>> expected;  // pos, study row, panel row
};

class BuildUnion : public ::testing::TestWithParam<MergeCase> {};

TEST_P(BuildUnion, MergesByPosition) {
  const MergeCase& c = GetParam();
  const SnpUnion u = build_union(study_at(c.study), panel_at(c.panel));
  std::vector<std::array<int, 3>> rows;
  for (int r = 0; r < u.n; ++r) rows.push_back({u.pos[r], u.study_row[r], u.panel_row[r]});
  EXPECT_EQ(rows, c.expected);
  EXPECT_EQ(u.pos.hi(), static_cast<int>(c.study.size() + c.panel.size()));
  EXPECT_EQ(std::vector<int>({u.pos[-1], u.pos[u.n], u.study_row[-1], u.panel_row[-1]}),
            std::vector<int>({-300000000, 300000000, -1, -1}));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, BuildUnion, ::testing::Values(
    MergeCase{{100, 200}, {100, 150, 300}, {{100, 0, 0}, {150, -1, 1}, {200, 1, -1}, {300, -1, 2}}},
    MergeCase{{500, 600}, {1, 2}, {{1, -1, 0}, {2, -1, 1}, {500, 0, -1}, {600, 1, -1}}},
    MergeCase{{1, 2}, {500}, {{1, 0, -1}, {2, 1, -1}, {500, -1, 0}}},
    MergeCase{{7, 7}, {7, 7, 7}, {{7, 0, 0}, {7, 1, 1}, {7, -1, 2}}},
    MergeCase{{100, 100}, {100}, {{100, 0, 0}, {100, 1, -1}}},
    MergeCase{{}, {3}, {{3, -1, 0}}}));
// clang-format on

// Random name lists from a small pool (so that names repeat), some only in
// the panel, some only in the haplotype file, rows out of order: the
// indexed matching gives what the plain forward scan gives, with and
// without the speed filter.
TEST(MatchHaplotypes, EqualsTheForwardScan) {
  std::mt19937 rng(20240607);
  auto names = [&](std::size_t count, int pool) {
    static const char* const kStems[] = {"rs1", "rs10", "RS1", "rs", "x"};
    std::vector<std::string> out(count);
    for (std::string& n : out) {
      const int p = static_cast<int>(rng() % pool);
      n = kStems[p % 5] + std::to_string(p / 5);
    }
    return out;
  };
  for (int trial = 0; trial < 2000; ++trial) {
    const int pool = 1 + trial % 40;
    const std::vector<std::string> panel_names = names(rng() % 60, pool);
    HapTable haps;
    for (const std::string& n : panel_names) {  // dropped, foreign, repeated, swapped
      const int a = static_cast<int>(rng() % 10);
      if (a == 0) continue;
      if (a == 1) haps.name.push_back(names(1, pool)[0]);
      haps.name.push_back(n);
      if (a == 2) haps.name.push_back(n);
      if (a == 3 && haps.name.size() >= 2) std::swap(haps.name.end()[-1], haps.name.end()[-2]);
    }
    if (trial % 3 == 0) haps.name = names(rng() % 60, pool);
    haps.nsnp = static_cast<int>(haps.name.size());
    std::vector<int> panel_pos, study_pos(rng() % 30);
    for (std::size_t i = 0; i < panel_names.size(); ++i)
      panel_pos.push_back(2 * int(i) + int(rng() % 2));
    for (std::size_t i = 0; i < study_pos.size(); ++i) study_pos[i] = 3 * int(i);
    const PanelTable panel = panel_at(panel_pos, panel_names);
    for (int speed = 0; speed <= 1; ++speed) {
      Settings s;
      s.speed_flag = speed;
      SnpUnion fast = build_union(study_at(study_pos), panel);
      SnpUnion plain = fast;
      match_haplotypes(fast, panel, haps, s);
      literal::match_haplotypes_scan(plain, panel, haps, speed == 1);
      for (int r = -1; r < fast.n; ++r) {
        ASSERT_EQ(std::tuple(fast.hap_row[r], fast.panel_row[r], fast.study_row[r]),
                  std::tuple(plain.hap_row[r], plain.panel_row[r], plain.study_row[r]))
            << "trial " << trial << " row " << r;
      }
    }
  }
}

struct Pairing {
  const char* label;
  std::vector<std::array<char, 2>> study;  // all at position 100
  std::vector<std::array<char, 2>> panel;
  std::vector<std::array<int, 2>> rows;  // study row, panel row of each union row
  std::vector<int> mismatched;
  std::vector<std::array<char, 2>> panel_after;  // the panel's letters afterwards
};

class UnionByAlleles : public ::testing::TestWithParam<Pairing> {};

TEST_P(UnionByAlleles, PairsTheSameVariant) {
  const Pairing& c = GetParam();
  StudyTable study = study_at(std::vector<int>(c.study.size(), 100));
  PanelTable panel = panel_at(std::vector<int>(c.panel.size(), 100));
  study.allele = c.study;
  panel.allele = c.panel;
  std::vector<int> mismatched;
  const SnpUnion u = build_union_by_alleles(study, panel, mismatched);
  std::vector<std::array<int, 2>> rows;
  for (int j = 0; j < u.n; ++j) rows.push_back({u.study_row[j], u.panel_row[j]});
  EXPECT_EQ(rows, c.rows);
  EXPECT_EQ(mismatched, c.mismatched);
  EXPECT_EQ(panel.allele, c.panel_after);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, UnionByAlleles, ::testing::Values(
    Pairing{"same", {{'A', 'G'}}, {{'A', 'G'}}, {{0, 0}}, {}, {{'A', 'G'}}},
    Pairing{"swapped", {{'A', 'G'}}, {{'G', 'A'}}, {{0, 0}}, {}, {{'G', 'A'}}},
    Pairing{"other_strand", {{'A', 'G'}}, {{'T', 'C'}}, {{0, 0}}, {}, {{'A', 'G'}}},
    Pairing{"other_strand_swapped", {{'A', 'G'}}, {{'C', 'T'}}, {{0, 0}}, {}, {{'G', 'A'}}},
    Pairing{"ambiguous_kept_as_swapped", {{'A', 'T'}}, {{'T', 'A'}}, {{0, 0}}, {}, {{'T', 'A'}}},
    Pairing{"another_variant", {{'A', 'G'}}, {{'A', 'C'}}, {{0, -1}}, {0}, {{'A', 'C'}}},
    Pairing{"second_record_pairs", {{'A', 'G'}}, {{'A', 'C'}, {'A', 'G'}}, {{0, 1}}, {0}, {{'A', 'C'}, {'A', 'G'}}},
    Pairing{"one_letter_crosswise", {{'A', 'G'}}, {{'C', 'A'}}, {{0, -1}}, {0}, {{'C', 'A'}}},
    Pairing{"other_letter_crosswise", {{'A', 'G'}}, {{'G', 'C'}}, {{0, -1}}, {0}, {{'G', 'C'}}},
    Pairing{"two_study_records", {{'A', 'C'}, {'A', 'G'}}, {{'A', 'G'}}, {{0, -1}, {1, 0}}, {}, {{'A', 'G'}}}),
    [](const ::testing::TestParamInfo<Pairing>& p) { return std::string(p.param.label); });
// clang-format on

// Haplotype rows of a VCF file tie to panel rows by position and alleles,
// counting the panel's ALT; after the alignment they follow the panel's
// flips, so that they count what its codes count.
TEST(VcfHaplotypes, CountThePanelsAltThenWhatItsCodesCount) {
  PanelTable panel = panel_at({100, 200, 300});
  panel.geno.codes = {0, 1, 2};
  panel.allele = {{'A', 'G'}, {'C', 'T'}, {'G', 'T'}};
  HapTable file{.ncol = 2, .nsnp = 3, .name = {"h1", "h2", "h3"}, .bits = {0, 1, 1, 1, 0, 0}};
  std::vector<int> hap_of_row;
  std::vector<bool> taken;
  // 100 A/G: same; 200 T/C: swapped, bits inverted; 300 G/A: another variant
  HapTable haps = haplotypes_by_position(panel, file, {100, 200, 300},
                                         {{'A', 'G'}, {'T', 'C'}, {'G', 'A'}}, hap_of_row, taken);
  EXPECT_EQ(hap_of_row, (std::vector<int>{0, 1, -1}));
  EXPECT_EQ(taken, (std::vector<bool>{true, true, false}));
  EXPECT_EQ(haps.bits, (std::vector<uint8_t>{0, 1, 0, 0}));
  flip(panel, 1);
  align_haplotypes(haps, panel, hap_of_row);
  EXPECT_EQ(haps.bits, (std::vector<uint8_t>{0, 1, 1, 1}));
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct AlignCase {
  const char *study_alleles, *panel_alleles;
  int recode;
  double fs, fe;
  int no_fix, no_remove;
  bool vcf_panel;     // the panel's codes count ALT as read
  bool flipped;       // the panel codes end flipped
  bool study_kept;    // the union row keeps its study row
  bool first_letter;  // the aligned codes count the panel's first letter
};

class AlignAlleles : public ::testing::TestWithParam<AlignCase> {};

// The letter that the aligned panel codes count, which an imputed record
// names as ALT: a recode flip makes a text panel's codes count the second
// letter as a rule, a VCF panel's the other one than ALT.
TEST_P(AlignAlleles, FollowsTheRule) {
  const AlignCase& c = GetParam();
  const std::vector<int8_t> as_read = {0, 1, 2, 9, 2}, flipped = {2, 1, 0, 9, 0};
  StudyTable study = study_at({100});
  PanelTable panel = panel_at({100});
  panel.vcf = c.vcf_panel;
  study.allele[0] = {c.study_alleles[0], c.study_alleles[1]};
  study.recode[0] = c.recode;
  study.freq[0] = c.fs;
  panel.allele[0] = {c.panel_alleles[0], c.panel_alleles[1]};
  panel.freq[0] = c.fe;
  panel.ncol = panel.geno.members = static_cast<int>(as_read.size());
  panel.geno.codes = as_read;
  SnpUnion u = build_union(study, panel);
  align_alleles(u, study, panel, c.no_fix, c.no_remove);
  EXPECT_EQ(panel.geno.codes, c.flipped ? flipped : as_read);
  EXPECT_EQ(std::pair(u.study_row[0], u.panel_row[0]), std::pair(c.study_kept ? 0 : -1, 0));
  EXPECT_EQ(panel.is_flipped(0), c.first_letter);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, AlignAlleles, ::testing::Values(
    //        study panel recode fs    fe    no_fix no_remove vcf    flipped kept   first letter
    AlignCase{"AG", "GA", 0,     0.2,  0.2,  0,     0,        false, true,   true,  true},   // first letters differ
    AlignCase{"AG", "CG", 0,     0.5,  0.5,  0,     0,        false, true,   true,  true},
    AlignCase{"AG", "AC", 0,     0.2,  0.8,  0,     0,        false, false,  true,  false},  // not ambiguous
    AlignCase{"AT", "AT", 0,     0.45, 0.55, 0,     0,        false, false,  false, false},  // in the band: removed
    AlignCase{"AT", "AT", 0,     0.45, 0.55, 0,     1,        false, false,  true,  false},
    AlignCase{"CG", "CG", 0,     0.59, 0.41, 0,     0,        false, false,  false, false},
    AlignCase{"AT", "AT", 0,     0.2,  0.8,  0,     0,        false, true,   true,  true},   // out of the band: flipped
    AlignCase{"AT", "AT", 0,     0.2,  0.45, 0,     0,        false, false,  true,  false},  // same side of 0.5
    AlignCase{"AT", "AT", 0,     0.5,  0.8,  0,     0,        false, false,  true,  false},
    AlignCase{"CG", "CG", 0,     0.55, 0.4,  0,     0,        false, true,   true,  true},   // 0.4 is outside the band
    AlignCase{"CG", "CG", 0,     0.6,  0.45, 0,     0,        false, true,   true,  true},   // so is 0.6
    AlignCase{"AC", "AT", 0,     0.2,  0.8,  0,     0,        false, true,   true,  true},   // the panel's letters decide
    AlignCase{"GC", "GC", 0,     0.2,  0.8,  0,     0,        false, false,  true,  false},
    AlignCase{"TA", "TA", 0,     0.45, 0.55, 0,     0,        false, false,  true,  false},
    AlignCase{"AT", "AT", 0,     kNaN, 0.8,  0,     0,        false, false,  true,  false},
    AlignCase{"AG", "AG", 1,     0.3,  0.3,  0,     0,        false, true,   true,  false},  // recoded to the rule
    AlignCase{"AG", "AG", 1,     0.3,  0.3,  0,     0,        true,  true,   true,  true},
    AlignCase{"AG", "GA", 1,     0.3,  0.3,  0,     0,        false, false,  true,  true},   // recoded, then swapped
    AlignCase{"AG", "GA", 1,     0.3,  0.3,  0,     0,        true,  false,  true,  false},
    AlignCase{"AG", "AG", 2,     0.3,  0.3,  0,     0,        false, false,  true,  false},
    AlignCase{"AG", "AG", 0,     0.3,  0.3,  0,     0,        true,  false,  true,  false},
    AlignCase{"AT", "AT", 1,     0.2,  0.8,  0,     0,        false, false,  true,  true},   // recoded, then flipped by frequency
    AlignCase{"AG", "GA", 1,     0.3,  0.3,  1,     0,        false, true,   true,  false},  // -no_fix keeps the recode
    AlignCase{"AT", "AT", 0,     0.45, 0.55, 1,     0,        false, false,  true,  false}));
// clang-format on

struct MonoCase {
  bool in_study, in_panel;
  double fs, fe;
  bool study_kept, panel_kept;
};

class DropMonomorphic : public ::testing::TestWithParam<MonoCase> {};

// Typed and study-only SNPs are judged by the study frequency, panel-only
// ones by the panel frequency.
TEST_P(DropMonomorphic, JudgesByTheRightFrequency) {
  const MonoCase& c = GetParam();
  StudyTable study = study_at(c.in_study ? std::vector<int>{7} : std::vector<int>{});
  PanelTable panel = panel_at(c.in_panel ? std::vector<int>{7} : std::vector<int>{});
  if (c.in_study) study.freq[0] = c.fs;
  if (c.in_panel) panel.freq[0] = c.fe;
  SnpUnion u = build_union(study, panel);
  drop_monomorphic(u, study, panel);
  EXPECT_EQ(std::pair(u.study_row[0], u.panel_row[0]),
            std::pair(c.study_kept ? 0 : -1, c.panel_kept ? 0 : -1));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, DropMonomorphic, ::testing::Values(
    MonoCase{true, true, 0.0, 0.3, false, true}, MonoCase{true, true, 0.3, 0.0, true, true},
    MonoCase{true, false, 1.0, 0, false, false}, MonoCase{false, true, 0, 0.0, false, false},
    MonoCase{false, true, 0, 0.000001, false, true}, MonoCase{false, true, 0, 0.00000099, false, false},
    MonoCase{true, true, 0.999999, 0.5, true, true}, MonoCase{true, true, 0.9999991, 0.5, false, true},
    MonoCase{true, false, kNaN, 0, true, false}));
// clang-format on

}  // namespace
}  // namespace tessellar
