// The output side end to end: SNPs at positions below 1 in a whole run; the
// indexes of a BCF written on threads and of positions beyond tabix's
// reach, as bcftools reads them; outputs that lead to one file with another
// or with an input; a run without standard output.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "work_folder.h"

namespace fs = std::filesystem;
using tessellar::testing_support::WorkFolder;

namespace {

const fs::path kSource = TESSELLAR_SOURCE_DIR;
const fs::path kExamples = kSource / "examples";

std::string read_file(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// Runs a shell command in dir; returns its exit status and, in *out, what
// it wrote on standard output.
int shell(const fs::path& dir, const std::string& command, std::string* out = nullptr) {
  FILE* pipe = popen(("cd '" + dir.string() + "' && " + command).c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char block[4096];
  for (std::size_t n; (n = std::fread(block, 1, sizeof block, pipe)) > 0;) text.append(block, n);
  const int status = pclose(pipe);
  if (out != nullptr) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs tessellar in dir with args; standard output in *log.
int run(const fs::path& dir, const std::string& args, std::string* log = nullptr) {
  return shell(dir, "'" + std::string(TESSELLAR_BINARY) + "' " + args + " 2>/dev/null", log);
}

// The fields of each line of text (split at tabs, or at runs of blanks),
// with the position in field at moved by shift where it is a number; header
// lines ('#') left out. *below_one counts the positions below 1 as read.
std::vector<std::vector<std::string>> moved_fields(const std::string& text, std::size_t at,
                                                   long long shift, bool tabs, int* below_one) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind('#', 0) == 0) continue;
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string field; tabs ? std::getline(fields, field, '\t') : fields >> field;)
      f.push_back(field);
    char* end = nullptr;
    const long long pos = at < f.size() ? std::strtoll(f[at].c_str(), &end, 10) : 0;
    if (end != nullptr && *end == '\0' && end != f[at].c_str()) {
      *below_one += pos < 1;
      f[at] = std::to_string(pos + shift);
    }
    lines.push_back(f);
  }
  return lines;
}

// The lines of text with their fields joined by sep.
void write_fields(const fs::path& path, const std::vector<std::vector<std::string>>& lines,
                  const std::string& head, char sep) {
  std::ofstream file(path);
  file << head;
  for (const auto& f : lines) {
    for (std::size_t k = 0; k < f.size(); ++k) file << (k > 0 ? std::string(1, sep) : "") << f[k];
    file << '\n';
  }
}

// The example moved by -1,500,000 bp, so that a third of its SNPs stand at
// positions below 1: a whole run writes every SNP as it does unmoved.
TEST(Positions, BelowOneAreWrittenByAWholeRun) {
  const WorkFolder folder(std::string("outputs_") + "below_one");
  const fs::path w = folder.path();
  constexpr long long kShift = -1500000;
  int unused = 0;
  for (const char* name : {"genotype.dat", "external.dat"})
    write_fields(w / name, moved_fields(read_file(kExamples / name), 1, kShift, false, &unused), "",
                 ' ');
  fs::copy_file(kExamples / "haplotype.dat", w / "haplotype.dat");
  ASSERT_EQ(run(kExamples, "-ofile '" + (w / "as_is.out").string() + "' -sites '" +
                               (w / "as_is.sites").string() + "'"),
            0);
  ASSERT_EQ(run(w, "-ofile moved.out -sites moved.sites"), 0);
  int below_one = 0;
  EXPECT_EQ(moved_fields(read_file(w / "moved.out"), 2, -kShift, false, &below_one),
            moved_fields(read_file(w / "as_is.out"), 2, 0, false, &unused));
  EXPECT_EQ(moved_fields(read_file(w / "moved.sites"), 1, -kShift, true, &below_one),
            moved_fields(read_file(w / "as_is.sites"), 1, 0, true, &unused));
  EXPECT_GT(below_one, 0);
}

// What `bcftools view -H` prints of path, over region when there is one.
std::string bcftools_records(const fs::path& path, const std::string& region = "") {
  std::string out;
  const std::string r = region.empty() ? "" : " -r '" + region + "'";
  EXPECT_EQ(
      shell(path.parent_path(), "bcftools view -H" + r + " '" + path.string() + "' 2>&1", &out), 0)
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
    const long long to = from + step - 1;
    std::string expected;
    for (const auto& [pos, line] : records)
      if (pos >= from && pos <= to) expected += line;
    const std::string region = contig + ":" + std::to_string(from) + "-" + std::to_string(to);
    EXPECT_EQ(bcftools_records(path, region), expected) << region;
  }
}

