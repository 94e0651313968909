// Entry point of the tessellar program. Built without -mpopcnt, so that the
// check below runs on any x86-64 processor before the tag search, which is
// built with the instruction, can be reached.
#include <cstdio>

#include "run/driver.h"

int main(int argc, char** argv) {
#if defined(__x86_64__) && defined(TESSELLAR_NEEDS_POPCNT)
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("popcnt")) {
    std::printf(
        "Error: this processor lacks the POPCNT instruction that this build of Tessellar "
        "needs; build it on this machine without -mpopcnt.\n");
    return 1;
  }
#endif
  return tessellar::run_tessellar(argc, argv);
}
