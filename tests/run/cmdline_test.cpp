// The option loop, its echo lines, the value checks and the defaults report.
#include "run/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/fatal.h"

namespace tessellar {
namespace {

struct Parsed {
  ParsedOptions options;
  std::string log;
  bool stopped = false;
};

Parsed parse(std::vector<std::string> args) {
  args.insert(args.begin(), "tessellar");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  Parsed result;
  testing::internal::CaptureStdout();
  try {
    result.options = parse_options(static_cast<int>(argv.size()), argv.data());
  } catch (const RunStopped&) {
    result.stopped = true;
  }
  result.log = testing::internal::GetCapturedStdout();
  return result;
}

const char* const kStop = "\nTessellar was stopped due to error(s) listed above.\n\n";

struct EchoCase {
  const char* label;
  std::vector<std::string> args;
  std::string log;
};

class EchoTest : public testing::TestWithParam<EchoCase> {};

TEST_P(EchoTest, PrintsTheEchoLines) {
  Parsed p = parse(GetParam().args);
  EXPECT_FALSE(p.stopped);
  EXPECT_EQ(p.log, GetParam().log);
}

INSTANTIATE_TEST_SUITE_P(
    Options, EchoTest,
    testing::Values(
        EchoCase{"none", {}, ""},
        EchoCase{"gfile_and_tag",
                 {"-gfile", "a.dat", "-tag", "3"},
                 "        -- '-gfile' study genotypes read from 'a.dat'\n"
                 "        -- '-tag' imputation based on 3 tag SNPs\n"},
        EchoCase{"flags",
                 {"-h", "-no_fix", "-no_remove", "-speed"},
                 "        -- '-h' phased haplotypes available\n"
                 "        -- '-no_fix' no internal check and fix of strand alignment\n"
                 "        -- '-no_remove' no removal of A/T and C/G SNPs\n"
                 "        -- '-speed' speed up the program by ignoring SNPs not in "
                 "'phase.dat'\n"},
        EchoCase{"paths",
                 {"-efile", "e", "-hfile", "h", "-ofile", "o"},
                 "        -- '-efile' external genotypes read from 'e'\n"
                 "        -- '-hfile' phased haplotypes read from 'h'\n"
                 "        -- '-ofile' results written to 'o_***.out'\n"},
        EchoCase{"panel_then_option",
                 {"-panel", "20", "5", "2", "-no_fix"},
                 "        -- '-panel' reference panel has 20 trios, 5 duos and 2 singletons\n"
                 "        -- '-no_fix' no internal check and fix of strand alignment\n"},
        EchoCase{"numbers_as_atoi",
                 {"-window", "abc", "-max", " 12x", "-min", "+3"},
                 "        -- '-window' candidate tags chosen within the distance of 0 bp\n"
                 "        -- '-max' candidate tags chosen at a maximun number of 12\n"
                 "        -- '-min' candidate tags chosen at a minimum number of 3\n"},
        EchoCase{"value_that_looks_like_option",
                 {"-gfile", "-h"},
                 "        -- '-gfile' study genotypes read from '-h'\n"},
        EchoCase{"given_twice",
                 {"-tag", "2", "-tag", "6"},
                 "        -- '-tag' imputation based on 2 tag SNPs\n"
                 "        -- '-tag' imputation based on 6 tag SNPs\n"}),
    [](const testing::TestParamInfo<EchoCase>& param) { return std::string(param.param.label); });

TEST(Options, SetTheSettings) {
  Parsed p = parse({"-panel", "20", "5", "2", "-tag", "6", "-tag", "3", "-window", "100", "-max",
                    "12", "-min", "4", "-gfile", "g", "-ofile", "o"});
  ASSERT_FALSE(p.stopped);
  const Settings& s = p.options.settings;
  EXPECT_EQ(s.nTR, 20);
  EXPECT_EQ(s.nDU, 5);
  EXPECT_EQ(s.nUN, 2);
  EXPECT_EQ(s.M, 4);
  EXPECT_EQ(s.window, 100);
  EXPECT_EQ(s.maxnum, 12);
  EXPECT_EQ(s.minnum, 4);
  EXPECT_EQ(s.gfile, "g");
  EXPECT_EQ(s.ofile, "o");
  EXPECT_EQ(s.efile, "external.dat");
  EXPECT_TRUE(p.options.given[kPanel]);
  EXPECT_FALSE(p.options.given[kH]);
}

struct StopCase {
  const char* label;
  std::vector<std::string> args;
  std::string log;  // before the stop message
};

class StopTest : public testing::TestWithParam<StopCase> {};

TEST_P(StopTest, StopsWithItsMessage) {
  Parsed p = parse(GetParam().args);
  EXPECT_TRUE(p.stopped);
  EXPECT_EQ(p.log, GetParam().log + kStop);
}

INSTANTIATE_TEST_SUITE_P(
    Options, StopTest,
    testing::Values(
        StopCase{"unknown", {"-x"}, "        -- '-x' Error: Unknown command line option '-x'.\n"},
        StopCase{"case_differs",
                 {"-TAG", "3"},
                 "        -- '-TAG' Error: Unknown command line option '-TAG'.\n"},
        StopCase{"joined_value",
                 {"-tag=3"},
                 "        -- '-tag=3' Error: Unknown command line option '-tag=3'.\n"},
        StopCase{"value_in_place_of_option",
                 {"-h", "3"},
                 "        -- '-h' phased haplotypes available\n"
                 "        -- '3' Error: Unknown command line option '3'.\n"},
        StopCase{"last_without_value",
                 {"-tag"},
                 "        -- '-tag' Error: option '-tag' takes 1 value, but none follows "
                 "it.\n"},
        StopCase{"panel_short",
                 {"-panel", "1", "2"},
                 "        -- '-panel' Error: option '-panel' takes 3 values, but only 2 "
                 "follow it.\n"},
        StopCase{"out_of_int_range",
                 {"-window", "99999999999"},
                 "        -- '-window' Error: the value '99999999999' of option '-window' is "
                 "out of range.\n"}),
    [](const testing::TestParamInfo<StopCase>& param) { return std::string(param.param.label); });

TEST(Defaults, AllThirteenWithoutOptions) {
  ParsedOptions none;
  testing::internal::CaptureStdout();
  print_defaults(none);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\nDefaults in effect:\n"
            "        -- study genotypes read from 'genotype.dat'\n"
            "        -- external genotypes read from 'external.dat'\n"
            "        -- phased haplotypes not available\n"
            "        -- phased haplotypes read from 'haplotype.dat'\n"
            "        -- results written to 'imp_geno.out'\n"
            "        -- internal check and fix of strand alignment\n"
            "        -- removal of A/T and C/G SNPs\n"
            "        -- speeding not used\n"
            "        -- reference panel has 30 trios\n"
            "        -- imputation based on 4 tag SNPs\n"
            "        -- candidate tags chosen within the distance of 50000 bp\n"
            "        -- candidate tags chosen at a maximun number of 20\n"
            "        -- candidate tags chosen at a minimun number of 8\n");
}

TEST(Defaults, FollowTheGivenMarksNotTheValues) {
  Parsed p = parse({"-tag", "4", "-h", "-speed", "-hfile", "x", "-panel", "1", "0", "0"});
  ASSERT_FALSE(p.stopped);
  testing::internal::CaptureStdout();
  print_defaults(p.options);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\nDefaults in effect:\n"
            "        -- study genotypes read from 'genotype.dat'\n"
            "        -- external genotypes read from 'external.dat'\n"
            "        -- results written to 'imp_geno.out'\n"
            "        -- internal check and fix of strand alignment\n"
            "        -- removal of A/T and C/G SNPs\n"
            "        -- candidate tags chosen within the distance of 50000 bp\n"
            "        -- candidate tags chosen at a maximun number of 20\n"
            "        -- candidate tags chosen at a minimun number of 8\n");
}

}  // namespace
}  // namespace tessellar
