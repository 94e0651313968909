// kill_Tessellar, fatal and nrerror.
#include "core/fatal.h"

#include <cstdarg>
#include <cstdio>

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

}  // namespace tessellar
