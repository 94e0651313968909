// TextReader, FieldCursor, parse_int.
#include "input/text_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "core/fatal.h"

namespace tessellar {

namespace {

constexpr std::size_t kBlockSize = std::size_t{1} << 20;

}  // namespace

TextReader::TextReader(const std::string& path) : path_(path), buffer_(kBlockSize) {
  do {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) fatal("cannot open '%s' for reading: %s", path.c_str(), std::strerror(errno));
  // The text formats are read twice (a count, then the rows): a pipe cannot be.
  struct stat st;
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))
    fatal(
        "'%s' is not a regular file: text inputs are read twice, so a regular file is needed "
        "(pipes and process substitutions work for VCF and BCF inputs)",
        path.c_str());
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
}

TextReader::~TextReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool TextReader::fill() {
  if (at_eof_) return false;
  if (begin_ > 0) {  // move the unread text to the front
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (got > 0) {
      end_ += static_cast<std::size_t>(got);
      return true;
    }
    if (got == 0) {
      at_eof_ = true;
      return false;
    }
    if (errno != EINTR) fatal("cannot read '%s': %s", path_.c_str(), std::strerror(errno));
  }
}

bool TextReader::next_line(std::string_view& line) {
  std::size_t scanned = begin_;  // bytes before this offset hold no line break
  for (;;) {
    const char* start = buffer_.data() + scanned;
    const void* hit = std::memchr(start, '\n', end_ - scanned);
    std::size_t length;
    bool have_line = false;
    bool has_break = false;
    if (hit != nullptr) {
      length = static_cast<std::size_t>(static_cast<const char*>(hit) - buffer_.data()) - begin_;
      have_line = has_break = true;
    } else {
      length = end_ - begin_;
    }
    if (length + (has_break ? 1 : 0) > static_cast<std::size_t>(kMaxLineLength)) {
      fatal(
          "'%s' line %d: a line may hold at most %d characters including its line break; "
          "this one is longer",
          path_.c_str(), line_number_ + 1, kMaxLineLength);
    }
    if (!have_line) {
      const std::size_t unread = end_ - begin_;
      if (fill()) {
        scanned = begin_ + unread;
        continue;
      }
      if (end_ == begin_) return false;  // end of file after a line break
      length = end_ - begin_;            // last line without a line break
    }
    line = std::string_view(buffer_.data() + begin_, length);
    begin_ += length + (has_break ? 1 : 0);
    ++line_number_;
    // Checked on the first pass only: the second reads the same bytes.
    if (const void* nul = first_pass_ ? std::memchr(line.data(), '\0', line.size()) : nullptr;
        nul != nullptr)
      fatal("'%s' line %d: the line holds a NUL byte (\\0) at column %zu; text inputs hold none",
            path_.c_str(), line_number_,
            static_cast<std::size_t>(static_cast<const char*>(nul) - line.data()) + 1);
    return true;
  }
}

void TextReader::rewind() {
  if (::lseek(fd_, 0, SEEK_SET) < 0) {
    fatal("cannot go back to the start of '%s': %s", path_.c_str(), std::strerror(errno));
  }
  begin_ = end_ = 0;
  at_eof_ = false;
  line_number_ = 0;
  first_pass_ = false;
}

bool FieldCursor::next(std::string_view& field) {
  while (at_ < line_.size() && is_space(line_[at_])) ++at_;
  if (at_ == line_.size()) return false;
  const std::size_t start = at_;
  while (at_ < line_.size() && !is_space(line_[at_])) ++at_;
  field = line_.substr(start, at_ - start);
  return true;
}

IntParse parse_int(std::string_view text, int& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return IntParse::not_integer;
  // Accumulate the magnitude; the limit is one more for the negative side.
  const long long limit = static_cast<long long>(std::numeric_limits<int>::max()) + negative;
  long long magnitude = 0;
  bool too_large = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return IntParse::not_integer;
    if (!too_large) {
      magnitude = magnitude * 10 + (c - '0');
      too_large = magnitude > limit;
    }
  }
  if (too_large) return IntParse::overflow;
  value = static_cast<int>(negative ? -magnitude : magnitude);
  return IntParse::ok;
}

bool read_code_slowly(std::string_view text, std::string_view allowed, int& value) {
  int v = -1;
  if (parse_int(text, v) != IntParse::ok || v < 0 || v > 9) return false;
  for (char c : allowed) {
    if (c == '0' + v) {
      value = v;
      return true;
    }
  }
  return false;
}

std::string shown(std::string_view text) {
  constexpr std::size_t kShown = 40;
  if (text.size() <= kShown) return std::string(text);
  return std::string(text.substr(0, kShown)) + "...";
}

}  // namespace tessellar
