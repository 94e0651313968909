// The genetic map reader: interpolation and extrapolation on a hand-worked
// map, contig matching, and every malformed or unsorted map.
#include "input/genetic_map.h"

#include <gtest/gtest.h>

#include <string>

#include "support.h"

namespace tessellar {
namespace {

using testing_support::error_line;
using testing_support::TempFile;

// chr20: 0 cM at 1,000 bp, 1 cM at 2,000, 1.5 cM at 4,000: rates 0.001 and
// 0.00025 cM per bp; chr21 on one line.
constexpr const char* kMap =
    "chr20 a 0 1000\n"
    "chr20 b 1.0 2000\n"
    "\n"
    "chr20\tc\t1.5\t4000\r\n"
    "chr21 d 0.5 100\n";

GeneticMap read(const std::string& text) {
  TempFile file(text);
  GeneticMap map;
  testing::internal::CaptureStdout();
  map = read_genetic_map(file.path());
  testing::internal::GetCapturedStdout();
  return map;
}

// Interpolation in bp, extrapolation at the end rates.
TEST(GeneticMap, InterpolatesAndMatchesContigsAsTheInputsDo) {
  const GeneticMap map = read(kMap);
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

struct BadMap {
  const char* name;
  const char* text;
  const char* error;  // after "Error: genetic map 'PATH' "
};

class BadMaps : public testing::TestWithParam<BadMap> {};

TEST_P(BadMaps, StopTheRunNamingTheLine) {
  TempFile file(GetParam().text);
  EXPECT_EQ(error_line([&] { read_genetic_map(file.path()); }),
            "Error: genetic map '" + file.path() + "' " + GetParam().error);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, BadMaps, testing::Values(
    BadMap{"three_fields", "1 a 0 100\n1 b 200\n", "line 2: expected 4 fields (chromosome, id, cM, bp), found 3"},
    BadMap{"five_fields", "1 a 0 100 x\n", "line 1: expected 4 fields (chromosome, id, cM, bp), found more than 4"},
    BadMap{"cm_text", "1 a zero 100\n", "line 1: the position in cM 'zero' is not a number"},
    BadMap{"bp_negative", "1 a 0 -100\n", "line 1: the position in bp '-100' is not an integer of 0 or more"},
    BadMap{"bp_decimal", "1 a 0 100.5\n", "line 1: the position in bp '100.5' is not an integer of 0 or more"},
    BadMap{"bp_down", "1 a 0 100\n1 b 1 300\n1 c 2 200\n",
           "line 3: position 200 bp follows position 300 bp of chromosome 1; the map must be sorted by position"},
    BadMap{"bp_twice", "1 a 0 100\n1 b 1 100\n",
           "line 2: position 100 bp follows position 100 bp of chromosome 1; the map must be sorted by position"},
    BadMap{"cm_down", "1 a 1 100\n1 b 0.5 200\n",
           "line 2: 0.5 cM at 200 bp is below the 1 cM of the position before; genetic positions must not decrease"},
    BadMap{"contig_back", "1 a 0 100\n2 b 0 100\n1 c 1 300\n",
           "line 3: chromosome 1 comes back after chromosome 2; the lines of a chromosome must stand together"},
    BadMap{"empty", "\n\n", "holds no position"}),
    [](const testing::TestParamInfo<BadMap>& p) { return std::string(p.param.name); });
// clang-format on

}  // namespace
}  // namespace tessellar
