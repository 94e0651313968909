// The probability field against printf, and the output file: written to a
// temporary file and renamed over the output only on commit, with the
// permission bits of a plain redirect.
#include "output/output.h"

#include <fcntl.h>
#include <htslib/hts.h>
#include <htslib/tbx.h>
#include <htslib/vcf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "output/text_format.h"
#include "support.h"
#include "work_folder.h"

namespace tessellar {
namespace {

namespace fs = std::filesystem;

// The fast field against printf itself over many probabilities, near every
// rounding boundary and at random; "0" below 0.005 and "1" from 0.995.
TEST(ProbabilityField, MatchesPrintf) {
  std::vector<double> values = {
      0.0, 1.0, 0.005, 0.995, std::nextafter(0.005, 0.0), std::nextafter(0.995, 0.0)};
  for (int k = 0; k <= 100; ++k) {
    for (double x = (k + 0.5) / 100.0, step = 0; step < 8; ++step, x = std::nextafter(x, 1.0)) {
      values.push_back(x);
      values.push_back(std::nextafter(x, 0.0));
    }
  }
  std::mt19937_64 random(7);
  for (int i = 0; i < 200000; ++i)
    values.push_back(std::uniform_real_distribution<double>()(random));
  for (double p : values) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "%3.2lf ", p);
    std::string out;
    append_probability(out, p);
    ASSERT_EQ(out, p < 0.005 ? "0 " : p >= 0.995 ? "1 " : expected) << std::hexfloat << p;
  }
}

// Writes text as one chunk of records.
void put(OutputFile& out, const std::string& text) {
  OutputChunk chunk;
  chunk.text = text;
  out.prepare(chunk);
  out.write(chunk);
}

std::string read_file(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

class Output : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::make_unique<testing_support::WorkFolder>(
        "output_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    dir_ = folder_->path();
  }
  void TearDown() override { folder_.reset(); }
  // The names in the folder.
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::unique_ptr<testing_support::WorkFolder> folder_;
  fs::path dir_;
};

TEST_F(Output, AppearsOnlyOnCommitAndAFailedRunKeepsTheEarlierOne) {
  const fs::path path = dir_ / "out.txt";
  {
    OutputFile out(path.string(), OutputKind::text);
    put(out, "first\n");
    EXPECT_FALSE(fs::exists(path));
    out.commit();
  }
  EXPECT_EQ(read_file(path), "first\n");
  {
    OutputFile out(path.string(), OutputKind::text);  // never committed: the run failed
    put(out, "partial");
  }
  EXPECT_EQ(read_file(path), "first\n");
  EXPECT_EQ(files(), std::vector<std::string>{"out.txt"});
}

// Links keep pointing at the file they name, which gets the output: through
// a chain of links too; a loop of links is an error.
TEST_F(Output, ReplacesTheTargetOfAChainOfSymbolicLinks) {
  std::ofstream(dir_ / "target.txt") << "earlier\n";
  fs::create_symlink("target.txt", dir_ / "b.txt");
  fs::create_symlink("b.txt", dir_ / "a.txt");
  OutputFile out((dir_ / "a.txt").string(), OutputKind::text);
  put(out, "new\n");
  out.commit();
  EXPECT_TRUE(fs::is_symlink(dir_ / "a.txt"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "b.txt"));
  EXPECT_EQ(read_file(dir_ / "target.txt"), "new\n");
  fs::create_symlink("loop2", dir_ / "loop1");
  fs::create_symlink("loop1", dir_ / "loop2");
  EXPECT_EQ(testing_support::error_line(
                [&] { OutputFile loop((dir_ / "loop1").string(), OutputKind::text); }),
            "Error: cannot create the output file '" + (dir_ / "loop1").string() +
                "': Too many levels of symbolic links.");
}

// A replaced output keeps its permission bits.
TEST_F(Output, KeepsThePermissionBitsOfTheFileItReplaces) {
  std::ofstream(dir_ / "out.txt") << "earlier\n";
  fs::permissions(dir_ / "out.txt", fs::perms(0640));
  OutputFile out((dir_ / "out.txt").string(), OutputKind::text);
  out.commit();
  EXPECT_EQ(static_cast<int>(fs::status(dir_ / "out.txt").permissions()), 0640);
}

