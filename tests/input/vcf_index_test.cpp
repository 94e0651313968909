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

const fs::path kExamples = fs::path(TESSELLAR_SOURCE_DIR) / "examples";

// The positions of the records that reader reads.
std::vector<int> positions(VcfReader& r) {
  std::vector<int> pos;
  while (r.next()) pos.push_back(r.pos());
  return pos;
}

// The positions of the records of the example study from 1,200,000 to 1,400,000.
std::vector<int> example_range() {
  auto whole = VcfReader::open_if_vcf((kExamples / "study.vcf.gz").string(), "study");
  std::vector<int> pos;
  for (int p : positions(*whole))
    if (p >= 1200000 && p <= 1400000) pos.push_back(p);
  return pos;
}

class IndexAge : public testing::TestWithParam<int> {};

// GetParam(): seconds by which the index was made after its file (less
// than 0: before, so that it may miss records written since).
TEST_P(IndexAge, DecidesWhetherTheIndexIsUsed) {
  const testing_support::WorkFolder work(std::string("vcf_index_") + "age" +
                                         std::to_string(GetParam()));
  const fs::path& w = work.path();
  const fs::path data = w / "study.vcf.gz";
  const fs::path index = w / "study.vcf.gz.tbi";
  fs::copy_file(kExamples / "study.vcf.gz", data);
  fs::copy_file(kExamples / "study.vcf.gz.tbi", index);
  fs::last_write_time(index, fs::last_write_time(data) + std::chrono::seconds(GetParam()));
  auto r = VcfReader::open_if_vcf(data.string(), "study");
  const bool older = GetParam() < 0;
  EXPECT_EQ(r->restrict_to("1", 1200000, 1400000), !older);
  EXPECT_EQ(r->stale_index(), older ? index.string() : "");
  EXPECT_EQ(positions(*r), example_range());
}

INSTANTIATE_TEST_SUITE_P(Seconds, IndexAge, testing::Values(-3600, -1, 0, 1, 3600));

