// read_haplotypes: the phased haplotype file.
#include "input/haplotypes.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/fatal.h"
#include "input/genotype_rows.h"
#include "input/text_reader.h"

namespace tessellar {

namespace {

// One haplotype value of column c on line; first_line: one character only.
uint8_t parse_value(const std::string& path, int line, std::string_view text, int c,
                    bool first_line) {
  int value = 0;
  if ((text.size() == 1 || !first_line) && read_code(text, "01", value)) {
    return static_cast<uint8_t>(value);
  }
  if (first_line && text.size() != 1) {
    fatal(
        "'%s' line %d: haplotype value '%s' has more than one character; the number of "
        "haplotypes is taken from the first line, whose values must be one character each",
        path.c_str(), line, shown(text).c_str());
  }
  fatal("'%s' line %d: expected haplotype value 0 or 1 for haplotype %d, found '%s'", path.c_str(),
        line, c + 1, shown(text).c_str());
}

// Parses row r of the file from line into haps, its values into values.
void parse_row(const std::string& path, int line_number, std::string_view line, int r,
               HapTable& haps, uint8_t* values) {
  FieldCursor cursor(line);
  std::string_view field;
  cursor.next(field);  // a non-blank line holds at least the name
  check_name_length(path, line_number, field);
  haps.name[r] = std::string(field);
  int found = 0;
  while (cursor.next(field)) {
    if (found < haps.ncol) values[found] = parse_value(path, line_number, field, found, r == 0);
    ++found;
  }
  if (haps.ncol == 0) {
    fatal(
        "'%s' line %d: expected haplotype values after the SNP name, found none; the number "
        "of haplotypes is taken from the first line",
        path.c_str(), line_number);
  }
  if (found == haps.ncol) return;
  fatal("'%s' line %d: %sexpected %d haplotype values after the SNP name, found %d", path.c_str(),
        line_number,
        found < haps.ncol && r == haps.nsnp - 1 ? "the file ends in the middle of a row: " : "",
        haps.ncol, found);
}

}  // namespace

HapTable read_haplotypes(const std::string& hfile, const Settings& run, KeptRows kept, bool quiet) {
  TextReader file(hfile);
  HapTable haps;
  haps.ncol = count_columns(file, 1);
  haps.nsnp = count_rows(file);
  if (haps.ncol == 0) check_not_blank(file);
  haps.name.resize(static_cast<std::size_t>(haps.nsnp));
  const int first = std::max(0, kept.first);
  const int last = std::min(haps.nsnp - 1, kept.last);
  haps.first = first;
  if (first <= last) haps.bits.resize(static_cast<std::size_t>(last - first + 1) * haps.ncol);
  std::vector<uint8_t> spare(static_cast<std::size_t>(haps.ncol));
  for_each_row(file, haps.nsnp, [&](std::string_view line, int r) {
    const bool keep = r >= first && r <= last;
    parse_row(
        hfile, file.line_number(), line, r, haps,
        keep ? haps.bits.data() + static_cast<std::size_t>(r - first) * haps.ncol : spare.data());
  });
  if (quiet) return haps;
  std::printf("%d SNPs, %d trios, %d duos, and %d singletons read from '%s'\n", haps.nsnp, run.nTR,
              run.nDU, run.nUN, hfile.c_str());
  return haps;
}

}  // namespace tessellar
