// The output side end to end: SNPs at positions below 1 in a whole run; the
// indexes of a BCF written on threads and of positions beyond tabix's
// reach, as bcftools reads them; the per-site fates of the inputs' first
// rows; the syncs before the renames; a run without standard output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "e2e_run.h"
#include "work_folder.h"

namespace fs = std::filesystem;
using namespace tessellar::testing_support;

namespace {

const fs::path kExamples = fs::path(TESSELLAR_SOURCE_DIR) / "examples";
const std::string kFrom = "'" + kExamples.string() + "/";

// The example moved by -1,500,000 bp, so that a third of its SNPs stand at
// positions below 1: a whole run writes every SNP as it does unmoved.
TEST(Positions, BelowOneAreWrittenByAWholeRun) {
  const WorkFolder w("outputs_below_one");
  fs::copy_file(kExamples / "haplotype.dat", w / "haplotype.dat");
  for (const char* name : {"genotype.dat", "external.dat"})
    ASSERT_EQ(shell(w, "awk '{$2 -= 1500000} 1' " + kFrom + name + "' > " + name), 0);
  ASSERT_EQ(shell(w, "grep -c ' -' genotype.dat > /dev/null"), 0) << "no position below 1";
  ASSERT_EQ(shell(kExamples, kBinary + " -ofile '" + (w / "as_is.out").string() + "' -sites '" +
                                 (w / "as_is.sites").string() + "' > /dev/null"),
            0);
  ASSERT_EQ(shell(w, kBinary + " -ofile moved.out -sites moved.sites > /dev/null"), 0);
  // Fields split at runs of blanks (the text output) or at tabs (the per-site file).
  std::string moved, as_is;
  const std::string back =
      "awk '{$3 += 1500000} 1' moved.out; awk -F'\\t' -v OFS='\\t' "
      "'!/^#/ {$2 += 1500000} 1' moved.sites";
  ASSERT_EQ(shell(w, back, &moved), 0);
  ASSERT_EQ(shell(w, "awk '{$1 = $1} 1' as_is.out; cat as_is.sites", &as_is), 0);
  EXPECT_EQ(moved, as_is);
}

// What `bcftools view -H` prints of path, over region when there is one.
std::string bcftools_records(const fs::path& path, const std::string& region = "") {
  std::string out;
  const std::string r = region.empty() ? "" : " -r '" + region + "'";
  EXPECT_EQ(shell(".", "bcftools view -H" + r + " '" + path.string() + "' 2>&1", &out), 0)
      << region << ": " << out;
  return out;
}

// The index beside path finds, for regions that cut the contig into ten,
// the records that a scan of the whole file finds there.
void expect_index_finds_every_record(const fs::path& path, const std::string& contig) {
  std::vector<std::pair<long long, std::string>> records;  // position, line
  std::istringstream all(bcftools_records(path));
  for (std::string line; std::getline(all, line);)
    if (line.rfind(contig + "\t", 0) == 0)
      records.push_back({std::atoll(line.c_str() + contig.size() + 1), line + "\n"});
  ASSERT_GT(records.size(), 20u);
  const long long first = records.front().first;
  const long long step = (records.back().first - first) / 10 + 1;
  for (long long from = first; from <= records.back().first; from += step) {
    std::string expected;
    for (const auto& [pos, line] : records)
      if (pos >= from && pos < from + step) expected += line;
    const std::string region =
        contig + ":" + std::to_string(from) + "-" + std::to_string(from + step - 1);
    EXPECT_EQ(bcftools_records(path, region), expected) << region;
  }
}

// Compressed on three threads, a BCF output spans many blocks.
TEST(Indexes, OfABcfWrittenOnThreadsFindEveryRecord) {
  const WorkFolder w("outputs_bcf_threads");
  ASSERT_EQ(shell(fs::path(TESSELLAR_SOURCE_DIR) / "tests/e2e/data/contigs",
                  kBinary +
                      " -gfile study.vcf.gz -efile panel.vcf.gz -ped panel.ped -threads 3 "
                      "-ofile '" +
                      (w / "out.bcf").string() + "' > /dev/null"),
            0);
  ASSERT_TRUE(fs::exists(w / "out.bcf.csi"));
  expect_index_finds_every_record(w / "out.bcf", "chr5");
  expect_index_finds_every_record(w / "out.bcf", "chr6");
}

// The example's VCF inputs moved beyond 2^29 on a contig without length:
// the output's index is CSI, which tabix's cannot hold.
TEST(Indexes, OfPositionsBeyondTabixAreCsi) {
  const WorkFolder w("outputs_beyond_tabix");
  fs::copy_file(kExamples / "panel.ped", w / "panel.ped");
  ASSERT_EQ(shell(w, "for f in study panel haplotypes; do gzip -dc \"" + kExamples.string() +
                         "/$f.vcf.gz\" | awk -F'\\t' -v OFS='\\t' '!/^#/ {$2 += 600000000} 1' > "
                         "$f.vcf || exit 1; done && " +
                         kBinary +
                         " -gfile study.vcf -efile panel.vcf -ped panel.ped -hfile haplotypes.vcf "
                         "-ofile out.vcf.gz > /dev/null"),
            0);
  ASSERT_TRUE(fs::exists(w / "out.vcf.gz.csi"));
  EXPECT_FALSE(fs::exists(w / "out.vcf.gz.tbi"));
  expect_index_finds_every_record(w / "out.vcf.gz", "1");
}

struct FirstRows {
  const char* label;
  const char* study;  // a line put first in the example's study ("": none)
  const char* study_codes;
  const char* panel;  // in its panel
  const char* panel_codes;
  const char* haplotypes;  // in its haplotype file
  const char* hap_values;
  const char* expected;  // that SNP's per-site line from POS to FATE, blank-separated
};

class FirstRowsOfTheInputs : public testing::TestWithParam<FirstRows> {};

// The first row of the study, of the panel and of the haplotype file, each
// with a fate that its being there (row 0 or more) decides.
TEST_P(FirstRowsOfTheInputs, MeetTheirFatesInThePerSiteFile) {
  const FirstRows& c = GetParam();
  const WorkFolder w(std::string("outputs_first_") + c.label);
  // Each file: its line with n values cycling through the characters of values, then the example's.
  for (const auto& [name, head, values, n] :
       {std::tuple{"genotype.dat", c.study, c.study_codes, 50},
        {"external.dat", c.panel, c.panel_codes, 90},
        {"haplotype.dat", c.haplotypes, c.hap_values, 120}}) {
    std::string line = head;
    for (int k = 0; *head != '\0' && k < n; ++k)
      line += std::string(" ") + values[k % strlen(values)];
    std::ofstream(w / name) << (*head != '\0' ? line + "\n" : "") << read_file(kExamples / name);
  }
  std::string line;
  ASSERT_EQ(shell(w,
                  kBinary + " -sites s.tsv > /dev/null && awk -F'\\t' '$3 ~ /^[sph]0$/ "
                            "{print $2, $3, $4, $5, $6, $7, $8, $9}' s.tsv",
                  &line),
            0);
  EXPECT_EQ(line, c.expected + std::string("\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Fates, FirstRowsOfTheInputs,
    testing::Values(FirstRows{"study_monomorphic", "s0 990000 0 A G", "2", "p0 990000 A G", "2",
                              "p0", "1", "990000 s0 A G 1 1 1 monomorphic"},
                    FirstRows{"study_only_typed", "s0 990000 0 A G", "012", "", "", "", "",
                              "990000 s0 A G 1 0 0 typed"},
                    FirstRows{"study_only_incomplete", "s0 990000 0 A G", "0129", "", "", "", "",
                              "990000 s0 A G 1 0 0 study-only"},
                    FirstRows{"panel_without_haplotypes", "", "", "p0 990000 A G", "0121", "", "",
                              "990000 p0 A G 0 1 0 no-haplotype-row"},
                    FirstRows{"haplotypes_of_no_panel_snp", "", "", "", "", "h0", "01",
                              ". h0 . . 0 0 1 haplotype-only"}),
    [](const testing::TestParamInfo<FirstRows>& c) { return std::string(c.param.label); });

// Each output, its index and the per-site file reach the disk before they
// are renamed over their names, and the folder after (as strace sees the
// calls, with the paths of their descriptors).
TEST(Durability, FilesAreSyncedBeforeTheirRenamesAndTheFolderAfter) {
  if (shell(".", "strace -o /dev/null true 2>/dev/null") != 0) GTEST_SKIP() << "no strace here";
  const WorkFolder w("outputs_durability");
  // LeakSanitizer, where it is built in, does not work under ptrace.
  ASSERT_EQ(shell(w,
                  "ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -qq -y -e "
                  "trace=fsync,rename -o trace.txt " +
                      kBinary + " -gfile " + kFrom + "genotype.dat' -efile " + kFrom +
                      "external.dat' -hfile " + kFrom +
                      "haplotype.dat' -ofile out.vcf.gz -sites sites.tsv > /dev/null 2>&1"),
            0);
  std::vector<std::string> synced;  // the paths, in order
  std::vector<std::string> after;   // those since the last rename
  int renames = 0;
  std::istringstream trace(read_file(w / "trace.txt"));
  for (std::string line; std::getline(trace, line);) {
    const std::size_t open = line.find('<');
    if (line.find(" fsync(") != std::string::npos && open != std::string::npos) {
      synced.push_back(line.substr(open + 1, line.find('>', open) - open - 1));
      after.push_back(synced.back());
    } else if (const std::size_t at = line.find(" rename(\""); at != std::string::npos) {
      const std::string temporary =
          (w / line.substr(at + 9, line.find('"', at + 9) - at - 9)).string();
      EXPECT_NE(std::find(synced.begin(), synced.end(), temporary), synced.end()) << line;
      after.clear();
      ++renames;
    }
  }
  EXPECT_EQ(renames, 3);  // the index, the output, the per-site file
  EXPECT_EQ(after, std::vector<std::string>{w.path().string()});  // the folder
}

// A run without standard output says so on standard error, with the
// reason, and writes nothing.
TEST(RunLog, ClosedStandardOutputIsReportedWithItsReason) {
  const WorkFolder w("outputs_closed_stdout");
  std::string error;
  EXPECT_EQ(
      shell(kExamples, kBinary + " -ofile '" + (w / "out.txt").string() + "' 2>&1 >&-", &error), 1);
  EXPECT_EQ(error, "Error: cannot write the run log on standard output: Bad file descriptor.\n");
  EXPECT_TRUE(fs::is_empty(w.path()));
}

}  // namespace
