// The window layout (positions of 0 and below, core boundaries, what a range
// reads), the switch probability of a map, and the kernel inputs of a
// hand-built contig: typed sites, switches, interpolation weights in bp and
// in cM, carriers of the rarer allele and the observed alleles.
#include "hmm/window_inputs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "hmm/window_layout.h"

namespace tessellar::hmm {
namespace {

struct Placed {
  long long pos;
  long long window;
};

class WindowOf : public testing::TestWithParam<Placed> {};

TEST_P(WindowOf, PutsEachPositionInTheCoreThatHoldsIt) {
  const Placed p = GetParam();
  EXPECT_EQ(window_of(p.pos), p.window) << p.pos;
  EXPECT_TRUE(core_of(p.window).contains(p.pos)) << p.pos;
  EXPECT_EQ(reach_of(p.window).first, core_of(p.window).first - kWindowFlank);
  EXPECT_EQ(reach_of(p.window).last, core_of(p.window).last + kWindowFlank);
}

INSTANTIATE_TEST_SUITE_P(Cases, WindowOf,
                         testing::Values(Placed{1, 0}, Placed{5'000'000, 0}, Placed{5'000'001, 1},
                                         Placed{10'000'000, 1}, Placed{0, -1},
                                         Placed{-4'999'999, -1}, Placed{-5'000'000, -2},
                                         Placed{-5'000'001, -2}, Placed{2'000'000'000, 399}));

TEST(WindowLayout, CoresTileTheContig) {
  for (long long w = -3; w < 3; ++w) EXPECT_EQ(core_of(w).last + 1, core_of(w + 1).first);
}

TEST(WindowLayout, ARangeReadsTheReachOfItsWindows) {
  const Span one = reading_for(4'000'000, 4'500'000);
  EXPECT_EQ(one.first, -1'000'000 + 1);
  EXPECT_EQ(one.last, 6'000'000);
  const Span two = reading_for(4'999'999, 5'000'001);
  EXPECT_EQ(two.first, -1'000'000 + 1);
  EXPECT_EQ(two.last, 11'000'000);
}

TEST(SwitchProbability, FollowsTheGeneticDistance) {
  // 1 cM, Ne 1e5, 600 states: 1 - exp(-4e5 * 0.01 / 600).
  EXPECT_NEAR(switch_probability(1.0, 1e5, 600), 1 - std::exp(-20.0 / 3), 1e-15);
  EXPECT_EQ(switch_probability(0.0, 1e5, 600), 0.0);
  EXPECT_NEAR(switch_probability(0.001, 2e5, 1000), 1 - std::exp(-0.008), 1e-15);
}

// A contig of six union rows, two study individuals, four states:
//   row  pos  study  haplotype row  states' alleles
//   0     50    -        0          1 0 0 0  (untyped, before the first typed site)
//   1    100    0        1          0 1 1 0  (typed)
//   2    150    -        2          1 1 1 0  (untyped: carriers of 0 are fewer)
//   3    200    1        3          1 1 0 0  (typed)
//   4    250    2        -          -        (study only)
//   5    300    -        4          0 0 0 1  (untyped, after the last typed site)
struct Contig {
  SnpUnion u;
  StudyTable study;
  HapTable haps;
  Contig() {
    const std::vector<int> pos = {50, 100, 150, 200, 250, 300};
    const std::vector<int> study_row = {-1, 0, -1, 1, 2, -1};
    const std::vector<int> hap_row = {0, 1, 2, 3, -1, 4};
    const int n = static_cast<int>(pos.size());
    for (ivector* v : {&u.pos, &u.study_row, &u.panel_row, &u.hap_row}) *v = ivector(-1, n);
    u.n = n;
    for (int j = 0; j < n; ++j) {
      u.pos[j] = pos[static_cast<std::size_t>(j)];
      u.study_row[j] = study_row[static_cast<std::size_t>(j)];
      u.panel_row[j] = hap_row[static_cast<std::size_t>(j)];
      u.hap_row[j] = hap_row[static_cast<std::size_t>(j)];
    }
    haps.ncol = 4;
    haps.nsnp = 5;
    haps.bits = {1, 0, 0, 0, 0, 1, 1, 0, 1, 1, 1, 0, 1, 1, 0, 0, 0, 0, 0, 1};
    study.nind = 2;
    study.nsnp = 3;
    // Row 0: 0|1 1|-; row 1: -|- 1|0; row 2: 0|0 0|0.
    study.alleles = {0, 1, 1, -1, -1, -1, 1, 0, 0, 0, 0, 0};
  }
};

TEST(WindowInputs, TypedSitesCarryTheStatesAllelesAndConstantSwitches) {
  const Contig c;
  const std::vector<double> no_map;
  const ContigTables t{c.u, c.study, c.haps, no_map};
  WindowInputs in;
  in.set_typed(t, 0, c.u.n, {0.03, 1e5, 0.01});
  ASSERT_EQ(in.typed_count(), 2);
  EXPECT_EQ(in.typed_row(0), 1);
  EXPECT_EQ(in.typed_row(1), 3);
  const CopyingModel<float> m = in.model();
  EXPECT_EQ(m.states, 4);
  EXPECT_EQ(std::vector<uint8_t>(m.alleles, m.alleles + 8),
            (std::vector<uint8_t>{0, 1, 1, 0, 1, 1, 0, 0}));
  EXPECT_EQ(m.switches[1], 0.03f);
  EXPECT_EQ(m.error, 0.01f);
  // The typed sites of rows 2 .. 4 alone.
  in.set_typed(t, 2, 5, {0.03, 1e5, 0.01});
  ASSERT_EQ(in.typed_count(), 1);
  EXPECT_EQ(in.typed_row(0), 3);
}

TEST(WindowInputs, ObservedAllelesAreEachHaplotypesOwn) {
  const Contig c;
  const std::vector<double> no_map;
  const ContigTables t{c.u, c.study, c.haps, no_map};
  WindowInputs in;
  in.set_typed(t, 0, c.u.n, {0.03, 1e5, 0.01});
  std::vector<int8_t> got(2);
  const std::vector<std::vector<int8_t>> expected = {{0, -1}, {1, -1}, {1, 1}, {-1, 0}};
  for (int h = 0; h < 4; ++h) {
    in.observed(c.study, h, got.data());
    EXPECT_EQ(got, expected[static_cast<std::size_t>(h)]) << "haplotype " << h;
  }
}

TEST(WindowInputs, UntypedSitesListTheRarerAllelesCarriersAndTheirPlace) {
  const Contig c;
  const std::vector<double> no_map;
  const ContigTables t{c.u, c.study, c.haps, no_map};
  WindowInputs in;
  in.set_typed(t, 0, c.u.n, {0.03, 1e5, 0.01});
  const std::vector<int> targets = {0, 2, 5};
  in.set_untyped(t, targets);
  const UntypedSites<float> s = in.untyped();
  ASSERT_EQ(s.count, 3);
  EXPECT_EQ(std::vector<int>(s.left, s.left + 3), (std::vector<int>{-1, 0, 1}));
  EXPECT_EQ(s.weight[1], 0.5f);  // 150 between 100 and 200
  EXPECT_EQ(std::vector<int>(s.carrier_begin, s.carrier_begin + 4), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(std::vector<int>(s.carriers, s.carriers + 3), (std::vector<int>{0, 3, 3}));
  EXPECT_EQ(std::vector<uint8_t>(s.carried, s.carried + 3), (std::vector<uint8_t>{1, 0, 1}));
  EXPECT_EQ(in.state_frequency(0), 0.25f);
  EXPECT_EQ(in.state_frequency(1), 0.75f);
}

TEST(WindowInputs, AMapSetsTheSwitchesAndTheWeightsInCentimorgans) {
  const Contig c;
  // cM of the rows; row 2 lies a quarter of the way from row 1 to row 3.
  const std::vector<double> cm = {0.0, 1.0, 1.1, 1.4, 1.5, 2.0};
  const ContigTables t{c.u, c.study, c.haps, cm};
  WindowInputs in;
  in.set_typed(t, 0, c.u.n, {0.03, 1e5, 0.01});
  EXPECT_EQ(in.model().switches[1], static_cast<float>(switch_probability(0.4, 1e5, 4)));
  const std::vector<int> targets = {2};
  in.set_untyped(t, targets);
  EXPECT_FLOAT_EQ(in.untyped().weight[0], 0.25f);
  // Where the map is flat between the two typed sites, bp decide.
  const std::vector<double> flat = {0.0, 1.0, 1.0, 1.0, 1.5, 2.0};
  const ContigTables f{c.u, c.study, c.haps, flat};
  in.set_typed(f, 0, c.u.n, {0.03, 1e5, 0.01});
  EXPECT_EQ(in.model().switches[1], 0.0f);
  in.set_untyped(f, targets);
  EXPECT_EQ(in.untyped().weight[0], 0.5f);
}

}  // namespace
}  // namespace tessellar::hmm
