// End-to-end cases, described in README.md beside this file: the folders
// under cases/ (arguments, inputs, expected log with stamps masked, exit
// status, expected output) and the lines of argument_cases.txt (arguments,
// exit status, the last error message), each run through the tessellar
// binary in a fresh working folder. TESSELLAR_REGENERATE=1 rewrites the
// expected results from the binary's (it refuses when the binary did not start).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_run.h"
#include "work_folder.h"

namespace fs = std::filesystem;
using namespace tessellar::testing_support;

namespace {

const fs::path kSource = TESSELLAR_SOURCE_DIR;
const fs::path kE2e = kSource / "tests" / "e2e";
const char* const kStop = "\nTessellar was stopped due to error(s) listed above.\n\n";
const bool kRegenerate = std::getenv("TESSELLAR_REGENERATE") != nullptr;

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

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

// Runs the binary in work with args; standard error is discarded.
Result run(const fs::path& work, const std::vector<std::string>& args) {
  std::string command = kBinary;
  for (const auto& arg : args) command.append(" ").append(quoted(arg));
  Result result;
  std::string log;
  result.status = shell(work, command + " 2> /dev/null < /dev/null", &log);
  std::istringstream lines(log);
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

// Copies the regular files of the folder from whose names keep accepts into work.
template <class Keep>
void copy_all(const fs::path& from, const fs::path& work, Keep keep) {
  for (const auto& e : fs::directory_iterator(from))
    if (e.is_regular_file() && keep(e.path().filename().string()))
      fs::copy_file(e.path(), work / e.path().filename(), fs::copy_options::overwrite_existing);
}

// ---- Folder cases ----

class Folder : public ::testing::TestWithParam<std::string> {};

// A case that writes an output also writes it on 7 threads (its log then
// says so).
TEST_P(Folder, MatchesTheExpectedFiles) {
  const fs::path dir = kE2e / "cases" / GetParam();
  const WorkFolder work("e2e_" + GetParam());
  std::vector<std::string> args;
  std::istringstream arg_lines(read_file(dir / "args"));
  for (std::string line; std::getline(arg_lines, line);) args.push_back(line);
  std::string ofile = "imp_geno.out", sites;
  for (std::size_t a = 0; a + 1 < args.size(); ++a) {
    if (args[a] == "-ofile") ofile = args[a + 1];
    if (args[a] == "-sites") sites = args[a + 1];
  }
  std::string from = read_file(dir / "inputs_from");
  from.erase(from.find_last_not_of("\n ") + 1);
  if (from == "examples") {
    for (const std::string& name : example_inputs())
      if (name.ends_with(".dat")) fs::copy_file(kSource / from / name, work / name);
  } else if (!from.empty()) {
    copy_all(kSource / from, work.path(), [](const std::string& n) { return n.ends_with(".dat"); });
  }
  copy_all(dir, work.path(), [](const std::string& n) {
    return n != "args" && n != "inputs_from" && !n.starts_with("README") &&
           !n.starts_with("expected.");
  });
  const std::vector<std::string> before = names_in(work.path());
  const Result result = run(work.path(), args);
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
  if (!fs::exists(dir / "expected.out")) {
    // An earlier output (a file of that name in the case folder) unchanged, or none.
    EXPECT_EQ(read_file(produced), read_file(dir / ofile)) << "an earlier output was changed";
    EXPECT_EQ(names_in(work.path()), before) << "the failed run left a file";
    return;
  }
  const bool with_sites = fs::exists(dir / "expected.sites");
  for (const char* threads : {"", "7"}) {
    if (*threads != '\0') {
      args.insert(args.end(), {"-threads", threads});
      ASSERT_EQ(run(work.path(), args).status, 0);
    }
    ASSERT_TRUE(fs::exists(produced)) << ofile << " was not written";
    EXPECT_EQ(read_file(produced), read_file(dir / "expected.out")) << threads;
    EXPECT_EQ(with_sites ? read_file(work / sites) : "", read_file(dir / "expected.sites"))
        << threads;
    EXPECT_EQ(names_in(work.path()).size(), before.size() + (with_sites ? 2 : 1))
        << "a temporary file was left";
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

// ---- One-line cases: name, exit status, arguments, the last error ----

// The text from the log's last "Error:" to the end of its line, or "-".
std::string last_error(const std::string& log) {
  const std::size_t at = log.rfind("Error:");
  return at == std::string::npos ? "-" : log.substr(at, log.find('\n', at) - at);
}

using Line = std::vector<std::string>;
class OneLine : public ::testing::TestWithParam<Line> {};

TEST_P(OneLine, GivesTheStatusAndTheMessage) {
  const Line& c = GetParam();
  const WorkFolder work("e2e_line_" + c[0]);
  copy_example_inputs(work.path());
  copy_all(kE2e / "data" / "bad", work.path(),
           [](const std::string& n) { return n != "README.md"; });
  // For outputs that lead to one file: a folder, two links and an input named like an index.
  fs::create_directory(work / "sub");
  fs::create_symlink("x.out", work / "link.out");
  fs::create_symlink("genotype.dat", work / "study_link");
  fs::copy_file(work / "genotype.dat", work / "x.vcf.gz.csi");
  std::vector<std::string> args;
  std::istringstream words(c[2]);
  for (std::string word; words >> word;) args.push_back(word == "''" ? "" : word);
  const std::vector<std::string> before = names_in(work.path());
  const Result result = run(work.path(), args);

  if (kRegenerate) {
    ASSERT_TRUE(result.started()) << "the binary did not start:\n" << result.log;
    const fs::path table = kE2e / "argument_cases.txt";
    std::istringstream text(read_file(table));
    std::string out;
    for (std::string row; std::getline(text, row);) {
      if (row.rfind(c[0] + " |", 0) == 0)
        row = c[0] + " | " + std::to_string(result.status) + " | " + c[2] + " | " +
              last_error(result.log);
      out += row + "\n";
    }
    write_file(table, out);
    return;
  }
  EXPECT_EQ(std::to_string(result.status), c[1]) << result.log;
  EXPECT_EQ(last_error(result.log), c[3]) << result.log;
  if (result.status != 0) {
    EXPECT_TRUE(result.log.ends_with(kStop)) << result.log;
    EXPECT_EQ(names_in(work.path()), before) << "the failed run left a file";
  }
}

INSTANTIATE_TEST_SUITE_P(Table, OneLine,
                         ::testing::ValuesIn(table_rows(kE2e / "argument_cases.txt", 4)),
                         [](const auto& param) { return test_name(param.param[0]); });

}  // namespace
