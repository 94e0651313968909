// The counting steps of the first pass and the rows of the second pass.
#include "input/genotype_rows.h"

#include "core/fatal.h"

namespace tessellar {

namespace {

constexpr int kMaxNameLength = 29;
constexpr int kPositionLimit = 300000000;  // positions lie strictly inside +-this

// Everything one row check needs to word its message.
struct RowContext {
  const std::string& path;
  const GenotypeLayout& layout;
  int line;
  bool last_row;  // the last row that the first pass counted
};

// "the file ends in the middle of a row: " for a short last row, else "".
const char* ending(const RowContext& row) {
  return row.last_row ? "the file ends in the middle of a row: " : "";
}

const char* fixed_fields_text(const GenotypeLayout& layout) {
  return layout.has_recode ? "a SNP name, a position, a recode flag and two allele letters"
                           : "a SNP name, a position and two allele letters";
}

int parse_position(const RowContext& row, std::string_view text) {
  int value = 0;
  const IntParse result = parse_int(text, value);
  if (result == IntParse::not_integer) {
    fatal("'%s' line %d: expected the position as a whole number of base pairs, found '%s'",
          row.path.c_str(), row.line, shown(text).c_str());
  }
  if (result == IntParse::overflow || value <= -kPositionLimit || value >= kPositionLimit) {
    fatal("'%s' line %d: expected a position strictly between -%d and %d, found '%s'",
          row.path.c_str(), row.line, kPositionLimit, kPositionLimit, shown(text).c_str());
  }
  return value;
}

int parse_recode(const RowContext& row, std::string_view text) {
  int value = 0;
  if (parse_int(text, value) != IntParse::ok) {
    fatal(
        "'%s' line %d: expected the recode flag as a whole number (1: recode the panel codes), "
        "found '%s'",
        row.path.c_str(), row.line, shown(text).c_str());
  }
  return value;
}

char parse_allele(const RowContext& row, std::string_view text, int which) {
  if (text.size() != 1) {
    fatal("'%s' line %d: expected allele %d as a single letter, found '%s'", row.path.c_str(),
          row.line, which, shown(text).c_str());
  }
  return text[0];
}

// One genotype code of member m; first_line: codes must be one character.
int8_t parse_code(const RowContext& row, std::string_view text, int m, bool first_line) {
  int value = 0;
  if ((text.size() == 1 || !first_line) && read_code(text, "0129", value)) {
    return static_cast<int8_t>(value);
  }
  if (first_line && text.size() != 1) {
    fatal(
        "'%s' line %d: genotype code '%s' has more than one character; the number of %s is "
        "taken from the first line, whose codes must be one character each",
        row.path.c_str(), row.line, shown(text).c_str(), row.layout.members);
  }
  fatal("'%s' line %d: expected genotype code 0, 1, 2 or 9 (missing) for %s %d, found '%s'",
        row.path.c_str(), row.line, row.layout.member, m + 1, shown(text).c_str());
}

// Reads the codes after the allele letters into codes; returns how many
// codes the line holds (counting past members without storing them).
int read_codes(const RowContext& row, FieldCursor& cursor, int members, bool first_line,
               int8_t* codes) {
  std::string_view field;
  int found = 0;
  while (cursor.next(field)) {
    if (found < members) codes[found] = parse_code(row, field, found, first_line);
    ++found;
  }
  return found;
}

void check_code_count(const RowContext& row, int members, int found) {
  if (members == 0) {
    fatal(
        "'%s' line %d: expected genotype codes after the allele letters, found none; the "
        "number of %s is taken from the first line",
        row.path.c_str(), row.line, row.layout.members);
  }
  if (found == members) return;
  fatal("'%s' line %d: %sexpected %d genotype codes after the allele letters, found %d",
        row.path.c_str(), row.line, found < members ? ending(row) : "", members, found);
}

// Where row s's codes go: into the table when its position is kept (the
// kept rows are consecutive), else into spare.
int8_t* code_place(GenotypeRows& rows, int s, KeptPositions kept, std::vector<int8_t>& spare) {
  const long long pos = rows.pos[static_cast<std::size_t>(s)];
  if (pos < kept.lo || pos > kept.hi) return spare.data();
  GenoMatrix& geno = rows.geno;
  if (geno.codes.empty()) geno.first = s;
  geno.codes.resize(geno.codes.size() + static_cast<std::size_t>(geno.members));
  return geno.row(s);
}

// Parses row s of the file from line into rows (its codes only when kept).
void parse_row(const RowContext& row, std::string_view line, int s, GenotypeRows& rows,
               KeptPositions kept, std::vector<int8_t>& spare) {
  const int nfixed = row.layout.has_recode ? 5 : 4;
  std::string_view fixed[5];
  FieldCursor cursor(line);
  for (int f = 0; f < nfixed; ++f) {
    if (!cursor.next(fixed[f])) {
      fatal("'%s' line %d: %sexpected %s, found %d field%s", row.path.c_str(), row.line,
            ending(row), fixed_fields_text(row.layout), f, f == 1 ? "" : "s");
    }
  }
  check_name_length(row.path, row.line, fixed[0]);
  rows.name[s] = std::string(fixed[0]);
  rows.pos[s] = parse_position(row, fixed[1]);
  if (s > 0 && rows.pos[s] < rows.pos[s - 1]) {
    fatal("'%s' line %d: positions must not decrease from one row to the next, found %d after %d",
          row.path.c_str(), row.line, rows.pos[s], rows.pos[s - 1]);
  }
  if (row.layout.has_recode) rows.recode[s] = parse_recode(row, fixed[2]);
  rows.allele[s] = {parse_allele(row, fixed[nfixed - 2], 1),
                    parse_allele(row, fixed[nfixed - 1], 2)};
  const int members = rows.geno.members;
  int8_t* codes = kept.all() ? rows.geno.row(s) : code_place(rows, s, kept, spare);
  check_code_count(row, members, read_codes(row, cursor, members, s == 0, codes));
  set_frequencies(rows, s, codes);
}

}  // namespace

int count_columns(TextReader& file, int k) {
  std::string_view line;
  int skipped = 0;
  while (file.next_line(line)) {  // the skipped fields may run over line breaks
    FieldCursor cursor(line);
    std::string_view field;
    while (skipped < k && cursor.next(field)) ++skipped;
    if (skipped < k) continue;
    int columns = 0;
    for (char c : cursor.rest()) columns += !is_space(c);
    return columns;
  }
  return 0;  // fewer than k fields in the whole file
}

int count_rows(TextReader& file) {
  int rows = 1;
  std::string_view line;
  while (file.next_line(line)) rows += !is_blank(line);
  return rows;
}

void set_frequencies(GenotypeRows& rows, int s) {
  set_frequencies(rows, s, rows.geno.row(s));
}

void set_frequencies(GenotypeRows& rows, int s, const int8_t* codes) {
  const int members = rows.geno.members;
  // Counted in integers (a sum that a double holds exactly), without branches.
  long long sum = 0;
  int cnt = 0;
  for (int m = 0; m < members; ++m) {
    const int known = codes[m] != 9;
    sum += known * codes[m];
    cnt += known;
  }
  rows.freq[static_cast<std::size_t>(s)] = static_cast<double>(sum) / (2.0 * cnt);
  rows.miss[static_cast<std::size_t>(s)] = static_cast<double>(members - cnt) / members;
}

bool is_blank(std::string_view line) {
  for (char c : line) {
    if (!is_space(c)) return false;
  }
  return true;
}

void check_name_length(const std::string& path, int line, std::string_view name) {
  if (name.size() <= static_cast<std::size_t>(kMaxNameLength)) return;
  fatal("'%s' line %d: expected a SNP name of at most %d characters, found '%s' (%zu characters)",
        path.c_str(), line, kMaxNameLength, shown(name).c_str(), name.size());
}

void for_each_row(TextReader& file, int nsnp,
                  const std::function<void(std::string_view line, int s)>& parse) {
  file.rewind();
  std::string_view line;
  int s = 0;
  bool more_rows = false;
  while (file.next_line(line)) {
    if (is_blank(line)) continue;
    if (s == nsnp) {
      more_rows = true;
      break;
    }
    parse(line, s);
    ++s;
  }
  if (s == 0) fatal("'%s' holds no SNP rows: the file is empty or blank", file.path().c_str());
  if (s != nsnp || more_rows) {
    fatal("'%s' line %d: the file changed while it was read (%d SNP rows counted at first)",
          file.path().c_str(), file.line_number(), nsnp);
  }
}

void check_not_blank(TextReader& file) {
  file.rewind();
  std::string_view line;
  while (file.next_line(line)) {
    if (!is_blank(line)) return;
  }
  fatal("'%s' holds no SNP rows: the file is empty or blank", file.path().c_str());
}

GenotypeRows read_genotype_rows(TextReader& file, const GenotypeLayout& layout, int members,
                                int nsnp, KeptPositions kept) {
  GenotypeRows rows;
  rows.nsnp = nsnp;
  const auto n = static_cast<std::size_t>(nsnp);
  rows.name.resize(n);
  rows.pos.resize(n);
  if (layout.has_recode) rows.recode.resize(n);
  rows.allele.resize(n);
  rows.geno.members = members;
  std::vector<int8_t> spare;
  if (kept.all()) {
    rows.geno.codes.resize(n * static_cast<std::size_t>(members));
  } else {
    spare.resize(static_cast<std::size_t>(members));
  }
  rows.freq.resize(n);
  rows.miss.resize(n);
  for_each_row(file, nsnp, [&](std::string_view line, int s) {
    parse_row(RowContext{file.path(), layout, file.line_number(), s == nsnp - 1}, line, s, rows,
              kept, spare);
  });
  return rows;
}

}  // namespace tessellar
