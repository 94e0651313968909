// Temporary files in flight (the output, its index, the per-site file,
// written beside their final names), removed when a signal ends the run:
// SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE remove them with
// async-signal-safe calls and then end the process as the signal would
// have. SIGXFSZ is ignored, so that a write beyond the file size limit
// fails with EFBIG and is reported like any other write error.
#pragma once

#include <string>

namespace tessellar {

// Installs the handlers; called once at the start of a run.
void install_signal_handlers();

// Creates a file from pattern (ending in XXXXXX, replaced in place) with
// mkostemp and registers it, with the signals held off in between, so that
// no signal can leave it behind; returns its descriptor (-1 on failure,
// errno set) and its slot in *slot.
int make_temp_file(std::string& pattern, int* slot);

// Registers path (copied) for removal on a signal; returns its slot, or -1
// when every slot is taken or the path is too long (it is then not removed
// on a signal, only by the ordinary paths).
int register_temp_file(const char* path);

// Forgets the file of slot (>= 0) once it has been renamed or removed.
void unregister_temp_file(int slot);

}  // namespace tessellar
