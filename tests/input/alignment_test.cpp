// The recode, strand and monomorphic passes, rule by rule.
#include "input/alignment.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tables_for_tests.h"

namespace tessellar {
namespace {

using testing_input::panel_at;
using testing_input::study_at;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const std::vector<int8_t> kAsRead = {0, 1, 2, 9, 2};
const std::vector<int8_t> kFlipped = {2, 1, 0, 9, 0};

// One typed SNP: study and panel row at the same position.
struct Typed {
  StudyTable study = study_at({100});
  PanelTable panel = panel_at({100});
  SnpUnion u;
  Typed(const char* study_alleles, const char* panel_alleles, int recode, double fs, double fe) {
    study.allele[0] = {study_alleles[0], study_alleles[1]};
    study.recode[0] = recode;
    study.freq[0] = fs;
    panel.allele[0] = {panel_alleles[0], panel_alleles[1]};
    panel.freq[0] = fe;
    panel.ncol = panel.geno.members = static_cast<int>(kAsRead.size());
    panel.geno.codes = kAsRead;
    u = build_union(study, panel);
  }
};

struct AlignCase {
  std::string name;
  const char* study_alleles;
  const char* panel_alleles;
  int recode;
  double fs, fe;
  int no_fix, no_remove;
  bool flipped;     // panel codes end flipped
  bool study_kept;  // study_row stays
};

class AlignAlleles : public ::testing::TestWithParam<AlignCase> {};

TEST_P(AlignAlleles, FollowsTheRule) {
  const AlignCase& c = GetParam();
  Typed t(c.study_alleles, c.panel_alleles, c.recode, c.fs, c.fe);
  align_alleles(t.u, t.study, t.panel, c.no_fix, c.no_remove);
  EXPECT_EQ(t.panel.geno.codes, c.flipped ? kFlipped : kAsRead);
  EXPECT_EQ(t.u.study_row[0], c.study_kept ? 0 : -1);
  EXPECT_EQ(t.u.panel_row[0], 0);
  EXPECT_EQ(std::bit_cast<uint64_t>(t.panel.freq[0]), std::bit_cast<uint64_t>(c.fe))
      << "the panel frequency is never worked out again";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AlignAlleles,
    ::testing::Values(
        // name, study, panel, recode, fs, fe, no_fix, no_remove, flipped, kept
        AlignCase{"first_letters_differ", "AG", "GA", 0, 0.2, 0.2, 0, 0, true, true},
        AlignCase{"first_letters_differ_only", "AG", "CG", 0, 0.5, 0.5, 0, 0, true, true},
        AlignCase{"equal_first_not_ambiguous", "AG", "AC", 0, 0.2, 0.8, 0, 0, false, true},
        AlignCase{"at_in_band_removed", "AT", "AT", 0, 0.45, 0.55, 0, 0, false, false},
        AlignCase{"at_in_band_no_remove", "AT", "AT", 0, 0.45, 0.55, 0, 1, false, true},
        AlignCase{"cg_in_band_removed", "CG", "CG", 0, 0.59, 0.41, 0, 0, false, false},
        AlignCase{"at_out_of_band_flipped", "AT", "AT", 0, 0.2, 0.8, 0, 0, true, true},
        AlignCase{"at_same_side_kept", "AT", "AT", 0, 0.2, 0.45, 0, 0, false, true},
        AlignCase{"at_d_zero", "AT", "AT", 0, 0.5, 0.8, 0, 0, false, true},
        AlignCase{"cg_fe_exactly_04", "CG", "CG", 0, 0.55, 0.4, 0, 0, true, true},
        AlignCase{"cg_fs_exactly_06", "CG", "CG", 0, 0.6, 0.45, 0, 0, true, true},
        AlignCase{"study_second_letter_ignored", "AC", "AT", 0, 0.2, 0.8, 0, 0, true, true},
        AlignCase{"gc_not_ambiguous", "GC", "GC", 0, 0.2, 0.8, 0, 0, false, true},
        AlignCase{"ta_not_ambiguous", "TA", "TA", 0, 0.45, 0.55, 0, 0, false, true},
        AlignCase{"lower_case_at", "at", "at", 0, 0.2, 0.8, 0, 0, false, true},
        AlignCase{"lower_case_cg_in_band", "cg", "cg", 0, 0.45, 0.55, 0, 0, false, true},
        AlignCase{"nan_fs", "AT", "AT", 0, kNaN, 0.8, 0, 0, false, true},
        AlignCase{"nan_fe", "CG", "CG", 0, 0.45, kNaN, 0, 0, false, true},
        AlignCase{"recode_equal_letters_flips_once", "AG", "AG", 1, 0.3, 0.3, 0, 0, true, true},
        AlignCase{"recode_differing_letters_flips_twice", "AG", "GA", 1, 0.3, 0.3, 0, 0, false,
                  true},
        AlignCase{"recode_other_value", "AG", "AG", 2, 0.3, 0.3, 0, 0, false, true},
        AlignCase{"recode_then_at_flip", "AT", "AT", 1, 0.2, 0.8, 0, 0, false, true},
        AlignCase{"no_fix_keeps_recode", "AG", "GA", 1, 0.3, 0.3, 1, 0, true, true},
        AlignCase{"no_fix_no_strand_flip", "AG", "GA", 0, 0.3, 0.3, 1, 0, false, true},
        AlignCase{"no_fix_no_removal", "AT", "AT", 0, 0.45, 0.55, 1, 0, false, true}),
    [](const ::testing::TestParamInfo<AlignCase>& p) { return p.param.name; });

TEST(AlignAlleles, RowsWithoutBothSidesUntouched) {
  // Study only at 50, panel only at 60 with differing letters and recode flag 1.
  StudyTable study = study_at({50});
  study.recode[0] = 1;
  study.allele[0] = {'G', 'A'};
  PanelTable panel = panel_at({60});
  SnpUnion u = build_union(study, panel);
  align_alleles(u, study, panel, 0, 0);
  EXPECT_EQ(panel.geno.codes, (std::vector<int8_t>{1}));
  EXPECT_EQ(u.study_row[0], 0);
  EXPECT_EQ(u.panel_row[1], 0);
}

TEST(Flip, SwapsHomozygotesKeepsMissing) {
  PanelTable panel = panel_at({1, 2});
  panel.ncol = panel.geno.members = 4;
  panel.geno.codes = {0, 1, 2, 9, 9, 2, 0, 1};
  flip(panel, 1);
  EXPECT_EQ(panel.geno.codes, (std::vector<int8_t>{0, 1, 2, 9, 9, 0, 2, 1}));
}

enum class Kind { typed, study_only, panel_only };

struct MonoCase {
  std::string name;
  Kind kind;
  double fs, fe;
  bool study_kept, panel_kept;
};

class DropMonomorphic : public ::testing::TestWithParam<MonoCase> {};

TEST_P(DropMonomorphic, JudgesByTheRightFrequency) {
  const MonoCase& c = GetParam();
  StudyTable study =
      study_at(c.kind == Kind::panel_only ? std::vector<int>{} : std::vector<int>{7});
  PanelTable panel =
      panel_at(c.kind == Kind::study_only ? std::vector<int>{} : std::vector<int>{7});
  if (study.nsnp) study.freq[0] = c.fs;
  if (panel.nsnp) panel.freq[0] = c.fe;
  SnpUnion u = build_union(study, panel);
  drop_monomorphic(u, study, panel);
  ASSERT_EQ(u.n, 1);
  EXPECT_EQ(u.study_row[0], c.study_kept && study.nsnp ? 0 : -1);
  EXPECT_EQ(u.panel_row[0], c.panel_kept && panel.nsnp ? 0 : -1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DropMonomorphic,
    ::testing::Values(
        MonoCase{"typed_fs0_panel_kept", Kind::typed, 0.0, 0.3, false, true},
        MonoCase{"study_only_fs0", Kind::study_only, 0.0, 0, false, false},
        MonoCase{"study_only_fs1", Kind::study_only, 1.0, 0, false, false},
        MonoCase{"typed_fs03_fe0_kept", Kind::typed, 0.3, 0.0, true, true},
        MonoCase{"panel_only_fe1", Kind::panel_only, 0, 1.0, false, false},
        MonoCase{"panel_only_fe0", Kind::panel_only, 0, 0.0, false, false},
        MonoCase{"panel_only_just_inside", Kind::panel_only, 0, 0.0000011, false, true},
        MonoCase{"panel_only_at_threshold", Kind::panel_only, 0, 0.000001, false, true},
        MonoCase{"typed_at_upper_threshold", Kind::typed, 0.999999, 0.5, true, true},
        MonoCase{"typed_above_upper", Kind::typed, 0.9999995, 0.5, false, true},
        MonoCase{"study_nan_kept", Kind::study_only, kNaN, 0, true, false},
        MonoCase{"panel_nan_kept", Kind::panel_only, 0, kNaN, false, true}),
    [](const ::testing::TestParamInfo<MonoCase>& p) { return p.param.name; });

TEST(DropMonomorphic, RemovedAmbiguousRowJudgedByPanel) {
  // A/T in the band: the strand pass takes the study row out, then the
  // monomorphic pass looks at the panel frequency of what is left.
  Typed kept("AT", "AT", 0, 0.45, 0.55);
  align_alleles(kept.u, kept.study, kept.panel, 0, 0);
  drop_monomorphic(kept.u, kept.study, kept.panel);
  EXPECT_EQ(kept.u.study_row[0], -1);
  EXPECT_EQ(kept.u.panel_row[0], 0);
}

}  // namespace
}  // namespace tessellar
