// A contig's range of a VCF input: read through an index that fits the
// file, or past the other records; never through an index older than the
// file. An index of another file, a damaged file and a contig named two ways
// stop the run with a message that says which.
#include <gtest/gtest.h>
#include <htslib/bgzf.h>
#include <htslib/tbx.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "input/vcf_reader.h"
#include "support.h"
#include "work_folder.h"

namespace tessellar {
namespace {

namespace fs = std::filesystem;
using testing_support::error_line;
using testing_support::WorkFolder;

const fs::path kExamples = fs::path(TESSELLAR_SOURCE_DIR) / "examples";

// The positions of the records that reader reads.
std::vector<int> positions(VcfReader& r) {
  std::vector<int> pos;
  while (r.next()) pos.push_back(r.pos());
  return pos;
}

struct IndexCase {
  const char* index;  // the example whose index stands beside the study
  int seconds;        // by which the index was made after the study (less than 0: before)
};

class IndexAge : public testing::TestWithParam<IndexCase> {};

// An index made before its file may miss records written since: it is not
// used. An index of another file stops the run.
TEST_P(IndexAge, DecidesWhetherTheIndexIsUsed) {
  const IndexCase& c = GetParam();
  const WorkFolder work("vcf_index_" + std::string(c.index) + std::to_string(c.seconds));
  const fs::path data = work.path() / "study.vcf.gz", index = work.path() / "study.vcf.gz.tbi";
  fs::copy_file(kExamples / "study.vcf.gz", data);
  fs::copy_file(kExamples / (c.index + std::string(".vcf.gz.tbi")), index);
  fs::last_write_time(index, fs::last_write_time(data) + std::chrono::seconds(c.seconds));
  std::vector<int> read, expected;
  auto whole = VcfReader::open_if_vcf(data.string(), "study");
  for (int p : positions(*whole))
    if (p >= 1000000 && p <= 1600000) expected.push_back(p);
  const std::string error = error_line([&] {
    auto r = VcfReader::open_if_vcf(data.string(), "study");
    EXPECT_EQ(r->restrict_to("1", 1000000, 1600000), c.seconds >= 0);
    EXPECT_EQ(r->stale_index(), c.seconds < 0 ? index.string() : "");
    read = positions(*r);
  });
  if (std::string(c.index) == "study") {
    EXPECT_EQ(error, "");
    EXPECT_EQ(read, expected);
  } else {
    EXPECT_EQ(error, "Error: '" + data.string() + "': its index '" + index.string() +
                         "' does not fit it (an index of another file, or of an earlier "
                         "version of it); make the index again");
  }
}

INSTANTIATE_TEST_SUITE_P(Seconds, IndexAge,
                         testing::Values(IndexCase{"study", -3600}, IndexCase{"study", -1},
                                         IndexCase{"study", 0}, IndexCase{"study", 1},
                                         IndexCase{"study", 3600}, IndexCase{"panel", 0}));

const std::string kHeader =
    "##fileformat=VCFv4.2\n##contig=<ID=1>\n##contig=<ID=chr1>\n##contig=<ID=chr2>\n"
    "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
    "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tS\n";

// Writes a bgzipped VCF of records at 100, 200, ... of the given contigs
// whose header and records are BGZF blocks of their own, indexed by tabix
// when indexed.
void write_vcf_gz(const fs::path& path, const std::vector<std::string>& contigs, bool indexed) {
  std::string records;
  for (std::size_t i = 0; i < contigs.size(); ++i)
    records += contigs[i] + "\t" + std::to_string(100 * (i + 1)) + "\trs" + std::to_string(i) +
               "\tA\tG\t.\tPASS\t.\tGT\t0/1\n";
  BGZF* f = bgzf_open(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(bgzf_write(f, kHeader.data(), kHeader.size()), static_cast<ssize_t>(kHeader.size()));
  ASSERT_EQ(bgzf_flush(f), 0);
  ASSERT_EQ(bgzf_write(f, records.data(), records.size()), static_cast<ssize_t>(records.size()));
  ASSERT_EQ(bgzf_close(f), 0);
  ASSERT_TRUE(!indexed || tbx_index_build(path.c_str(), 0, &tbx_conf_vcf) == 0);
}

// A file damaged where the index leads is reported as damaged, with the
// line where its reading in order fails.
TEST(Index, OfADamagedFileLeavesTheDamageToBeTold) {
  const WorkFolder work("vcf_index_damaged");
  const fs::path data = work.path() / "d.vcf.gz";
  write_vcf_gz(data, std::vector<std::string>(20, "1"), true);
  std::ifstream in(data, std::ios::binary);
  std::string bytes(std::istreambuf_iterator<char>(in), {});
  const std::size_t second_block = bytes.find("\x1f\x8b\x08\x04", 4);
  ASSERT_NE(second_block, std::string::npos);
  bytes[second_block + 30] = static_cast<char>(bytes[second_block + 30] ^ 0x55);
  std::ofstream(data, std::ios::binary | std::ios::trunc) << bytes;
  fs::last_write_time(work.path() / "d.vcf.gz.tbi", fs::last_write_time(data));
  const std::string error = error_line([&] {
    auto r = VcfReader::open_if_vcf(data.string(), "study");
    r->restrict_to("1", 500, 800);
    positions(*r);
  });
  EXPECT_TRUE(error.ends_with("the file is truncated or damaged in the first record")) << error;
}

struct Range {
  const char* label;
  std::vector<std::string> contigs;  // of the records at 100, 200, ...
  const char* contig;                // restricted to
  long long from, to;
  std::vector<int> read;  // the positions read
  bool before, after;     // contig 1's records passed over without an index
  bool stops = false;     // records of both 1 and chr1 stop the run
};

class Ranges : public testing::TestWithParam<Range> {};

// The header names 1 and chr1, which are one contig to the program: a range
// reads the same records, its ends included, through an index and past the
// other records; without an index, those of the contig passed over on
// either side are noted. Records of both 1 and chr1 stop the run.
TEST_P(Ranges, ReadTheSameRecordsWithOrWithoutAnIndex) {
  const Range& c = GetParam();
  for (bool indexed : {true, false}) {
    const WorkFolder work("vcf_index_" + std::string(c.label) + std::to_string(indexed));
    const fs::path data = work.path() / "r.vcf.gz";
    write_vcf_gz(data, c.contigs, indexed);
    VcfReader::Outside outside;
    std::vector<int> read;
    const std::string error = error_line([&] {
      auto r = VcfReader::open_if_vcf(data.string(), "study");
      EXPECT_EQ(r->restrict_to(c.contig, c.from, c.to, &outside), indexed);
      read = positions(*r);
    });
    if (c.stops) {
      EXPECT_EQ(error,
                "Error: '" + data.string() +
                    "' holds records of contig 1 and of contig chr1, which are one contig "
                    "(a leading \"chr\" is ignored); an input must name each contig one way");
      continue;
    }
    EXPECT_EQ(error, "");
    EXPECT_EQ(read, c.read) << indexed;
    if (indexed) continue;
    EXPECT_EQ(std::pair(outside.before, outside.after), std::pair(c.before, c.after));
  }
}

const std::vector<std::string> kTen = {"1", "1", "1", "1", "1", "1", "1", "1", "1", "1", "chr2"};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Ends, Ranges, testing::Values(
    Range{"inner", kTen, "chr1", 200, 500, {200, 300, 400, 500}, true, true},
    Range{"between", kTen, "chr1", 201, 499, {300, 400}, true, true},
    Range{"first", kTen, "chr1", 100, 100, {100}, false, true},
    Range{"none_between", kTen, "chr1", 450, 450, {}, true, true},
    Range{"before_all", kTen, "chr1", 1, 99, {}, false, true},
    Range{"last", kTen, "chr1", 1000, 1LL << 40, {1000}, true, false},
    Range{"bare", {"1", "1"}, "1", 1, 1000000, {100, 200}, false, false},
    Range{"chr", {"chr1", "chr1"}, "1", 1, 1000000, {100, 200}, false, false},
    Range{"both", {"1", "chr1"}, "1", 1, 1000000, {}, false, false, true}),
    [](const testing::TestParamInfo<Range>& p) { return std::string(p.param.label); });
// clang-format on

}  // namespace
}  // namespace tessellar
