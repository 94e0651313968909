// Output file handling (temporary file, buffered writes, rename on commit)
// and the record formatting.
#include "run/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/fatal.h"

namespace tessellar {
namespace {

bool names_non_regular_file(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

// A symbolic link is followed, so that the rename replaces its target and
// keeps the link.
std::string resolved(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  std::vector<char> target(4096);
  ssize_t length = ::readlink(path.c_str(), target.data(), target.size() - 1);
  if (length <= 0) return path;
  std::string link(target.data(), static_cast<std::size_t>(length));
  if (link[0] == '/') return link;
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? link : path.substr(0, slash + 1) + link;
}

mode_t creation_mode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

OutputFile::OutputFile(const std::string& path) : path_(path) {
  std::fflush(stdout);
  if (names_non_regular_file(path_)) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_TRUNC);
    if (fd_ < 0)
      fatal("cannot open the output file '%s': %s.", path_.c_str(), std::strerror(errno));
    return;
  }
  path_ = resolved(path_);
  std::string pattern = path_ + ".tmp.XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = ::mkstemp(name.data());
  if (fd_ < 0) fatal("cannot create the output file '%s': %s.", path.c_str(), std::strerror(errno));
  temp_path_ = name.data();
  ::fchmod(fd_, creation_mode());
}

OutputFile::~OutputFile() {
  discard();
}

void OutputFile::discard() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
  temp_path_.clear();
}

void OutputFile::flush() {
  if (temp_path_.empty()) std::fflush(stdout);  // keep the order when writing to the terminal
  const char* data = buffer_.data();
  std::size_t left = buffer_.size();
  while (left > 0) {
    ssize_t written = ::write(fd_, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0)
      fatal("cannot write to the output file '%s': %s.", path_.c_str(),
            std::strerror(written < 0 ? errno : EIO));
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  buffer_.clear();
}

void OutputFile::commit() {
  flush();
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0)
    fatal("cannot write to the output file '%s': %s.", path_.c_str(), std::strerror(errno));
  if (temp_path_.empty()) return;
  if (::rename(temp_path_.c_str(), path_.c_str()) != 0)
    fatal("cannot replace the output file '%s': %s.", path_.c_str(), std::strerror(errno));
  temp_path_.clear();
}

void append_typed_head(std::string& out, double call_fraction, const std::string& name, int pos,
                       char allele1, char allele2) {
  char head[96];
  int length = std::snprintf(head, sizeof head, "%6.4lf  %-10s  %8d  %c/%c  ", call_fraction,
                             name.c_str(), pos, allele1, allele2);
  out.append(head, static_cast<std::size_t>(length));
}

void append_untyped_head(std::string& out, const std::string& name, int pos, char allele1,
                         char allele2) {
  char head[96];
  int length = std::snprintf(head, sizeof head, "    no  %-10s  %8d  %c/%c  ", name.c_str(), pos,
                             allele1, allele2);
  out.append(head, static_cast<std::size_t>(length));
}

void append_indicators(std::string& out, int code) {
  out += code == 2 ? '1' : '0';
  out += ' ';
  out += code == 1 ? '1' : '0';
  out += ' ';
  out += code == 0 ? '1' : '0';
  out += ' ';
}

namespace {

// The two-decimal field of a probability as printf's "%3.2lf" writes it.
// first_printing[k] is the smallest double that prints as k / 100 or more,
// found once by bisection over the doubles with printf itself, so that the
// fields below are exactly printf's while costing a few comparisons.
class TwoDecimals {
 public:
  TwoDecimals() {
    for (int k = 1; k <= 100; ++k) first_printing_[k] = bisect(k);
  }
  // Hundredths that printf shows for p, for 0 <= p <= 1.
  int hundredths(double p) const {
    int k = static_cast<int>(p * 100.0 + 0.5);
    k = std::clamp(k, 0, 100);
    while (k < 100 && p >= first_printing_[k + 1]) ++k;
    while (k > 0 && p < first_printing_[k]) --k;
    return k;
  }

 private:
  static int printed(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", x);
    return static_cast<int>(std::lround(std::strtod(text, nullptr) * 100.0));
  }
  static double bisect(int k) {
    double lo = (k - 1) / 100.0;  // prints below k / 100
    double hi = (k + 1) / 100.0;  // prints k / 100 or more
    while (std::nextafter(lo, hi) < hi) {
      double mid = lo + (hi - lo) / 2;
      if (mid <= lo || mid >= hi) mid = std::nextafter(lo, hi);
      (printed(mid) >= k ? hi : lo) = mid;
    }
    return hi;
  }
  std::array<double, 101> first_printing_{};
};

const TwoDecimals& two_decimals() {
  static const TwoDecimals table;
  return table;
}

}  // namespace

void append_probability(std::string& out, double p) {
  if (p < 0.005) {
    out += "0 ";
  } else if (p >= 0.995) {
    out += "1 ";
  } else if (!(p <= 1.0)) {
    char field[32];  // not reached with probabilities; printf keeps any other value exact
    int length = std::snprintf(field, sizeof field, "%3.2lf ", p);
    out.append(field, static_cast<std::size_t>(length));
  } else {
    const int k = two_decimals().hundredths(p);
    const char field[5] = {static_cast<char>('0' + k / 100), '.',
                           static_cast<char>('0' + k / 10 % 10), static_cast<char>('0' + k % 10),
                           ' '};
    out.append(field, 5);
  }
}

}  // namespace tessellar