// When the rename fails (here a folder took the output's name while the run
// went on) the run stops, and neither the folder nor a temporary file is left changed.
TEST_F(Output, AFailedRenameStopsTheRun) {
  const fs::path path = dir_ / "out.txt";
  {
    OutputFile out(path.string(), OutputKind::text);
    put(out, "record\n");
    fs::create_directory(path);
    EXPECT_EQ(testing_support::error_line([&] { out.commit(); }),
              "Error: cannot replace the output file '" + path.string() + "': Is a directory.");
  }
  EXPECT_TRUE(fs::is_empty(path));
  EXPECT_EQ(files(), std::vector<std::string>{"out.txt"});
}

// The records of a region that an index finds in path (a .vcf.gz or .bcf),
// by position; -1 at the end when the index or the region could not be read.
std::vector<long long> found_by_index(const fs::path& path, const std::string& region) {
  std::vector<long long> found;
  htsFile* file = hts_open(path.c_str(), "r");
  bcf_hdr_t* header = file != nullptr ? bcf_hdr_read(file) : nullptr;
  const bool bcf = path.extension() == ".bcf";
  hts_idx_t* index = header != nullptr && bcf ? bcf_index_load(path.c_str()) : nullptr;
  tbx_t* tabix = header != nullptr && !bcf ? tbx_index_load(path.c_str()) : nullptr;
  hts_itr_t* it = index != nullptr   ? bcf_itr_querys(index, header, region.c_str())
                  : tabix != nullptr ? tbx_itr_querys(tabix, region.c_str())
                                     : nullptr;
  bcf1_t* record = bcf_init();
  kstring_t line = {0, 0, nullptr};
  int read = 0;
  while (it != nullptr && (read = index != nullptr ? bcf_itr_next(file, it, record)
                                                   : tbx_itr_next(file, tabix, it, &line)) >= 0)
    found.push_back(index != nullptr ? record->pos + 1 : std::atoll(std::strchr(line.s, '\t') + 1));
  if (it == nullptr || read < -1) found.push_back(-1);
  free(line.s);
  bcf_destroy(record);
  hts_itr_destroy(it);
  if (tabix != nullptr) tbx_destroy(tabix);
  if (index != nullptr) hts_idx_destroy(index);
  if (header != nullptr) bcf_hdr_destroy(header);
  if (file != nullptr) hts_close(file);
  return found;
}

struct IndexCase {
  const char* label;
  OutputKind kind;
  int threads;
  long long start_b;   // contig b's records start after this position
  const char* suffix;  // of the index
};

class Index : public Output, public ::testing::WithParamInterface<IndexCase> {};