// Compressed on three threads, a BCF output spans many blocks.
TEST(Indexes, OfABcfWrittenOnThreadsFindEveryRecord) {
  const WorkFolder folder(std::string("outputs_") + "bcf_threads");
  const fs::path w = folder.path();
  ASSERT_EQ(run(kSource / "tests" / "e2e" / "data" / "contigs",
                "-gfile study.vcf.gz -efile panel.vcf.gz -ped panel.ped -threads 3 -ofile '" +
                    (w / "out.bcf").string() + "'"),
            0);
  ASSERT_TRUE(fs::exists(w / "out.bcf.csi"));
  expect_index_finds_every_record(w / "out.bcf", "chr5");
  expect_index_finds_every_record(w / "out.bcf", "chr6");
}

// The example's VCF inputs moved beyond 2^29 on a contig without length:
// the output's index is CSI, which tabix's cannot hold.
TEST(Indexes, OfPositionsBeyondTabixAreCsi) {
  const WorkFolder folder(std::string("outputs_") + "beyond_tabix");
  const fs::path w = folder.path();
  int unused = 0;
  for (const char* name : {"study.vcf.gz", "panel.vcf.gz", "haplotypes.vcf.gz"}) {
    std::string text;
    ASSERT_EQ(shell(kExamples, std::string("gzip -dc ") + name, &text), 0);
    std::string head;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line) && line.rfind('#', 0) == 0;) head += line + "\n";
    const std::string plain = fs::path(name).stem().string();  // without .gz
    write_fields(w / plain, moved_fields(text, 1, 600000000, true, &unused), head, '\t');
  }
  fs::copy_file(kExamples / "panel.ped", w / "panel.ped");
  ASSERT_EQ(run(w,
                "-gfile study.vcf -efile panel.vcf -ped panel.ped -hfile haplotypes.vcf -ofile "
                "out.vcf.gz"),
            0);
  ASSERT_TRUE(fs::exists(w / "out.vcf.gz.csi"));
  EXPECT_FALSE(fs::exists(w / "out.vcf.gz.tbi"));
  expect_index_finds_every_record(w / "out.vcf.gz", "1");
}

