// The block reader, the integer parser, layouts that read alike, every
// malformed row of the three genotype files and the genetic map, and the
// map's interpolation and contig matching.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "input/genetic_map.h"
#include "input/haplotypes.h"
#include "input/panel.h"
#include "input/study.h"
#include "support.h"

namespace tessellar {
namespace {

using testing_support::error_line;
using testing_support::TempFile;

std::vector<std::string> all_lines(TextReader& reader) {
  std::vector<std::string> lines;
  for (std::string_view line; reader.next_line(line);) lines.emplace_back(line);
  return lines;
}

// 1 MiB blocks: the line break of the 1,049th line is the first byte of the
// second block; the lines after it end anywhere.
TEST(TextReader, HandsOutLinesAcrossBlockBoundaries) {
  std::vector<std::string> expected(1048, std::string(999, 'x'));
  expected.push_back(std::string(576, 'y'));
  for (int i = 0; expected.size() < 5000; ++i)
    expected.push_back("row" + std::to_string(i) + std::string(i % 977, 'x') + (i % 5 ? "" : "\r"));
  std::string text;
  for (const std::string& line : expected) text += line + "\n";
  ASSERT_EQ(text[1 << 20], '\n');
  TempFile file(text + "last");
  expected.push_back("last");
  TextReader reader(file.path());
  EXPECT_EQ(all_lines(reader), expected);
  EXPECT_EQ(reader.line_number(), static_cast<int>(expected.size()));
}

class LineLength : public ::testing::TestWithParam<std::tuple<int, bool, bool>> {};

// At most 99,999 characters including the line break.
TEST_P(LineLength, CountsTheLineBreak) {
  const auto [length, line_break, accepted] = GetParam();
  TempFile file("first\n" + std::string(length, 'y') + (line_break ? "\n" : ""));
  TextReader reader(file.path());
  std::vector<std::string> lines;
  const std::string error = error_line([&] { lines = all_lines(reader); });
  EXPECT_EQ(error.empty(), accepted) << error;
  if (!accepted) return;
  EXPECT_EQ(lines.at(1).size(), static_cast<std::size_t>(length));
}

INSTANTIATE_TEST_SUITE_P(Cases, LineLength,
                         ::testing::Values(std::tuple{99998, true, true},
                                           std::tuple{99999, true, false},
                                           std::tuple{99999, false, true},
                                           std::tuple{100000, false, false}));

class ParseInt : public ::testing::TestWithParam<std::tuple<const char*, IntParse, int>> {};

TEST_P(ParseInt, ReadsTheWholeText) {
  const auto [text, result, expected] = GetParam();
  int value = 12345;
  EXPECT_EQ(parse_int(text, value), result) << text;
  EXPECT_EQ(value, result == IntParse::ok ? expected : 12345) << text;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, ParseInt, ::testing::Values(
    std::tuple{"+7", IntParse::ok, 7}, std::tuple{"-012", IntParse::ok, -12},
    std::tuple{"2147483647", IntParse::ok, 2147483647}, std::tuple{"-2147483648", IntParse::ok, -2147483647 - 1},
    std::tuple{"2147483648", IntParse::overflow, 0}, std::tuple{"-2147483649", IntParse::overflow, 0},
    std::tuple{"99999999999999999999x", IntParse::not_integer, 0}, std::tuple{"", IntParse::not_integer, 0},
    std::tuple{"-", IntParse::not_integer, 0}, std::tuple{"1a", IntParse::not_integer, 0},
    std::tuple{"--1", IntParse::not_integer, 0}));
// clang-format on

// Layouts that must read like the plain file.
class StudyLayout : public ::testing::TestWithParam<const char*> {};

TEST_P(StudyLayout, ReadsLikeThePlainFile) {
  TempFile plain("rs1 100 1 A G 0 1 2\nrs2 200 0 C T 1 9 2\n"), variant(GetParam());
  StudyTable a, b;
  ASSERT_EQ(error_line([&] { a = read_study(plain.path()), b = read_study(variant.path()); }), "");
  EXPECT_TRUE(a.name == b.name && a.pos == b.pos && a.recode == b.recode && a.allele == b.allele);
  EXPECT_TRUE(a.nind == b.nind && a.geno.codes == b.geno.codes && a.freq == b.freq);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, StudyLayout,
    ::testing::Values("rs1 100 1 A G 0 1 2\r\nrs2 200 0 C T 1 9 2\r\n",
                      "rs1\t100\t1\tA\tG\t0\t1\t2\nrs2 200 0\vC\fT 1 9 2",
                      "\n \nrs1 100 1 A G 0 1 2  \t \n\n\t\nrs2 200 0 C T 1 9 2 \n\n\n",
                      "rs1 100 +1 A G 0 1 2\nrs2 200 0 C T 01 +9 2\n"));

enum class Reader { study, panel, haplotypes, map };

struct Malformed {
  Reader reader;
  std::string text;
  std::string error;  // the Error line; "%P" stands for the path
};

class MalformedInput : public ::testing::TestWithParam<Malformed> {};

// An empty error: the rows are read without one.
TEST_P(MalformedInput, StopsWithTheMessage) {
  const Malformed& c = GetParam();
  TempFile file(c.text);
  Settings s;
  s.nTR = 1;  // three panel members
  std::string expected = c.error;
  if (!expected.empty())
    expected = (c.reader == Reader::map ? "Error: genetic map '" : "Error: '") +
               expected.replace(expected.find("%P"), 2, file.path());
  EXPECT_EQ(error_line([&] {
              if (c.reader == Reader::study) read_study(file.path());
              if (c.reader == Reader::panel) read_panel(file.path(), s);
              if (c.reader == Reader::haplotypes) read_haplotypes(file.path(), s);
              if (c.reader == Reader::map) read_genetic_map(file.path());
            }),
            expected);
}

const std::string kName30(30, 'n');
constexpr Reader S = Reader::study;
constexpr Reader P = Reader::panel;
constexpr Reader H = Reader::haplotypes;
constexpr Reader M = Reader::map;

// (A bad study code, five map fields and a map position going back are
// pinned by the end-to-end cases study_bad_code, hmm_map_malformed and
// hmm_map_unsorted.)
// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, MalformedInput, ::testing::Values(
    Malformed{S, "r 1 0 A G 0 1 2\nr 2 0 A G 0 1\nr 3 0 A G 0 1 2\n", "%P' line 2: expected 3 genotype codes after the allele letters, found 2"},
    Malformed{S, "r 1 0 A G 0 1 2\n\nr 2 0 A G 0 1 2 2\n", "%P' line 3: expected 3 genotype codes after the allele letters, found 4"},
    Malformed{S, "r 1 0 A G 0 1 2\nr 2 0 A G 0 1", "%P' line 2: the file ends in the middle of a row: expected 3 genotype codes after the allele letters, found 2"},
    Malformed{S, "r 1 0 A G 0 1 2\nr 2 0", "%P' line 2: the file ends in the middle of a row: expected a SNP name, a position, a recode flag and two allele letters, found 3 fields"},
    Malformed{S, "r 1 0 A G 0 1 2\nr\nr 3 0 A G 0 1 2\n", "%P' line 2: expected a SNP name, a position, a recode flag and two allele letters, found 1 field"},
    Malformed{S, "r 1 0 A G 0 1\nr 2x 0 A G 0 1\n", "%P' line 2: expected the position as a whole number of base pairs, found '2x'"},
    Malformed{S, "r 99999999999 0 A G 0 1\n", "%P' line 1: expected a position strictly between -300000000 and 300000000, found '99999999999'"},
    Malformed{S, "r 300000000 0 A G 0 1\n", "%P' line 1: expected a position strictly between -300000000 and 300000000, found '300000000'"},
    Malformed{S, "r -300000000 0 A G 0 1\n", "%P' line 1: expected a position strictly between -300000000 and 300000000, found '-300000000'"},
    Malformed{S, "r 200 0 A G 0 1\nr 200 0 A G 0 1\nr 199 0 A G 0 1\n", "%P' line 3: positions must not decrease from one row to the next, found 199 after 200"},
    Malformed{S, "r 1 yes A G 0 1\n", "%P' line 1: expected the recode flag as a whole number (1: recode the panel codes), found 'yes'"},
    Malformed{S, "r 1 0 AG C 0 1\n", "%P' line 1: expected allele 1 as a single letter, found 'AG'"},
    Malformed{S, "r 1 0 A CT 0 1\n", "%P' line 1: expected allele 2 as a single letter, found 'CT'"},
    Malformed{S, "r 1 0 A G 0 1\nr 2 0 A G -1 1\n", "%P' line 2: expected genotype code 0, 1, 2 or 9 (missing) for individual 1, found '-1'"},
    Malformed{S, "r 1 0 A G 0 10 1\n", "%P' line 1: genotype code '10' has more than one character; the number of individuals is taken from the first line, whose codes must be one character each"},
    Malformed{S, "r -299999999 0 A G 0\n" + kName30.substr(1) + " 299999999 0 A G 1\n", ""},
    Malformed{S, "r 1 0 A G 0\n" + kName30 + " 2 0 A G 1\n", "%P' line 2: expected a SNP name of at most 29 characters, found '" + kName30 + "' (30 characters)"},
    Malformed{S, "r 1 0 A G\nr 2 0 A G\n", "%P' line 1: expected genotype codes after the allele letters, found none; the number of individuals is taken from the first line"},
    Malformed{S, "\n  \r\n\t\n", "%P' holds no SNP rows: the file is empty or blank"},
    Malformed{P, "a 1 A G 0 1 2\nb 2 A\nc 3 A G 0 1 1\n", "%P' line 2: expected a SNP name, a position and two allele letters, found 3 fields"},
    Malformed{P, "a 1 A G 0 1 2\nb 2 A G 0 5 1\n", "%P' line 2: expected genotype code 0, 1, 2 or 9 (missing) for panel member 2, found '5'"},
    Malformed{H, "h1 0 1\nh2 1 2\n", "%P' line 2: expected haplotype value 0 or 1 for haplotype 2, found '2'"},
    Malformed{H, "h1 0 1 1\nh2 0 1\nh3 0 0 0\n", "%P' line 2: expected 3 haplotype values after the SNP name, found 2"},
    Malformed{H, "h1 0 1\nh2 0 1 1\n", "%P' line 2: expected 2 haplotype values after the SNP name, found 3"},
    Malformed{H, "h1 0 1 1\nh2 0", "%P' line 2: the file ends in the middle of a row: expected 3 haplotype values after the SNP name, found 1"},
    Malformed{H, "h1 0 10 1\n", "%P' line 1: haplotype value '10' has more than one character; the number of haplotypes is taken from the first line, whose values must be one character each"},
    Malformed{H, "h1\nh2\n", "%P' line 1: expected haplotype values after the SNP name, found none; the number of haplotypes is taken from the first line"},
    Malformed{H, "", "%P' holds no SNP rows: the file is empty or blank"},
    Malformed{M, "1 a 0 100\n1 b 200\n", "%P' line 2: expected 4 fields (chromosome, id, cM, bp), found 3"},
    Malformed{M, "1 a zero 100\n", "%P' line 1: the position in cM 'zero' is not a number"},
    Malformed{M, "1 a 0 -100\n", "%P' line 1: the position in bp '-100' is not an integer of 0 or more"},
    Malformed{M, "1 a 0 100.5\n", "%P' line 1: the position in bp '100.5' is not an integer of 0 or more"},
    Malformed{M, "1 a 0 100\n1 b 1 100\n", "%P' line 2: position 100 bp follows position 100 bp of chromosome 1; the map must be sorted by position"},
    Malformed{M, "1 a 1 100\n1 b 0.5 200\n", "%P' line 2: 0.5 cM at 200 bp is below the 1 cM of the position before; genetic positions must not decrease"},
    Malformed{M, "1 a 0 100\n2 b 0 100\n1 c 1 300\n", "%P' line 3: chromosome 1 comes back after chromosome 2; the lines of a chromosome must stand together"},
    Malformed{M, "\n\n", "%P' holds no position"}));
