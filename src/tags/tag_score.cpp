// Haplotype index arithmetic and the tag-set score.
#include "tags/tag_score.h"

#include <array>
#include <cmath>

namespace tessellar {

int for_w(const WindowGeometry& g, int h, int a, int j) {
  const int low = g.M - j;  // tag bits that stay below the inserted allele
  return ((h >> low) << (low + 1)) + (a << low) + (h & ((1 << low) - 1));
}

namespace {

// A target allele frequency outside these bounds makes the score 0.
constexpr double kMaxTargetFrequency = 0.999999;
constexpr double kMinTargetFrequency = 1e-6;

// The tag haplotypes whose frequency q is not 0, ascending. A pair with
// such a haplotype has product 0 and is skipped, so leaving it out keeps
// the order and value of every other term. When some q is not finite the
// product 0 * q need not be 0: then every haplotype is kept.
int nonzero_haplotypes(const double* q, int n, int* kept) {
  bool finite = true;
  for (int h = 0; h < n; ++h) finite = finite && std::isfinite(q[h]);
  int count = 0;
  for (int h = 0; h < n; ++h) {
    if (!finite || q[h] != 0) kept[count++] = h;
  }
  return count;
}

}  // namespace

double MDfun(const WindowGeometry& g, const double* p, int j) {
  const int n = g.tag_haplotypes();
  constexpr int kMaxTagHaps = 1 << (kMaxM - 1);
  std::array<double, kMaxTagHaps> a0, a1, q;
  std::array<int, kMaxTagHaps> kept;
  for (int h = 0; h < n; ++h) {
    a1[h] = p[for_w(g, h, 1, j)];
    a0[h] = p[for_w(g, h, 0, j)];
    q[h] = a0[h] + a1[h];
  }
  double P = 0;
  double S1 = 0;
  for (int h = 0; h < n; ++h) P += a1[h];
  for (int h = 0; h < n; ++h) S1 += a1[h] * a1[h];
  const int count = nonzero_haplotypes(q.data(), n, kept.data());
  double S2 = 0;
  for (int x = 0; x < count; ++x) {
    const int h = kept[x];
    for (int y = x + 1; y < count; ++y) {
      const int h2 = kept[y];
      if (q[h] * q[h2] != 0) {
        const double X = 2 * a1[h] * a1[h2] + a1[h] * a0[h2] + a0[h] * a1[h2];
        S2 += X * X / (2 * q[h] * q[h2]);
      }
    }
  }
  if (P > kMaxTargetFrequency || P < kMinTargetFrequency) return 0;
  return (S1 + S2 - P * P) / ((1 - P) * P / 2);
}

}  // namespace tessellar
