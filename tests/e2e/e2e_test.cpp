// End-to-end cases: each folder under tests/e2e/cases runs the tessellar
// binary on its own inputs and compares the run log (stamps masked), the
// exit status and the output file with the expected files there.
//
// A case folder holds:
//   args             the arguments, one per line (may be absent: no arguments)
//   inputs_from      optional: a folder, relative to the source tree, whose files are copied first
//   expected.log     standard output, with the two stamp lines masked
//   expected.status  the exit status
//   expected.out     the expected output file; without it the output file must be as
//                    before the run (a copy of the case's own file of that name, or absent)
//   any other file   copied into the working folder before the run
// Setting TESSELLAR_REGENERATE=1 rewrites the expected files from the binary's
// results (it refuses when the binary did not start).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kCases = fs::path(TESSELLAR_SOURCE_DIR) / "tests" / "e2e" / "cases";

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::vector<std::string> read_args(const fs::path& dir) {
  std::vector<std::string> args;
  if (!fs::exists(dir / "args")) return args;
  std::istringstream lines(read_file(dir / "args"));
  for (std::string line; std::getline(lines, line);) args.push_back(line);
  return args;
}

std::string quoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Masks the time in "Tessellar started: ..." and "Tessellar complete: ...".
std::string mask_stamps(const std::string& log) {
  std::istringstream lines(log);
  std::string masked;
  for (std::string line; std::getline(lines, line);) {
    for (const char* stamp : {"Tessellar started: ", "Tessellar complete: "})
      if (line.rfind(stamp, 0) == 0) line = std::string(stamp) + "<time>";
    masked += line + "\n";
  }
  if (!log.empty() && log.back() != '\n') masked.pop_back();
  return masked;
}

bool is_case_file(const std::string& name) {
  return name == "args" || name == "inputs_from" || name.rfind("expected.", 0) == 0 ||
         name == "README";
}

std::string output_name(const std::vector<std::string>& args) {
  std::string name = "imp_geno.out";
  for (std::size_t a = 0; a + 1 < args.size(); ++a)
    if (args[a] == "-ofile") name = args[a + 1];
  return name;
}

struct Result {
  int status = -1;
  std::string log;
};

Result run_case(const fs::path& dir, const fs::path& work) {
  fs::remove_all(work);
  fs::create_directories(work);
  if (fs::exists(dir / "inputs_from")) {
    std::string from = read_file(dir / "inputs_from");
    from.erase(from.find_last_not_of("\n ") + 1);
    for (const auto& entry : fs::directory_iterator(fs::path(TESSELLAR_SOURCE_DIR) / from))
      if (entry.is_regular_file() && entry.path().extension() == ".dat")
        fs::copy_file(entry.path(), work / entry.path().filename());
  }
  for (const auto& entry : fs::directory_iterator(dir))
    if (!is_case_file(entry.path().filename().string()))
      fs::copy_file(entry.path(), work / entry.path().filename(),
                    fs::copy_options::overwrite_existing);
  std::string command = "cd " + quoted(work.string()) + " && " + quoted(TESSELLAR_BINARY);
  for (const auto& arg : read_args(dir)) command += " " + quoted(arg);
  command += " > stdout.txt 2> stderr.txt < /dev/null";
  int raw = std::system(command.c_str());
  Result result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.log = mask_stamps(read_file(work / "stdout.txt"));
  return result;
}

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(kCases))
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class EndToEnd : public testing::TestWithParam<std::string> {};

TEST_P(EndToEnd, MatchesExpectedFiles) {
  const fs::path dir = kCases / GetParam();
  const fs::path work = fs::path(testing::TempDir()) / ("tessellar_e2e_" + GetParam());
  const std::string ofile = output_name(read_args(dir));
  Result result = run_case(dir, work);
  const fs::path produced = work / ofile;

  if (std::getenv("TESSELLAR_REGENERATE") != nullptr) {
    ASSERT_TRUE(result.status == 0 || result.status == 1) << "the binary did not run";
    ASSERT_NE(result.log.find("Tessellar started: "), std::string::npos)
        << "the binary did not start";
    write_file(dir / "expected.log", result.log);
    write_file(dir / "expected.status", std::to_string(result.status) + "\n");
    if (result.status == 0 && !fs::path(ofile).is_absolute() && fs::exists(produced))
      write_file(dir / "expected.out", read_file(produced));
    return;
  }

  EXPECT_EQ(result.log, read_file(dir / "expected.log"));
  EXPECT_EQ(std::to_string(result.status) + "\n", read_file(dir / "expected.status"));
  if (fs::path(ofile).is_absolute()) {
    // a device such as /dev/full: only the log and the status tell
  } else if (fs::exists(dir / "expected.out")) {
    ASSERT_TRUE(fs::exists(produced)) << ofile << " was not written";
    EXPECT_EQ(read_file(produced), read_file(dir / "expected.out"));
  } else if (fs::exists(dir / ofile)) {
    EXPECT_EQ(read_file(produced), read_file(dir / ofile)) << "an earlier output was changed";
  } else {
    EXPECT_FALSE(fs::exists(produced)) << ofile << " should not exist";
  }
  for (const auto& entry : fs::directory_iterator(work))
    EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos)
        << "temporary file left: " << entry.path();
}

INSTANTIATE_TEST_SUITE_P(Cases, EndToEnd, testing::ValuesIn(case_names()),
                         [](const testing::TestParamInfo<std::string>& param) {
                           std::string name = param.param;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
