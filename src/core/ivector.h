// ivector: an int vector indexed from a lower bound that may be negative
// (the SNP union keeps sentinel entries at -1 and n).
#pragma once

#include <cstddef>
#include <vector>

namespace tessellar {

// An int vector indexed from lo to hi inclusive (lo may be -1); zero-filled.
class ivector {
 public:
  ivector() = default;
  ivector(int lo, int hi);  // calls nrerror("allocation failure in ivector()") on failure
  int& operator[](int i) { return data_[static_cast<std::size_t>(i - lo_)]; }
  int operator[](int i) const { return data_[static_cast<std::size_t>(i - lo_)]; }
  int* data() { return data_.data() - lo_; }              // pointer valid for [lo, hi]
  const int* data() const { return data_.data() - lo_; }  // same, read-only
  int lo() const { return lo_; }
  int hi() const { return lo_ + static_cast<int>(data_.size()) - 1; }

 private:
  int lo_ = 0;
  std::vector<int> data_;
};

}  // namespace tessellar
