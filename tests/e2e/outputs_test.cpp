// The output side end to end: SNPs at positions below 1 in a whole run; the
// indexes of a BCF written on threads and of positions beyond tabix's
// reach, as bcftools reads them; the per-site fates of the inputs' first
// rows; the syncs before the renames.
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

const fs::path kSource = TESSELLAR_SOURCE_DIR;
const fs::path kExamples = kSource / "examples";
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

// What `bcftools view -H` prints of path's records in region, through its
// index (-r) or by a scan of the whole file (-t).
std::string bcftools_records(const fs::path& path, const std::string& how,
                             const std::string& region) {
  std::string out;
  EXPECT_EQ(shell(".", "bcftools view -H " + how + " '" + region + "' '" + path.string() + "' 2>&1",
                  &out),
            0)
      << region << ": " << out;
  return out;
}

// The index beside path finds, for regions that cut the contig into ten,
// the records that a scan of the whole file finds there.
void expect_index_finds_every_record(const fs::path& path, const std::string& contig) {
  std::vector<long long> pos;
  std::istringstream all(bcftools_records(path, "-t", contig));
  for (std::string line; std::getline(all, line);)
    pos.push_back(std::atoll(line.c_str() + contig.size() + 1));
  ASSERT_GT(pos.size(), 20u);
  const long long step = (pos.back() - pos.front()) / 10 + 1;
  for (long long from = pos.front(); from <= pos.back(); from += step) {
    const std::string region =
        contig + ":" + std::to_string(from) + "-" + std::to_string(from + step - 1);
    EXPECT_EQ(bcftools_records(path, "-r", region), bcftools_records(path, "-t", region)) << region;
  }
}

// Compressed on three threads, a BCF or bgzipped VCF output spans many blocks.
TEST(Indexes, OfOutputsWrittenOnThreadsFindEveryRecord) {
  const WorkFolder w("outputs_threads");
  for (const std::string out : {"out.bcf", "out.vcf.gz"}) {
    ASSERT_EQ(shell(kSource / "tests/e2e/data/contigs",
                    kBinary +
                        " -gfile study.vcf.gz -efile panel.vcf.gz -ped panel.ped -threads 3 "
                        "-ofile '" +
                        (w / out).string() + "' > /dev/null"),
              0);
    ASSERT_TRUE(fs::exists(w / (out + (out == "out.bcf" ? ".csi" : ".tbi"))));
    for (const char* contig : {"chr5", "chr6"}) expect_index_finds_every_record(w / out, contig);
  }
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

// A case of first_row_cases.txt: label; a line put first in the example's
// study, its codes; in its panel, its codes; in its haplotype file, its
// values; that SNP's per-site line from POS to FATE.
class FirstRowsOfTheInputs : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(FirstRowsOfTheInputs, MeetTheirFatesInThePerSiteFile) {
  const std::vector<std::string>& c = GetParam();
  const WorkFolder w("outputs_first_" + c[0]);
  for (const auto& [k, name, n] :
       {std::tuple{1, "genotype.dat", 50}, {3, "external.dat", 90}, {5, "haplotype.dat", 120}}) {
    std::string line = c[k];
    for (int v = 0; !line.empty() && v < n; ++v)
      line += std::string(" ") + c[k + 1][v % c[k + 1].size()];
    std::ofstream(w / name) << (line.empty() ? "" : line + "\n") << read_file(kExamples / name);
  }
  std::string line;
  ASSERT_EQ(shell(w,
                  kBinary + " -sites s.tsv > /dev/null && awk -F'\\t' '$3 ~ /^[sph]0$/ "
                            "{print $2, $3, $4, $5, $6, $7, $8, $9}' s.tsv",
                  &line),
            0);
  EXPECT_EQ(line, c[7] + "\n");
}

INSTANTIATE_TEST_SUITE_P(Fates, FirstRowsOfTheInputs,
                         testing::ValuesIn(table_rows(kSource / "tests/e2e/first_row_cases.txt",
                                                      8)),
                         [](const auto& c) { return c.param[0]; });

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

}  // namespace
