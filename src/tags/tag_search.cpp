// Evaluating one tag set and the tag search of one target.
#include "tags/tag_search.h"

#include <algorithm>
#include <atomic>

#include "haplo/em.h"
#include "run/settings.h"
#include "tags/count_search.h"
#include "tags/tag_score.h"

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
      bits_(static_cast<std::size_t>(haps.nsnp) * words_, 0) {
  for (int r = 0; r < haps.nsnp; ++r) {
    const uint8_t* in = haps.hap(r);
    uint64_t* out = bits_.data() + static_cast<std::size_t>(r) * words_;
    for (int k = 0; k < ncol_; ++k) {
      if (in[k] != 0) out[k / 64] |= uint64_t{1} << (k % 64);
    }
  }
}

std::shared_ptr<const HapIndex> prepare_haplotypes(const HapTable& haps) {
  return std::make_shared<const HapIndex>(haps);
}

std::unique_ptr<TagScratch> make_tag_scratch() {
  return std::make_unique<TagScratch>();
}

namespace {

// Whether the set takes the counting path.
bool counts_haplotypes(const int* set, int hap_flag, const int* hap_row) {
  if (!hap_flag) return false;
  for (int s = 0; s < settings().M; ++s) {
    if (hap_row[set[s]] < 0) return false;
  }
  return true;
}

// The counting path: count every haplotype column's window haplotype.
double count_set(const int* set, const HapTable& hap, const int* hap_row, int H,
                 TagScratch& scratch) {
  const int M = settings().M;
  std::vector<int>& counts = scratch.counts;
  counts.assign(settings().K, 0);
  const uint8_t* rows[kMaxM];
  for (int s = 0; s < M; ++s) rows[s] = hap.hap(hap_row[set[s]]);
  for (int k = 0; k < H; ++k) {
    int h = 0;
    for (int s = 0; s < M; ++s) h = 2 * h + rows[s][k];
    ++counts[h];
  }
  return score_from_counts(counts.data(), H, scratch);
}

// The EM path: window rows from geno, the mode's pattern list, A1 from 1/K.
double estimate_set(const int* set, const GenoMatrix& geno, int* tags, const int* table_row, int R,
                    int mode, TagScratch& scratch) {
  const Settings& g = settings();
  for (int r = 0; r < R; ++r) {
    for (int s = 0; s < g.M; ++s) tags[r * g.M + s] = geno.at(r, table_row[set[s]]);
  }
  std::vector<double>& f = scratch.freq;
  f.assign(g.K, 1.0 / g.K);
  if (mode == 0) {
    makelist_ex(scratch.families, tags, g.nTR, g.nDU, g.nUN);
    A1(f.data(), nullptr, &scratch.families, -1, -1, -1, 1);
    freelink_ex(scratch.families);
  } else {
    makelist(scratch.study, tags, R);
    A1(f.data(), &scratch.study, nullptr, -1, -1, 1, -1);
    freelink(scratch.study);
  }
  double sum = 0;
  for (int h = 0; h < g.K; ++h) sum += f[h];
  for (int h = 0; h < g.K; ++h) f[h] /= sum;
  return MDfun(f.data(), 1);
}

// Whether union row u may be a candidate tag.
bool qualifies(int u, int mode, bool need_hap, const int* hap_row, const int* panel_row,
               const int* study_row) {
  if (study_row[u] < 0) return false;
  if (mode == 0 && panel_row[u] < 0) return false;
  return !need_hap || hap_row[u] >= 0;
}

// Every set of k = M - 1 candidates in lexicographic order, each scored by
// getMD; the early stop and the improvement rule of the search.
template <class Score>
void search_sets(int target, int N, int* tag_list, double* score, TagScratch& scratch,
                 Score score_set) {
  const int k = settings().M - 1;
  std::vector<int>& places = scratch.places;
  std::vector<int>& set = scratch.set;
  places.resize(k);
  set.resize(k + 1);
  for (int i = 0; i < k; ++i) places[i] = i;
  set[0] = target;
  double best = 0;
  while (best < 0.989999) {
    for (int i = 0; i < k; ++i) set[i + 1] = scratch.candidates[places[i]];
    const double s = score_set(set.data());
    if (s > best + 1e-6) {
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

int collect_candidates(int target, int mode, int hap_flag, int speed_flag, const int* pos, int n,
                       const int* hap_row, const int* panel_row, const int* study_row,
                       TagScratch& scratch) {
  const Settings& g = settings();
  const bool need_hap = hap_flag && speed_flag;
  auto ok = [&](int row) { return qualifies(row, mode, need_hap, hap_row, panel_row, study_row); };
  std::vector<int>& left = scratch.left;
  std::vector<int>& right = scratch.candidates;
  left.clear();
  right.clear();
  int l = target - 1;
  int r = target + 1;
  int N = 0;
  const long long t = pos[target];  // wide: t + window must not overflow
  while (N < g.maxnum) {
    while (l >= 0 && !ok(l)) --l;
    while (r < n && !ok(r)) ++r;
    if (l < 0 && r >= n) break;
    const bool take_left = r >= n || (l >= 0 && t - pos[l] <= pos[r] - t);
    const bool outside = take_left ? pos[l] < t - g.window : pos[r] > t + g.window;
    if (outside && N >= g.minnum) break;
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

double getMD(const int* set, int hap_flag, const HapTable& hap, const int* hap_row, int hap_ncol,
             const GenoMatrix& geno, int* tags, const int* table_row, int R, int mode,
             TagScratch& scratch) {
  if (counts_haplotypes(set, hap_flag, hap_row)) {
    return count_set(set, hap, hap_row, hap_ncol, scratch);
  }
  return estimate_set(set, geno, tags, table_row, R, mode, scratch);
}

double getMD(const int* set, int hap_flag, const HapTable& hap, const int* hap_row, int hap_ncol,
             const GenoMatrix& geno, int* tags, const int* table_row, int R, int mode) {
  TagScratch scratch;
  return getMD(set, hap_flag, hap, hap_row, hap_ncol, geno, tags, table_row, R, mode, scratch);
}

void getMD_max(int* tag_list, double* score, int target, int mode, int hap_flag, int speed_flag,
               const int* pos, int n, const HapTable& hap, const HapIndex& hap_index,
               const int* hap_row, int hap_ncol, const GenoMatrix& panel_geno, int* panel_tags,
               const int* panel_row, int panel_ncol, const GenoMatrix& study_geno, int* study_tags,
               const int* study_row, int nind, TagScratch& scratch) {
  *score = 0;
  const int N = collect_candidates(target, mode, hap_flag, speed_flag, pos, n, hap_row, panel_row,
                                   study_row, scratch);
  const int k = settings().M - 1;
  if (k < 1 || N < k) return;
  const int* cand = scratch.candidates.data();
  bool all_counted = hap_flag && hap_row[target] >= 0 && hap_ncol == hap_index.ncol();
  for (int i = 0; i < N; ++i) all_counted = all_counted && hap_row[cand[i]] >= 0;
  if (all_counted) {
    search_by_counting(cand, N, target, hap_row, hap_index, tag_list, score, scratch);
    return;
  }
  const bool panel = mode == 0;
  search_sets(target, N, tag_list, score, scratch, [&](const int* set) {
    return getMD(set, hap_flag, hap, hap_row, hap_ncol, panel ? panel_geno : study_geno,
                 panel ? panel_tags : study_tags, panel ? panel_row : study_row,
                 panel ? panel_ncol : nind, mode, scratch);
  });
}

}  // namespace tessellar