// clang-format on

// The column count is checked against -panel before any row is read.
TEST(ReadPanel, ChecksTheColumnsBeforeAnyRow) {
  Settings s;
  s.nTR = 20, s.nDU = 5, s.nUN = 2;
  std::string codes;
  for (int c = 0; c < 72; ++c) codes += " 1";
  TempFile right("a 1 A G" + codes), wrong("a 1 A G" + codes.substr(0, 142) + "\nbroken\n");
  EXPECT_EQ(error_line([&] { EXPECT_EQ(read_panel(right.path(), s).ncol, 72); }), "");
  EXPECT_EQ(error_line([&] { read_panel(wrong.path(), s); }),
            "'PANEL' information does not match with '" + wrong.path() +
                "'\n\nTessellar was stopped due to error(s) listed above.\n\n");
}

// chr20: 0 cM at 1,000 bp, 1 cM at 2,000, 1.5 cM at 4,000: rates 0.001 and
// 0.00025 cM per bp, interpolated in bp and extrapolated at the end rates;
// chr21 on one line.
TEST(GeneticMap, InterpolatesAndMatchesContigsAsTheInputsDo) {
  TempFile file("chr20 a 0 1000\nchr20 b 1.0 2000\n\nchr20\tc\t1.5\t4000\r\nchr21 d 0.5 100\n");
  GeneticMap map;
  ASSERT_EQ(error_line([&] { map = read_genetic_map(file.path()); }), "");
  const MapContig* c = map.find("20");
  ASSERT_NE(c, nullptr);
  for (const auto& [bp, cm] : {std::pair{1000, 0.0},
                               {1500, 0.5},
                               {2000, 1.0},
                               {3000, 1.25},
                               {4000, 1.5},
                               {500, -0.5},
                               {-1000, -2.0},
                               {6000, 2.0}})
    EXPECT_NEAR(c->cm_at(bp), cm, 1e-12) << bp;
  EXPECT_EQ(map.find("chr20"), c);
  EXPECT_NE(map.find("CHR21"), nullptr);
  EXPECT_EQ(map.find("22"), nullptr);
  EXPECT_EQ(error_line([&] { map_contig(map, "22"); }),
            "Error: genetic map '" + map.path +
                "' holds no position of contig 22 (its chromosomes: chr20, ...)");
  EXPECT_EQ(error_line([&] { map_contig(map, "21"); }),
            "Error: genetic map '" + map.path +
                "' holds one position of contig 21; interpolation needs two or more");
  EXPECT_EQ(map_contig(map, "chr20").bp.size(), 3u);
}

}  // namespace
}  // namespace tessellar
