// End-to-end cases, described in README.md beside this file: the folders
// under cases/ (arguments, inputs, expected log with stamps masked, exit
// status, expected output) and the lines of argument_cases.txt (arguments,
// exit status, the last error message), each run through the tessellar
// binary in a fresh working folder. TESSELLAR_REGENERATE=1 rewrites the
// expected results from the binary's (it refuses when the binary did not start).
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

#include "work_folder.h"

namespace fs = std::filesystem;
using tessellar::testing_support::WorkFolder;

namespace {

const fs::path kE2e = fs::path(TESSELLAR_SOURCE_DIR) / "tests" / "e2e";
const fs::path kExamples = fs::path(TESSELLAR_SOURCE_DIR) / "examples";
const char* const kStop = "\nTessellar was stopped due to error(s) listed above.\n\n";

std::string read_file(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

const bool kRegenerate = std::getenv("TESSELLAR_REGENERATE") != nullptr;

std::string quoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct Result {
  int status = -1;
  std::string log;  // standard output, the two stamps masked
  bool started() const {
    return (status == 0 || status == 1) && log.find("Tessellar started: ") != std::string::npos;
  }
};

// Copies the text inputs (*.dat) of the source folder from into work: of
// examples/, those among its named inputs.
void copy_inputs(const std::string& from, const fs::path& work) {
  if (from == "examples") {
    for (const std::string& name : tessellar::testing_support::example_inputs())
      if (name.ends_with(".dat")) fs::copy_file(kExamples / name, work / name);
    return;
  }
  for (const auto& entry : fs::directory_iterator(fs::path(TESSELLAR_SOURCE_DIR) / from))
    if (entry.path().extension() == ".dat")
      fs::copy_file(entry.path(), work / entry.path().filename());
}

// Runs the binary in work with args; standard error is discarded.
Result run(const fs::path& work, const std::vector<std::string>& args) {
  std::string command = "cd " + quoted(work.string()) + " && " + quoted(TESSELLAR_BINARY);
  for (const auto& arg : args) command += " " + quoted(arg);
  const int raw = std::system((command + " > stdout.txt 2> /dev/null < /dev/null").c_str());
  Result result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::istringstream lines(read_file(work / "stdout.txt"));
  fs::remove(work / "stdout.txt");
  for (std::string line; std::getline(lines, line);) {
    for (const char* stamp : {"Tessellar started: ", "Tessellar complete: "})
      if (line.rfind(stamp, 0) == 0) line = std::string(stamp) + "<time>";
    result.log += line + "\n";
  }
  return result;
}

std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string test_name(std::string name) {
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

// ---- Folder cases ----

bool is_case_file(const std::string& name) {
  return name == "args" || name == "inputs_from" || name == "README" || name == "README.md" ||
         name.rfind("expected.", 0) == 0;
}

class Folder : public ::testing::TestWithParam<std::string> {};

TEST_P(Folder, MatchesTheExpectedFiles) {
  const fs::path dir = kE2e / "cases" / GetParam();
  const WorkFolder folder("e2e_" + GetParam());
  const fs::path& work = folder.path();
  std::vector<std::string> args;
  std::istringstream arg_lines(read_file(dir / "args"));
  for (std::string line; std::getline(arg_lines, line);) args.push_back(line);
  std::string ofile = "imp_geno.out";
  std::string sites;
  for (std::size_t a = 0; a + 1 < args.size(); ++a) {
    if (args[a] == "-ofile") ofile = args[a + 1];
    if (args[a] == "-sites") sites = args[a + 1];
  }
  if (fs::exists(dir / "inputs_from")) {
    std::string from = read_file(dir / "inputs_from");
    copy_inputs(from.erase(from.find_last_not_of("\n ") + 1), work);
  }
  for (const auto& entry : fs::directory_iterator(dir))
    if (!is_case_file(entry.path().filename().string()))
      fs::copy_file(entry.path(), work / entry.path().filename(),
                    fs::copy_options::overwrite_existing);
  const std::vector<std::string> before = names_in(work);
  const Result result = run(work, args);
  const fs::path produced = work / ofile;

  if (kRegenerate) {
    ASSERT_TRUE(result.started()) << "the binary did not start:\n" << result.log;
    write_file(dir / "expected.log", result.log);
    write_file(dir / "expected.status", std::to_string(result.status) + "\n");
    if (result.status == 0) write_file(dir / "expected.out", read_file(produced));
    if (result.status == 0 && !sites.empty())
      write_file(dir / "expected.sites", read_file(work / sites));
    return;
  }
  EXPECT_EQ(result.log, read_file(dir / "expected.log"));
  EXPECT_EQ(std::to_string(result.status) + "\n", read_file(dir / "expected.status"));
  if (fs::exists(dir / "expected.out")) {
    ASSERT_TRUE(fs::exists(produced)) << ofile << " was not written";
    EXPECT_EQ(read_file(produced), read_file(dir / "expected.out"));
    const bool with_sites = fs::exists(dir / "expected.sites");
    if (with_sites) {
      EXPECT_EQ(read_file(work / sites), read_file(dir / "expected.sites"));
    }
    EXPECT_EQ(names_in(work).size(), before.size() + (with_sites ? 2 : 1))
        << "a temporary file was left";
  } else {
    if (fs::exists(dir / ofile)) {
      EXPECT_EQ(read_file(produced), read_file(dir / ofile)) << "an earlier output was changed";
    }
    EXPECT_EQ(names_in(work), before) << "the failed run left a file";
  }
}

std::vector<std::string> folder_cases() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(kE2e / "cases"))
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

INSTANTIATE_TEST_SUITE_P(Cases, Folder, ::testing::ValuesIn(folder_cases()),
                         [](const auto& param) { return test_name(param.param); });

// ---- One-line cases ----

struct Line {
  std::string name, status, args, error;
};

// The lines of argument_cases.txt, fields separated by " | ".
std::vector<Line> table_lines() {
  std::vector<Line> lines;
  std::istringstream text(read_file(kE2e / "argument_cases.txt"));
  for (std::string row; std::getline(text, row);) {
    if (row.empty() || row[0] == '#') continue;
    std::vector<std::string> f;
    std::size_t at = 0;
    for (std::size_t bar; (bar = row.find(" | ", at)) != std::string::npos; at = bar + 3)
      f.push_back(row.substr(at, bar - at));
    f.push_back(row.substr(at));
    f.resize(4);
    lines.push_back({f[0], f[1], f[2], f[3]});
  }
  return lines;
}

// The text from the log's last "Error:" to the end of its line, or "-".
std::string last_error(const std::string& log) {
  const std::size_t at = log.rfind("Error:");
  return at == std::string::npos ? "-" : log.substr(at, log.find('\n', at) - at);
}

class OneLine : public ::testing::TestWithParam<Line> {};

// Copies every file of the test data folder from (but its README) into work.
void copy_all(const fs::path& from, const fs::path& work) {
  for (const auto& entry : fs::directory_iterator(from))
    if (entry.is_regular_file() && entry.path().filename() != "README.md")
      fs::copy_file(entry.path(), work / entry.path().filename());
}

TEST_P(OneLine, GivesTheStatusAndTheMessage) {
  const Line& c = GetParam();
  const WorkFolder folder("e2e_line_" + c.name);
  const fs::path& work = folder.path();
  tessellar::testing_support::copy_example_inputs(work);
  copy_all(kE2e / "data" / "bad", work);
  std::vector<std::string> args;
  std::istringstream words(c.args);
  for (std::string word; words >> word;) args.push_back(word == "''" ? "" : word);
  const std::vector<std::string> before = names_in(work);
  const Result result = run(work, args);

  if (kRegenerate) {
    ASSERT_TRUE(result.started()) << "the binary did not start:\n" << result.log;
    const fs::path table = kE2e / "argument_cases.txt";
    std::istringstream text(read_file(table));
    std::string out;
    for (std::string row; std::getline(text, row);) {
      if (row.rfind(c.name + " |", 0) == 0)
        row = c.name + " | " + std::to_string(result.status) + " | " + c.args + " | " +
              last_error(result.log);
      out += row + "\n";
    }
    write_file(table, out);
    return;
  }
  EXPECT_EQ(std::to_string(result.status), c.status) << result.log;
  EXPECT_EQ(last_error(result.log), c.error) << result.log;
  if (result.status != 0) {
    EXPECT_TRUE(result.log.ends_with(kStop)) << result.log;
    EXPECT_EQ(names_in(work), before) << "the failed run left a file";
  }
}

INSTANTIATE_TEST_SUITE_P(Table, OneLine, ::testing::ValuesIn(table_lines()),
                         [](const auto& param) { return test_name(param.param.name); });

}  // namespace
