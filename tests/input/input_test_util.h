// Shared helpers of the input tests: throw-away input files and the capture
// of what a stopped run printed.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>

#include "core/fatal.h"

namespace tessellar::testing_input {

// A file with the given contents under the test temporary directory, removed
// again when the object goes.
class TempFile {
 public:
  // text: the exact bytes to write; stem: a readable part of the file name.
  explicit TempFile(std::string_view text, std::string_view stem = "input") {
    static int counter = 0;
    path_ = ::testing::TempDir() + "tsl_" + std::string(stem) + "_" + std::to_string(::getpid()) +
            "_" + std::to_string(++counter) + ".dat";
    std::ofstream out(path_, std::ios::binary);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Runs f, which must stop the run, and returns what it printed on standard output.
template <class F>
std::string stopped_output(F&& f) {
  ::testing::internal::CaptureStdout();
  bool stopped = false;
  try {
    f();
  } catch (const RunStopped&) {
    stopped = true;
  }
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(stopped) << "the run was not stopped; it printed: " << out;
  return out;
}

// Runs f, which must succeed, and returns what it printed on standard output.
template <class F>
std::string printed_output(F&& f) {
  ::testing::internal::CaptureStdout();
  try {
    f();
  } catch (const RunStopped&) {
    const std::string out = ::testing::internal::GetCapturedStdout();
    ADD_FAILURE() << "the run was stopped: " << out;
    return out;
  }
  return ::testing::internal::GetCapturedStdout();
}

// The message of fatal() as it appears on standard output.
inline std::string error_text(const std::string& message) {
  return "Error: " + message + "\n\nTessellar was stopped due to error(s) listed above.\n\n";
}

}  // namespace tessellar::testing_input
