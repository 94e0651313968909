// The VCF side of the inputs: which records take part, family layouts from
// a ped file, the union that pairs SNPs by alleles, and the haplotypes that a
// panel's phased genotypes give.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/alignment.h"
#include "input/inputs.h"
#include "input/ped.h"
#include "input/snp_union.h"
#include "input/vcf_reader.h"
#include "support.h"

namespace tessellar {
namespace {

using testing_support::error_line;
using testing_support::TempFile;

std::string vcf(const std::string& samples, const std::string& records) {
  return "##fileformat=VCFv4.2\n##contig=<ID=1>\n##FILTER=<ID=q10,Description=\"low\">\n"
         "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
         "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t" +
         samples + "\n" + records;
}

// Records of A/G at 100, 200, ... with the given sample columns.
std::string records(const std::vector<const char*>& gts) {
  std::string text;
  for (std::size_t i = 0; i < gts.size(); ++i)
    text += "1\t" + std::to_string(100 * (i + 1)) + "\trs" + std::to_string(i) +
            "\tA\tG\t.\tPASS\t.\tGT\t" + gts[i] + "\n";
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
    auto r = VcfReader::open_if_vcf(file.path(), c.reader == 0   ? "study"
                                                 : c.reader == 1 ? "panel"
                                                                 : "haplotype");
    if (c.reader == 0) {
      for (const StudyContig& sc : read_study_input(s, std::move(r)).contigs)
        add(codes, sc.table.geno.codes);
    } else if (c.reader == 1) {
      for (const PanelContig& pc : read_panel_input(s, std::move(r), true).contigs) {
        add(codes, pc.table.geno.codes);
        add(bits, pc.haps.bits);
      }
    } else {
      for (const HapContig& hc : read_haplotype_vcf(s, *r).contigs) add(bits, hc.haps.bits);
    }
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

struct Pairing {
  const char* label;
  std::vector<std::array<char, 2>> study;  // all at position 100
  std::vector<std::array<char, 2>> panel;
  std::vector<std::array<int, 2>> rows;  // study row, panel row of each union row
  std::vector<int> mismatched;
  std::vector<std::array<char, 2>> panel_after;  // the panel's letters afterwards
};

class UnionByAlleles : public testing::TestWithParam<Pairing> {};

TEST_P(UnionByAlleles, PairsTheSameVariant) {
  const Pairing& c = GetParam();
  StudyTable study;
  PanelTable panel;
  study.nsnp = static_cast<int>(c.study.size());
  panel.nsnp = static_cast<int>(c.panel.size());
  study.pos.assign(c.study.size(), 100);
  panel.pos.assign(c.panel.size(), 100);
  study.allele = c.study;
  panel.allele = c.panel;
  std::vector<int> mismatched;
  const SnpUnion u = build_union_by_alleles(study, panel, mismatched);
  std::vector<std::array<int, 2>> rows;
  for (int j = 0; j < u.n; ++j) rows.push_back({u.study_row[j], u.panel_row[j]});
  EXPECT_EQ(rows, c.rows);
  EXPECT_EQ(mismatched, c.mismatched);
  EXPECT_EQ(panel.allele, c.panel_after);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, UnionByAlleles, testing::Values(
    Pairing{"same", {{'A', 'G'}}, {{'A', 'G'}}, {{0, 0}}, {}, {{'A', 'G'}}},
    Pairing{"swapped", {{'A', 'G'}}, {{'G', 'A'}}, {{0, 0}}, {}, {{'G', 'A'}}},
    Pairing{"other_strand", {{'A', 'G'}}, {{'T', 'C'}}, {{0, 0}}, {}, {{'A', 'G'}}},
    Pairing{"other_strand_swapped", {{'A', 'G'}}, {{'C', 'T'}}, {{0, 0}}, {}, {{'G', 'A'}}},
    Pairing{"ambiguous_kept_as_swapped", {{'A', 'T'}}, {{'T', 'A'}}, {{0, 0}}, {}, {{'T', 'A'}}},
    Pairing{"another_variant", {{'A', 'G'}}, {{'A', 'C'}}, {{0, -1}}, {0}, {{'A', 'C'}}},
    Pairing{"second_record_pairs", {{'A', 'G'}}, {{'A', 'C'}, {'A', 'G'}}, {{0, 1}}, {0}, {{'A', 'C'}, {'A', 'G'}}},
    Pairing{"one_letter_crosswise", {{'A', 'G'}}, {{'C', 'A'}}, {{0, -1}}, {0}, {{'C', 'A'}}},
    Pairing{"other_letter_crosswise", {{'A', 'G'}}, {{'G', 'C'}}, {{0, -1}}, {0}, {{'G', 'C'}}},
    Pairing{"two_study_records", {{'A', 'C'}, {'A', 'G'}}, {{'A', 'G'}}, {{0, -1}, {1, 0}}, {}, {{'A', 'G'}}}),
    [](const testing::TestParamInfo<Pairing>& p) { return std::string(p.param.label); });
// clang-format on

// Haplotype rows of a VCF file tie to panel rows by position and alleles,
// counting the panel's ALT; after the alignment they follow the panel's
// flips, so that they count what its codes count.
TEST(VcfHaplotypes, CountThePanelsAltThenWhatItsCodesCount) {
  PanelTable panel;
  panel.nsnp = 3;
  panel.ncol = panel.geno.members = 1;
  panel.geno.codes = {0, 1, 2};
  panel.pos = {100, 200, 300};
  panel.allele = {{'A', 'G'}, {'C', 'T'}, {'G', 'T'}};
  HapTable file{.ncol = 2, .nsnp = 3, .name = {"h1", "h2", "h3"}, .bits = {0, 1, 1, 1, 0, 0}};
  std::vector<int> hap_of_row;
  std::vector<bool> taken;
  // 100 A/G: same; 200 T/C: swapped, bits inverted; 300 G/A: another variant
  HapTable haps = haplotypes_by_position(panel, file, {100, 200, 300},
                                         {{'A', 'G'}, {'T', 'C'}, {'G', 'A'}}, hap_of_row, taken);
  EXPECT_EQ(hap_of_row, (std::vector<int>{0, 1, -1}));
  EXPECT_EQ(taken, (std::vector<bool>{true, true, false}));
  EXPECT_EQ(haps.bits, (std::vector<uint8_t>{0, 1, 0, 0}));
  flip(panel, 1);
  align_haplotypes(haps, panel, hap_of_row);
  EXPECT_EQ(haps.bits, (std::vector<uint8_t>{0, 1, 1, 1}));
}

// A panel's phased genotypes give the haplotypes of its parents and
// singletons; a record unphased or missing for one of them gives none.
TEST(PanelHaplotypes, ComeFromPhasedGenotypes) {
  TempFile ped("f C M F 0 -9\n");
  TempFile file(vcf("M\tF\tC\tU",
                    records({"0|1\t1|1\t0/1\t1|0", "0/1\t1|1\t0|1\t1|0", "0|1\t1|1\t./.\t.|0"})));
  Settings s;
  s.ped = ped.path();
  PanelInput in;
  EXPECT_EQ(error_line([&] {
              in = read_panel_input(s, VcfReader::open_if_vcf(file.path(), "panel"), true);
            }),
            "");
  ASSERT_EQ(in.contigs.size(), 1u);
  const PanelContig& c = in.contigs[0];
  EXPECT_EQ(std::vector<int>({in.nTR, in.nDU, in.nUN}), std::vector<int>({1, 0, 1}));
  EXPECT_EQ(c.hap_of_row, (std::vector<int>{0, -1, -1}));  // rs2: M unphased; rs3: U missing
  EXPECT_EQ(c.haps.bits, (std::vector<uint8_t>{0, 1, 1, 1, 1, 0}));  // M, F, then U
  EXPECT_EQ(c.table.geno.codes, (std::vector<int8_t>{1, 2, 1, 1, 1, 2, 1, 1, 1, 2, 9, 9}));
}

}  // namespace
}  // namespace tessellar
