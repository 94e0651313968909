// read_haplotypes: values, the log line and malformed rows.
#include "input/haplotypes.h"

#include <gtest/gtest.h>

#include <string>

#include "input_test_util.h"
#include "core/settings.h"

namespace tessellar {
namespace {

using testing_input::error_text;
using testing_input::printed_output;
using testing_input::stopped_output;
using testing_input::TempFile;

TEST(ReadHaplotypes, ValuesRowMajorAndLogLine) {
  TempFile file("h1 0 1 1 0 1\r\nh2\t1 1 0 0 0\n\n\n");
  HapTable t;
  const std::string log = printed_output([&] { t = read_haplotypes(file.path()); });
  EXPECT_EQ(log, "2 SNPs, 30 trios, 0 duos, and 0 singletons read from '" + file.path() + "'\n");
  ASSERT_EQ(t.ncol, 5);
  ASSERT_EQ(t.nsnp, 2);
  EXPECT_EQ(t.name, (std::vector<std::string>{"h1", "h2"}));
  EXPECT_EQ(t.bits, (std::vector<uint8_t>{0, 1, 1, 0, 1, 1, 1, 0, 0, 0}));
  EXPECT_EQ(t.hap(1)[0], 1);
}

TEST(ReadHaplotypes, OnlyLineWithoutBreakAndSettingsInLog) {
  Settings s;
  s.nTR = 2;
  s.nDU = 3;
  s.nUN = 4;
  install_settings(s);
  TempFile file("solo 1 0 1");
  HapTable t;
  const std::string log = printed_output([&] { t = read_haplotypes(file.path()); });
  install_settings(Settings{});
  EXPECT_EQ(log, "1 SNPs, 2 trios, 3 duos, and 4 singletons read from '" + file.path() + "'\n");
  EXPECT_EQ(t.nsnp, 1);
  EXPECT_EQ(t.bits, (std::vector<uint8_t>{1, 0, 1}));
}

struct HapErrorCase {
  std::string name;
  std::string text;
  std::string message;  // "%P" stands for the path
};

class HapError : public ::testing::TestWithParam<HapErrorCase> {};

TEST_P(HapError, StopsWithMessage) {
  const HapErrorCase& c = GetParam();
  TempFile file(c.text);
  std::string message = c.message;
  message.replace(message.find("%P"), 2, file.path());
  EXPECT_EQ(stopped_output([&] { read_haplotypes(file.path()); }), error_text(message));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HapError,
    ::testing::Values(
        HapErrorCase{"value_2", "h1 0 1\nh2 1 2\n",
                     "'%P' line 2: expected haplotype value 0 or 1 for haplotype 2, found '2'"},
        HapErrorCase{"value_9", "h1 0 9\n",
                     "'%P' line 1: expected haplotype value 0 or 1 for haplotype 2, found '9'"},
        HapErrorCase{"value_letter", "h1 0 1\nh2 x 1\n",
                     "'%P' line 2: expected haplotype value 0 or 1 for haplotype 1, found 'x'"},
        HapErrorCase{"fewer_values", "h1 0 1 1\nh2 0 1\nh3 0 0 0\n",
                     "'%P' line 2: expected 3 haplotype values after the SNP name, found 2"},
        HapErrorCase{"more_values", "h1 0 1\nh2 0 1 1\n",
                     "'%P' line 2: expected 2 haplotype values after the SNP name, found 3"},
        HapErrorCase{"ends_mid_row", "h1 0 1 1\nh2 0",
                     "'%P' line 2: the file ends in the middle of a row: expected 3 haplotype "
                     "values after the SNP name, found 1"},
        HapErrorCase{"wide_value_first_line", "h1 0 10 1\n",
                     "'%P' line 1: haplotype value '10' has more than one character; the number of "
                     "haplotypes is taken from the first line, whose values must be one character "
                     "each"},
        HapErrorCase{"no_columns", "h1\nh2\n",
                     "'%P' line 1: expected haplotype values after the SNP name, found none; the "
                     "number of haplotypes is taken from the first line"},
        HapErrorCase{"empty", "", "'%P' holds no SNP rows: the file is empty or blank"},
        HapErrorCase{"name_too_long", "h1 0\n" + std::string(40, 'q') + " 1\n",
                     "'%P' line 2: expected a SNP name of at most 29 characters, found '" +
                         std::string(40, 'q') + "' (40 characters)"},
        HapErrorCase{"line_too_long", "h1 0\nh2 " + std::string(99996, '1') + "\n",
                     "'%P' line 2: a line may hold at most 99999 characters including its line "
                     "break; this one is longer"}),
    [](const ::testing::TestParamInfo<HapErrorCase>& p) { return p.param.name; });

}  // namespace
}  // namespace tessellar
