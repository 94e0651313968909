// The ivector bounds.
#include <gtest/gtest.h>

#include "core/ivector.h"

namespace tessellar {
namespace {

TEST(Ivector, IndexesFromItsLowerBoundZeroFilled) {
  ivector v(-1, 3);
  EXPECT_EQ(v.lo(), -1);
  EXPECT_EQ(v.hi(), 3);
  for (int i = -1; i <= 3; ++i) EXPECT_EQ(v[i], 0);
  v[-1] = 7;
  v[3] = 9;
  EXPECT_EQ(v.data()[-1], 7);
  EXPECT_EQ(v.data()[3], 9);
  EXPECT_EQ(ivector(-1, -1).hi(), -1);
}

}  // namespace
}  // namespace tessellar
