// AF, INFO, empirical r2 and the leave-one-out summary.
#include "output/quality.h"

#include <algorithm>
#include <cstdio>

namespace tessellar {

DosageFigures dosage_figures(const SnpRecord& r) {
  double sum_e = 0;
  double sum_var = 0;  // sum of f - e^2
  int n = 0;
  for (int i = 0; i < r.nind; ++i) {
    const int code = r.codes[i];
    if (code == 9 && r.prob[0] != nullptr) {
      const double p1 = r.prob[1][i];
      const double p2 = r.prob[2][i];
      const double e = p1 + 2 * p2;
      const double f = p1 + 4 * p2;
      sum_e += e;
      sum_var += f - e * e;
      ++n;
    } else if (code != 9) {
      sum_e += code;  // certain: f = e^2
      ++n;
    }
  }
  DosageFigures out;
  if (n == 0) return out;
  const double theta = sum_e / (2.0 * n);
  out.af = theta;
  if (theta > 0 && theta < 1) out.info = 1 - sum_var / (2.0 * n * theta * (1 - theta));
  return out;
}

double dosage_r2(const SnpRecord& r) {
  if (r.prob[0] == nullptr) return 0;
  double sum = 0;
  double sum_squares = 0;
  int n = 0;
  for (int i = 0; i < r.nind; ++i) {
    if (r.codes[i] != 9) continue;
    const double e = r.prob[1][i] + 2 * r.prob[2][i];
    sum += e;
    sum_squares += e * e;
    ++n;
  }
  if (n == 0) return 0;
  const double mean = sum / n;
  const double p = mean / 2;
  const double binomial = 2 * p * (1 - p);
  if (!(binomial > 0)) return 0;
  const double variance = std::max(0.0, sum_squares / n - mean * mean);
  return std::min(1.0, variance / binomial);
}

double empirical_r2(const int8_t* observed, const std::array<const double*, 3>& prob, int n) {
  double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  int m = 0;
  for (int i = 0; i < n; ++i) {
    if (observed[i] == 9) continue;
    const double x = observed[i];
    const double y = prob[1][i] + 2 * prob[2][i];
    sx += x;
    sy += y;
    sxx += x * x;
    syy += y * y;
    sxy += x * y;
    ++m;
  }
  if (m == 0) return 0;
  const double vx = sxx - sx * sx / m;
  const double vy = syy - sy * sy / m;
  const double cxy = sxy - sx * sy / m;
  if (!(vx > 0) || !(vy > 0)) return 0;
  return cxy * cxy / (vx * vy);
}

namespace {

int maf_bin(double maf) {
  if (maf < 0.01) return 0;
  if (maf < 0.05) return 1;
  if (maf < 0.20) return 2;
  return 3;
}

}  // namespace

void LooSummary::add(double maf, double er2, double info, double r2) {
  const auto b = static_cast<std::size_t>(maf_bin(maf));
  ++count_[b];
  er2_[b] += er2;
  info_[b] += info;
  r2_[b] += r2;
}

void LooSummary::print() const {
  int total = 0;
  for (int c : count_) total += c;
  std::printf(
      "\nLeave-one-out check: %d typed SNPs imputed as if untyped and compared with their "
      "observed genotypes\n",
      total);
  std::printf(with_r2_ ? "        MAF bin       SNPs   mean ER2    mean R2  mean INFO\n"
                       : "        MAF bin       SNPs   mean ER2  mean INFO\n");
  static const char* const kBins[kMafBins] = {"< 1 %", "1 - 5 %", "5 - 20 %", "20 - 50 %"};
  for (std::size_t b = 0; b < kMafBins; ++b) {
    const int n = count_[b];
    std::printf("        %-10s %7d", kBins[b], n);
    if (n == 0) {
      std::printf(with_r2_ ? "          .          .          .\n" : "          .          .\n");
    } else if (with_r2_) {
      std::printf(" %10.4f %10.4f %10.4f\n", er2_[b] / n, r2_[b] / n, info_[b] / n);
    } else {
      std::printf(" %10.4f %10.4f\n", er2_[b] / n, info_[b] / n);
    }
  }
}

}  // namespace tessellar
