// The VCF output format: the header, and one record per SNP with the
// counted allele as ALT, INFO AF, IMP and TYPED (INFO, TS and TAGS or R2
// where imputed, ER2 when checked), and FORMAT GT:DS:GP per
// study individual (observed genotypes as observed, imputed ones as their
// most probable genotype, dosage and probabilities with three decimals).
#pragma once

#include <string>
#include <vector>

#include "output/fixed_point.h"
#include "output/records.h"

namespace tessellar {

// A contig of the header: its name and its length (0 when unknown).
struct VcfContig {
  std::string name;
  long long length = 0;
};

// What the header says besides the fixed definitions.
struct VcfHeaderInfo {
  std::string command_line;          // the full command line, for ##source
  std::vector<VcfContig> contigs;    // one ##contig line each, in this order
  std::vector<std::string> samples;  // the study individuals, in study order
  bool hmm = false;                  // the hmm engine's records: R2 rather than TS and TAGS
};

// The header text, from ##fileformat to the #CHROM line, with line breaks.
std::string vcf_header(const VcfHeaderInfo& info);

// The command line as one text: the program's name without its folder, then
// the words joined by blanks, a word with white space or quotes in single
// quotes; without -threads and its value, which do not change the output.
std::string joined_command_line(int argc, const char* const* argv);

class VcfFormat : public RecordFormat {
 public:
  VcfFormat();
  void append(const SnpRecord& record, std::string& out) const override;

 private:
  FixedPoint thousandths_;  // "%.3f" of values from 0 to 2
};

}  // namespace tessellar
