// Damaged input never crashes a reader, overruns a buffer or reads silently
// wrong: random edits of small valid files either read into tables that
// keep every rule of the format, or stop the run with one message line.
// Most useful under AddressSanitizer (the sanitize preset runs it).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "input/haplotypes.h"
#include "input/inputs.h"
#include "input/panel.h"
#include "input/study.h"
#include "support.h"

namespace tessellar {
namespace {

using testing_support::printed;
using testing_support::TempFile;

// One random edit: a changed, deleted or inserted byte, or a cut.
std::string damage(std::string text, std::mt19937& random) {
  static const std::string kBytes = "0129 -+\t\r\nAaGx#";
  const std::size_t at = random() % text.size();
  const char byte = kBytes[random() % kBytes.size()];
  switch (random() % 4) {
    case 0:
      text[at] = byte;
      break;
    case 1:
      text.erase(at, 1);
      break;
    case 2:
      text.insert(at, 1, byte);
      break;
    default:
      text.resize(at);
  }
  return text;
}

// The rules every table read keeps: rows and codes as counted, codes in
// range, positions inside the limits and not decreasing, names of 1 to 29
// characters, missing shares and frequencies from the codes.
void check_rows(const GenotypeRows& t, int members) {
  ASSERT_GT(t.nsnp, 0);
  ASSERT_GT(members, 0);
  ASSERT_EQ(t.geno.codes.size(), static_cast<std::size_t>(t.nsnp) * members);
  for (int s = 0; s < t.nsnp; ++s) {
    EXPECT_TRUE(t.pos[s] > -300000000 && t.pos[s] < 300000000 &&
                (s == 0 || t.pos[s - 1] <= t.pos[s]));
    EXPECT_TRUE(!t.name[s].empty() && t.name[s].size() <= 29u);
    int present = 0;
    for (int m = 0; m < members; ++m) {
      const int code = t.geno.at(m, s);
      EXPECT_TRUE(code == 0 || code == 1 || code == 2 || code == 9);
      present += code != 9;
    }
    EXPECT_EQ(t.miss[s], static_cast<double>(members - present) / members);
    EXPECT_EQ(std::isnan(t.freq[s]), present == 0);
  }
}

// Reads 400 damaged copies of base with read; a stop prints one message line.
template <class Read>
void read_damaged(const char* base, Read read) {
  std::mt19937 random(2024);
  for (int trial = 0; trial < 400; ++trial) {
    std::string text = base;
    for (int edits = 1 + static_cast<int>(random() % 3); edits > 0 && !text.empty(); --edits)
      text = damage(text, random);
    TempFile file(text);
    bool stopped = false;
    const std::string log = printed([&] { read(file.path()); }, &stopped);
    if (!stopped) continue;
    const std::string stop = "\nTessellar was stopped due to error(s) listed above.\n\n";
    ASSERT_GE(log.size(), stop.size()) << text;
    const std::string message = log.substr(0, log.size() - stop.size());
    EXPECT_EQ(message.find('\n'), message.size() - 1) << text << "\n" << log;
    EXPECT_TRUE(message.rfind("Error: '", 0) == 0 || message.rfind("'PANEL'", 0) == 0) << log;
  }
}

TEST(DamagedInput, TextFiles) {
  Settings s;
  s.nTR = 1;
  read_damaged(
      "rs1 100 0 A G 0 1 2 9\nrs2 200 1 C T 2 2 1 0\nrs3 200 0 A T 9 9 9 9\nrs4 350 0 G T 1 0 0 "
      "1\n",
      [](const std::string& path) {
        const StudyTable t = read_study(path);
        check_rows(t, t.nind);
      });
  read_damaged("rs1 100 A G 0 1 1\nrs2 200 C T 2 1 1\nrs5 300 A C 9 0 1\n",
               [&](const std::string& path) {
                 const PanelTable t = read_panel(path, s);
                 check_rows(t, t.ncol);
               });
  read_damaged("rs1 0 1 1 0\nrs2 1 1 0 0\nrs5 0 0 1 1\n", [&](const std::string& path) {
    const HapTable t = read_haplotypes(path, s);
    ASSERT_TRUE(t.nsnp > 0 && t.ncol > 0);
    ASSERT_EQ(t.bits.size(), static_cast<std::size_t>(t.nsnp) * t.ncol);
    for (uint8_t bit : t.bits) EXPECT_LE(bit, 1);
  });
}

constexpr const char* kVcf =
    "##fileformat=VCFv4.2\n##contig=<ID=1>\n##contig=<ID=2>\n"
    "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
    "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tA\tB\tC\n"
    "1\t100\trs1\tA\tG\t.\tPASS\t.\tGT\t0|1\t1|1\t0|0\n"
    "1\t200\trs2\tC\tT,G\t.\tPASS\t.\tGT\t0|2\t1|1\t0/0\n"
    "1\t250\trs3\tA\tAT\t.\tPASS\t.\tGT\t./.\t1|0\t0|1\n"
    "2\t300\trs4\tG\tT\t.\t.\t.\tGT\t1/0\t.|1\t0|0\n";

// A damaged VCF read as the study and as a panel with its own haplotypes.
TEST(DamagedInput, VcfFile) {
  Settings s;
  read_damaged(kVcf, [&](const std::string& path) {
    if (auto vcf = VcfReader::open_if_vcf(path, "study")) {
      StudyInput in = read_study_input(s, std::move(vcf));
      for (const StudyContig& c : in.contigs) check_rows(c.table, c.table.nind);
    }
    if (auto vcf = VcfReader::open_if_vcf(path, "panel")) {
      PanelInput in = read_panel_input(s, std::move(vcf), true);
      for (const PanelContig& c : in.contigs) {
        check_rows(c.table, c.table.ncol);
        ASSERT_EQ(c.hap_of_row.size(), static_cast<std::size_t>(c.table.nsnp));
        ASSERT_EQ(c.haps.bits.size(), static_cast<std::size_t>(c.haps.nsnp) * c.haps.ncol);
        for (uint8_t bit : c.haps.bits) EXPECT_LE(bit, 1);
      }
    }
  });
}

}  // namespace
}  // namespace tessellar
