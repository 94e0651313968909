// The per-site figures on hand-worked cases, the three-decimal fields of the
// VCF output against printf, and one VCF record written out in full.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "output/fixed_point.h"
#include "output/quality.h"
#include "output/vcf_format.h"
#include "support.h"

namespace tessellar {
namespace {

// A record of n individuals, all imputed with the same probabilities.
struct Imputed {
  std::vector<int8_t> codes;
  std::vector<double> p0, p1, p2;
  SnpRecord record;
  Imputed(std::vector<int8_t> observed, double q0, double q1, double q2)
      : codes(std::move(observed)),
        p0(codes.size(), q0),
        p1(codes.size(), q1),
        p2(codes.size(), q2) {
    record.kind = SnpRecord::Kind::untyped;
    record.nind = static_cast<int>(codes.size());
    record.codes = codes.data();
    record.prob = {p0.data(), p1.data(), p2.data()};
  }
};

struct InfoCase {
  const char* label;
  std::vector<int8_t> codes;  // 9: imputed with the probabilities below
  double p0, p1, p2;
  double af, info;
};

class Info : public testing::TestWithParam<InfoCase> {};

TEST_P(Info, IsTheImputeMeasure) {
  const InfoCase& c = GetParam();
  Imputed r(c.codes, c.p0, c.p1, c.p2);
  const DosageFigures f = dosage_figures(r.record);
  EXPECT_NEAR(f.af, c.af, 1e-12);
  EXPECT_NEAR(f.info, c.info, 1e-12);
}

// At the prior of frequency 0.3 every individual gets (0.49, 0.42, 0.09):
// INFO 0. Certain genotypes: 1. A monomorphic estimate: 1 by convention.
// Mixed: two observed (0 and 2) and two imputed (0.5, 0.5, 0): e = 0.5, f =
// 0.5, theta = 3 / 8, sum (f - e^2) = 2 (0.25), INFO = 1 - 0.5 / (8 * 15 / 64).
INSTANTIATE_TEST_SUITE_P(
    HandWorked, Info,
    testing::Values(
        InfoCase{"prior", {9, 9, 9, 9}, 0.49, 0.42, 0.09, 0.3, 0.0},
        InfoCase{"certain", {9, 9}, 0.0, 0.0, 1.0, 1.0, 1.0},
        InfoCase{"observed", {0, 1, 2, 2}, 0, 0, 0, 0.625, 1.0},
        InfoCase{"monomorphic", {9, 9, 9}, 1.0, 0.0, 0.0, 0.0, 1.0},
        InfoCase{"mixed", {0, 2, 9, 9}, 0.5, 0.5, 0.0, 0.375, 1 - 0.5 / (8.0 * 15.0 / 64.0)}),
    [](const testing::TestParamInfo<InfoCase>& p) { return std::string(p.param.label); });

TEST(EmpiricalR2, OfHandWorkedDosages) {
  const std::vector<int8_t> observed = {0, 1, 2, 9, 1};
  // Dosages equal to the genotypes: 1, whatever the missing one holds.
  std::vector<double> p0 = {1, 0, 0, 0.2, 0}, p1 = {0, 1, 0, 0.3, 1}, p2 = {0, 0, 1, 0.5, 0};
  EXPECT_DOUBLE_EQ(empirical_r2(observed.data(), {p0.data(), p1.data(), p2.data()}, 5), 1.0);
  // A constant dosage has no variance: 0.
  std::vector<double> c0(5, 0.25), c1(5, 0.5), c2(5, 0.25);
  EXPECT_EQ(empirical_r2(observed.data(), {c0.data(), c1.data(), c2.data()}, 5), 0.0);
  // Dosages 0, 0, 2, 2 against genotypes 0, 1, 2, 1: r = 2 / sqrt(2 * 4).
  const std::vector<int8_t> g = {0, 1, 2, 1};
  std::vector<double> d0 = {1, 1, 0, 0}, d1 = {0, 0, 0, 0}, d2 = {0, 0, 1, 1};
  EXPECT_DOUBLE_EQ(empirical_r2(g.data(), {d0.data(), d1.data(), d2.data()}, 4), 0.5);
}

TEST(LooSummary, BinsByMinorAlleleFrequency) {
  LooSummary s;
  for (double maf : {0.0099, 0.01, 0.0499, 0.05, 0.1999, 0.2, 0.5}) s.add(maf, 1.0, 0.5);
  bool stopped = false;
  const std::string out = testing_support::printed([&] { s.print(); }, &stopped);
  EXPECT_NE(out.find("7 typed SNPs"), std::string::npos) << out;
  EXPECT_NE(out.find("< 1 %            1     1.0000     0.5000"), std::string::npos) << out;
  EXPECT_NE(out.find("1 - 5 %          2"), std::string::npos) << out;
  EXPECT_NE(out.find("5 - 20 %         2"), std::string::npos) << out;
  EXPECT_NE(out.find("20 - 50 %        2"), std::string::npos) << out;
}

// Thousandths from 0 to 2 as printf's "%.3f" writes them: at random and on
// both sides of every rounding boundary.
TEST(FixedPoint, MatchesPrintf) {
  const FixedPoint table(3, 2000);
  std::vector<double> values = {0.0, 2.0, 1.0};
  for (int k = 0; k < 2000; ++k) {
    double x = (k + 0.5) / 1000.0;
    for (int step = 0; step < 3; ++step, x = std::nextafter(x, 3.0)) {
      values.push_back(x);
      values.push_back(std::nextafter(x, 0.0));
    }
  }
  std::mt19937_64 random(11);
  for (int i = 0; i < 100000; ++i) values.push_back(std::uniform_real_distribution<>(0, 2)(random));
  for (double x : values) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "%.3f", x);
    char field[32];
    char* end = field;
    table.append(end, table.units(x));
    ASSERT_EQ(std::string(field, end), expected) << std::hexfloat << x;
  }
}

// One record: ALT the counted allele, INFO fields, observed genotypes as
// observed, imputed ones as the most probable genotype, dosage and GP.
TEST(VcfRecord, IsWrittenInFull) {
  std::vector<int8_t> codes = {1, 9, 9};
  std::vector<double> p0 = {0, 0.1114, 0.5}, p1 = {0, 0.5731, 0.5}, p2 = {0, 0.3155, 0};
  SnpRecord r;
  r.kind = SnpRecord::Kind::typed;
  r.contig = "chr20";
  r.name = "rs7";
  r.pos = 1234;
  r.letters = {'C', 'T'};
  r.nind = 3;
  r.codes = codes.data();
  r.prob = {p0.data(), p1.data(), p2.data()};
  r.af = 0.4;
  r.info = 0.25;
  r.score = 0.5;
  r.tags = "rs1,rs2";
  std::string out;
  VcfFormat().append(r, out);
  EXPECT_EQ(out,
            "chr20\t1234\trs7\tC\tT\t.\tPASS\tAF=0.4000;INFO=0.2500;TS=0.5000;TAGS=rs1,rs2;IMP;"
            "TYPED\tGT:DS:GP\t0/1:1:0,1,0\t0/1:1.204:0.111,0.573,0.316\t0/0:0.500:0.500,0.500,0."
            "000\n");
  r.first_counted = true;  // the codes count C: C is ALT
  r.kind = SnpRecord::Kind::untyped;
  out.clear();
  VcfFormat().append(r, out);
  EXPECT_EQ(out.substr(0, 36), "chr20\t1234\trs7\tT\tC\t.\tPASS\tAF=0.4000;");
  EXPECT_EQ(out.find("TYPED"), std::string::npos);
}

}  // namespace
}  // namespace tessellar
