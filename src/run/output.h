// The output file and the layout of its imputation records. A regular-file
// output is written to a temporary file beside it and renamed over it only
// when the run completes, so an earlier output survives any failed run.
#pragma once

#include <string>

namespace tessellar {

class OutputFile {
 public:
  // Creates the output for path (a temporary file in the same directory, or
  // path itself when it names something other than a regular file, such as
  // /dev/stdout or a pipe); stops the run when that fails.
  explicit OutputFile(const std::string& path);
  ~OutputFile();  // removes the temporary file of an output never committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // The record buffer: append whole records, then call flush_if_full().
  std::string& buffer() { return buffer_; }
  void flush_if_full() {
    if (buffer_.size() >= kFlushSize) flush();
  }

  // Writes what is left, closes, and renames the temporary file over path;
  // stops the run on any failure.
  void commit();

 private:
  static constexpr std::size_t kFlushSize = std::size_t{1} << 20;
  void flush();
  void discard() noexcept;

  std::string path_;
  std::string temp_path_;  // empty when writing to path_ directly
  int fd_ = -1;
  std::string buffer_;
};

// Record fields, each ending with its separator.
// Typed head: "%6.4lf  %-10s  %8d  %c/%c  ".
void append_typed_head(std::string& out, double call_fraction, const std::string& name, int pos,
                       char allele1, char allele2);
// Untyped head: "    no  %-10s  %8d  %c/%c  ".
void append_untyped_head(std::string& out, const std::string& name, int pos, char allele1,
                         char allele2);
// Indicators "%d %d %d " of code 2, code 1, code 0 (all 0 for code 9).
void append_indicators(std::string& out, int code);
// Probability field: "0 " below 0.005, "1 " from 0.995, otherwise "%3.2lf ".
void append_probability(std::string& out, double p);

}  // namespace tessellar
