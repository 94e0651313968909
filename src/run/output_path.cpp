// Resolving output names: streams, links, permissions, inputs.
#include "run/output_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/fatal.h"

namespace tessellar {

namespace {

constexpr int kMostLinks = 40;  // as the kernel's limit on a chain

// The descriptor that a stream name stands for, or -1.
int stream_descriptor(const std::string& path) {
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const std::size_t n = std::strlen(prefix);
    if (path.compare(0, n, prefix) != 0 || path.size() == n) continue;
    const std::string digits = path.substr(n);
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) return -1;
    return std::atoi(digits.c_str());
  }
  return -1;
}

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file that path finally names, its chain of symbolic links followed.
std::string follow_links(const std::string& path, const char* what) {
  std::string p = path;
  for (int depth = 0;; ++depth) {
    struct stat link;
    if (::lstat(p.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return p;
    if (depth == kMostLinks)
      fatal("cannot create the %s '%s': %s.", what, path.c_str(), std::strerror(ELOOP));
    // The kernel follows a link in a sticky world-writable directory only
    // when the link belongs to the user or to the directory's owner.
    const std::string dir = directory_of(p);
    struct stat d;
    if (::stat(dir.c_str(), &d) == 0 && (d.st_mode & S_ISVTX) && (d.st_mode & S_IWOTH) &&
        link.st_uid != ::geteuid() && link.st_uid != d.st_uid)
      fatal(
          "cannot create the %s '%s': the symbolic link '%s' in the sticky world-writable "
          "directory '%s' belongs to another user, so it is not followed.",
          what, path.c_str(), p.c_str(), dir.c_str());
    std::string target(static_cast<std::size_t>(link.st_size > 0 ? link.st_size : 4096) + 1, '\0');
    const ssize_t length = ::readlink(p.c_str(), target.data(), target.size());
    if (length < 0)
      fatal("cannot create the %s '%s': %s.", what, path.c_str(), std::strerror(errno));
    target.resize(static_cast<std::size_t>(length));
    p = !target.empty() && target[0] == '/' ? target : dir + "/" + target;
  }
}

}  // namespace

OutputTarget resolve_output(const std::string& path, const char* what) {
  OutputTarget t;
  if (path.empty()) fatal("the %s has an empty name.", what);
  const int fd = stream_descriptor(path);
  if (fd >= 0 && ::fcntl(fd, F_GETFD) != -1) {
    t.how = OutputTarget::How::descriptor;
    t.fd = fd;
    return t;
  }
  t.path = follow_links(path, what);
  struct stat st;
  if (::stat(t.path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      t.how = OutputTarget::How::direct;
      return t;
    }
    if (::access(t.path.c_str(), W_OK) != 0)
      fatal("cannot write to the %s '%s': %s.", what, path.c_str(), std::strerror(errno));
    t.mode = st.st_mode & 07777;
    return t;
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  t.mode = 0666 & ~mask;
  return t;
}

void check_not_an_input(const std::string& output, const std::vector<std::string>& inputs) {
  struct stat out;
  if (output.empty() || stream_descriptor(output) >= 0 || ::stat(output.c_str(), &out) != 0 ||
      !S_ISREG(out.st_mode))
    return;
  for (const std::string& input : inputs) {
    for (const char* suffix : {"", ".tbi", ".csi"}) {
      const std::string file = input + suffix;
      struct stat in;
      if (::stat(file.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
        fatal("the output file '%s' is the input file '%s'.", output.c_str(), file.c_str());
    }
  }
}

}  // namespace tessellar
