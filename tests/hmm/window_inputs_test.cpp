// The window layout (positions of 0 and below, core boundaries, what a range
// reads) and the kernel inputs of a hand-built contig: typed sites,
// switches, interpolation weights in bp and in cM, carriers of the rarer
// allele and the observed alleles.
#include "hmm/window_inputs.h"

#include <gtest/gtest.h>

#include <vector>

#include "hmm/window_layout.h"

namespace tessellar::hmm {
namespace {

TEST(WindowLayout, PutsEachPositionInTheCoreThatHoldsIt) {
  const long long cases[][2] = {{1, 0},           {5'000'000, 0},   {5'000'001, 1},
                                {10'000'000, 1},  {0, -1},          {-4'999'999, -1},
                                {-5'000'000, -2}, {-5'000'001, -2}, {2'000'000'000, 399}};
  for (const auto& [pos, w] : cases) {
    EXPECT_EQ(window_of(pos), w) << pos;
    EXPECT_TRUE(core_of(w).contains(pos)) << pos;
    EXPECT_EQ(reach_of(w).first, core_of(w).first - kWindowFlank);
    EXPECT_EQ(reach_of(w).last, core_of(w).last + kWindowFlank);
  }
  // A range reads the reach of its windows.
  EXPECT_EQ(reading_for(4'000'000, 4'500'000).first, -1'000'000 + 1);
  EXPECT_EQ(reading_for(4'000'000, 4'500'000).last, 6'000'000);
  EXPECT_EQ(reading_for(4'999'999, 5'000'001).first, -1'000'000 + 1);
  EXPECT_EQ(reading_for(4'999'999, 5'000'001).last, 11'000'000);
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
    const int study_row[] = {-1, 0, -1, 1, 2, -1};
    const int hap_row[] = {0, 1, 2, 3, -1, 4};
    u.n = 6;
    for (ivector* v : {&u.pos, &u.study_row, &u.panel_row, &u.hap_row}) *v = ivector(-1, u.n);
    for (int j = 0; j < u.n; ++j) {
      u.pos[j] = 50 * (j + 1);
      u.study_row[j] = study_row[j];
      u.panel_row[j] = u.hap_row[j] = hap_row[j];
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

TEST(WindowInputs, TypedAndUntypedSitesOfAContig) {
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
  // Each haplotype's own observed alleles.
  const std::vector<std::vector<int8_t>> observed = {{0, -1}, {1, -1}, {1, 1}, {-1, 0}};
  std::vector<int8_t> got(2);
  for (int h = 0; h < 4; ++h) {
    in.observed(c.study, h, got.data());
    EXPECT_EQ(got, observed[static_cast<std::size_t>(h)]) << "haplotype " << h;
  }
  // The untyped sites: the carriers of their rarer allele and their place.
  in.set_untyped(t, std::vector<int>{0, 2, 5});
  const UntypedSites<float> s = in.untyped();
  ASSERT_EQ(s.count, 3);
  EXPECT_EQ(std::vector<int>(s.left, s.left + 3), (std::vector<int>{-1, 0, 1}));
  EXPECT_EQ(s.weight[1], 0.5f);  // 150 between 100 and 200
  EXPECT_EQ(std::vector<int>(s.carrier_begin, s.carrier_begin + 4), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(std::vector<int>(s.carriers, s.carriers + 3), (std::vector<int>{0, 3, 3}));
  EXPECT_EQ(std::vector<uint8_t>(s.carried, s.carried + 3), (std::vector<uint8_t>{1, 0, 1}));
  EXPECT_EQ(in.state_frequency(0), 0.25f);
  EXPECT_EQ(in.state_frequency(1), 0.75f);
  // The typed sites of rows 2 .. 4 alone.
  in.set_typed(t, 2, 5, {0.03, 1e5, 0.01});
  ASSERT_EQ(in.typed_count(), 1);
  EXPECT_EQ(in.typed_row(0), 3);
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
