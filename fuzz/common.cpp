// The shared helpers of the fuzz targets.
#include "common.h"

#include <dirent.h>
#include <htslib/bgzf.h>
#include <htslib/vcf.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tsl_fuzz {

namespace {

std::string make_dir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tessellar_fuzz.XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) == nullptr) fail("cannot make a directory from '%s'", pattern.c_str());
  return name.data();
}

void remove_dir() {
  clear_work_dir();
  ::rmdir(work_dir().c_str());
}

}  // namespace

void init() {
  const char* verbose = std::getenv("TESSELLAR_FUZZ_VERBOSE");
  if (verbose == nullptr || *verbose == '\0' || std::strcmp(verbose, "0") == 0) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) fail("cannot silence standard output");
  }
  work_dir();
}

const std::string& work_dir() {
  // Never destroyed: remove_dir, run at exit, still needs it.
  static const std::string* const dir = [] {
    const auto* made = new std::string(make_dir());
    std::atexit(remove_dir);
    return made;
  }();
  return *dir;
}

std::string path_of(std::string_view name) {
  return work_dir() + "/" + std::string(name);
}

std::vector<std::string> work_dir_files() {
  std::vector<std::string> names;
  DIR* dir = ::opendir(work_dir().c_str());
  if (dir == nullptr) fail("cannot list '%s'", work_dir().c_str());
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  return names;
}

void clear_work_dir() {
  for (const std::string& name : work_dir_files()) ::unlink(path_of(name).c_str());
}

void write_file(const std::string& path, std::string_view bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) fail("cannot create '%s'", path.c_str());
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
    fail("cannot write '%s'", path.c_str());
  if (std::fclose(file) != 0) fail("cannot write '%s'", path.c_str());
}

void write_bgzf(const std::string& path, std::string_view bytes) {
  BGZF* file = bgzf_open(path.c_str(), "w");
  if (file == nullptr) fail("cannot create '%s'", path.c_str());
  if (!bytes.empty() &&
      bgzf_write(file, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    fail("cannot write '%s'", path.c_str());
  if (bgzf_close(file) != 0) fail("cannot write '%s'", path.c_str());
}

std::vector<std::string_view> sections(std::string_view text, std::size_t most) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  std::size_t line = 0;
  while (parts.size() + 1 < most && line < text.size()) {
    std::size_t end = text.find('\n', line);
    const std::size_t stop = end == std::string_view::npos ? text.size() : end;
    if (text.substr(line, stop - line) == "===") {
      parts.push_back(text.substr(start, line - start));
      start = line = end == std::string_view::npos ? text.size() : end + 1;
      continue;
    }
    line = end == std::string_view::npos ? text.size() : end + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

std::string behind_blank_block(std::string_view text, std::size_t before) {
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  constexpr std::size_t kBlankLine = 90000;  // below the longest line the readers take
  std::size_t left = before < kBlock ? kBlock - before : 0;
  std::string out;
  out.reserve(left + text.size());
  while (left > 0) {
    const std::size_t line = std::min(left, kBlankLine);
    out.append(line - 1, ' ');
    out.push_back('\n');
    left -= line;
  }
  out.append(text);
  return out;
}

void fail(const char* format, ...) {
  std::fflush(stdout);
  std::fputs("tessellar fuzz: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::abort();
}

bool run_input(const uint8_t* data, std::size_t size, std::vector<std::string_view>& parts) {
  constexpr std::size_t kMaxInput = 8192;
  constexpr std::size_t kMaxLines = 120;  // all sections together
  if (size < 4 || size > kMaxInput) return false;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 4, size - 4);
  if (static_cast<std::size_t>(std::count(rest.begin(), rest.end(), '\n')) > kMaxLines)
    return false;
  parts = sections(rest, 4);
  return true;
}

bool to_bcf(const std::string& from, const std::string& to, bool compressed) {
  htsFile* in = hts_open(from.c_str(), "r");
  if (in == nullptr) return false;
  bcf_hdr_t* header = bcf_hdr_read(in);
  if (header == nullptr) {
    hts_close(in);
    return false;
  }
  htsFile* out = hts_open(to.c_str(), compressed ? "wb" : "wbu");
  if (out == nullptr) fail("cannot create '%s'", to.c_str());
  bool ok = bcf_hdr_write(out, header) == 0;
  bcf1_t* record = bcf_init();
  int got = 0;
  while (ok && (got = bcf_read(in, header, record)) == 0 && record->errcode == 0)
    ok = bcf_write(out, header, record) == 0;
  ok = ok && got == -1;
  bcf_destroy(record);
  bcf_hdr_destroy(header);
  hts_close(in);
  if (hts_close(out) != 0) ok = false;
  return ok;
}

}  // namespace tsl_fuzz
