// The single fatal path of Tessellar. Every error that the program detects
// prints one "Error: ..." line on standard output and calls kill_Tessellar,
// which prints the stop message and unwinds to main (exit status 1).
#pragma once

#include <exception>

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

// Allocation failure: "Numerical Recipes run-time error...", the text and
// "...now exiting to system..." on standard error; then exit status 1 (it
// throws RunStopped without the stop message).
[[noreturn]] void nrerror(const char* text);

}  // namespace tessellar
