// VCF header and records. The sample fields are written straight into the
// output buffer from precomputed digits; the values are exactly those that
// printf's "%.3f" gives for the same doubles.
#include "output/vcf_format.h"

#include <cmath>
#include <cstdio>

namespace tessellar {

namespace {

constexpr int kDecimals = 3;
constexpr int kMaxThousandths = 2000;  // dosages go up to 2

// The most probable genotype (copies of ALT); the lower one on a tie.
int most_probable(double p0, double p1, double p2) {
  int best = 0;
  double top = p0;
  if (p1 > top) {
    best = 1;
    top = p1;
  }
  if (p2 > top) best = 2;
  return best;
}

const char* const kGenotype[3] = {"0/0", "0/1", "1/1"};

// GT:DS:GP of an observed code.
const char* observed_field(int code) {
  switch (code) {
    case 0:
      return "0/0:0:1,0,0";
    case 1:
      return "0/1:1:0,1,0";
    case 2:
      return "1/1:2:0,0,1";
    default:
      return "./.:.:.";
  }
}

}  // namespace

std::string joined_command_line(int argc, const char* const* argv) {
  std::string line;
  for (int a = 0; a < argc; ++a) {
    if (std::string_view(argv[a]) == "-threads" && a + 1 < argc) {
      ++a;  // the output is the same for every thread count
      continue;
    }
    if (a > 0) line += ' ';
    std::string word = argv[a];
    if (a == 0) word = word.substr(word.rfind('/') + 1);  // the program, without its folder
    if (!word.empty() && word.find_first_of(" \t\n'\"") == std::string::npos) {
      line += word;
      continue;
    }
    line += '\'';
    for (char c : word) {
      if (c == '\'') {
        line += "'\\''";
      } else if (c == '\n' || c == '\t') {
        line += ' ';  // a header line holds no line break or tab
      } else {
        line += c;
      }
    }
    line += '\'';
  }
  return line;
}

std::string vcf_header(const VcfHeaderInfo& info) {
  std::string h = "##fileformat=VCFv4.2\n";
  // Where htslib puts it, so that bcftools concat of region chunks keeps the header.
  h += "##FILTER=<ID=PASS,Description=\"All filters passed\">\n";
  h += "##source=Tessellar v1.0: " + info.command_line + "\n";
  for (const VcfContig& c : info.contigs) {
    h += "##contig=<ID=" + c.name;
    if (c.length > 0) h += ",length=" + std::to_string(c.length);
    h += ">\n";
  }
  h +=
      "##INFO=<ID=AF,Number=A,Type=Float,Description=\"Estimated ALT allele frequency: the mean "
      "dosage over the study samples, divided by 2\">\n"
      "##INFO=<ID=INFO,Number=1,Type=Float,Description=\"Imputation information measure: 1 - "
      "sum(f - e^2) / (2N theta (1 - theta)) with e = P(1) + 2 P(2), f = P(1) + 4 P(2) per sample, "
      "N samples, theta = sum(e) / 2N (observed genotypes count as certain); 1 when theta is 0 or "
      "1\">\n";
  if (info.hmm) {
    h += "##INFO=<ID=R2,Number=1,Type=Float,Description=\"Estimated dosage r2 of the imputed "
         "genotypes: the variance of their dosages over 2p(1 - p), p their mean dosage / 2, "
         "capped at 1 (observed genotypes take no part)\">\n";
  } else {
    h += "##INFO=<ID=TS,Number=1,Type=Float,Description=\"Score (0 to 1) of the tag set that "
         "imputed the SNP: the share of the variance of its allele count that the tag haplotypes "
         "explain in the panel's haplotypes\">\n"
         "##INFO=<ID=TAGS,Number=.,Type=String,Description=\"The tag SNPs that imputed the SNP, "
         "in position order (a position where a tag has no name)\">\n";
  }
  h += "##INFO=<ID=ER2,Number=1,Type=Float,Description=\"Leave-one-out check (-loo): squared "
       "correlation between the observed genotypes and the dosages of the SNP imputed as if "
       "untyped\">\n"
       "##INFO=<ID=IMP,Number=0,Type=Flag,Description=\"Some genotypes are imputed\">\n"
       "##INFO=<ID=TYPED,Number=0,Type=Flag,Description=\"Typed in the study\">\n"
       "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype: as observed, or the most "
       "probable genotype where imputed\">\n"
       "##FORMAT=<ID=DS,Number=A,Type=Float,Description=\"ALT allele dosage: P(1 copy) + 2 P(2 "
       "copies)\">\n"
       "##FORMAT=<ID=GP,Number=G,Type=Float,Description=\"Probabilities of 0, 1 and 2 ALT "
       "copies\">\n";
  h += "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
  for (const std::string& s : info.samples) h += "\t" + s;
  h += "\n";
  return h;
}

VcfFormat::VcfFormat() : thousandths_(kDecimals, kMaxThousandths) {}

void VcfFormat::append(const SnpRecord& r, std::string& out) const {
  // The fixed columns and INFO.
  bool imputed = false;
  for (int i = 0; i < r.nind && !imputed && r.prob[0] != nullptr; ++i) imputed = r.codes[i] == 9;
  char head[160];
  const int length = std::snprintf(head, sizeof head, "\t%d\t", r.pos);
  out += r.contig;
  out.append(head, static_cast<std::size_t>(length));
  if (r.name.empty()) {
    out += '.';
  } else {
    out += r.name;
  }
  int n =
      std::snprintf(head, sizeof head, "\t%c\t%c\t.\tPASS\tAF=%.4f", r.other(), r.counted(), r.af);
  out.append(head, static_cast<std::size_t>(n));
  if (!std::isnan(r.info) && !std::isnan(r.score)) {
    n = std::snprintf(head, sizeof head, ";INFO=%.4f;TS=%.4f", r.info, r.score);
    out.append(head, static_cast<std::size_t>(n));
    out += ";TAGS=";
    out += r.tags;
  } else if (!std::isnan(r.info)) {
    n = std::snprintf(head, sizeof head, ";INFO=%.4f", r.info);
    out.append(head, static_cast<std::size_t>(n));
  }
  if (!std::isnan(r.r2)) {
    n = std::snprintf(head, sizeof head, ";R2=%.4f", r.r2);
    out.append(head, static_cast<std::size_t>(n));
  }
  if (!std::isnan(r.er2)) {
    n = std::snprintf(head, sizeof head, ";ER2=%.4f", r.er2);
    out.append(head, static_cast<std::size_t>(n));
  }
  if (imputed) out += ";IMP";
  if (r.kind != SnpRecord::Kind::untyped) out += ";TYPED";
  out += "\tGT:DS:GP";

  // The sample fields, at most 32 bytes each, written in place.
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(r.nind) * 32 + 1);
  char* p = out.data() + start;
  for (int i = 0; i < r.nind; ++i) {
    *p++ = '\t';
    const int code = r.codes[i];
    if (code != 9 || r.prob[0] == nullptr) {
      for (const char* f = observed_field(code); *f != '\0'; ++f) *p++ = *f;
      continue;
    }
    const double p0 = r.prob[0][i];
    const double p1 = r.prob[1][i];
    const double p2 = r.prob[2][i];
    const char* gt = kGenotype[most_probable(p0, p1, p2)];
    *p++ = gt[0];
    *p++ = gt[1];
    *p++ = gt[2];
    *p++ = ':';
    thousandths_.append(p, thousandths_.units(p1 + 2 * p2));
    *p++ = ':';
    thousandths_.append(p, thousandths_.units(p0));
    *p++ = ',';
    thousandths_.append(p, thousandths_.units(p1));
    *p++ = ',';
    thousandths_.append(p, thousandths_.units(p2));
  }
  *p++ = '\n';
  out.resize(static_cast<std::size_t>(p - out.data()));
}

}  // namespace tessellar