// An indexed output's index finds every record of any region, as a linear
// scan would: records written in chunks of many sizes, so that they cross
// the compressed blocks in every way; BCF compressed on threads too, and
// positions beyond tabix's reach.
TEST_P(Index, FindsTheRecordsOfEveryRegion) {
  const IndexCase& c = GetParam();
  const fs::path path = dir_ / (c.kind == OutputKind::bcf ? "out.bcf" : "out.vcf.gz");
  std::vector<std::pair<std::string, long long>> sites;
  {
    OutputFile out(path.string(), c.kind, c.threads);
    std::mt19937 random(5);
    std::vector<std::string> chunks;
    long long pos = 0;
    std::string contig = "a";
    for (int chunk = 0; chunk < 120; ++chunk) {
      std::string text;
      for (int r = static_cast<int>(random() % 40); r > 0; --r) {
        pos += 1 + static_cast<long long>(random() % 300);
        sites.push_back({contig, pos});
        text += contig + "\t" + std::to_string(pos) + "\t" + std::string(1 + random() % 400, 'x') +
                "\tA\tG\t.\tPASS\t.\n";
      }
      chunks.push_back(text);
      if (chunk == 70) contig = "b", pos = c.start_b;
    }
    out.write_header(
        "##fileformat=VCFv4.2\n##contig=<ID=a>\n##contig=<ID=b>\n#CHROM\tPOS\tID\tREF\tALT\t"
        "QUAL\tFILTER\tINFO\n",
        pos);
    for (const std::string& text : chunks) put(out, text);
    out.commit();
  }
  EXPECT_TRUE(fs::exists(path.string() + c.suffix));
  std::mt19937 random(9);
  for (int query = 0; query < 300; ++query) {
    const std::string contig = random() % 2 ? "a" : "b";
    const long long from =
        (contig == "b" ? c.start_b : 0) + static_cast<long long>(random() % 400000);
    const long long to = from + static_cast<long long>(random() % 20000);
    std::vector<long long> expected;
    for (const auto& [name, p] : sites)
      if (name == contig && p >= from && p <= to) expected.push_back(p);
    const std::string region = contig + ":" + std::to_string(from) + "-" + std::to_string(to);
    ASSERT_EQ(found_by_index(path, region), expected) << region;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Index,
    ::testing::Values(
        IndexCase{"vcf_gz", OutputKind::vcf_gz, 1, 0, ".tbi"},
        IndexCase{"vcf_gz_beyond_tabix", OutputKind::vcf_gz, 1, (1LL << 29) - 20000, ".csi"},
        IndexCase{"bcf", OutputKind::bcf, 1, 0, ".csi"},
        IndexCase{"bcf_on_threads", OutputKind::bcf, 3, 0, ".csi"},
        IndexCase{"bcf_beyond_tabix", OutputKind::bcf, 2, (1LL << 29) - 20000, ".csi"}),
    [](const ::testing::TestParamInfo<IndexCase>& kind) { return kind.param.label; });

// The index's temporary file is made anew when the header is written, like
// the output's, never opened by a name that a planted link could take over:
// links planted beside the output's temporary file, at the names an index
// built by name would take, lead nowhere.
TEST_F(Output, IndexIsWrittenToAFileOfItsOwn) {
  std::ofstream(dir_ / "victim.txt") << "kept\n";
  const fs::path path = dir_ / "out.vcf.gz";
  {
    OutputFile out(path.string(), OutputKind::vcf_gz);
    for (const std::string& name : files())
      if (name.find(".tmp.") != std::string::npos)
        for (const char* suffix : {".tbi", ".csi"})
          fs::create_symlink(dir_ / "victim.txt", dir_ / (name + suffix));
    out.write_header(
        "##fileformat=VCFv4.2\n##contig=<ID=a>\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\n");
    int temporary = 0;
    for (const auto& entry : fs::directory_iterator(dir_))
      temporary += entry.is_regular_file() && !entry.is_symlink() &&
                   entry.path().filename().string().find(".tmp.") != std::string::npos;
    EXPECT_EQ(temporary, 2);  // the output's and the index's
    put(out, "a\t10\t.\tA\tG\t.\tPASS\t.\na\t20\t.\tA\tG\t.\tPASS\t.\n");
    out.commit();
  }
  EXPECT_EQ(read_file(dir_ / "victim.txt"), "kept\n");
  EXPECT_EQ(found_by_index(path, "a:15-25"), std::vector<long long>{20});
}

class Permissions : public Output, public ::testing::WithParamInterface<mode_t> {};

// A new output gets the bits that "> file" gives under the same umask.
TEST_P(Permissions, AreThoseOfARedirect) {
  const mode_t old = ::umask(GetParam());
  const int fd = ::open((dir_ / "redirect.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  ::close(fd);
  OutputFile out((dir_ / "out.txt").string(), OutputKind::text);
  out.commit();
  ::umask(old);
  struct stat made, redirect;
  ASSERT_EQ(::stat((dir_ / "out.txt").c_str(), &made), 0);
  ASSERT_EQ(::stat((dir_ / "redirect.txt").c_str(), &redirect), 0);
  EXPECT_EQ(made.st_mode & 07777, redirect.st_mode & 07777);
  EXPECT_EQ(made.st_mode & 07777, 0666 & ~GetParam());
}

INSTANTIATE_TEST_SUITE_P(Umasks, Permissions, ::testing::Values(022, 027, 077, 0));

}  // namespace
}  // namespace tessellar
