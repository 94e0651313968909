// The output file is the same for every thread count: the bundled example
// and a panel of trios, duos and singletons, imputed on 1, 2 and 7 threads.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs tessellar in the data folder with the extra arguments; returns the output.
std::string impute(const std::string& data, const std::string& args, int threads) {
  const fs::path out =
      fs::path(testing::TempDir()) / ("tessellar_threads_" + std::to_string(threads) + ".out");
  fs::remove(out);
  const std::string command = "cd '" + std::string(TESSELLAR_SOURCE_DIR) + "/" + data + "' && '" +
                              TESSELLAR_BINARY + "' " + args + " -threads " +
                              std::to_string(threads) + " -ofile '" + out.string() +
                              "' > /dev/null 2>&1";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
  return read_file(out);
}

struct Dataset {
  const char* label;
  const char* data;
  const char* args;
};

class ThreadCount : public testing::TestWithParam<Dataset> {};

TEST_P(ThreadCount, GivesTheSameOutput) {
  const std::string one = impute(GetParam().data, GetParam().args, 1);
  ASSERT_FALSE(one.empty());
  EXPECT_EQ(impute(GetParam().data, GetParam().args, 2), one);
  EXPECT_EQ(impute(GetParam().data, GetParam().args, 7), one);
}

INSTANTIATE_TEST_SUITE_P(
    Threads, ThreadCount,
    testing::Values(Dataset{"example", "examples", ""},
                    Dataset{"mixed_panel", "tests/e2e/data/mixed", "-panel 6 4 10"}),
    [](const testing::TestParamInfo<Dataset>& param) { return std::string(param.param.label); });

}  // namespace
