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

// The other strand's letter.
char complement(char c) {
  switch (c) {
    case 'A':
      return 'T';
    case 'T':
      return 'A';
    case 'C':
      return 'G';
    case 'G':
      return 'C';
    default:
      return c;
  }
}

enum class Pairing { none, same, swapped, other_strand };

Pairing pairing(const std::array<char, 2>& study, const std::array<char, 2>& panel) {
  if (panel == study) return Pairing::same;
  if (panel[0] == study[1] && panel[1] == study[0]) return Pairing::swapped;
  const std::array<char, 2> flipped = {complement(panel[0]), complement(panel[1])};
  if (flipped == study || (flipped[0] == study[1] && flipped[1] == study[0]))
    return Pairing::other_strand;
  return Pairing::none;
}

SnpUnion empty_union(int rows) {
  SnpUnion u;
  u.pos = ivector(-1, rows);
  u.study_row = ivector(-1, rows);
  u.panel_row = ivector(-1, rows);
  return u;
}

void close_union(SnpUnion& u) {
  u.pos[-1] = kLowSentinel;
  u.pos[u.n] = kHighSentinel;
  u.study_row[-1] = -1;
  u.panel_row[-1] = -1;
}

}  // namespace

SnpUnion build_union_by_alleles(const StudyTable& study, PanelTable& panel,
                                std::vector<int>& mismatched) {
  const int S = study.nsnp;
  const int P = panel.nsnp;
  SnpUnion u = empty_union(S + P);
  int s = 0;
  int p = 0;
  std::vector<bool> used;
  while (s < S || p < P) {
    if (s == S || (p < P && panel.pos[p] < study.pos[s])) {
      append(u, panel.pos[p], -1, p);
      ++p;
      continue;
    }
    if (p == P || study.pos[s] < panel.pos[p]) {
      append(u, study.pos[s], s, -1);
      ++s;
      continue;
    }
    // The rows of both at this position.
    const int x = study.pos[s];
    int s_end = s;
    while (s_end < S && study.pos[s_end] == x) ++s_end;
    int p_end = p;
    while (p_end < P && panel.pos[p_end] == x) ++p_end;
    used.assign(static_cast<std::size_t>(p_end - p), false);
    for (; s < s_end; ++s) {
      int partner = -1;
      for (int q = p; q < p_end && partner < 0; ++q) {
        if (used[static_cast<std::size_t>(q - p)]) continue;
        const Pairing how = pairing(study.allele[s], panel.allele[q]);
        if (how == Pairing::none) continue;
        partner = q;
        used[static_cast<std::size_t>(q - p)] = true;
        // The letters of the study's strand; A/T and C/G pairs never get here:
        // their other strand reads as the same or swapped letters.
        if (how == Pairing::other_strand)
          panel.allele[q] = {complement(panel.allele[q][0]), complement(panel.allele[q][1])};
      }
      append(u, x, s, partner);
    }
    for (int q = p; q < p_end; ++q)
      if (!used[static_cast<std::size_t>(q - p)]) mismatched.push_back(q);
    p = p_end;
  }
  close_union(u);
  return u;
}

void assign_haplotype_rows(SnpUnion& snp_union, const std::vector<int>& hap_of_panel_row,
                           const Settings& run) {
  SnpUnion& u = snp_union;
  u.hap_row = ivector(u.pos.lo(), u.pos.hi());
  u.hap_row[-1] = -1;
  for (int r = 0; r < u.n; ++r) {
    const int p = u.panel_row[r];
    u.hap_row[r] = p >= 0 ? hap_of_panel_row[static_cast<std::size_t>(p)] : -1;
  }
  if (!run.speed_flag) return;
  for (int r = 0; r < u.n; ++r) {
    if (u.panel_row[r] >= 0 && u.hap_row[r] == -1) u.panel_row[r] = -1;
  }
}

HapTable haplotypes_by_position(const PanelTable& panel, const HapTable& haps,
                                const std::vector<int>& pos,
                                const std::vector<std::array<char, 2>>& allele,
                                std::vector<int>& hap_of_row, std::vector<bool>& taken) {
  HapTable out;
  out.ncol = haps.ncol;
  hap_of_row.assign(static_cast<std::size_t>(panel.nsnp), -1);
  taken.assign(static_cast<std::size_t>(haps.nsnp), false);
  int k = 0;
  for (int r = 0; r < panel.nsnp; ++r) {
    while (k < haps.nsnp && pos[static_cast<std::size_t>(k)] < panel.pos[r]) ++k;
    for (int q = k; q < haps.nsnp && pos[static_cast<std::size_t>(q)] == panel.pos[r]; ++q) {
      const std::array<char, 2>& a = allele[static_cast<std::size_t>(q)];
      const bool same = a == panel.allele[r];
      const bool swapped = a[0] == panel.allele[r][1] && a[1] == panel.allele[r][0];
      if (taken[static_cast<std::size_t>(q)] || (!same && !swapped)) continue;
      taken[static_cast<std::size_t>(q)] = true;
      hap_of_row[static_cast<std::size_t>(r)] = out.nsnp++;
      out.name.push_back(haps.name[static_cast<std::size_t>(q)]);
      const uint8_t* bits = haps.hap(q);
      for (int c = 0; c < haps.ncol; ++c)
        out.bits.push_back(static_cast<uint8_t>(same ? bits[c] : 1 - bits[c]));
      break;
    }
  }
  return out;
}

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
