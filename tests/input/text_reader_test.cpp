// The block reader, the integer parser and the two counting steps.
#include "input/text_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "input/study.h"
#include "input_test_util.h"

namespace tessellar {
namespace {

using testing_input::error_text;
using testing_input::stopped_output;
using testing_input::TempFile;

std::vector<std::string> all_lines(TextReader& reader, std::vector<int>* numbers = nullptr) {
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.next_line(line)) {
    lines.emplace_back(line);
    if (numbers) numbers->push_back(reader.line_number());
  }
  return lines;
}

TEST(TextReader, HandsOutLinesWithNumbers) {
  TempFile file("a b\r\n\n  \tc\nlast");
  TextReader reader(file.path());
  std::vector<int> numbers;
  EXPECT_EQ(all_lines(reader, &numbers), (std::vector<std::string>{"a b\r", "", "  \tc", "last"}));
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 4}));
  reader.rewind();
  EXPECT_EQ(all_lines(reader).size(), 4u);
}

TEST(TextReader, EmptyFileAndFinalLineBreak) {
  TempFile empty("");
  TextReader reader(empty.path());
  EXPECT_TRUE(all_lines(reader).empty());
  TempFile one("x\n");
  TextReader reader_one(one.path());
  EXPECT_EQ(all_lines(reader_one), (std::vector<std::string>{"x"}));
}

TEST(TextReader, LinesAcrossBlockBoundaries) {
  std::string text;
  std::vector<std::string> expected;
  for (int i = 0; text.size() < 3u * (1u << 20); ++i) {
    expected.push_back("row" + std::to_string(i) +
                       std::string(static_cast<std::size_t>(i % 977), 'x'));
    text += expected.back() + "\n";
  }
  TempFile file(text);
  TextReader reader(file.path());
  EXPECT_EQ(all_lines(reader), expected);
}

struct LengthCase {
  std::string name;
  std::size_t length;  // characters before the line break
  bool line_break;
  bool accepted;
};

class LineLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(LineLength, LimitCountsTheLineBreak) {
  const LengthCase& c = GetParam();
  const std::string text = "first\n" + std::string(c.length, 'y') + (c.line_break ? "\n" : "");
  TempFile file(text);
  TextReader reader(file.path());
  if (c.accepted) {
    const std::vector<std::string> lines = all_lines(reader);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].size(), c.length);
  } else {
    const std::string out = stopped_output([&] { all_lines(reader); });
    EXPECT_EQ(out, error_text("'" + file.path() +
                              "' line 2: a line may hold at most 99999 characters including its "
                              "line break; this one is longer"));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LineLength,
                         ::testing::Values(LengthCase{"break_99998", 99998, true, true},
                                           LengthCase{"break_99999", 99999, true, false},
                                           LengthCase{"last_99999", 99999, false, true},
                                           LengthCase{"last_100000", 100000, false, false},
                                           LengthCase{"break_250000", 250000, true, false}),
                         [](const ::testing::TestParamInfo<LengthCase>& p) {
                           return p.param.name;
                         });

TEST(TextReader, MissingFileNamesPathAndReason) {
  const std::string path = ::testing::TempDir() + "tsl_no_such_file.dat";
  const std::string out = stopped_output([&] { TextReader reader(path); });
  EXPECT_EQ(out, error_text("cannot open '" + path + "' for reading: " + std::strerror(ENOENT)));
}

TEST(TextReader, DirectoryCannotBeRead) {
  const std::string path = ::testing::TempDir() + "tsl_a_directory";
  ::mkdir(path.c_str(), 0700);
  TextReader reader(path);
  const std::string out = stopped_output([&] { all_lines(reader); });
  EXPECT_EQ(out, error_text("cannot read '" + path + "': " + std::strerror(EISDIR)));
  ::rmdir(path.c_str());
}

struct IntCase {
  const char* text;
  IntParse result;
  int value;
};

class ParseInt : public ::testing::TestWithParam<IntCase> {};

