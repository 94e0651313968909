// Where an output file goes. A regular file (new or earlier) is written to
// a temporary file beside it and renamed over it; the whole chain of
// symbolic links to it is followed first, obeying the kernel's rule for
// links in sticky world-writable directories such as /tmp. A pipe or device
// is opened and written directly, and /dev/stdout, /dev/stderr and
// /dev/fd/N (or /proc/self/fd/N) write to that descriptor of the run.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tessellar {

struct OutputTarget {
  enum class How { temp_file, direct, descriptor };
  How how = How::temp_file;
  std::string path;  // temp_file: the final file; direct: the file to open
  int fd = -1;       // descriptor: the run's descriptor to write to
  mode_t mode = 0;   // temp_file: the permission bits the file ends with
};

// Works out where the output named path (for messages: what, e.g. "output
// file") goes; stops the run when the name is empty, a link cannot be
// followed, or an earlier file may not be written by the user.
OutputTarget resolve_output(const std::string& path, const char* what);

// Stops the run when the output named output (an existing file) is one of
// inputs (same device and inode), or the index of a VCF input beside it.
void check_not_an_input(const std::string& output, const std::vector<std::string>& inputs);

}  // namespace tessellar
