// ivector allocation.
#include "core/ivector.h"

#include <new>

#include "core/fatal.h"

namespace tessellar {

ivector::ivector(int lo, int hi) : lo_(lo) {
  try {
    data_.assign(static_cast<std::size_t>(hi - lo + 1), 0);
  } catch (const std::bad_alloc&) {
    nrerror("allocation failure in ivector()");
  }
}

}  // namespace tessellar
