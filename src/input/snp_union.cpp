// build_union (merge by position) and match_haplotypes (forward name scan
// through a name index) with the speed filter.
#include "input/snp_union.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tessellar {

namespace {

constexpr int kLowSentinel = -300000000;
constexpr int kHighSentinel = 300000000;

void append(SnpUnion& u, int pos, int study_row, int panel_row) {
  u.pos[u.n] = pos;
  u.study_row[u.n] = study_row;
  u.panel_row[u.n] = panel_row;
  ++u.n;
}

// Each name with the ascending list of the haplotype rows that carry it.
using NameIndex = std::unordered_map<std::string_view, std::vector<int>>;

NameIndex index_names(const HapTable& haps) {
  NameIndex index;
  index.reserve(static_cast<std::size_t>(haps.nsnp));
  for (int k = 0; k < haps.nsnp; ++k) index[haps.name[k]].push_back(k);
  return index;
}

// The first haplotype row after last named name, or -1.
int find_after(const NameIndex& index, const std::string& name, int last) {
  const auto hit = index.find(name);
  if (hit == index.end()) return -1;
  const std::vector<int>& rows = hit->second;
  const auto next = std::upper_bound(rows.begin(), rows.end(), last);
  return next == rows.end() ? -1 : *next;
}

}  // namespace

SnpUnion build_union(const StudyTable& study, const PanelTable& panel) {
  const int S = study.nsnp;
  const int P = panel.nsnp;
  SnpUnion u;
  u.pos = ivector(-1, S + P);
  u.study_row = ivector(-1, S + P);
  u.panel_row = ivector(-1, S + P);
  int p = 0;
  int s = 0;
  while (p < P && s < S) {
    if (panel.pos[p] < study.pos[s]) {
      append(u, panel.pos[p], -1, p);
      ++p;
    } else if (panel.pos[p] == study.pos[s]) {
      append(u, panel.pos[p], s, p);
      ++p;
      ++s;
    } else {
      append(u, study.pos[s], s, -1);
      ++s;
    }
  }
  if (p == P) {
    for (; s < S; ++s) append(u, study.pos[s], s, -1);
  } else {
    for (; p < P; ++p) append(u, panel.pos[p], -1, p);
  }
  u.pos[-1] = kLowSentinel;
  u.pos[u.n] = kHighSentinel;
  u.study_row[-1] = -1;
  u.panel_row[-1] = -1;
  return u;
}

void match_haplotypes(SnpUnion& snp_union, const PanelTable& panel, const HapTable& haps,
                      const Settings& run) {
  if (!run.hap_flag) return;
  SnpUnion& u = snp_union;
  u.hap_row = ivector(u.pos.lo(), u.pos.hi());
  u.hap_row[-1] = -1;
  const NameIndex index = index_names(haps);
  int last = -1;
  for (int r = 0; r < u.n; ++r) {
    if (u.panel_row[r] == -1) {
      u.hap_row[r] = -1;
      continue;
    }
    const int k = find_after(index, panel.name[u.panel_row[r]], last);
    u.hap_row[r] = k;
    if (k != -1) last = k;
  }
  if (!run.speed_flag) return;
  for (int r = 0; r < u.n; ++r) {
    if (u.panel_row[r] >= 0 && u.hap_row[r] == -1) u.panel_row[r] = -1;
  }
}

}  // namespace tessellar
