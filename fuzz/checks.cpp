// Checks of the readers' tables.
#include "checks.h"

#include <cmath>
#include <string_view>

#include "common.h"

namespace tsl_fuzz {

namespace {

bool is_base(char c) {
  return c == 'A' || c == 'C' || c == 'G' || c == 'T';
}

}  // namespace

void check_rows(const tessellar::GenotypeRows& rows, int members, RowsFrom from) {
  const bool text = from != RowsFrom::vcf;
  const auto n = static_cast<std::size_t>(rows.nsnp);
  expect(rows.nsnp > 0, "a table without rows came back");
  expect(rows.geno.members == members, "geno.members differs from the member count");
  expect(rows.name.size() == n && rows.pos.size() == n && rows.allele.size() == n &&
             rows.freq.size() == n && rows.miss.size() == n,
         "per-row vectors differ in size from nsnp");
  expect(rows.recode.size() == (from == RowsFrom::panel_text ? 0 : n),
         "recode vector of the wrong size");
  expect(rows.geno.codes.size() == n * static_cast<std::size_t>(members),
         "codes.size() != nsnp * members");
  for (std::size_t s = 0; s < n; ++s) {
    const int pos = rows.pos[s];
    if (text) {
      expect(pos > -300000000 && pos < 300000000, "text position out of range");
      expect(!rows.name[s].empty() && rows.name[s].size() <= 29, "SNP name length out of range");
    } else {
      expect(pos >= 0, "negative VCF position");
      expect(is_base(rows.allele[s][0]) && is_base(rows.allele[s][1]) &&
                 rows.allele[s][0] != rows.allele[s][1],
             "VCF alleles are not two different bases");
      expect(rows.name[s].find(';') == std::string::npos, "VCF ID keeps a ';'");
      expect(rows.recode[s] == 0, "VCF row with a recode flag");
    }
    expect(s == 0 || rows.pos[s - 1] <= pos, "positions decrease");
    int counted = 0;
    int sum = 0;
    for (int m = 0; m < members; ++m) {
      const int code = rows.geno.at(m, static_cast<int>(s));
      expect(code == 0 || code == 1 || code == 2 || code == 9, "genotype code outside 0, 1, 2, 9");
      if (code != 9) {
        ++counted;
        sum += code;
      }
    }
    const double miss = static_cast<double>(members - counted) / members;
    expect(rows.miss[s] == miss, "miss differs from the share of 9 codes");
    if (counted == 0) {
      expect(std::isnan(rows.freq[s]), "freq of a row without codes is not NaN");
    } else {
      expect(rows.freq[s] == sum / (2.0 * counted), "freq differs from the counted codes");
    }
  }
}

void check_haps(const tessellar::HapTable& haps) {
  const auto n = static_cast<std::size_t>(haps.nsnp);
  expect(haps.nsnp >= 0 && haps.ncol >= 0, "negative haplotype table sizes");
  expect(haps.name.size() == n, "haplotype names differ in number from nsnp");
  expect(haps.bits.size() == n * static_cast<std::size_t>(haps.ncol),
         "haplotype bits != nsnp * ncol");
  for (uint8_t b : haps.bits) expect(b <= 1, "haplotype value other than 0 or 1");
}

bool same_rows(const tessellar::GenotypeRows& a, const tessellar::GenotypeRows& b) {
  return a.nsnp == b.nsnp && a.name == b.name && a.pos == b.pos && a.recode == b.recode &&
         a.allele == b.allele && a.geno.members == b.geno.members && a.geno.codes == b.geno.codes;
}

bool same_haps(const tessellar::HapTable& a, const tessellar::HapTable& b) {
  return a.nsnp == b.nsnp && a.ncol == b.ncol && a.name == b.name && a.bits == b.bits;
}

}  // namespace tsl_fuzz
