// The text output format: one line per SNP, a head (call fraction or "no",
// name, position, allele letters) and three fields per study individual for
// genotypes 2, 1 and 0: indicators where observed, probabilities where imputed.
#pragma once

#include <string>
#include <string_view>

#include "output/records.h"

namespace tessellar {

class TextFormat : public RecordFormat {
 public:
  void append(const SnpRecord& record, std::string& out) const override;
};

// Record fields, each ending with its separator.
// Typed head: "%6.4lf  %-10s  %8d  %c/%c  ".
void append_typed_head(std::string& out, double call_fraction, std::string_view name, int pos,
                       char allele1, char allele2);
// Untyped head: "    no  %-10s  %8d  %c/%c  ".
void append_untyped_head(std::string& out, std::string_view name, int pos, char allele1,
                         char allele2);
// Indicators "%d %d %d " of code 2, code 1, code 0 (all 0 for code 9).
void append_indicators(std::string& out, int code);
// Probability field: "0 " below 0.005, "1 " from 0.995, otherwise "%3.2lf ".
void append_probability(std::string& out, double p);

}  // namespace tessellar
