// The run driver: command line and run log, the three readers, the SNP
// union, the alignment and filters, then the pass over every union row.
#pragma once

namespace tessellar {

// Runs Tessellar on the command line; returns the exit status (0 after the
// complete stamp, 1 after an error).
int run_tessellar(int argc, char** argv);

}  // namespace tessellar
