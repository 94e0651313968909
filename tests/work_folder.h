// Work folders of the tests that run the program on files: a fresh folder
// under the test temporary directory that goes when its test passes and
// stays, named in every failure message, when it fails; and the bundled
// example's input files by name (examples/ may also hold a user's outputs).
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

namespace tessellar::testing_support {

// The input files of examples/, by name: the text files, the VCF files with
// their indexes and the family file. Owned by the function.
inline const std::vector<std::string>& example_inputs() {
  static const std::vector<std::string> names = {
      "genotype.dat",          "external.dat", "haplotype.dat",    "study.vcf.gz",
      "study.vcf.gz.tbi",      "panel.vcf.gz", "panel.vcf.gz.tbi", "haplotypes.vcf.gz",
      "haplotypes.vcf.gz.tbi", "panel.ped"};
  return names;
}

// Copies the example's input files into the folder to.
inline void copy_example_inputs(const std::filesystem::path& to) {
  const std::filesystem::path from = std::filesystem::path(TESSELLAR_SOURCE_DIR) / "examples";
  for (const std::string& name : example_inputs())
    std::filesystem::copy_file(from / name, to / name);
}

// A fresh, empty folder named tessellar_<name> (each character but letters,
// digits, '.', '-' and '_' made '_') in the test temporary directory for the
// scope of the object. Every failure reported while it
// lives names the folder; it is removed at the end of the scope unless the
// current test has failed. Not copied or moved (create it where it is used).
class WorkFolder {
 public:
  explicit WorkFolder(const std::string& name)
      : path_(std::filesystem::path(::testing::TempDir()) / ("tessellar_" + plain(name))),
        trace_(__FILE__, __LINE__, "work folder, kept as the test failed: " + path_.string()) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~WorkFolder() {
    if (!::testing::Test::HasFailure()) {
      std::error_code ignored;
      std::filesystem::remove_all(path_, ignored);
    }
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  static std::string plain(std::string name) {
    for (char& c : name)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') c = '_';
    return name;
  }

  std::filesystem::path path_;
  ::testing::ScopedTrace trace_;
};

}  // namespace tessellar::testing_support
