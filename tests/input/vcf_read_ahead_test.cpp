// Reading VCF text ahead on threads of its own gives what reading in order
// gives, line for line: the same tables from a file of many batches, and
// the same run log and message from damaged copies of it, wherever the
// damage falls against the batches.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "input/inputs.h"
#include "support.h"

namespace tessellar {
namespace {

using testing_support::printed;
using testing_support::TempFile;

// A VCF of `records` biallelic SNPs (and a few others) of six samples over
// two contigs, with missing, unphased and half-missing calls.
std::string make_vcf(int records, std::mt19937& random) {
  std::string text =
      "##fileformat=VCFv4.2\n##contig=<ID=1>\n##contig=<ID=2>\n"
      "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
      "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tA\tB\tC\tD\tE\tF\n";
  static const char* const kCalls[] = {"0|0", "0|1", "1|0", "1|1", "0/1", "./.", ".|1", "0|0"};
  for (int r = 0; r < records; ++r) {
    const int contig = r < records / 2 ? 1 : 2;
    text += std::to_string(contig) + "\t" + std::to_string(100 + 10 * r) + "\trs" +
            std::to_string(r) + "\tA\t" + (r % 17 == 5 ? "G,T" : "G") + "\t.\tPASS\t.\tGT";
    for (int s = 0; s < 6; ++s) text += std::string("\t") + kCalls[random() % 8];
    text += "\n";
  }
  return text;
}

// What reading path as a panel with its own haplotypes printed and read, on
// threads or not.
std::string read_panel(const std::string& path, bool threads) {
  const Settings s;
  std::string tables;
  bool stopped = false;
  const std::string log = printed(
      [&] {
        auto vcf = VcfReader::open_if_vcf(path, "panel");
        if (vcf == nullptr) return;
        if (threads) vcf->use_threads(1);
        const PanelInput in = read_panel_input(s, std::move(vcf), true);
        for (const PanelContig& c : in.contigs) {
          tables += c.name + ":";
          for (int r = 0; r < c.table.nsnp; ++r)
            tables += " " + c.table.name[static_cast<std::size_t>(r)] + "@" +
                      std::to_string(c.table.pos[static_cast<std::size_t>(r)]);
          tables.append(c.table.geno.codes.begin(), c.table.geno.codes.end());
          tables.append(c.haps.bits.begin(), c.haps.bits.end());
          for (int h : c.hap_of_row) tables += std::to_string(h) + ",";
        }
      },
      &stopped);
  return log + (stopped ? "stopped" : "") + tables;
}

// Trial 0 reads a file of many batches undamaged.
TEST(ReadAhead, ReadsAndStopsAsReadingInOrder) {
  std::mt19937 random(11);
  static const std::string kBytes = "0129 -+\t\r\nAaGx#|/.";
  for (int trial = 0; trial < 60; ++trial) {
    std::string text = make_vcf(trial == 0 ? 1000 : 300, random);
    const std::size_t body = text.find("\n1\t");
    for (int edits = trial == 0 ? 0 : 1 + static_cast<int>(random() % 3); edits > 0; --edits)
      text[body + random() % (text.size() - body)] = kBytes[random() % kBytes.size()];
    const TempFile file(text);
    EXPECT_EQ(read_panel(file.path(), true), read_panel(file.path(), false)) << text;
  }
}

}  // namespace
}  // namespace tessellar
