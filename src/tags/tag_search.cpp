// Evaluating one tag set and the tag search of one target.
#include "tags/tag_search.h"

#include <algorithm>
#include <atomic>

#include "haplo/em.h"
#include "tags/count_search.h"
#include "tags/tag_score.h"
#include "tags/tag_scratch.h"

namespace tessellar {

namespace {
uint64_t next_index_id() {
  static std::atomic<uint64_t> last{0};
  return ++last;
}
}  // namespace

HapIndex::HapIndex(const HapTable& haps)
    : id_(next_index_id()),
      ncol_(haps.ncol),
      words_((haps.ncol + 63) / 64),
      first_(haps.first),
      bits_(static_cast<std::size_t>(haps.stored()) * words_, 0) {
  for (int r = first_; r < first_ + haps.stored(); ++r) {
    const uint8_t* in = haps.hap(r);
    uint64_t* out = bits_.data() + static_cast<std::size_t>(r - first_) * words_;
    for (int k = 0; k < ncol_; ++k) {
      if (in[k] != 0) out[k / 64] |= uint64_t{1} << (k % 64);
    }
  }
}

void TagScratchDeleter::operator()(TagScratch* scratch) const {
  delete scratch;
}

TagScratchPtr make_tag_scratch() {
  return TagScratchPtr(new TagScratch());
}

std::span<const int> candidates(const TagScratch& scratch) {
  return scratch.candidates;
}

CandidateEdges candidate_edges(const TagScratch& scratch) {
  return scratch.edges;
}

namespace {

// Whether the set takes the counting path.
bool counts_haplotypes(const WindowGeometry& g, const int* set, int hap_flag, const int* hap_row) {
  if (!hap_flag) return false;
  for (int s = 0; s < g.M; ++s) {
    if (hap_row[set[s]] < 0) return false;
  }
  return true;
}

// The counting path: count every haplotype column's window haplotype.
double count_set(const WindowGeometry& g, const int* set, const HapTable& hap, const int* hap_row,
                 TagScratch& scratch) {
  std::vector<int>& counts = scratch.counts;
  counts.assign(g.K, 0);
  const uint8_t* rows[kMaxM];
  for (int s = 0; s < g.M; ++s) rows[s] = hap.hap(hap_row[set[s]]);
  for (int k = 0; k < hap.ncol; ++k) {
    int h = 0;
    for (int s = 0; s < g.M; ++s) h = 2 * h + rows[s][k];
    ++counts[h];
  }
  return score_from_counts(g, counts.data(), hap.ncol, scratch);
}

// The EM path: window rows from the mode's table, its pattern list, the EM
// from 1/K, normalised frequencies.
double estimate_set(const Settings& st, const int* set, const TagTables& t, Mode mode,
                    WindowRows rows, TagScratch& scratch) {
  const WindowGeometry& g = st.geometry;
  const bool panel = mode == Mode::untyped;
  const GenoMatrix& geno = panel ? t.panel_geno : t.study_geno;
  const int* table_row = panel ? t.snp_union.panel_row.data() : t.snp_union.study_row.data();
  const int R = panel ? t.panel_ncol : t.nind;
  int* tags = panel ? rows.panel_tags : rows.study_tags;
  for (int r = 0; r < R; ++r) {
    for (int s = 0; s < g.M; ++s) tags[r * g.M + s] = geno.at(r, table_row[set[s]]);
  }
  std::vector<double>& f = scratch.freq;
  f.assign(g.K, 1.0 / g.K);
  EmUnits units;
  if (panel) {
    makelist_ex(g, scratch.families, tags, st.nTR, st.nDU, st.nUN);
    units.families = &scratch.families;
  } else {
    makelist(g, scratch.study, tags, R);
    units.study = &scratch.study;
  }
  estimate_frequencies(g.K, f.data(), units);
  freelink_ex(scratch.families);
  freelink(scratch.study);
  double sum = 0;
  for (int h = 0; h < g.K; ++h) sum += f[h];
  for (int h = 0; h < g.K; ++h) f[h] /= sum;
  return MDfun(g, f.data(), 1);
}

// Whether union row u may be a candidate tag.
bool qualifies(const SnpUnion& un, int u, Mode mode, bool need_hap) {
  if (un.study_row[u] < 0) return false;
  if (mode == Mode::untyped && un.panel_row[u] < 0) return false;
  return !need_hap || un.hap_row[u] >= 0;
}

// Every set of k = M - 1 candidates in lexicographic order, each scored by
// score_set; the early stop and the improvement rule of the search.
template <class Score>
void search_sets(const WindowGeometry& g, int target, int N, int* tag_list, double* score,
                 TagScratch& scratch, Score score_set) {
  const int k = g.tags();
  std::vector<int>& places = scratch.places;
  std::vector<int>& set = scratch.set;
  places.resize(k);
  set.resize(k + 1);
  for (int i = 0; i < k; ++i) places[i] = i;
  set[0] = target;
  double best = 0;
  while (best < kGoodEnoughScore) {
    for (int i = 0; i < k; ++i) set[i + 1] = scratch.candidates[places[i]];
    const double s = score_set(set.data());
    if (s > best + kScoreStep) {
      best = s;
      *score = s;
      std::copy(set.begin(), set.end(), tag_list);
    }
    int i = k - 1;
    while (i >= 0 && places[i] == N - k + i) --i;
    if (i < 0) break;
    ++places[i];
    for (int j = i + 1; j < k; ++j) places[j] = places[j - 1] + 1;
  }
}

}  // namespace

int collect_candidates(const Settings& s, const SnpUnion& u, int target, Mode mode,
                       TagScratch& scratch) {
  const bool need_hap = s.hap_flag && s.speed_flag;
  auto ok = [&](int row) { return qualifies(u, row, mode, need_hap); };
  std::vector<int>& left = scratch.left;
  std::vector<int>& right = scratch.candidates;
  left.clear();
  right.clear();
  scratch.edges = CandidateEdges{};
  int l = target - 1;
  int r = target + 1;
  int N = 0;
  const long long t = u.pos[target];  // wide: t + window must not overflow
  while (N < s.maxnum) {
    while (l >= 0 && !ok(l)) --l;
    while (r < u.n && !ok(r)) ++r;
    scratch.edges.left = scratch.edges.left || l < 0;
    scratch.edges.right = scratch.edges.right || r >= u.n;
    if (l < 0 && r >= u.n) break;
    const bool take_left = r >= u.n || (l >= 0 && t - u.pos[l] <= u.pos[r] - t);
    const bool outside = take_left ? u.pos[l] < t - s.window : u.pos[r] > t + s.window;
    if (outside && N >= s.minnum) break;
    if (take_left) {
      left.push_back(l--);
    } else {
      right.push_back(r++);
    }
    ++N;
  }
  right.insert(right.begin(), left.rbegin(), left.rend());
  return N;
}

double getMD(const Settings& s, const int* set, const TagTables& t, Mode mode, WindowRows rows,
             TagScratch& scratch) {
  const int* hap_row = t.snp_union.hap_row.data();
  if (counts_haplotypes(s.geometry, set, s.hap_flag, hap_row)) {
    return count_set(s.geometry, set, t.hap, hap_row, scratch);
  }
  return estimate_set(s, set, t, mode, rows, scratch);
}

void getMD_max(const Settings& s, int* tag_list, double* score, int target, Mode mode,
               const TagTables& t, WindowRows rows, TagScratch& scratch) {
  *score = 0;
  const WindowGeometry& g = s.geometry;
  const int N = collect_candidates(s, t.snp_union, target, mode, scratch);
  const int k = g.tags();
  if (k < 1 || N < k) return;
  const int* cand = scratch.candidates.data();
  const int* hap_row = t.snp_union.hap_row.data();
  bool all_counted = s.hap_flag && hap_row[target] >= 0 && t.hap.ncol == t.hap_index.ncol();
  for (int i = 0; i < N; ++i) all_counted = all_counted && hap_row[cand[i]] >= 0;
  if (all_counted) {
    const CountingInputs in{g, cand, N, target, hap_row, t.hap_index};
    search_by_counting(in, tag_list, score, scratch);
    return;
  }
  search_sets(g, target, N, tag_list, score, scratch,
              [&](const int* set) { return getMD(s, set, t, mode, rows, scratch); });
}

}  // namespace tessellar
