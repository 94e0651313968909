// Record fields and the output file's commit: temporary file, rename, and
// an earlier output left untouched when a run fails.
#include "run/output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/fatal.h"

namespace tessellar {
namespace {

namespace fs = std::filesystem;

struct ProbabilityCase {
  double p;
  const char* field;
};

class ProbabilityField : public testing::TestWithParam<ProbabilityCase> {};

TEST_P(ProbabilityField, IsWrittenWithItsSeparator) {
  std::string out;
  append_probability(out, GetParam().p);
  EXPECT_EQ(out, GetParam().field);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, ProbabilityField,
    testing::Values(ProbabilityCase{0.0, "0 "}, ProbabilityCase{std::nextafter(0.005, 0.0), "0 "},
                    ProbabilityCase{0.005, "0.01 "}, ProbabilityCase{0.125, "0.12 "},
                    ProbabilityCase{0.5, "0.50 "}, ProbabilityCase{0.994, "0.99 "},
                    ProbabilityCase{std::nextafter(0.995, 0.0), "0.99 "},
                    ProbabilityCase{0.995, "1 "}, ProbabilityCase{1.0, "1 "}));

// The fast field against printf itself over many probabilities, near every
// rounding boundary and at random.
TEST(ProbabilityField, MatchesPrintf) {
  std::vector<double> values;
  for (int k = 0; k <= 100; ++k) {
    double x = (k + 0.5) / 100.0;
    for (int step = 0; step < 8; ++step) {
      values.push_back(x);
      values.push_back(std::nextafter(x, 0.0));
      x = std::nextafter(x, 1.0);
    }
  }
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < 200000; ++i) values.push_back(unit(random));
  for (double p : values) {
    if (p < 0.005 || p >= 0.995) continue;
    char expected[32];
    std::snprintf(expected, sizeof expected, "%3.2lf ", p);
    std::string out;
    append_probability(out, p);
    ASSERT_EQ(out, expected) << std::hexfloat << p;
  }
}

TEST(RecordFields, Heads) {
  std::string out;
  append_typed_head(out, 1.0, "rs1", 1234, 'A', 'G');
  EXPECT_EQ(out, "1.0000  rs1             1234  A/G  ");
  out.clear();
  append_typed_head(out, 0.9, "rs12345678901", 123456789, 'C', 'T');
  EXPECT_EQ(out, "0.9000  rs12345678901  123456789  C/T  ");
  out.clear();
  append_untyped_head(out, "snp7", -5, 'A', 'T');
  EXPECT_EQ(out, "    no  snp7              -5  A/T  ");
}

TEST(RecordFields, Indicators) {
  std::string out;
  for (int code : {2, 1, 0, 9}) append_indicators(out, code);
  EXPECT_EQ(out, "1 0 0 0 1 0 0 0 1 0 0 0 ");
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class OutputFileTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(testing::TempDir()) /
           ("tessellar_output_" +
            std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  std::size_t files() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }
  fs::path dir_;
};

TEST_F(OutputFileTest, AppearsOnlyWhenCommitted) {
  const fs::path path = dir_ / "out.txt";
  {
    OutputFile out(path.string());
    out.buffer() = "line\n";
    EXPECT_FALSE(fs::exists(path));
    out.commit();
  }
  EXPECT_EQ(read_file(path), "line\n");
  EXPECT_EQ(files(), 1u);
}

TEST_F(OutputFileTest, FailedRunLeavesEarlierOutput) {
  const fs::path path = dir_ / "out.txt";
  std::ofstream(path) << "earlier\n";
  {
    OutputFile out(path.string());
    out.buffer() = "partial";
  }
  EXPECT_EQ(read_file(path), "earlier\n");
  EXPECT_EQ(files(), 1u);
}

TEST_F(OutputFileTest, ReplacesEarlierOutputOnCommit) {
  const fs::path path = dir_ / "out.txt";
  std::ofstream(path) << "earlier\n";
  OutputFile out(path.string());
  out.buffer() = "new\n";
  out.commit();
  EXPECT_EQ(read_file(path), "new\n");
}

TEST_F(OutputFileTest, MissingDirectoryStopsTheRun) {
  testing::internal::CaptureStdout();
  EXPECT_THROW(OutputFile((dir_ / "nowhere" / "out.txt").string()), RunStopped);
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_NE(log.find("Error: cannot create the output file '"), std::string::npos) << log;
  EXPECT_NE(log.find("No such file or directory"), std::string::npos) << log;
}

TEST_F(OutputFileTest, FullDeviceStopsTheRun) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  OutputFile out("/dev/full");
  out.buffer() = "record\n";
  testing::internal::CaptureStdout();
  EXPECT_THROW(out.commit(), RunStopped);
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_NE(log.find("Error: cannot write to the output file '/dev/full'"), std::string::npos)
      << log;
}

}  // namespace
}  // namespace tessellar
