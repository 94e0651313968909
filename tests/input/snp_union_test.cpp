// build_union and match_haplotypes: the merge examples, the forward name
// scan, the speed filter, and the indexed matching against the plain scan.
#include "input/snp_union.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "literal_match.h"
#include "core/settings.h"
#include "tables_for_tests.h"

namespace tessellar {
namespace {

using testing_input::panel_at;
using testing_input::study_at;

struct UnionRow {
  int pos, study_row, panel_row;
  bool operator==(const UnionRow&) const = default;
};

std::vector<UnionRow> rows_of(const SnpUnion& u) {
  std::vector<UnionRow> rows;
  for (int r = 0; r < u.n; ++r) rows.push_back({u.pos[r], u.study_row[r], u.panel_row[r]});
  return rows;
}

void PrintTo(const UnionRow& r, std::ostream* os) {
  *os << "(" << r.pos << ", " << r.study_row << ", " << r.panel_row << ")";
}

struct MergeCase {
  std::string name;
  std::vector<int> study, panel;
  std::vector<UnionRow> expected;
};

class BuildUnion : public ::testing::TestWithParam<MergeCase> {};

TEST_P(BuildUnion, MergesByPosition) {
  const MergeCase& c = GetParam();
  const SnpUnion u = build_union(study_at(c.study), panel_at(c.panel));
  EXPECT_EQ(rows_of(u), c.expected);
  const int size = static_cast<int>(c.study.size() + c.panel.size());
  EXPECT_EQ(u.pos.lo(), -1);
  EXPECT_EQ(u.pos.hi(), size);
  EXPECT_EQ(u.study_row.hi(), size);
  EXPECT_EQ(u.panel_row.hi(), size);
  EXPECT_EQ(u.pos[-1], -300000000);
  EXPECT_EQ(u.pos[u.n], 300000000);
  EXPECT_EQ(u.study_row[-1], -1);
  EXPECT_EQ(u.panel_row[-1], -1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BuildUnion,
    ::testing::Values(
        MergeCase{"four_rows",
                  {100, 200},
                  {100, 150, 300},
                  {{100, 0, 0}, {150, -1, 1}, {200, 1, -1}, {300, -1, 2}}},
        MergeCase{"panel_first",
                  {500, 600},
                  {1, 2},
                  {{1, -1, 0}, {2, -1, 1}, {500, 0, -1}, {600, 1, -1}}},
        MergeCase{"study_first", {1, 2}, {500}, {{1, 0, -1}, {2, 1, -1}, {500, -1, 0}}},
        MergeCase{"duplicate_panel_position", {100}, {100, 100}, {{100, 0, 0}, {100, -1, 1}}},
        MergeCase{"duplicate_study_position", {100, 100}, {100}, {{100, 0, 0}, {100, 1, -1}}},
        MergeCase{
            "duplicates_pair_in_order", {7, 7}, {7, 7, 7}, {{7, 0, 0}, {7, 1, 1}, {7, -1, 2}}},
        MergeCase{"no_study_rows", {}, {3, 4}, {{3, -1, 0}, {4, -1, 1}}},
        MergeCase{"no_panel_rows", {3}, {}, {{3, 0, -1}}}),
    [](const ::testing::TestParamInfo<MergeCase>& p) { return p.param.name; });

HapTable haps_named(const std::vector<std::string>& names) {
  HapTable h;
  h.ncol = 1;
  h.nsnp = static_cast<int>(names.size());
  h.name = names;
  h.bits.assign(names.size(), 0);
  return h;
}

class MatchHaplotypes : public ::testing::Test {
 protected:
  void TearDown() override { install_settings(Settings{}); }
  void without_speed() {
    Settings s;
    s.speed_flag = 0;
    install_settings(s);
  }
};

struct MatchCase {
  std::string name;
  std::vector<std::string> panel_names;  // panel rows at positions 10, 20, ...
  std::vector<std::string> hap_names;
  std::vector<int> hap_rows;  // expected hap_row per union row
};

class MatchNames : public MatchHaplotypes, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(MatchNames, ForwardScanWithoutSpeed) {
  without_speed();
  const MatchCase& c = GetParam();
  std::vector<int> positions;
  for (std::size_t i = 0; i < c.panel_names.size(); ++i) positions.push_back(10 * (1 + int(i)));
  const PanelTable panel = panel_at(positions, c.panel_names);
  SnpUnion u = build_union(study_at({}), panel);
  match_haplotypes(u, panel, haps_named(c.hap_names));
  std::vector<int> got;
  for (int r = 0; r < u.n; ++r) got.push_back(u.hap_row[r]);
  EXPECT_EQ(got, c.hap_rows);
  EXPECT_EQ(u.hap_row[-1], -1);
  for (int r = 0; r < u.n; ++r) EXPECT_EQ(u.panel_row[r], r);  // no speed filter
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MatchNames,
    ::testing::Values(
        MatchCase{"in_order", {"A", "B", "C"}, {"A", "B", "C"}, {0, 1, 2}},
        MatchCase{"absent_name_keeps_scan_start", {"A", "X", "B"}, {"A", "B"}, {0, -1, 1}},
        MatchCase{"b_before_a", {"A", "B"}, {"B", "A"}, {1, -1}},
        MatchCase{
            "repeated_name_first_after_last", {"A", "B", "A"}, {"A", "A", "B", "A"}, {0, 2, 3}},
        MatchCase{"same_name_twice_in_a_row", {"A", "A"}, {"A", "A"}, {0, 1}},
        MatchCase{"whole_text_and_case", {"rs1", "RS10"}, {"rs10", "rs1", "rs10"}, {1, -1}},
        MatchCase{"extra_haplotype_rows_skipped", {"B"}, {"Z", "Y", "B", "Q"}, {2}}),
    [](const ::testing::TestParamInfo<MatchCase>& p) { return p.param.name; });

TEST_F(MatchHaplotypes, StudyOnlyRowsAndSpeedFilter) {
  // Union: (5 study only), (10 both, name A), (20 panel only, name X), (30 panel only, name B).
  const StudyTable study = study_at({5, 10});
  const PanelTable panel = panel_at({10, 20, 30}, {"A", "X", "B"});
  SnpUnion u = build_union(study, panel);
  match_haplotypes(u, panel, haps_named({"s0", "A", "B"}));
  ASSERT_EQ(u.n, 4);
  EXPECT_EQ(u.hap_row[0], -1);  // study names never take part
  EXPECT_EQ(u.hap_row[1], 1);
  EXPECT_EQ(u.hap_row[2], -1);
  EXPECT_EQ(u.hap_row[3], 2);
  EXPECT_EQ(u.panel_row[1], 0);
  EXPECT_EQ(u.panel_row[2], -1);  // cleared by the speed filter
  EXPECT_EQ(u.panel_row[3], 2);
  EXPECT_EQ(u.study_row[0], 0);
  EXPECT_EQ(u.study_row[1], 1);
}

TEST_F(MatchHaplotypes, SpeedFilterTurnsTypedSnpIntoStudyOnly) {
  const StudyTable study = study_at({10});
  const PanelTable panel = panel_at({10}, {"A"});
  SnpUnion u = build_union(study, panel);
  match_haplotypes(u, panel, haps_named({"B"}));
  EXPECT_EQ(u.study_row[0], 0);
  EXPECT_EQ(u.panel_row[0], -1);
  EXPECT_EQ(u.hap_row[0], -1);
}

TEST_F(MatchHaplotypes, NoHapFlagLeavesHapRowAbsent) {
  Settings s;
  s.hap_flag = 0;
  install_settings(s);
  const PanelTable panel = panel_at({10}, {"A"});
  SnpUnion u = build_union(study_at({}), panel);
  match_haplotypes(u, panel, haps_named({"B"}));
  EXPECT_EQ(u.hap_row.hi() - u.hap_row.lo() + 1, 0);
  EXPECT_EQ(u.panel_row[0], 0);
}

// Random name lists: names from a small pool (so that they repeat), some
// only in the panel, some only in the haplotype file, rows out of order.
std::vector<std::string> random_names(std::mt19937& rng, int count, int pool) {
  static const char* const kStems[] = {"rs1", "rs10", "RS1", "rs", "x"};
  std::uniform_int_distribution<int> pick(0, pool - 1);
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    const int p = pick(rng);
    names.push_back(std::string(kStems[p % 5]) + std::to_string(p / 5));
  }
  return names;
}

// Haplotype names: the panel names with rows dropped, repeated, swapped and
// foreign ones inserted.
std::vector<std::string> shuffled_copy(std::mt19937& rng, const std::vector<std::string>& panel,
                                       int pool) {
  std::uniform_int_distribution<int> action(0, 9);
  std::vector<std::string> haps;
  for (const std::string& name : panel) {
    const int a = action(rng);
    if (a == 0) continue;                                       // dropped
    if (a == 1) haps.push_back(random_names(rng, 1, pool)[0]);  // foreign first
    haps.push_back(name);
    if (a == 2) haps.push_back(name);  // repeated
    if (a == 3 && haps.size() >= 2) std::swap(haps[haps.size() - 1], haps[haps.size() - 2]);
  }
  return haps;
}

TEST_F(MatchHaplotypes, IndexedMatchEqualsForwardScan) {
  std::mt19937 rng(20240607);
  for (int trial = 0; trial < 3000; ++trial) {
    const int pool = 1 + trial % 40;
    const int panel_size = static_cast<int>(rng() % 60);
    const std::vector<std::string> panel_names = random_names(rng, panel_size, pool);
    const std::vector<std::string> hap_names =
        trial % 3 == 0 ? random_names(rng, static_cast<int>(rng() % 60), pool)
                       : shuffled_copy(rng, panel_names, pool);
    std::vector<int> panel_pos, study_pos;
    for (int i = 0; i < panel_size; ++i) panel_pos.push_back(2 * i + static_cast<int>(rng() % 2));
    for (int i = 0; i < static_cast<int>(rng() % 30); ++i) study_pos.push_back(3 * i);
    const PanelTable panel = panel_at(panel_pos, panel_names);
    const HapTable haps = haps_named(hap_names);
    const StudyTable study = study_at(study_pos);
    for (int speed = 0; speed <= 1; ++speed) {
      Settings s;
      s.speed_flag = speed;
      install_settings(s);
      SnpUnion fast = build_union(study, panel);
      SnpUnion plain = build_union(study, panel);
      match_haplotypes(fast, panel, haps);
      literal::match_haplotypes_scan(plain, panel, haps, speed == 1);
      ASSERT_EQ(fast.n, plain.n);
      for (int r = -1; r < fast.n; ++r) {
        ASSERT_EQ(fast.hap_row[r], plain.hap_row[r]) << "trial " << trial << " row " << r;
        ASSERT_EQ(fast.panel_row[r], plain.panel_row[r]) << "trial " << trial << " row " << r;
        ASSERT_EQ(fast.study_row[r], plain.study_row[r]) << "trial " << trial << " row " << r;
      }
    }
  }
}

}  // namespace
}  // namespace tessellar
