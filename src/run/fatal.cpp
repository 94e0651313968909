// kill_Tessellar, fatal, nrerror and ivector.
#include "run/fatal.h"

#include <cstdarg>
#include <cstdio>
#include <new>

namespace tessellar {

void kill_Tessellar() {
  std::printf("\nTessellar was stopped due to error(s) listed above.\n\n");
  std::fflush(stdout);
  throw RunStopped();
}

void fatal(const char* format, ...) {
  std::fputs("Error: ", stdout);
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fputc('\n', stdout);
  kill_Tessellar();
}

void nrerror(const char* text) {
  std::fflush(stdout);
  std::fprintf(stderr, "Numerical Recipes run-time error...\n");
  std::fprintf(stderr, "%s\n", text);
  std::fprintf(stderr, "...now exiting to system...\n");
  throw RunStopped();
}

ivector::ivector(int lo, int hi) : lo_(lo) {
  try {
    data_.assign(static_cast<std::size_t>(hi - lo + 1), 0);
  } catch (const std::bad_alloc&) {
    nrerror("allocation failure in ivector()");
  }
}

}  // namespace tessellar
