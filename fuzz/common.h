// What the fuzz targets share: a private directory per process for the
// files that the readers take, writing an input plainly or bgzipped,
// cutting one input into sections, and the checks that end a run with a
// report (abort) when a reader's result breaks what its header promises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tsl_fuzz {

// Called from LLVMFuzzerInitialize: sends the run log on standard output to
// /dev/null (unless TESSELLAR_FUZZ_VERBOSE is set, for replaying one input)
// and makes the private directory.
void init();

// The private directory of this process, made under $TMPDIR (or /tmp) on
// first use and removed with its files when the process exits normally.
const std::string& work_dir();

// work_dir() + "/" + name.
std::string path_of(std::string_view name);

// Removes every file in work_dir().
void clear_work_dir();

// The names of the files in work_dir().
std::vector<std::string> work_dir_files();

// Writes bytes to path as they are, or as BGZF blocks through htslib.
void write_file(const std::string& path, std::string_view bytes);
void write_bgzf(const std::string& path, std::string_view bytes);

// Cuts text at the lines that hold exactly "===" (the separator lines are
// dropped; each section keeps its own line breaks) into at most `most`
// sections; the last one takes the rest.
std::vector<std::string_view> sections(std::string_view text, std::size_t most);

// The whole-run targets' inputs: 4 bytes of options, then at most 8 KiB and
// 120 lines of text cut into 4 sections as sections() cuts them. False (the
// input is not used) when it is shorter or longer.
bool run_input(const uint8_t* data, std::size_t size, std::vector<std::string_view>& parts);

// Re-encodes the VCF text at from as BCF at to (BGZF-compressed or not);
// false when htslib cannot read a header or a record of it (the file is
// then used as it is). Stops the run when to cannot be created.
bool to_bcf(const std::string& from, const std::string& to, bool compressed);

// The text readers read 1 MiB blocks; inputs this small fit in one. Returns
// blank lines (nothing but blanks and line breaks, which the readers skip)
// followed by text, arranged so that text starts `before` bytes before the
// end of the first block: text[before] is the first byte of the second.
std::string behind_blank_block(std::string_view text, std::size_t before);

// Reports the broken promise on standard error and aborts, so that libFuzzer
// records the input as a crash.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

inline void expect(bool holds, const char* what) {
  if (!holds) fail("%s", what);
}

}  // namespace tsl_fuzz
