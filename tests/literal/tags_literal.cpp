// Reference tag search, written step by step as the algorithm reads.
#include "literal/tags_literal.h"

#include <algorithm>
#include <vector>

#include "haplo/em.h"
#include "haplo/pattern_lists.h"

namespace tessellar::literal {

int for_w(const WindowGeometry& g, int h, int a, int j) {
  const int* pow2 = g.pow2.data();
  const int L = g.M - j;
  return (h / pow2[L]) * pow2[L + 1] + a * pow2[L] + h % pow2[L];
}

double MDfun(const WindowGeometry& g, const double* p, int j) {
  const int n = g.pow2[g.M - 1];
  std::vector<double> q(n);
  double P = 0;
  double S1 = 0;
  double S2 = 0;
  for (int h = 0; h < n; ++h) q[h] = p[literal::for_w(g, h, 0, j)] + p[literal::for_w(g, h, 1, j)];
  for (int h = 0; h < n; ++h) P += p[literal::for_w(g, h, 1, j)];
  for (int h = 0; h < n; ++h) S1 += p[literal::for_w(g, h, 1, j)] * p[literal::for_w(g, h, 1, j)];
  for (int h = 0; h < n; ++h) {
    for (int h2 = h + 1; h2 < n; ++h2) {
      if (q[h] * q[h2] != 0) {
        const double a1 = p[literal::for_w(g, h, 1, j)];
        const double a0 = p[literal::for_w(g, h, 0, j)];
        const double b1 = p[literal::for_w(g, h2, 1, j)];
        const double b0 = p[literal::for_w(g, h2, 0, j)];
        const double X = 2 * a1 * b1 + a1 * b0 + a0 * b1;
        S2 += X * X / (2 * q[h] * q[h2]);
      }
    }
  }
  if (P > 0.999999 || P < 1e-6) return 0;
  return (S1 + S2 - P * P) / ((1 - P) * P / 2);
}

double getMD(const Settings& run, const int* set, int hap_flag, const HapTable& hap,
             const int* hap_row, int hap_ncol, const GenoMatrix& geno, int* tags,
             const int* table_row, int R, int mode) {
  const WindowGeometry& g = run.geometry;
  const int M = g.M;
  const int K = g.K;
  std::vector<double> p(K);
  for (int h = 0; h < K; ++h) p[h] = 1.0 / K;
  bool counting = hap_flag != 0;
  for (int s = 0; s < M; ++s) {
    if (hap_flag && hap_row[set[s]] < 0) counting = false;
  }
  if (counting) {
    for (int h = 0; h < K; ++h) p[h] = 0;
    for (int k = 0; k < hap_ncol; ++k) {
      int h = 0;
      for (int s = 0; s < M; ++s) h += hap.hap(hap_row[set[s]])[k] * g.pow2[M - 1 - s];
      p[h] += 1.0 / hap_ncol;
    }
  } else {
    for (int r = 0; r < R; ++r) {
      for (int s = 0; s < M; ++s) tags[r * M + s] = geno.at(r, table_row[set[s]]);
    }
    if (mode == 0) {
      FamilyList families;
      makelist_ex(g, families, tags, run.nTR, run.nDU, run.nUN);
      A1(K, p.data(), nullptr, &families, -1, -1, -1, 1, nullptr, 9);
      freelink_ex(families);
    } else {
      StudyList study;
      makelist(g, study, tags, R);
      A1(K, p.data(), &study, nullptr, -1, -1, 1, -1, nullptr, 9);
      freelink(study);
    }
  }
  double sum = 0;
  for (int h = 0; h < K; ++h) sum += p[h];
  for (int h = 0; h < K; ++h) p[h] = p[h] / sum;
  return MDfun(g, p.data(), 1);
}

namespace {

struct Search {
  int* tag_list;
  double* score;
  double best;
  std::vector<int> list;
  std::vector<int> set;
  int k;
};

// One level of the nested set loops: place i of the set from list place
// first on; the last level scores the set.
template <class Score>
void nested_loops(Search& S, int i, int first, Score& score_set) {
  const int N = static_cast<int>(S.list.size());
  for (int c = first; c <= N - (S.k - i); ++c) {
    if (i == S.k - 1 && S.best >= 0.989999) return;
    S.set[i + 1] = S.list[c];
    if (i < S.k - 1) {
      nested_loops(S, i + 1, c + 1, score_set);
      if (S.best >= 0.989999) return;
      continue;
    }
    const double s = score_set(S.set.data());
    if (s > S.best + 1e-6) {
      S.best = s;
      *S.score = s;
      for (int m = 0; m <= S.k; ++m) S.tag_list[m] = S.set[m];
    }
  }
}

}  // namespace

void getMD_max(const Settings& g, int* tag_list, double* score, int target, int mode, int hap_flag,
               int speed_flag, const int* pos, int n, const HapTable& hap, const int* hap_row,
               int hap_ncol, const GenoMatrix& panel_geno, int* panel_tags, const int* panel_row,
               int panel_ncol, const GenoMatrix& study_geno, int* study_tags, const int* study_row,
               int nind) {
  auto qualifies = [&](int u) {
    const bool flags = hap_flag && speed_flag;
    if (mode == 0) {
      if (flags) return panel_row[u] >= 0 && study_row[u] >= 0 && hap_row[u] >= 0;
      return panel_row[u] >= 0 && study_row[u] >= 0;
    }
    if (flags) return study_row[u] >= 0 && hap_row[u] >= 0;
    return study_row[u] >= 0;
  };
  std::vector<int> accepted;
  int l = target - 1;
  int r = target + 1;
  int N = 0;
  while (N < g.maxnum) {
    while (l >= 0 && !qualifies(l)) l--;
    while (r < n && !qualifies(r)) r++;
    const bool left_out = l < 0;
    const bool right_out = r >= n;
    if (left_out && right_out) break;
    bool left;
    if (left_out) {
      left = false;
    } else if (right_out) {
      left = true;
    } else {
      left = pos[target] - pos[l] <= pos[r] - pos[target];
    }
    const long long t = pos[target];  // t + window in 64 bits: no overflow
    const bool outside = left ? pos[l] < t - g.window : pos[r] > t + g.window;
    if (outside && N >= g.minnum) break;
    accepted.push_back(left ? l : r);
    N++;
    if (left) {
      l--;
    } else {
      r++;
    }
  }
  Search S{tag_list, score, 0.0, {}, {}, g.geometry.M - 1};
  S.list = accepted;
  std::sort(S.list.begin(), S.list.end());
  *score = 0;
  S.set.assign(g.geometry.M, 0);
  S.set[0] = target;
  if (S.k < 1 || N < S.k) return;
  auto score_set = [&](const int* set) {
    if (mode == 0) {
      return getMD(g, set, hap_flag, hap, hap_row, hap_ncol, panel_geno, panel_tags, panel_row,
                   panel_ncol, mode);
    }
    return getMD(g, set, hap_flag, hap, hap_row, hap_ncol, study_geno, study_tags, study_row, nind,
                 mode);
  };
  nested_loops(S, 0, 0, score_set);
}

}  // namespace tessellar::literal
