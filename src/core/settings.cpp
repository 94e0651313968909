// The window geometry.
#include "core/settings.h"

namespace tessellar {

WindowGeometry::WindowGeometry(int m) : M(m), K(1 << m) {
  for (int k = 0; k <= m; ++k) pow2[static_cast<std::size_t>(k)] = 1 << k;
}

}  // namespace tessellar
