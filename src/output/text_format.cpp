// The text output format: record heads, indicators and probability fields.
#include "output/text_format.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "output/fixed_point.h"

namespace tessellar {

namespace {

// name padded on the right to ten characters (longer names whole), as
// "%-10s" writes it; a NUL byte ends the name, as it ends a C string.
void append_padded_name(std::string& out, std::string_view name) {
  name = name.substr(0, std::min(name.size(), name.find('\0')));
  out += name;
  if (name.size() < 10) out.append(10 - name.size(), ' ');
}

// "  %8d  %c/%c  ": the position and the two allele letters.
void append_position_and_letters(std::string& out, int pos, char allele1, char allele2) {
  char tail[40];
  const int length = std::snprintf(tail, sizeof tail, "  %8d  %c/%c  ", pos, allele1, allele2);
  out.append(tail, static_cast<std::size_t>(length));
}

}  // namespace

void append_typed_head(std::string& out, double call_fraction, std::string_view name, int pos,
                       char allele1, char allele2) {
  char head[48];
  const int length = std::snprintf(head, sizeof head, "%6.4lf  ", call_fraction);
  out.append(head, static_cast<std::size_t>(length));
  append_padded_name(out, name);
  append_position_and_letters(out, pos, allele1, allele2);
}

void append_untyped_head(std::string& out, std::string_view name, int pos, char allele1,
                         char allele2) {
  out += "    no  ";
  append_padded_name(out, name);
  append_position_and_letters(out, pos, allele1, allele2);
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

// printf's "%3.2lf" for probabilities: hundredths from 0 to 1.
const FixedPoint& two_decimals() {
  static const FixedPoint table(2, 100);
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
    const int k = two_decimals().units(p);
    const char field[5] = {static_cast<char>('0' + k / 100), '.',
                           static_cast<char>('0' + k / 10 % 10), static_cast<char>('0' + k % 10),
                           ' '};
    out.append(field, 5);
  }
}

void TextFormat::append(const SnpRecord& r, std::string& out) const {
  if (r.kind == SnpRecord::Kind::untyped) {
    append_untyped_head(out, r.name, r.pos, r.letters[0], r.letters[1]);
  } else {
    append_typed_head(out, r.call_fraction, r.name, r.pos, r.letters[0], r.letters[1]);
  }
  for (int i = 0; i < r.nind; ++i) {
    const int code = r.codes[i];
    if (code == 9 && r.prob[0] != nullptr) {
      for (int g = 2; g >= 0; --g) append_probability(out, r.prob[g][i]);
    } else {
      append_indicators(out, code);
    }
  }
  out += '\n';
}

}  // namespace tessellar
