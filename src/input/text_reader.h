// Block reader for the three input files: reads a file in 1 MiB blocks and
// hands out its lines with their 1-based numbers, plus the small lexical
// helpers (white space, fields, integers) that the readers share.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tessellar {

// Longest line that the input files may hold, its line break included.
inline constexpr int kMaxLineLength = 99999;

// True for the white-space characters of the C locale: blank, tab, line
// feed, vertical tab, form feed and carriage return.
inline bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads one file line by line. Errors (the file cannot be opened or read, a
// line longer than kMaxLineLength) stop the run through fatal().
class TextReader {
 public:
  // Opens path for reading; the path is kept for messages.
  explicit TextReader(const std::string& path);
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  // Hands out the next line without its line break in line (valid until the
  // next call); returns false at the end of the file.
  bool next_line(std::string_view& line);

  // 1-based number of the line handed out last (0 before the first).
  int line_number() const { return line_number_; }

  // Goes back to the start of the file for a second pass.
  void rewind();

  // The path as given to the constructor.
  const std::string& path() const { return path_; }

 private:
  bool fill();  // reads one more block behind the unread text; false at end of file

  std::string path_;
  int fd_ = -1;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // first unread byte
  std::size_t end_ = 0;    // one past the last byte read
  bool at_eof_ = false;
  bool first_pass_ = true;  // no rewind yet
  int line_number_ = 0;
};

// Walks the white-space separated fields of one line.
class FieldCursor {
 public:
  // line: the text to walk, which must outlive the cursor.
  explicit FieldCursor(std::string_view line) : line_(line) {}

  // Puts the next field in field; returns false when none is left.
  bool next(std::string_view& field);

  // The text after the last field handed out.
  std::string_view rest() const { return line_.substr(at_); }

 private:
  std::string_view line_;
  std::size_t at_ = 0;
};

// Outcome of parse_int.
enum class IntParse { ok, not_integer, overflow };

// Parses the whole of text as a decimal integer with an optional sign into
// value; value is untouched unless the result is IntParse::ok.
IntParse parse_int(std::string_view text, int& value);

// read_code for texts of more than one character.
bool read_code_slowly(std::string_view text, std::string_view allowed, int& value);

// Reads text as a code whose value is one of the single digits in allowed:
// the digit itself, or any text that parse_int reads as one ("01", "+1").
// value is untouched when the result is false. Inline: it reads every code.
inline bool read_code(std::string_view text, std::string_view allowed, int& value) {
  if (text.size() != 1) return read_code_slowly(text, allowed, value);
  for (char c : allowed) {
    if (c == text[0]) {
      value = c - '0';
      return true;
    }
  }
  return false;
}

// text for a message: at most 40 characters, longer texts cut with "...".
std::string shown(std::string_view text);

}  // namespace tessellar