TEST_P(ParseInt, WholeTokenOnly) {
  const IntCase& c = GetParam();
  int value = 12345;
  EXPECT_EQ(parse_int(c.text, value), c.result) << c.text;
  EXPECT_EQ(value, c.result == IntParse::ok ? c.value : 12345) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseInt,
    ::testing::Values(
        IntCase{"0", IntParse::ok, 0}, IntCase{"9", IntParse::ok, 9},
        IntCase{"+7", IntParse::ok, 7}, IntCase{"-12", IntParse::ok, -12},
        IntCase{"007", IntParse::ok, 7}, IntCase{"-0", IntParse::ok, 0},
        IntCase{"2147483647", IntParse::ok, 2147483647},
        IntCase{"-2147483648", IntParse::ok, -2147483647 - 1},
        IntCase{"2147483648", IntParse::overflow, 0}, IntCase{"-2147483649", IntParse::overflow, 0},
        IntCase{"123456789012345678901234567890", IntParse::overflow, 0},
        IntCase{"", IntParse::not_integer, 0}, IntCase{"+", IntParse::not_integer, 0},
        IntCase{"-", IntParse::not_integer, 0}, IntCase{"1a", IntParse::not_integer, 0},
        IntCase{"1.5", IntParse::not_integer, 0}, IntCase{"0x10", IntParse::not_integer, 0},
        IntCase{"--1", IntParse::not_integer, 0},
        IntCase{"99999999999x", IntParse::not_integer, 0}));

struct CountCase {
  std::string name;
  std::string text;
  int k;
  int columns;
  int rows;
};

class Counting : public ::testing::TestWithParam<CountCase> {};

TEST_P(Counting, ColumnsThenRows) {
  const CountCase& c = GetParam();
  TempFile file(c.text);
  TextReader reader(file.path());
  EXPECT_EQ(count_columns(reader, c.k), c.columns);
  EXPECT_EQ(count_rows(reader), c.rows);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Counting,
    ::testing::Values(
        CountCase{"plain", "rs1 100 1 A G 0 1 2 9\nrs2 200 0 A G 1 1 1 1\n", 5, 4, 2},
        CountCase{"tabs", "rs1\t100\t1\tA\tG\t0\t1\t2\t9\n", 5, 4, 1},
        CountCase{"trailing_blanks", "rs1 100 1 A G 0 1 2 9   \t \nrs2 200 0 A G 1 1 1 1\n", 5, 4,
                  2},
        CountCase{"crlf", "rs1 100 1 A G 0 1 2\r\nrs2 200 0 A G 1 1 1\r\n\r\n", 5, 3, 2},
        CountCase{"no_final_break", "rs1 100 1 A G 0 1\nrs2 200 0 A G 1 1", 5, 2, 2},
        CountCase{"blank_lines_anywhere", "\n  \nrs1 100 1 A G 0 1\n\n \t\nrs2 200 0 A G 1 1\n\n\n",
                  5, 2, 2},
        CountCase{"two_character_codes_count_twice", "rs1 100 1 A G 10 -1 2\n", 5, 5, 1},
        CountCase{"codes_written_together", "rs1 100 A G 0120\n", 4, 4, 1},
        CountCase{"single_row", "rs1 100 1 A G 1\n", 5, 1, 1},
        CountCase{"haplotype_k1", "h1 0 1 1 0\nh2 1 1 0 0\n", 1, 4, 2},
        CountCase{"fields_run_over_line_break", "rs1 100\n1 A G 0 1\nrs2 1 1 A G 0 0\n", 5, 2, 2},
        CountCase{"no_values", "rs1 100 1 A G\n", 5, 0, 1}, CountCase{"empty_file", "", 5, 0, 1}),
    [](const ::testing::TestParamInfo<CountCase>& p) { return p.param.name; });

TEST(FieldCursor, SplitsOnEveryWhiteSpaceCharacter) {
  FieldCursor cursor(" a\tbb\r\v\fccc ");
  std::string_view field;
  std::vector<std::string> fields;
  while (cursor.next(field)) fields.emplace_back(field);
  EXPECT_EQ(fields, (std::vector<std::string>{"a", "bb", "ccc"}));
}

}  // namespace
}  // namespace tessellar
