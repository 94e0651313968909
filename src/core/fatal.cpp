// kill_Tessellar, fatal and nrerror.
#include "core/fatal.h"

#include <cstdarg>
#include <cstdio>

namespace tessellar {

namespace {

constexpr const char* kStopMessage = "\nTessellar was stopped due to error(s) listed above.\n\n";

// The deferred stop of this thread, if any.
thread_local std::string* g_deferred = nullptr;

}  // namespace

void kill_Tessellar() {
  std::printf("%s", kStopMessage);
  std::fflush(stdout);
  throw RunStopped();
}

void fatal(const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (g_deferred != nullptr) {
    char text[4096];
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    *g_deferred = std::string("Error: ") + text + "\n";
    throw RunStopped();
  }
  std::fputs("Error: ", stdout);
  std::vprintf(format, args);
  va_end(args);
  std::fputc('\n', stdout);
  kill_Tessellar();
}

DeferredStop::DeferredStop() {
  g_deferred = &text_;
}

DeferredStop::~DeferredStop() {
  g_deferred = nullptr;
}

void print_stop(const std::string& error_line) {
  std::fputs(error_line.c_str(), stdout);
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
