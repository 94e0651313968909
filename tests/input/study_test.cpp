// read_study: values, frequencies, the log line and every malformed input.
#include "input/study.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "input_test_util.h"

namespace tessellar {
namespace {

using testing_input::error_text;
using testing_input::printed_output;
using testing_input::stopped_output;
using testing_input::TempFile;

StudyTable read_quietly(const std::string& path, std::string* log = nullptr) {
  StudyTable study;
  const std::string out = printed_output([&] { study = read_study(path); });
  if (log) *log = out;
  return study;
}

TEST(ReadStudy, FieldsCodesFrequenciesAndLogLine) {
  TempFile file("rs1 100 1 A G 0 1 2 9\nrs2 250 0 C T 9 9 9 9\nrs3 250 7 a t 2 2 1 1\n");
  std::string log;
  const StudyTable t = read_quietly(file.path(), &log);
  EXPECT_EQ(log, "3 SNPs and 4 individuals read from '" + file.path() + "'\n");
  ASSERT_EQ(t.nsnp, 3);
  ASSERT_EQ(t.nind, 4);
  EXPECT_EQ(t.name, (std::vector<std::string>{"rs1", "rs2", "rs3"}));
  EXPECT_EQ(t.pos, (std::vector<int>{100, 250, 250}));
  EXPECT_EQ(t.recode, (std::vector<int>{1, 0, 7}));
  EXPECT_EQ(t.allele[0], (std::array<char, 2>{'A', 'G'}));
  EXPECT_EQ(t.allele[2], (std::array<char, 2>{'a', 't'}));
  EXPECT_EQ(t.geno.at(0, 0), 0);
  EXPECT_EQ(t.geno.at(1, 0), 1);
  EXPECT_EQ(t.geno.at(2, 0), 2);
  EXPECT_EQ(t.geno.at(3, 0), 9);
  EXPECT_EQ(t.geno.at(3, 2), 1);
  EXPECT_EQ(t.freq[0], 0.5);  // 3 / 6
  EXPECT_EQ(t.miss[0], 0.25);
  EXPECT_TRUE(std::isnan(t.freq[1]));  // no code present: 0 / 0
  EXPECT_EQ(t.miss[1], 1.0);
  EXPECT_EQ(t.freq[2], 6.0 / 8.0);
  EXPECT_EQ(t.miss[2], 0.0);
}

// Layout variants that must all read like the plain file.
class StudyLayout : public ::testing::TestWithParam<const char*> {};

TEST_P(StudyLayout, ReadsLikeThePlainFile) {
  TempFile plain("rs1 100 1 A G 0 1 2\nrs2 200 0 C T 1 9 2\n");
  TempFile variant(GetParam());
  const StudyTable a = read_quietly(plain.path());
  const StudyTable b = read_quietly(variant.path());
  EXPECT_EQ(b.nsnp, a.nsnp);
  EXPECT_EQ(b.nind, a.nind);
  EXPECT_EQ(b.name, a.name);
  EXPECT_EQ(b.pos, a.pos);
  EXPECT_EQ(b.recode, a.recode);
  EXPECT_EQ(b.allele, a.allele);
  EXPECT_EQ(b.geno.codes, a.geno.codes);
  EXPECT_EQ(b.freq, a.freq);
  EXPECT_EQ(b.miss, a.miss);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, StudyLayout,
    ::testing::Values("rs1 100 1 A G 0 1 2\r\nrs2 200 0 C T 1 9 2\r\n",
                      "rs1\t100\t1\tA\tG\t0\t1\t2\nrs2 200 0 C T 1 9 2\n",
                      "rs1 100 1 A G 0 1 2  \t \nrs2 200 0 C T 1 9 2 \n",
                      "rs1 100 1 A G 0 1 2\nrs2 200 0 C T 1 9 2",
                      "\n \nrs1 100 1 A G 0 1 2\n\n\t\nrs2 200 0 C T 1 9 2\n\n\n",
                      "rs1 100 +1 A G 0 1 2\nrs2 200 0 C T 01 +9 2\n"));

TEST(ReadStudy, SingleRow) {
  TempFile file("only 5 0 A C 1 1");
  const StudyTable t = read_quietly(file.path());
  EXPECT_EQ(t.nsnp, 1);
  EXPECT_EQ(t.nind, 2);
  EXPECT_EQ(t.freq[0], 0.5);
}

TEST(ReadStudy, ExtremePositionsAndEqualPositions) {
  TempFile file("a -299999999 0 A C 1\nb 299999999 0 A C 1\nc 299999999 0 A C 1\n");
  const StudyTable t = read_quietly(file.path());
  EXPECT_EQ(t.pos, (std::vector<int>{-299999999, 299999999, 299999999}));
}

struct ErrorCase {
  std::string name;
  std::string text;
  std::string message;  // "%P" stands for the path
};

std::string with_path(std::string message, const std::string& path) {
  const std::size_t at = message.find("%P");
  if (at != std::string::npos) message.replace(at, 2, path);
  return message;
}

class StudyError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(StudyError, StopsWithMessage) {
  const ErrorCase& c = GetParam();
  TempFile file(c.text);
  const std::string out = stopped_output([&] { read_study(file.path()); });
  EXPECT_EQ(out, error_text(with_path(c.message, file.path())));
}

const std::string kLong(30, 'n');

INSTANTIATE_TEST_SUITE_P(
    Cases, StudyError,
    ::testing::Values(
        ErrorCase{"fewer_codes", "r1 1 0 A G 0 1 2\nr2 2 0 A G 0 1\nr3 3 0 A G 0 1 2\n",
                  "'%P' line 2: expected 3 genotype codes after the allele letters, found 2"},
        ErrorCase{"more_codes", "r1 1 0 A G 0 1 2\n\nr2 2 0 A G 0 1 2 2\n",
                  "'%P' line 3: expected 3 genotype codes after the allele letters, found 4"},
        ErrorCase{"ends_mid_row", "r1 1 0 A G 0 1 2\nr2 2 0 A G 0 1",
                  "'%P' line 2: the file ends in the middle of a row: expected 3 genotype codes "
                  "after the allele letters, found 2"},
        ErrorCase{"ends_in_fixed_fields", "r1 1 0 A G 0 1 2\nr2 2 0",
                  "'%P' line 2: the file ends in the middle of a row: expected a SNP name, a "
                  "position, a recode flag and two allele letters, found 3 fields"},
        ErrorCase{"short_fixed_fields", "r1 1 0 A G 0 1 2\nr2\nr3 3 0 A G 0 1 2\n",
                  "'%P' line 2: expected a SNP name, a position, a recode flag and two allele "
                  "letters, found 1 field"},
        ErrorCase{"position_not_integer", "r1 1 0 A G 0 1\nr2 2x 0 A G 0 1\n",
                  "'%P' line 2: expected the position as a whole number of base pairs, found '2x'"},
        ErrorCase{"position_overflow", "r1 99999999999 0 A G 0 1\n",
                  "'%P' line 1: expected a position strictly between -300000000 and 300000000, "
                  "found '99999999999'"},
        ErrorCase{"position_at_upper_sentinel", "r1 300000000 0 A G 0 1\n",
                  "'%P' line 1: expected a position strictly between -300000000 and 300000000, "
                  "found '300000000'"},
        ErrorCase{"position_at_lower_sentinel", "r1 -300000000 0 A G 0 1\n",
                  "'%P' line 1: expected a position strictly between -300000000 and 300000000, "
                  "found '-300000000'"},
        ErrorCase{"positions_decrease", "r1 200 0 A G 0 1\nr2 200 0 A G 0 1\nr3 199 0 A G 0 1\n",
                  "'%P' line 3: positions must not decrease from one row to the next, found 199 "
                  "after 200"},
        ErrorCase{"recode_not_integer", "r1 1 yes A G 0 1\n",
                  "'%P' line 1: expected the recode flag as a whole number (1: recode the panel "
                  "codes), found 'yes'"},
        ErrorCase{"allele_two_letters", "r1 1 0 AG C 0 1\n",
                  "'%P' line 1: expected allele 1 as a single letter, found 'AG'"},
        ErrorCase{"allele2_two_letters", "r1 1 0 A CT 0 1\n",
                  "'%P' line 1: expected allele 2 as a single letter, found 'CT'"},
        ErrorCase{"code_3", "r1 1 0 A G 0 1\nr2 2 0 A G 1 3\n",
                  "'%P' line 2: expected genotype code 0, 1, 2 or 9 (missing) for individual 2, "
                  "found '3'"},
        ErrorCase{"code_letter", "r1 1 0 A G 0 N\n",
                  "'%P' line 1: expected genotype code 0, 1, 2 or 9 (missing) for individual 2, "
                  "found 'N'"},
        ErrorCase{"code_negative_later", "r1 1 0 A G 0 1\nr2 2 0 A G -1 1\n",
                  "'%P' line 2: expected genotype code 0, 1, 2 or 9 (missing) for individual 1, "
                  "found '-1'"},
        ErrorCase{"wide_code_first_line", "r1 1 0 A G 0 10 1\nr2 2 0 A G 0 1 1 1\n",
                  "'%P' line 1: genotype code '10' has more than one character; the number of "
                  "individuals is taken from the first line, whose codes must be one character "
                  "each"},
        ErrorCase{"name_too_long", "r1 1 0 A G 0\n" + kLong + " 2 0 A G 1\n",
                  "'%P' line 2: expected a SNP name of at most 29 characters, found '" + kLong +
                      "' (30 characters)"},
        ErrorCase{"line_too_long", "r1 1 0 A G 0\nr2 2 0 A G " + std::string(99990, '1') + "\n",
                  "'%P' line 2: a line may hold at most 99999 characters including its line "
                  "break; this one is longer"},
        ErrorCase{"no_individuals", "r1 1 0 A G\nr2 2 0 A G\n",
                  "'%P' line 1: expected genotype codes after the allele letters, found none; "
                  "the number of individuals is taken from the first line"},
        ErrorCase{"empty_file", "", "'%P' holds no SNP rows: the file is empty or blank"},
        ErrorCase{"blank_file", "\n  \r\n\t\n",
                  "'%P' holds no SNP rows: the file is empty or blank"},
        ErrorCase{"fewer_than_five_tokens", "r1 1 0\n",
                  "'%P' line 1: the file ends in the middle of a row: expected a SNP name, a "
                  "position, a recode flag and two allele letters, found 3 fields"}),
    [](const ::testing::TestParamInfo<ErrorCase>& p) { return p.param.name; });

TEST(ReadStudy, FileThatCannotBeOpened) {
  const std::string path = ::testing::TempDir() + "tsl_missing_study.dat";
  const std::string out = stopped_output([&] { read_study(path); });
  EXPECT_EQ(out.rfind("Error: cannot open '" + path + "' for reading: ", 0), 0u) << out;
}

}  // namespace
}  // namespace tessellar