// A line of an input: head, then n values cycling through the characters of
// values ("" for no line).
std::string input_line(const char* head, const char* values, int n) {
  if (*head == '\0') return "";
  std::string line = head;
  for (int k = 0; k < n; ++k) line += std::string(" ") + values[k % std::strlen(values)];
  return line + "\n";
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
  const WorkFolder folder(std::string("outputs_") + std::string("first_") + c.label);
  const fs::path w = folder.path();
  std::ofstream(w / "genotype.dat")
      << input_line(c.study, c.study_codes, 50) << read_file(kExamples / "genotype.dat");
  std::ofstream(w / "external.dat")
      << input_line(c.panel, c.panel_codes, 90) << read_file(kExamples / "external.dat");
  std::ofstream(w / "haplotype.dat")
      << input_line(c.haplotypes, c.hap_values, 120) << read_file(kExamples / "haplotype.dat");
  ASSERT_EQ(run(w, "-sites sites.tsv"), 0);
  std::istringstream lines(read_file(w / "sites.tsv"));
  std::string line;
  std::getline(lines, line);  // the header
  std::getline(lines, line);  // the first SNP, or the haplotype rows' lines at the end
  if (*c.haplotypes != '\0' && *c.panel == '\0')
    while (line.rfind("1\t.\t", 0) != 0 && std::getline(lines, line)) continue;
  std::vector<std::string> f;
  std::istringstream fields(line);
  for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
  ASSERT_GE(f.size(), 9u) << line;
  EXPECT_EQ(f[1] + " " + f[2] + " " + f[3] + " " + f[4] + " " + f[5] + " " + f[6] + " " + f[7] +
                " " + f[8],
            c.expected);
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

struct Collision {
  const char* label;
  const char* args;
  const char* error;  // the run log's last line with "Error: " (empty: the run succeeds)
};

class Collisions : public testing::TestWithParam<Collision> {};

// A folder with the example's text inputs, a VCF study with its index, a
// subfolder, a link to a new file and a copy of the study named like the
// index of an output. A run whose outputs lead to one file with another or
// with an input stops before it writes anything.
TEST_P(Collisions, StopTheRunBeforeAnythingIsWritten) {
  const Collision& c = GetParam();
  const WorkFolder folder(std::string("outputs_") + std::string("collision_") + c.label);
  const fs::path w = folder.path();
  for (const char* name : {"genotype.dat", "external.dat", "haplotype.dat", "study.vcf.gz",
                           "study.vcf.gz.tbi", "panel.vcf.gz", "panel.vcf.gz.tbi", "panel.ped"})
    fs::copy_file(kExamples / name, w / name);
  fs::copy_file(kExamples / "genotype.dat", w / "x.vcf.gz.csi");
  fs::create_directory(w / "sub");
  fs::create_symlink("x.out", w / "link.out");
  fs::create_symlink("genotype.dat", w / "study_link");
  std::vector<std::string> before;
  for (const auto& e : fs::recursive_directory_iterator(w)) before.push_back(e.path());
  std::string log;
  const int status = run(w, c.args, &log);
  if (*c.error == '\0') {
    EXPECT_EQ(status, 0) << log;
    return;
  }
  EXPECT_EQ(status, 1);
  const std::size_t at = log.rfind("Error: ");
  EXPECT_EQ(at == std::string::npos ? log : log.substr(at, log.find('\n', at) - at), c.error);
  std::vector<std::string> after;
  for (const auto& e : fs::recursive_directory_iterator(w)) after.push_back(e.path());
  EXPECT_EQ(after, before);
  EXPECT_EQ(read_file(w / "x.vcf.gz.csi"), read_file(kExamples / "genotype.dat"));
}

INSTANTIATE_TEST_SUITE_P(
    Names, Collisions,
    testing::Values(
        Collision{"dot_slash", "-ofile x.out -sites ./x.out",
                  "Error: the per-site file './x.out' is the output file."},
        Collision{"through_a_folder", "-ofile x.vcf.gz -sites sub/../x.vcf.gz",
                  "Error: the per-site file 'sub/../x.vcf.gz' is the output file."},
        Collision{"through_a_link", "-ofile x.out -sites link.out",
                  "Error: the per-site file 'link.out' is the output file."},
        Collision{"the_index", "-ofile x.vcf.gz -sites x.vcf.gz.tbi",
                  "Error: the per-site file 'x.vcf.gz.tbi' is the index of the output file "
                  "'x.vcf.gz'."},
        Collision{"the_other_index", "-ofile sub/../y.bcf -sites y.bcf.tbi",
                  "Error: the per-site file 'y.bcf.tbi' is the index of the output file "
                  "'sub/../y.bcf'."},
        Collision{"an_input_named_like_the_index", "-gfile x.vcf.gz.csi -ofile x.vcf.gz",
                  "Error: the index 'x.vcf.gz.csi' of the output file 'x.vcf.gz' is the input "
                  "file 'x.vcf.gz.csi'."},
        Collision{"an_input_through_a_link", "-sites study_link",
                  "Error: the per-site file 'study_link' is the input file 'genotype.dat'."},
        Collision{"an_input_through_a_folder", "-ofile sub/../external.dat",
                  "Error: the output file 'sub/../external.dat' is the input file "
                  "'external.dat'."},
        Collision{"an_input_index",
                  "-gfile study.vcf.gz -efile panel.vcf.gz -ped panel.ped "
                  "-ofile x.vcf.gz -sites sub/../study.vcf.gz.tbi",
                  "Error: the per-site file 'sub/../study.vcf.gz.tbi' is the input file "
                  "'study.vcf.gz.tbi'."},
        Collision{"distinct_files", "-ofile x.vcf.gz -sites x.vcf.gz.sites", ""}),
    [](const testing::TestParamInfo<Collision>& c) { return std::string(c.param.label); });

// Each output, its index and the per-site file reach the disk before they
// are renamed over their names, and the folder after (as strace sees the
// calls, with the paths of their descriptors).
TEST(Durability, FilesAreSyncedBeforeTheirRenamesAndTheFolderAfter) {
  if (shell(".", "strace -o /dev/null true 2>/dev/null") != 0) GTEST_SKIP() << "no strace here";
  const WorkFolder folder(std::string("outputs_") + "durability");
  const fs::path w = folder.path();
  // LeakSanitizer, where it is built in, does not work under ptrace.
  ASSERT_EQ(shell(kExamples,
                  "ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -qq -y -e "
                  "trace=fsync,rename -o '" +
                      (w / "trace.txt").string() + "' '" + TESSELLAR_BINARY + "' -ofile '" +
                      (w / "out.vcf.gz").string() + "' -sites '" + (w / "sites.tsv").string() +
                      "' > /dev/null 2>&1"),
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
      const std::size_t from = at + 9;
      const std::string name = line.substr(from, line.find('"', from) - from);
      const std::string temporary = (w / fs::path(name).filename()).string();
      EXPECT_NE(std::find(synced.begin(), synced.end(), temporary), synced.end()) << line;
      after.clear();
      ++renames;
    }
  }
  EXPECT_EQ(renames, 3);  // the index, the output, the per-site file
  EXPECT_EQ(after, std::vector<std::string>{w.string()});  // the folder
}

// A run without standard output says so on standard error, with the
// reason, and writes nothing.
TEST(RunLog, ClosedStandardOutputIsReportedWithItsReason) {
  const WorkFolder folder(std::string("outputs_") + "closed_stdout");
  const fs::path w = folder.path();
  std::string error;
  const int status = shell(
      kExamples,
      "'" + std::string(TESSELLAR_BINARY) + "' -ofile '" + (w / "out.txt").string() + "' 2>&1 >&-",
      &error);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(error, "Error: cannot write the run log on standard output: Bad file descriptor.\n");
  EXPECT_TRUE(fs::is_empty(w));
}

}  // namespace