// Writes a bgzipped VCF whose header and records are BGZF blocks of their
// own, indexed by tabix when indexed.
void write_vcf_gz(const fs::path& path, const std::string& header, const std::string& records,
                  bool indexed) {
  BGZF* f = bgzf_open(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(bgzf_write(f, header.data(), header.size()), static_cast<ssize_t>(header.size()));
  ASSERT_EQ(bgzf_flush(f), 0);
  ASSERT_EQ(bgzf_write(f, records.data(), records.size()), static_cast<ssize_t>(records.size()));
  ASSERT_EQ(bgzf_close(f), 0);
  if (indexed) {
    ASSERT_EQ(tbx_index_build(path.c_str(), 0, &tbx_conf_vcf), 0);
  }
}

const std::string kHeader =
    "##fileformat=VCFv4.2\n##contig=<ID=1>\n##contig=<ID=chr1>\n##contig=<ID=chr2>\n"
    "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
    "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tS\n";

std::string record(const char* contig, int pos) {
  return std::string(contig) + "\t" + std::to_string(pos) + "\trs" + std::to_string(pos) +
         "\tA\tG\t.\tPASS\t.\tGT\t0/1\n";
}

// Another file's index, made for the same contig names.
TEST(Index, OfAnotherFileIsNamedAsSuch) {
  const testing_support::WorkFolder work(std::string("vcf_index_") + "foreign");
  const fs::path& w = work.path();
  const fs::path data = w / "study.vcf.gz";
  fs::copy_file(kExamples / "study.vcf.gz", data);
  fs::copy_file(kExamples / "panel.vcf.gz.tbi", w / "study.vcf.gz.tbi");
  const std::string error = error_line([&] {
    auto r = VcfReader::open_if_vcf(data.string(), "study");
    r->restrict_to("1", 1000000, 1600000);
    positions(*r);
  });
  EXPECT_EQ(error, "Error: '" + data.string() + "': its index '" + data.string() +
                       ".tbi' does not fit it (an index of another file, or of an earlier "
                       "version of it); make the index again");
}

// A file damaged where the index leads is reported as damaged, with the
// line where its reading in order fails.
TEST(Index, OfADamagedFileLeavesTheDamageToBeTold) {
  const testing_support::WorkFolder work(std::string("vcf_index_") + "damaged");
  const fs::path& w = work.path();
  const fs::path data = w / "d.vcf.gz";
  std::string records;
  for (int p = 100; p <= 2000; p += 100) records += record("1", p);
  write_vcf_gz(data, kHeader, records, true);
  std::string bytes;
  {
    std::ifstream in(data, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::size_t second_block = bytes.find("\x1f\x8b\x08\x04", 4);
  ASSERT_NE(second_block, std::string::npos);
  bytes[second_block + 30] = static_cast<char>(bytes[second_block + 30] ^ 0x55);
  std::ofstream(data, std::ios::binary | std::ios::trunc) << bytes;
  fs::last_write_time(w / "d.vcf.gz.tbi", fs::last_write_time(data));
  const std::string error = error_line([&] {
    auto r = VcfReader::open_if_vcf(data.string(), "study");
    r->restrict_to("1", 500, 800);
    positions(*r);
  });
  EXPECT_TRUE(error.ends_with("the file is truncated or damaged in the first record")) << error;
}

struct Range {
  long long from, to;
};

class Ranges : public testing::TestWithParam<Range> {};

// Records at 100, 200, ..., 1000 of contig 1 (and one of chr2): a range
// reads the same records, its ends included, through an index and past the
// other records; without an index, those of contig 1 passed over on either
// side are noted.
TEST_P(Ranges, ReadTheSameRecordsWithOrWithoutAnIndex) {
  const Range& range = GetParam();
  std::vector<int> expected;
  std::string records;
  for (int p = 100; p <= 1000; p += 100) {
    records += record("1", p);
    if (p >= range.from && p <= range.to) expected.push_back(p);
  }
  records += record("chr2", 50);
  for (bool indexed : {true, false}) {
    const testing_support::WorkFolder work(std::string("vcf_index_") + "range_" +
                                           std::to_string(range.from) + "_" +
                                           std::to_string(indexed));
    const fs::path& w = work.path();
    const fs::path data = w / "r.vcf.gz";
    write_vcf_gz(data, kHeader, records, indexed);
    auto r = VcfReader::open_if_vcf(data.string(), "study");
    VcfReader::Outside outside;
    EXPECT_EQ(r->restrict_to("chr1", range.from, range.to, &outside), indexed);
    EXPECT_EQ(positions(*r), expected) << indexed;
    if (!indexed) {
      EXPECT_EQ(outside.before, range.from > 100);
      EXPECT_EQ(outside.after, range.to < 1000);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Ends, Ranges,
                         testing::Values(Range{200, 500}, Range{201, 499}, Range{100, 100},
                                         Range{1, 99}, Range{1000, 1LL << 40}, Range{450, 450}));

struct Names {
  const char* label;
  std::vector<const char*> contigs;  // of the records, at positions 100, 200, ...
  bool indexed;
  int read;  // records read of contig 1 (as "1" or "chr1"); -1: the run stops
};

class ContigNames : public testing::TestWithParam<Names> {};

// The header names 1 and chr1, which are one contig to the program: the
// records of either are read, but records of both stop the run.
TEST_P(ContigNames, AreOneContigWithOrWithoutChr) {
  const Names& c = GetParam();
  const testing_support::WorkFolder work(std::string("vcf_index_") + c.label);
  const fs::path& w = work.path();
  const fs::path data = w / "n.vcf.gz";
  std::string records;
  int pos = 0;
  for (const char* contig : c.contigs) records += record(contig, pos += 100);
  write_vcf_gz(data, kHeader, records, c.indexed);
  int read = -1;
  const std::string error = error_line([&] {
    auto r = VcfReader::open_if_vcf(data.string(), "panel");
    EXPECT_EQ(r->restrict_to("1", 1, 1000000), c.indexed);
    read = static_cast<int>(positions(*r).size());
  });
  if (c.read < 0) {
    EXPECT_EQ(error, "Error: '" + data.string() +
                         "' holds records of contig 1 and of contig chr1, which are one contig (a "
                         "leading \"chr\" is ignored); an input must name each contig one way");
  } else {
    EXPECT_EQ(error, "");
    EXPECT_EQ(read, c.read);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ContigNames,
                         testing::Values(Names{"bare", {"1", "1"}, true, 2},
                                         Names{"chr", {"chr1", "chr1"}, true, 2},
                                         Names{"chr_unindexed", {"chr1", "chr1"}, false, 2},
                                         Names{"both", {"1", "chr1"}, true, -1},
                                         Names{"both_unindexed", {"1", "chr1"}, false, -1}),
                         [](const testing::TestParamInfo<Names>& p) {
                           return std::string(p.param.label);
                         });

}  // namespace
}  // namespace tessellar
