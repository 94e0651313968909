// Fixed-point fields exactly as printf's "%.Nf" writes them, without printf:
// for a number of decimals N and a range [0, max], the smallest double that
// prints as each multiple of 10^-N or more is found once, by bisection over
// the doubles with printf itself, so that a field then costs a multiplication
// and a comparison or two.
#pragma once

#include <vector>

namespace tessellar {

class FixedPoint {
 public:
  // Fields with `decimals` decimals (1 to 6) for values from 0 to max_units
  // units of 10^-decimals.
  FixedPoint(int decimals, int max_units);

  // The units that printf shows for x with this many decimals, for
  // 0 <= x <= max_units * 10^-decimals.
  int units(double x) const {
    if (!(x > 0)) return 0;  // NaN too: no value of the range is NaN
    if (x >= max_) return max_units_;
    int k = static_cast<int>(x * scale_ + 0.5);
    if (k > max_units_) k = max_units_;
    while (k < max_units_ && x >= first_printing_[static_cast<std::size_t>(k) + 1]) ++k;
    while (k > 0 && x < first_printing_[static_cast<std::size_t>(k)]) --k;
    return k;
  }

  // Appends units k as printf writes it: the integer part, '.', the decimals.
  void append(char*& out, int k) const;

 private:
  int decimals_;
  int max_units_;
  double scale_;
  double max_;                          // max_units * 10^-decimals
  std::vector<double> first_printing_;  // [k]: smallest double printing as k units or more
};

}  // namespace tessellar
