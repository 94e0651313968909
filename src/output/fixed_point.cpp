// FixedPoint: the printing boundaries, found with printf itself.
#include "output/fixed_point.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tessellar {

namespace {

// The units printf shows for x with the given decimals.
int printed(double x, int decimals, double scale) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, x);
  return static_cast<int>(std::lround(std::strtod(text, nullptr) * scale));
}

}  // namespace

FixedPoint::FixedPoint(int decimals, int max_units)
    : decimals_(decimals),
      max_units_(max_units),
      scale_(std::pow(10.0, decimals)),
      max_(max_units / scale_),
      first_printing_(static_cast<std::size_t>(max_units) + 1, 0.0) {
  for (int k = 1; k <= max_units; ++k) {
    double lo = (k - 1) / scale_;  // prints below k units
    double hi = (k + 1) / scale_;  // prints k units or more
    while (std::nextafter(lo, hi) < hi) {
      double mid = lo + (hi - lo) / 2;
      if (mid <= lo || mid >= hi) mid = std::nextafter(lo, hi);
      (printed(mid, decimals_, scale_) >= k ? hi : lo) = mid;
    }
    first_printing_[static_cast<std::size_t>(k)] = hi;
  }
}

void FixedPoint::append(char*& out, int k) const {
  int unit = 1;
  for (int d = 0; d < decimals_; ++d) unit *= 10;
  int whole = k / unit;
  int rest = k % unit;
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole > 0);
  while (n > 0) *out++ = digits[--n];
  *out++ = '.';
  for (int d = decimals_ - 1; d >= 0; --d) {
    out[d] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  }
  out += decimals_;
}

}  // namespace tessellar
