// Helpers of the end-to-end tests that run the tessellar binary: files read
// whole (bgzipped ones as their text), shell commands run in a folder, and
// the tables of cases kept in text files beside the tests.
#pragma once

#include <htslib/bgzf.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "work_folder.h"

namespace tessellar::testing_support {

// The binary, quoted for a shell command line.
inline const std::string kBinary = "'" + std::string(TESSELLAR_BINARY) + "'";

// The bytes of the file at path ("" when it cannot be read).
inline std::string read_file(const std::filesystem::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// The text of the bgzipped (or plain) file at path ("" when it cannot be read).
inline std::string unzipped(const std::filesystem::path& path) {
  BGZF* f = bgzf_open(path.c_str(), "r");
  if (f == nullptr) return "";
  std::string text;
  char block[65536];
  for (ssize_t n; (n = bgzf_read(f, block, sizeof block)) > 0;) text.append(block, std::size_t(n));
  bgzf_close(f);
  return text;
}

// Runs the shell command in the folder dir, its standard output into *out
// when given; returns its exit status (-1 when a signal ended it).
inline int shell(const std::filesystem::path& dir, const std::string& command,
                 std::string* out = nullptr) {
  FILE* pipe = popen(("cd '" + dir.string() + "' && { " + command + "\n}").c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char block[4096];
  for (std::size_t n; (n = std::fread(block, 1, sizeof block, pipe)) > 0;) text.append(block, n);
  const int status = pclose(pipe);
  if (out != nullptr) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline int shell(const WorkFolder& dir, const std::string& command, std::string* out = nullptr) {
  return shell(dir.path(), command, out);
}

// The rows of the case table at path: one a line, fields separated by " | ",
// padded with empty fields to n; blank lines and lines starting with '#'
// left out.
inline std::vector<std::vector<std::string>> table_rows(const std::filesystem::path& path,
                                                        std::size_t n) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream text(read_file(path));
  for (std::string row; std::getline(text, row);) {
    if (row.empty() || row[0] == '#') continue;
    std::vector<std::string> f;
    std::size_t at = 0;
    for (std::size_t bar; (bar = row.find(" | ", at)) != std::string::npos; at = bar + 3)
      f.push_back(row.substr(at, bar - at));
    f.push_back(row.substr(at));
    f.resize(std::max(n, f.size()));
    rows.push_back(f);
  }
  return rows;
}

}  // namespace tessellar::testing_support
