// read_ped: family units from a .fam-style file.
#include "input/ped.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "core/fatal.h"
#include "input/text_reader.h"

namespace tessellar {

namespace {

struct PedLine {
  int line = 0;
  int child = -1;   // sample index
  int father = -1;  // sample index, -1 when unknown or not in the panel
  int mother = -1;
};

}  // namespace

FamilyLayout singletons_only(int samples) {
  FamilyLayout layout;
  layout.nUN = samples;
  for (int s = 0; s < samples; ++s) {
    layout.sample_of_column.push_back(s);
    layout.haplotypes.push_back({s, 0});
    layout.haplotypes.push_back({s, 1});
  }
  return layout;
}

FamilyLayout read_ped(const std::string& ped_path, const std::vector<std::string>& samples) {
  std::unordered_map<std::string_view, int> index;
  for (std::size_t s = 0; s < samples.size(); ++s) index.emplace(samples[s], static_cast<int>(s));
  const int n = static_cast<int>(samples.size());
  std::vector<PedLine> children;  // lines with at least one parent in the panel
  std::vector<int> line_of(static_cast<std::size_t>(n), 0);
  TextReader file(ped_path);
  std::string_view line;
  while (file.next_line(line)) {
    FieldCursor cursor(line);
    std::string_view f[6];
    int fields = 0;
    while (fields < 6 && cursor.next(f[fields])) ++fields;
    if (fields == 0 || f[0][0] == '#') continue;
    std::string_view extra;
    if (fields < 6 || cursor.next(extra))
      fatal(
          "'%s' line %d: expected six fields (family, individual, father, mother, sex, "
          "phenotype), found %s",
          ped_path.c_str(), file.line_number(), fields < 6 ? "fewer" : "more");
    const auto who = index.find(f[1]);
    if (who == index.end())
      fatal("'%s' line %d: individual '%s' is not a sample of the panel", ped_path.c_str(),
            file.line_number(), shown(f[1]).c_str());
    const int s = who->second;
    if (line_of[static_cast<std::size_t>(s)] != 0)
      fatal("'%s' line %d: individual '%s' is listed again (first on line %d)", ped_path.c_str(),
            file.line_number(), shown(f[1]).c_str(), line_of[static_cast<std::size_t>(s)]);
    line_of[static_cast<std::size_t>(s)] = file.line_number();
    PedLine p;
    p.line = file.line_number();
    p.child = s;
    for (int k : {2, 3}) {
      if (f[k] == "0") continue;
      const auto parent = index.find(f[k]);
      if (parent == index.end()) continue;  // a parent outside the panel is unknown here
      if (parent->second == s)
        fatal("'%s' line %d: individual '%s' is named as its own parent", ped_path.c_str(), p.line,
              shown(f[1]).c_str());
      (k == 2 ? p.father : p.mother) = parent->second;
    }
    if (p.father >= 0 || p.mother >= 0) children.push_back(p);
  }
  if (std::count(line_of.begin(), line_of.end(), 0) == n)
    fatal(
        "'%s' names no individual: a ped file lists the panel's families (without -ped every "
        "sample of the panel is a singleton)",
        ped_path.c_str());
  // Each sample belongs to at most one family unit.
  std::vector<int> unit_line(static_cast<std::size_t>(n), 0);
  auto claim = [&](int sample, const PedLine& p) {
    int& first = unit_line[static_cast<std::size_t>(sample)];
    if (first != 0)
      fatal("'%s' line %d: sample '%s' would belong to two family units (the other on line %d)",
            ped_path.c_str(), p.line, samples[static_cast<std::size_t>(sample)].c_str(), first);
    first = p.line;
  };
  for (const PedLine& p : children) {
    claim(p.child, p);
    if (p.father >= 0) claim(p.father, p);
    if (p.mother >= 0) claim(p.mother, p);
  }
  std::stable_sort(children.begin(), children.end(),
                   [](const PedLine& a, const PedLine& b) { return a.child < b.child; });
  FamilyLayout layout;
  for (const PedLine& p : children) {
    if (p.father >= 0 && p.mother >= 0) {
      const int c = static_cast<int>(layout.sample_of_column.size());
      layout.sample_of_column.insert(layout.sample_of_column.end(), {p.father, p.mother, p.child});
      layout.haplotypes.insert(layout.haplotypes.end(), {{c, 0}, {c, 1}, {c + 1, 0}, {c + 1, 1}});
      ++layout.nTR;
    }
  }
  for (const PedLine& p : children) {
    if (p.father >= 0 && p.mother >= 0) continue;
    const int c = static_cast<int>(layout.sample_of_column.size());
    const bool father_known = p.father >= 0;
    layout.sample_of_column.insert(layout.sample_of_column.end(),
                                   {father_known ? p.father : p.mother, p.child});
    // paternal|maternal: the allele from the parent outside the panel
    layout.haplotypes.insert(layout.haplotypes.end(),
                             {{c, 0}, {c, 1}, {c + 1, father_known ? 1 : 0}});
    ++layout.nDU;
  }
  for (int s = 0; s < n; ++s) {
    if (unit_line[static_cast<std::size_t>(s)] != 0) continue;
    const int c = static_cast<int>(layout.sample_of_column.size());
    layout.sample_of_column.push_back(s);
    layout.haplotypes.insert(layout.haplotypes.end(), {{c, 0}, {c, 1}});
    ++layout.nUN;
  }
  return layout;
}

}  // namespace tessellar
