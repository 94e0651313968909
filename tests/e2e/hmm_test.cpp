// The hmm engine imputes a study that is six of its panel's own samples
// (data/hmm, made by make.py): within the first window's core, where the
// study is typed throughout, every genotype it writes, imputed or observed,
// is the sample's panel genotype, also at the SNPs whose REF and ALT the
// study lists swapped, whose missing calls it imputes from the haplotypes
// aligned to the study's coding; whether it takes the study's phase, phases
// an unphased copy of it, or phases it again.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_run.h"
#include "work_folder.h"

namespace fs = std::filesystem;
using namespace tessellar::testing_support;

namespace {

const fs::path kData = fs::path(TESSELLAR_SOURCE_DIR) / "tests" / "e2e" / "data" / "hmm";
const char* const kStudy[] = {"U3", "U8", "U12", "U17", "U21", "U29"};

// The lines of a VCF file, plain or bgzipped, from its #CHROM line, split at tabs.
std::vector<std::vector<std::string>> records(const fs::path& path) {
  std::vector<std::vector<std::string>> out;
  std::istringstream in(unzipped(path));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("##", 0) == 0) continue;
    std::istringstream fields(line);
    out.emplace_back();
    for (std::string field; std::getline(fields, field, '\t');) out.back().push_back(field);
  }
  return out;
}

// The ALT copies in a GT such as "0|1" or "1/1".
int alt_copies(const std::string& gt) {
  return (gt[0] == '1') + (gt[2] == '1');
}

// The study as given (phased), with every GT made unphased, or phased
// again.
struct StudyForm {
  const char* name;
  const char* prepare;  // a shell command run in the work folder (study.vcf.gz the given file)
  const char* options;
};

class HmmEngine : public testing::TestWithParam<StudyForm> {};

TEST_P(HmmEngine, GivesBackThePanelsOwnSamples) {
  const WorkFolder w(std::string("hmm_self_") + GetParam().name);
  fs::copy_file(kData / "study.vcf.gz", w / "study.vcf.gz");
  ASSERT_EQ(
      shell(w, std::string(GetParam().prepare) + " && " + kBinary +
                   " -engine hmm -gfile study.vcf.gz -efile '" + (kData / "panel.vcf.gz").string() +
                   "' -ofile out.vcf " + GetParam().options + " > /dev/null 2>&1"),
      0);

  // The truth: each study sample's ALT copies by position and ALT letter.
  const auto panel = records(kData / "panel.vcf.gz");
  ASSERT_FALSE(panel.empty());
  std::vector<std::size_t> columns;
  for (const char* sample : kStudy)
    for (std::size_t c = 9; c < panel[0].size(); ++c)
      if (panel[0][c] == sample) columns.push_back(c);
  ASSERT_EQ(columns.size(), 6u);
  std::map<std::string, std::vector<std::string>> truth;  // POS -> record
  for (std::size_t r = 1; r < panel.size(); ++r) truth[panel[r][1]] = panel[r];

  int compared = 0, imputed = 0, swapped = 0, swapped_imputed = 0;
  const auto out = records(w / "out.vcf");
  for (std::size_t r = 1; r < out.size(); ++r) {
    const std::vector<std::string>& f = out[r];
    if (std::stol(f[1]) > 5'000'000 || truth.count(f[1]) == 0) continue;
    const std::vector<std::string>& t = truth[f[1]];
    const bool flipped = f[4] != t[4];
    ASSERT_TRUE(!flipped || (f[3] == t[4] && f[4] == t[3])) << f[1];
    swapped += flipped;
    for (std::size_t s = 0; s < 6; ++s) {
      const std::string& call = f[9 + s];
      const int expected = flipped ? 2 - alt_copies(t[columns[s]]) : alt_copies(t[columns[s]]);
      EXPECT_EQ(alt_copies(call), expected) << "position " << f[1] << " sample " << kStudy[s]
                                            << ": " << call << " for " << t[columns[s]];
      const bool guessed = call.find(':') != std::string::npos && call[call.find(':') + 2] == '.';
      imputed += guessed;
      swapped_imputed += guessed && flipped;
      ++compared;
    }
  }
  EXPECT_GT(compared, 6 * 150);
  EXPECT_GT(imputed, 6 * 100);
  EXPECT_GT(swapped, 3) << "no typed SNP with REF and ALT swapped: the data test nothing";
  EXPECT_GT(swapped_imputed, 0) << "no missing call at a swapped SNP";
}

INSTANTIATE_TEST_SUITE_P(
    Studies, HmmEngine,
    testing::Values(StudyForm{"phased", "true", ""},
                    StudyForm{"unphased",
                              "gzip -dc study.vcf.gz | sed '/^#/!s#|#/#g' | bgzip > unphased.gz && "
                              "mv unphased.gz study.vcf.gz",
                              ""},
                    StudyForm{"rephased", "true", "-rephase -draws 2 -seed 9"}),
    [](const testing::TestParamInfo<StudyForm>& form) { return std::string(form.param.name); });

}  // namespace
