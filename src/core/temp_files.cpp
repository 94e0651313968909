// The registry of temporary files and the signal handlers.
#include "core/temp_files.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace tessellar {

namespace {

constexpr int kSlots = 8;
constexpr int kLongestPath = 4096;

// The handler reads a slot only after its used flag is set, and the flag is
// cleared before the path is changed, so that it never sees a half path.
char g_paths[kSlots][kLongestPath];
std::atomic<bool> g_used[kSlots];

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

extern "C" void remove_and_reraise(int signal_number) {
  for (int s = 0; s < kSlots; ++s) {
    if (g_used[s].load(std::memory_order_acquire)) ::unlink(g_paths[s]);
  }
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal_number, &action, nullptr);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signal_number);
  ::pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
  ::raise(signal_number);
}

}  // namespace

void install_signal_handlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = remove_and_reraise;
  sigfillset(&action.sa_mask);  // no second signal while one is handled
  for (int s : kSignals) {
    struct sigaction old;
    // A signal ignored by the caller (nohup, a shell in the background) stays ignored.
    if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(s, &action, nullptr);
  }
  ::signal(SIGXFSZ, SIG_IGN);
}

int make_temp_file(std::string& pattern, int* slot) {
  sigset_t held;
  sigset_t before;
  sigemptyset(&held);
  for (int s : kSignals) sigaddset(&held, s);
  ::pthread_sigmask(SIG_BLOCK, &held, &before);
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  const int error = errno;
  *slot = fd >= 0 ? register_temp_file(pattern.c_str()) : -1;
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  errno = error;
  return fd;
}

int register_temp_file(const char* path) {
  const std::size_t length = std::strlen(path);
  if (length >= static_cast<std::size_t>(kLongestPath)) return -1;
  for (int s = 0; s < kSlots; ++s) {
    if (g_used[s].load(std::memory_order_acquire)) continue;
    std::memcpy(g_paths[s], path, length + 1);
    g_used[s].store(true, std::memory_order_release);
    return s;
  }
  return -1;
}

void unregister_temp_file(int slot) {
  if (slot >= 0 && slot < kSlots) g_used[slot].store(false, std::memory_order_release);
}

}  // namespace tessellar
