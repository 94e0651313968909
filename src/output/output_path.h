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

// The files of a run by the names given: what it writes and what it reads.
struct RunFiles {
  std::string output;
  bool output_indexed = false;  // an index beside the output (.tbi or .csi; the other kind goes)
  std::string sites;            // the per-site file, or ""
  std::vector<std::string> inputs;
};

// Stops the run with one error when a file that it writes (the output, its
// index, the per-site file) is another of them or an input or an input's
// index (name.tbi, name.csi), whatever names lead there: "./x", "a/../x",
// symbolic links, hard links; new files by their folder. Streams, pipes and
// devices are no files to replace and are left out.
void check_distinct(const RunFiles& files);

}  // namespace tessellar
