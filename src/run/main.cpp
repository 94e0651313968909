// Entry point of the tessellar program.
#include "run/driver.h"

int main(int argc, char** argv) {
  return tessellar::run_tessellar(argc, argv);
}
