// The single fatal path of Tessellar. Every error that the program detects
// prints one "Error: ..." line on standard output and calls kill_Tessellar,
// which prints the stop message and unwinds to main (exit status 1).
#pragma once

#include <exception>
#include <string>

namespace tessellar {

// Thrown by kill_Tessellar after the stop message is printed; main catches it
// and returns 1. Destructors on the way clean up (an unfinished output file).
struct RunStopped : std::exception {
  const char* what() const noexcept override { return "Tessellar was stopped"; }
};

// Prints "\nTessellar was stopped due to error(s) listed above.\n\n" on
// standard output, flushes it and throws RunStopped.
[[noreturn]] void kill_Tessellar();

// Prints "Error: " followed by the formatted message and a line break on
// standard output, then calls kill_Tessellar.
[[noreturn]] void fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While one is alive, fatal() on its thread keeps the stop (the "Error:"
// line) instead of printing it, for a reader that runs beside another; the
// thread that waits for it prints it (print_stop), so that the run log keeps
// one error in its place.
class DeferredStop {
 public:
  DeferredStop();
  ~DeferredStop();
  DeferredStop(const DeferredStop&) = delete;
  DeferredStop& operator=(const DeferredStop&) = delete;
  // What a fatal() kept ("" when none ran).
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// Prints a kept "Error:" line and the stop message, and throws RunStopped.
[[noreturn]] void print_stop(const std::string& error_line);

// Allocation failure: "Numerical Recipes run-time error...", the text and
// "...now exiting to system..." on standard error; then exit status 1 (it
// throws RunStopped without the stop message).
[[noreturn]] void nrerror(const char* text);

}  // namespace tessellar
