// The outputs are the same for every thread count: the bundled example and a
// panel of trios, duos and singletons, imputed on 1, 2 and 7 threads, to text
// and to bgzipped VCF with its index and a per-site file with the
// leave-one-out check; and the hmm engine's, with and without a map, from
// phased, unphased (text) and partly phased studies, and rephased.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "work_folder.h"

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Dataset {
  const char* label;
  const char* data;
  const char* args;
  const char* output;  // the output's name, which sets its format
};

// Runs tessellar in the data folder, writing into dir; returns the output,
// its index and the per-site file, one after another. The outputs have the
// same names for every thread count, since a VCF header holds the command
// line (without -threads).
std::string impute(const Dataset& d, const fs::path& dir, int threads) {
  const fs::path out = dir / d.output;
  const std::string command = "cd '" + std::string(TESSELLAR_SOURCE_DIR) + "/" + d.data + "' && '" +
                              TESSELLAR_BINARY + "' " + d.args + " -threads " +
                              std::to_string(threads) + " -ofile '" + out.string() + "' -sites '" +
                              (dir / "sites.tsv").string() + "' > /dev/null 2>&1";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
  return read_file(out) + read_file(out.string() + ".tbi") + read_file(dir / "sites.tsv");
}

class ThreadCount : public testing::TestWithParam<Dataset> {};

TEST_P(ThreadCount, GivesTheSameOutput) {
  const tessellar::testing_support::WorkFolder dir("threads_" + std::string(GetParam().label));
  const std::string one = impute(GetParam(), dir.path(), 1);
  ASSERT_FALSE(one.empty());
  EXPECT_EQ(impute(GetParam(), dir.path(), 2), one);
  EXPECT_EQ(impute(GetParam(), dir.path(), 7), one);
}

INSTANTIATE_TEST_SUITE_P(
    Threads, ThreadCount,
    testing::Values(
        Dataset{"example", "examples", "", "out.txt"},
        Dataset{"mixed_panel", "tests/e2e/data/mixed", "-panel 6 4 10", "out.txt"},
        Dataset{"example_vcf", "examples",
                "-gfile study.vcf.gz -efile panel.vcf.gz -ped panel.ped -hfile "
                "haplotypes.vcf.gz -loo",
                "out.vcf.gz"},
        Dataset{"hmm", "tests/e2e/data/hmm",
                "-engine hmm -gfile study.vcf.gz -efile panel.vcf.gz -loo", "out.vcf.gz"},
        Dataset{"hmm_map", "tests/e2e/data/hmm",
                "-engine hmm -gfile study.vcf.gz -efile panel.vcf.gz -map genetic.map", "out.txt"},
        Dataset{"hmm_text_phased", "examples", "-engine hmm -loo", "out.vcf.gz"},
        Dataset{"hmm_rephased", "tests/e2e/data/hmm",
                "-engine hmm -gfile study.vcf.gz -efile panel.vcf.gz -map genetic.map "
                "-rephase -draws 3",
                "out.txt"},
        Dataset{"hmm_mixed_phase", "tests/e2e/data/hmm",
                "-engine hmm -gfile unphased.vcf -efile panel.vcf.gz -loo", "out.vcf.gz"}),
    [](const testing::TestParamInfo<Dataset>& param) { return std::string(param.param.label); });

}  // namespace
