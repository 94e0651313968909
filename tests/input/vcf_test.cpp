// The VCF side of the inputs: which records take part, GT calls of every
// shape, family layouts from a ped file; a contig's range read through an
// index that fits the file, or past the other records, never through an
// index older than the file. An index of another file, a damaged file and a
// contig named two ways stop the run with a message that says which.
#include <gtest/gtest.h>
#include <htslib/bgzf.h>
#include <htslib/tbx.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "input/inputs.h"
#include "input/ped.h"
#include "input/vcf_reader.h"
#include "support.h"
#include "work_folder.h"

namespace tessellar {
namespace {

namespace fs = std::filesystem;
using testing_support::error_line;
using testing_support::TempFile;
using testing_support::WorkFolder;

std::string vcf(const std::string& samples, const std::string& records) {
  return "##fileformat=VCFv4.2\n##contig=<ID=1>\n##contig=<ID=chr1>\n##contig=<ID=chr2>\n"
         "##FILTER=<ID=q10,Description=\"low\">\n"
         "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
         "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t" +
         samples + "\n" + records;
}

// Records of A/G at 100, 200, ...: of contig 1 with the given sample
// columns, or of the given contigs with one sample 0/1.
std::string records(const std::vector<const char*>& gts,
                    const std::vector<std::string>& contigs = {}) {
  std::string text;
  for (std::size_t i = 0; i < std::max(gts.size(), contigs.size()); ++i)
    text += (contigs.empty() ? "1" : contigs[i]) + "\t" + std::to_string(100 * (i + 1)) + "\trs" +
            std::to_string(i) + "\tA\tG\t.\tPASS\t.\tGT\t" + (gts.empty() ? "0/1" : gts[i]) + "\n";
  return text;
}

struct Classified {
  const char *ref, *alt, *filter;
  int reason;  // -1: usable, else the SkipReason
};

class Records : public testing::TestWithParam<Classified> {};

TEST_P(Records, TakePartWhenBiallelicSnpsThatPass) {
  const Classified& c = GetParam();
  TempFile file(vcf("S", std::string("1\t100\trs1\t") + c.ref + "\t" + c.alt + "\t.\t" + c.filter +
                             "\t.\tGT\t0/1\n"));
  auto r = VcfReader::open_if_vcf(file.path(), "study");
  ASSERT_TRUE(r != nullptr && r->next());
  EXPECT_EQ(r->usable() ? -1 : static_cast<int>(r->skip_reason()), c.reason);
  if (c.reason >= 0) return;
  EXPECT_EQ(std::string({r->ref(), r->alt()}), "AG");
}

// clang-format off
constexpr int kMulti = static_cast<int>(SkipReason::multiallelic), kSymbolic = static_cast<int>(SkipReason::symbolic);
constexpr int kIndel = static_cast<int>(SkipReason::indel), kFilter = static_cast<int>(SkipReason::filter);
INSTANTIATE_TEST_SUITE_P(Kinds, Records, testing::Values(
    Classified{"A", "G", "PASS", -1}, Classified{"a", "g", ".", -1}, Classified{"A", "G,T", "PASS", kMulti},
    Classified{"A", "<DEL>", "PASS", kSymbolic}, Classified{"A", ".", "PASS", kSymbolic},
    Classified{"A", "*", "PASS", kSymbolic}, Classified{"N", "A", "PASS", kSymbolic},
    Classified{"A", "A", "PASS", kSymbolic}, Classified{"A", "AT", "PASS", kIndel},
    Classified{"AT", "A", "PASS", kIndel}, Classified{"A", "G", "q10", kFilter}));
// clang-format on

// GT of two samples, A and B, in records at positions 100, 200, ...: the
// first record's GT array is exactly as long as its longest call needs, so
// that a reader looking past a sample's alleles reads past the array (which
// the sanitizer preset reports).
struct Calls {
  const char* label;
  int reader;                    // 0: study, 1: panel with its own haplotypes, 2: haplotype file
  std::vector<const char*> gts;  // "A's GT\tB's GT" per record
  std::vector<int> codes;        // study or panel codes, record by record
  std::vector<int> bits;         // haplotype values, row by row
  const char* error = nullptr;   // the end of the error line, when the reader stops
};

class GtCalls : public testing::TestWithParam<Calls> {};

TEST_P(GtCalls, AreReadWithinTheirAlleles) {
  const Calls& c = GetParam();
  TempFile file(vcf("A\tB", records(c.gts)));
  Settings s;
  s.has_region = true;  // a file without any row is not an error here
  std::vector<int> codes, bits;
  auto add = [](std::vector<int>& to, const auto& from) {
    to.insert(to.end(), from.begin(), from.end());
  };
  const std::string error = error_line([&] {
    auto r =
        VcfReader::open_if_vcf(file.path(), std::array{"study", "panel", "haplotype"}[c.reader]);
    if (c.reader == 0)
      for (const StudyContig& sc : read_study_input(s, std::move(r)).contigs)
        add(codes, sc.table.geno.codes);
    if (c.reader == 1)
      for (const PanelContig& pc : read_panel_input(s, std::move(r), true).contigs)
        add(codes, pc.table.geno.codes), add(bits, pc.haps.bits);
    if (c.reader == 2)
      for (const HapContig& hc : read_haplotype_vcf(s, *r).contigs) add(bits, hc.haps.bits);
  });
  EXPECT_TRUE(c.error ? error.ends_with(c.error) : error.empty()) << error;
  if (c.error != nullptr) return;
  EXPECT_EQ(std::pair(codes, bits), std::pair(c.codes, c.bits));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Shapes, GtCalls, testing::Values(
    Calls{"study_coded_by_alt", 0, {"0/0\t0|1", "1/1\t./.", "1/.\t1|0"}, {0, 1, 2, 9, 9, 1}, {}},
    Calls{"study_bare_missing", 0, {".\t."}, {9, 9}, {}},
    Calls{"study_bare_missing_beside_diploid", 0, {"0/1\t."}, {1, 9}, {}},
    Calls{"study_haploid", 0, {"0\t1"}, {}, {}, "GT of sample A is not diploid"},
    Calls{"study_triploid_second", 0, {"0/1\t0/1/1"}, {}, {}, "GT of sample B is not diploid"},
    Calls{"panel_bare_missing", 1, {".\t."}, {9, 9}, {}},
    Calls{"panel_bare_missing_beside_phased", 1, {"0|1\t.", "1|1\t0|1"}, {1, 9, 2, 1}, {1, 1, 0, 1}},
    Calls{"panel_unphased_second", 1, {"0|1\t0/1", "1|1\t1|0"}, {1, 1, 2, 1}, {1, 1, 1, 0}},
    Calls{"panel_half_missing", 1, {"0|1\t1|.", ".|0\t1|1", "0|0\t0|1"}, {1, 9, 9, 2, 0, 1}, {0, 0, 0, 1}},
    Calls{"panel_haploid", 1, {"1\t0"}, {}, {}, "GT of sample A is not diploid"},
    Calls{"haplotypes_haploid", 2, {"0\t1", "1\t1"}, {}, {0, 1, 1, 1}},
    Calls{"haplotypes_bare_missing", 2, {".\t."}, {}, {}},
    Calls{"haplotypes_bare_missing_first", 2, {".\t0|1", "1\t1|0", "0\t."}, {}, {1, 1, 0}},
    Calls{"haplotypes_triploid", 2, {"0|1\t0|1|1"}, {}, {}, "GT of sample B is neither haploid nor diploid"},
    Calls{"haplotypes_ploidy_changes", 2, {".\t0|1", "0\t0|1", "0|1\t0|1"}, {}, {},
          "sample A has a diploid GT here, a haploid one in an earlier record"}),
    [](const testing::TestParamInfo<Calls>& p) { return std::string(p.param.label); });
// clang-format on

struct PedCase {
  const char* ped;
  std::vector<int> columns;  // sample of each panel column
  std::vector<int> units;    // trios, duos, singletons
  const char* haplotypes;    // column and allele of each haplotype
};

class Ped : public testing::TestWithParam<PedCase> {};

// Samples M F C D X P K: a trio (M, F -> C), a duo with the father known
// (D -> X) and one with the mother known (P -> K) are ordered by their
// children; parents outside the panel count as unknown.
TEST_P(Ped, GivesTheFamilyUnits) {
  const PedCase& c = GetParam();
  TempFile file(c.ped);
  const FamilyLayout l = read_ped(file.path(), {"M", "F", "C", "D", "X", "P", "K"});
  EXPECT_EQ(l.sample_of_column, c.columns);
  EXPECT_EQ(std::vector<int>({l.nTR, l.nDU, l.nUN}), c.units);
  std::string haplotypes;
  for (const HapSource& h : l.haplotypes)
    haplotypes += std::to_string(h.column) + std::to_string(h.allele) + " ";
  EXPECT_EQ(haplotypes, c.haplotypes);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Layouts, Ped, testing::Values(
    // trio parents; duo D -> X: X's maternal allele; duo P -> K (mother): K's paternal
    PedCase{"f P 0 0 2 -9\nf K 0 P 0 -9\nf C M F 1 -9\nf X D OUTSIDER 1 -9\n", {0, 1, 2, 3, 4, 5, 6}, {1, 2, 0},
            "00 01 10 11 30 31 41 50 51 60 "},
    PedCase{"f M 0 0 1 -9\n", {0, 1, 2, 3, 4, 5, 6}, {0, 0, 7}, "00 01 10 11 20 21 30 31 40 41 50 51 60 61 "}));
// clang-format on

const fs::path kExamples = fs::path(TESSELLAR_SOURCE_DIR) / "examples";

// The positions of the records that reader reads.
std::vector<int> positions(VcfReader& r) {
  std::vector<int> pos;
  while (r.next()) pos.push_back(r.pos());
  return pos;
}

// Another file's index, made for the same contig names.
TEST(Index, OfAnotherFileIsNamedAsSuch) {
  const WorkFolder work("vcf_index_foreign");
  const fs::path data = work.path() / "study.vcf.gz";
  fs::copy_file(kExamples / "study.vcf.gz", data);
  fs::copy_file(kExamples / "panel.vcf.gz.tbi", work.path() / "study.vcf.gz.tbi");
  const std::string error = error_line([&] {
    auto r = VcfReader::open_if_vcf(data.string(), "study");
    r->restrict_to("1", 1000000, 1600000);
    positions(*r);
  });
  EXPECT_EQ(error, "Error: '" + data.string() + "': its index '" + data.string() +
                       ".tbi' does not fit it (an index of another file, or of an earlier "
                       "version of it); make the index again");
}

// Writes a bgzipped VCF of records at 100, 200, ... of the given contigs
// whose header and records are BGZF blocks of their own, indexed by tabix
// when indexed.
void write_vcf_gz(const fs::path& path, const std::vector<std::string>& contigs, bool indexed) {
  const std::string header = vcf("S", ""), body = records({}, contigs);
  BGZF* f = bgzf_open(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(bgzf_write(f, header.data(), header.size()), static_cast<ssize_t>(header.size()));
  ASSERT_EQ(bgzf_flush(f), 0);
  ASSERT_EQ(bgzf_write(f, body.data(), body.size()), static_cast<ssize_t>(body.size()));
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
  int age = 0;            // seconds by which the index was made after the file
  bool stops = false;     // records of both 1 and chr1 stop the run
};

class Ranges : public testing::TestWithParam<Range> {};

// The header names 1 and chr1, which are one contig to the program: a range
// reads the same records, its ends included, through an index and past the
// other records; without an index, those of the contig passed over on
// either side are noted. An index made before its file may miss records
// written since: it is not used. Records of both 1 and chr1 stop the run.
TEST_P(Ranges, ReadTheSameRecordsWithOrWithoutAnIndex) {
  const Range& c = GetParam();
  for (bool indexed : {true, false}) {
    const WorkFolder work("vcf_index_" + std::string(c.label) + std::to_string(indexed));
    const fs::path data = work.path() / "r.vcf.gz";
    write_vcf_gz(data, c.contigs, indexed);
    if (indexed)
      fs::last_write_time(data.string() + ".tbi",
                          fs::last_write_time(data) + std::chrono::seconds(c.age));
    const bool used = indexed && c.age >= 0;
    VcfReader::Outside outside;
    std::vector<int> read;
    const std::string error = error_line([&] {
      auto r = VcfReader::open_if_vcf(data.string(), "study");
      EXPECT_EQ(r->restrict_to(c.contig, c.from, c.to, &outside), used);
      EXPECT_EQ(r->stale_index(), indexed && !used ? data.string() + ".tbi" : "");
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
    if (used) continue;
    EXPECT_EQ(std::pair(outside.before, outside.after), std::pair(c.before, c.after));
  }
}

const std::vector<std::string> kTen = {"1", "1", "1", "1", "1", "1", "1", "1", "1", "1", "chr2"};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Ends, Ranges, testing::Values(
    Range{"inner", kTen, "chr1", 200, 500, {200, 300, 400, 500}, true, true},
    Range{"stale_index", kTen, "chr1", 200, 500, {200, 300, 400, 500}, true, true, -1},
    Range{"index_of_late", kTen, "chr1", 200, 500, {200, 300, 400, 500}, true, true, 3600},
    Range{"between", kTen, "chr1", 201, 499, {300, 400}, true, true},
    Range{"first", kTen, "chr1", 100, 100, {100}, false, true},
    Range{"none_between", kTen, "chr1", 450, 450, {}, true, true},
    Range{"before_all", kTen, "chr1", 1, 99, {}, false, true},
    Range{"last", kTen, "chr1", 1000, 1LL << 40, {1000}, true, false},
    Range{"bare", {"1", "1"}, "1", 1, 1000000, {100, 200}, false, false},
    Range{"chr", {"chr1", "chr1"}, "1", 1, 1000000, {100, 200}, false, false},
    Range{"both", {"1", "chr1"}, "1", 1, 1000000, {}, false, false, 0, true}),
    [](const testing::TestParamInfo<Range>& p) { return std::string(p.param.label); });
// clang-format on

}  // namespace
}  // namespace tessellar
