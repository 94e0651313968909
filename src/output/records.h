// The records of the output, as the pass hands them to an output format: a
// SNP written through or imputed, viewed in the tables and the imputer's
// buffers (valid until the next record of the same imputer), the interface
// of the formats that turn records into bytes, and the outcome of one union
// row, as the passes hand it to the per-site file.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace tessellar {

struct SnpRecord {
  enum class Kind {
    written_through,  // a complete study SNP: every code observed
    typed,            // a study SNP with missing codes, imputed from the study
    untyped,          // a SNP absent from the study, imputed from the panel
  };
  Kind kind = Kind::written_through;
  std::string_view contig;        // the contig's name ("" for text inputs)
  std::string_view name;          // the SNP name of the study row (typed) or panel row (untyped)
  int pos = 0;                    // base pairs
  std::array<char, 2> letters{};  // the row's two allele letters, as listed
  bool first_counted = false;     // true: codes count letters[0]; else letters[1]
  double call_fraction = 0;       // typed kinds: share of observed codes, 1 - miss
  int nind = 0;                   // study individuals
  const int8_t* codes = nullptr;  // per individual: observed code, 9 where imputed
  // prob[g][i]: probability of g copies of the counted allele for individual
  // i, set where codes[i] is 9; null for records written through.
  std::array<const double*, 3> prob{};

  // Per-site figures (NaN where they do not apply): AF and INFO over the
  // individuals, the score of the tag set (tag engine), the estimated dosage
  // r2 of the imputed genotypes (hmm engine), the empirical r2 of the
  // leave-one-out check; tags: the names of the tags, comma-separated.
  double af = std::numeric_limits<double>::quiet_NaN();
  double info = std::numeric_limits<double>::quiet_NaN();
  double score = std::numeric_limits<double>::quiet_NaN();
  double r2 = std::numeric_limits<double>::quiet_NaN();
  double er2 = std::numeric_limits<double>::quiet_NaN();
  std::string_view tags;

  // The counted allele and the other one (VCF ALT and REF).
  char counted() const { return letters[first_counted ? 0 : 1]; }
  char other() const { return letters[first_counted ? 1 : 0]; }
};

// Turns records into the bytes of one output format. Thread-safe: the pass
// formats records on its worker threads.
class RecordFormat {
 public:
  virtual ~RecordFormat() = default;
  // Appends the record's line (or lines) to out.
  virtual void append(const SnpRecord& record, std::string& out) const = 0;
};

// What became of one union row, with its per-site figures (NaN where they do
// not apply) and, for a typed SNP that the leave-one-out check imputed as if
// untyped, that imputation's figures.
struct RowOutcome {
  enum class Result { skipped, written_through, typed, untyped, no_tag_set };
  int row = -1;
  Result result = Result::skipped;
  double af = std::numeric_limits<double>::quiet_NaN();
  double info = std::numeric_limits<double>::quiet_NaN();
  double score = std::numeric_limits<double>::quiet_NaN();
  double r2 = std::numeric_limits<double>::quiet_NaN();
  double er2 = std::numeric_limits<double>::quiet_NaN();
  std::string tags;
  bool checked = false;     // leave-one-out: imputed as if untyped
  double checked_maf = 0;   // its observed minor-allele frequency
  double checked_info = 0;  // the INFO of that imputation
  double checked_r2 = 0;    // its R2 (hmm engine)
};

}  // namespace tessellar
