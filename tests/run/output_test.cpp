// The probability field against printf, and the output file: written to a
// temporary file and renamed over the output only on commit, with the
// permission bits of a plain redirect.
#include "run/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

namespace tessellar {
namespace {

namespace fs = std::filesystem;

// The fast field against printf itself over many probabilities, near every
// rounding boundary and at random; "0" below 0.005 and "1" from 0.995.
TEST(ProbabilityField, MatchesPrintf) {
  std::vector<double> values = {
      0.0, 1.0, 0.005, 0.995, std::nextafter(0.005, 0.0), std::nextafter(0.995, 0.0)};
  for (int k = 0; k <= 100; ++k) {
    for (double x = (k + 0.5) / 100.0, step = 0; step < 8; ++step, x = std::nextafter(x, 1.0)) {
      values.push_back(x);
      values.push_back(std::nextafter(x, 0.0));
    }
  }
  std::mt19937_64 random(7);
  for (int i = 0; i < 200000; ++i)
    values.push_back(std::uniform_real_distribution<double>()(random));
  for (double p : values) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "%3.2lf ", p);
    std::string out;
    append_probability(out, p);
    ASSERT_EQ(out, p < 0.005 ? "0 " : p >= 0.995 ? "1 " : expected) << std::hexfloat << p;
  }
}

std::string read_file(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

class Output : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("tessellar_output_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  // The names in the folder.
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path dir_;
};

TEST_F(Output, AppearsOnlyOnCommitAndAFailedRunKeepsTheEarlierOne) {
  const fs::path path = dir_ / "out.txt";
  {
    OutputFile out(path.string());
    out.buffer() = "first\n";
    EXPECT_FALSE(fs::exists(path));
    out.commit();
  }
  EXPECT_EQ(read_file(path), "first\n");
  {
    OutputFile out(path.string());  // never committed: the run failed
    out.buffer() = "partial";
  }
  EXPECT_EQ(read_file(path), "first\n");
  EXPECT_EQ(files(), std::vector<std::string>{"out.txt"});
}

// A symbolic link keeps pointing at the file it names, which gets the output.
TEST_F(Output, ReplacesTheTargetOfASymbolicLink) {
  std::ofstream(dir_ / "target.txt") << "earlier\n";
  fs::create_symlink("target.txt", dir_ / "link.txt");
  OutputFile out((dir_ / "link.txt").string());
  out.buffer() = "new\n";
  out.commit();
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.txt"));
  EXPECT_EQ(read_file(dir_ / "target.txt"), "new\n");
}

// When the rename fails (here a folder took the output's name while the run
// went on) the run stops, and neither the folder nor a temporary file is left changed.
TEST_F(Output, AFailedRenameStopsTheRun) {
  const fs::path path = dir_ / "out.txt";
  {
    OutputFile out(path.string());
    out.buffer() = "record\n";
    fs::create_directory(path);
    EXPECT_EQ(testing_support::error_line([&] { out.commit(); }),
              "Error: cannot replace the output file '" + path.string() + "': Is a directory.");
  }
  EXPECT_TRUE(fs::is_empty(path));
  EXPECT_EQ(files(), std::vector<std::string>{"out.txt"});
}

class Permissions : public Output, public ::testing::WithParamInterface<mode_t> {};

// A new output gets the bits that "> file" gives under the same umask.
TEST_P(Permissions, AreThoseOfARedirect) {
  const mode_t old = ::umask(GetParam());
  const int fd = ::open((dir_ / "redirect.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  ::close(fd);
  OutputFile out((dir_ / "out.txt").string());
  out.commit();
  ::umask(old);
  struct stat made, redirect;
  ASSERT_EQ(::stat((dir_ / "out.txt").c_str(), &made), 0);
  ASSERT_EQ(::stat((dir_ / "redirect.txt").c_str(), &redirect), 0);
  EXPECT_EQ(made.st_mode & 07777, redirect.st_mode & 07777);
  EXPECT_EQ(made.st_mode & 07777, 0666 & ~GetParam());
}

INSTANTIATE_TEST_SUITE_P(Umasks, Permissions, ::testing::Values(022, 027, 077, 0));

}  // namespace
}  // namespace tessellar
