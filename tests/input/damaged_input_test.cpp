// Damaged input never crashes a reader, overruns a buffer or reads silently
// wrong: random edits of small valid files either read into tables that
// keep every rule of the format, or stop the run with one message line.
// Reading VCF text ahead on threads of its own gives what reading in order
// gives, line for line: the same tables and the same run log and message,
// wherever the damage falls against its batches. Most useful under
// AddressSanitizer (the sanitize preset runs it).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <tuple>

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
  static const std::string kBytes = "0129 -+\t\r\nAaGx#|/.";
  static const std::size_t kEdits[4][2] = {{1, 1}, {1, 0}, {0, 1}, {std::string::npos, 0}};
  const std::size_t at = random() % text.size();
  const char byte = kBytes[random() % kBytes.size()];
  const std::size_t* edit = kEdits[random() % 4];
  return text.replace(at, edit[0], edit[1], byte);
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

void check_bits(const HapTable& t) {
  ASSERT_EQ(t.bits.size(), static_cast<std::size_t>(t.nsnp) * t.ncol);
  for (uint8_t bit : t.bits) EXPECT_LE(bit, 1);
}

// Reads base and 400 damaged copies of it with read(path, threads), which
// returns what it read: a stop prints one message line. With vcf, the
// reading on threads prints and reads the same.
template <class Read>
void read_damaged(const std::string& base, bool vcf, Read read) {
  std::mt19937 random(2024);
  for (int trial = 0; trial <= 400; ++trial) {
    std::string text = base;
    for (int edits = trial == 0 ? 0 : 1 + static_cast<int>(random() % 3);
         edits > 0 && !text.empty(); --edits)
      text = damage(text, random);
    TempFile file(text);
    auto run = [&](bool threads) {
      bool stopped = false;
      std::string tables;
      const std::string log = printed([&] { tables = read(file.path(), threads); }, &stopped);
      return std::tuple(log, stopped, tables);
    };
    const auto [log, stopped, tables] = run(false);
    EXPECT_TRUE(!vcf || run(true) == std::tuple(log, stopped, tables)) << text;
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
      false, [](const std::string& path, bool) {
        const StudyTable t = read_study(path);
        check_rows(t, t.nind);
        return std::string();
      });
  read_damaged("rs1 100 A G 0 1 1\nrs2 200 C T 2 1 1\nrs5 300 A C 9 0 1\n", false,
               [&](const std::string& path, bool) {
                 const PanelTable t = read_panel(path, s);
                 check_rows(t, t.ncol);
                 return std::string();
               });
  read_damaged("rs1 0 1 1 0\nrs2 1 1 0 0\nrs5 0 0 1 1\n", false,
               [&](const std::string& path, bool) {
                 const HapTable t = read_haplotypes(path, s);
                 EXPECT_TRUE(t.nsnp > 0 && t.ncol > 0);
                 check_bits(t);
                 return std::string();
               });
}

// A VCF of many batches: biallelic SNPs, a few others, of six samples over
// two contigs, with missing, unphased and half-missing calls.
std::string make_vcf(int records) {
  std::mt19937 random(7);
  std::string text =
      "##fileformat=VCFv4.2\n##contig=<ID=1>\n##contig=<ID=2>\n"
      "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
      "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tA\tB\tC\tD\tE\tF\n";
  static const char* const kCalls[] = {"0|0", "0|1", "1|0", "1|1", "0/1", "./.", ".|1", "0|0"};
  for (int r = 0; r < records; ++r) {
    text += std::to_string(r < records / 2 ? 1 : 2) + "\t" + std::to_string(100 + 10 * r) + "\trs" +
            std::to_string(r) + "\tA\t" +
            (r % 17 == 5   ? "G,T"
             : r % 23 == 7 ? "AT"
                           : "G") +
            "\t.\t" + (r % 29 == 3 ? "." : "PASS") + "\t.\tGT";
    for (int s = 0; s < 6; ++s) text += std::string("\t") + kCalls[random() % 8];
    text += "\n";
  }
  return text;
}

// A damaged VCF read as the study and as a panel with its own haplotypes,
// on threads or not.
TEST(DamagedInput, VcfFile) {
  const Settings s;
  read_damaged(make_vcf(300), true, [&](const std::string& path, bool threads) {
    std::string tables;
    if (auto vcf = VcfReader::open_if_vcf(path, "study")) {
      StudyInput in = read_study_input(s, std::move(vcf));
      for (const StudyContig& c : in.contigs) check_rows(c.table, c.table.nind);
    }
    if (auto vcf = VcfReader::open_if_vcf(path, "panel")) {
      if (threads) vcf->use_threads(1);
      PanelInput in = read_panel_input(s, std::move(vcf), true);
      for (const PanelContig& c : in.contigs) {
        check_rows(c.table, c.table.ncol);
        EXPECT_EQ(c.hap_of_row.size(), static_cast<std::size_t>(c.table.nsnp));
        check_bits(c.haps);
        tables += c.name + ":";
        for (int r = 0; r < c.table.nsnp; ++r)
          tables += " " + c.table.name[r] + "@" + std::to_string(c.table.pos[r]);
        tables.append(c.table.geno.codes.begin(), c.table.geno.codes.end());
        tables.append(c.haps.bits.begin(), c.haps.bits.end());
        for (int h : c.hap_of_row) tables += std::to_string(h) + ",";
      }
    }
    return tables;
  });
}

}  // namespace
}  // namespace tessellar
