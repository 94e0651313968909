// Reading a PLINK .map file through htslib (plain or compressed) and
// interpolating in it.
#include "input/genetic_map.h"

#include <htslib/hts.h>
#include <htslib/kseq.h>
#include <htslib/kstring.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "core/fatal.h"
#include "input/text_reader.h"
#include "input/vcf_reader.h"

namespace tessellar {

namespace {

struct HtsCloser {
  void operator()(htsFile* f) const {
    if (f != nullptr) hts_close(f);
  }
};

// A line buffer of htslib's, freed on every way out.
struct Line {
  kstring_t text = {0, 0, nullptr};
  ~Line() { std::free(text.s); }
};

// A whole field as a finite number; false when it is not one.
bool to_double(std::string_view field, double& value) {
  const std::string text(field);
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && errno != ERANGE && std::isfinite(value);
}

// A whole field as an integer of 0 or more; false when it is not one.
bool to_position(std::string_view field, long long& value) {
  if (field.empty() || field.size() > 18) return false;
  long long v = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  value = v;
  return true;
}

// Adds one line's position to the map; line is its 1-based number.
void add_line(GeneticMap& map, std::string_view text, long long line) {
  FieldCursor cursor(text);
  std::string_view f[5];
  int n = 0;
  while (n < 5 && cursor.next(f[n])) ++n;
  if (n == 0) return;  // a blank line
  const char* path = map.path.c_str();
  if (n != 4)
    fatal("genetic map '%s' line %lld: expected 4 fields (chromosome, id, cM, bp), found %s%d",
          path, line, n == 5 ? "more than " : "", n == 5 ? 4 : n);
  double cm = 0;
  long long bp = 0;
  if (!to_double(f[2], cm))
    fatal("genetic map '%s' line %lld: the position in cM '%s' is not a number", path, line,
          shown(f[2]).c_str());
  if (!to_position(f[3], bp))
    fatal("genetic map '%s' line %lld: the position in bp '%s' is not an integer of 0 or more",
          path, line, shown(f[3]).c_str());
  if (map.contigs.empty() || map.contigs.back().name != f[0]) {
    for (const MapContig& c : map.contigs)
      if (c.name == f[0])
        fatal(
            "genetic map '%s' line %lld: chromosome %s comes back after chromosome %s; the lines "
            "of a chromosome must stand together",
            path, line, shown(f[0]).c_str(), map.contigs.back().name.c_str());
    map.contigs.push_back({std::string(f[0]), {}, {}});
  }
  MapContig& c = map.contigs.back();
  if (!c.bp.empty() && bp <= c.bp.back())
    fatal(
        "genetic map '%s' line %lld: position %lld bp follows position %lld bp of chromosome %s; "
        "the map must be sorted by position",
        path, line, bp, c.bp.back(), c.name.c_str());
  if (!c.cm.empty() && cm < c.cm.back())
    fatal(
        "genetic map '%s' line %lld: %g cM at %lld bp is below the %g cM of the position before; "
        "genetic positions must not decrease",
        path, line, cm, bp, c.cm.back());
  c.bp.push_back(bp);
  c.cm.push_back(cm);
}

}  // namespace

double MapContig::cm_at(long long pos) const {
  // The interval that holds pos, or the first or last one beyond the ends.
  const auto above = std::upper_bound(bp.begin(), bp.end(), pos);
  std::size_t right = static_cast<std::size_t>(above - bp.begin());
  right = std::clamp<std::size_t>(right, 1, bp.size() - 1);
  const std::size_t left = right - 1;
  const double rate = (cm[right] - cm[left]) / static_cast<double>(bp[right] - bp[left]);
  return cm[left] + rate * static_cast<double>(pos - bp[left]);
}

const MapContig* GeneticMap::find(std::string_view name) const {
  for (const MapContig& c : contigs)
    if (contig_key(c.name) == contig_key(name)) return &c;
  return nullptr;
}

GeneticMap read_genetic_map(const std::string& path) {
  GeneticMap map;
  map.path = path;
  std::unique_ptr<htsFile, HtsCloser> file(hts_open(path.c_str(), "r"));
  if (file == nullptr)
    fatal("cannot read the genetic map '%s': %s", path.c_str(), std::strerror(errno));
  Line buffer;
  long long line = 0;
  int got = 0;
  while ((got = hts_getline(file.get(), KS_SEP_LINE, &buffer.text)) >= 0) {
    ++line;
    std::string_view view(buffer.text.s, buffer.text.l);
    if (!view.empty() && view.back() == '\r') view.remove_suffix(1);
    add_line(map, view, line);
  }
  if (got < -1) fatal("genetic map '%s': the file is damaged after line %lld", path.c_str(), line);
  if (map.contigs.empty()) fatal("genetic map '%s' holds no position", path.c_str());
  std::size_t positions = 0;
  for (const MapContig& c : map.contigs) positions += c.bp.size();
  std::printf("%zu positions of %zu chromosome%s read from the genetic map '%s'\n", positions,
              map.contigs.size(), map.contigs.size() == 1 ? "" : "s", path.c_str());
  return map;
}

const MapContig& map_contig(const GeneticMap& map, std::string_view name) {
  const MapContig* c = map.find(name);
  const std::string contig(name);
  if (c == nullptr)
    fatal("genetic map '%s' holds no position of contig %s (its chromosomes: %s%s)",
          map.path.c_str(), contig.c_str(), map.contigs.front().name.c_str(),
          map.contigs.size() > 1 ? ", ..." : "");
  if (c->bp.size() < 2)
    fatal("genetic map '%s' holds one position of contig %s; interpolation needs two or more",
          map.path.c_str(), contig.c_str());
  return *c;
}

}  // namespace tessellar
