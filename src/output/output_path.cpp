// Resolving output names: streams, links, permissions, inputs.
#include "output/output_path.h"

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

namespace {

// Where a name leads: its folder entry (the folder resolved, the last name
// as given) and the file at the end of its links; the device and inode of
// that file where it exists.
struct FileId {
  std::string entry;
  std::string target;
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
};

// name with its folder resolved; name itself when the folder cannot be.
std::string resolved_entry(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
  if (last.empty() || last == "." || last == "..") return name;
  char* folder = ::realpath(directory_of(name).c_str(), nullptr);
  if (folder == nullptr) return name;
  std::string entry = folder;
  std::free(folder);
  return (entry == "/" ? "" : entry) + "/" + last;
}

// An input, or a file that one may be written through (links followed).
FileId identify(const std::string& name, bool written, const char* what) {
  FileId id;
  id.entry = resolved_entry(name);
  char* real = ::realpath(name.c_str(), nullptr);
  if (real != nullptr) {
    id.target = real;
    std::free(real);
  } else {
    id.target = written ? resolved_entry(follow_links(name, what)) : id.entry;
  }
  struct stat st;
  if (::stat(name.c_str(), &st) == 0) {
    id.exists = true;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
  }
  return id;
}

// A name that is no file to replace: a stream, or an existing pipe, device
// or folder (whose own errors come when it is opened).
bool not_a_file(const std::string& name) {
  struct stat st;
  return name.empty() || stream_descriptor(name) >= 0 ||
         (::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode));
}

// Whether the file written at path (an entry) is the file id names.
bool writes_over(const std::string& path, const FileId& id) {
  if (path == id.entry || path == id.target) return true;
  struct stat st;
  return id.exists && ::stat(path.c_str(), &st) == 0 && st.st_dev == id.dev && st.st_ino == id.ino;
}

}  // namespace

void check_distinct(const RunFiles& files) {
  std::vector<std::pair<std::string, FileId>> inputs;  // name as given, where it leads
  for (const std::string& input : files.inputs) {
    if (not_a_file(input)) continue;
    for (const char* suffix : {"", ".tbi", ".csi"})
      inputs.push_back({input + suffix, identify(input + suffix, false, "input file")});
  }
  std::string output;  // the file that the output replaces
  std::vector<std::string> indexes;
  if (!not_a_file(files.output)) {
    output = identify(files.output, true, "output file").target;
    for (const auto& [name, id] : inputs)
      if (writes_over(output, id))
        fatal("the output file '%s' is the input file '%s'.", files.output.c_str(), name.c_str());
    if (files.output_indexed) indexes = {output + ".tbi", output + ".csi"};
    for (const std::string& index : indexes)
      for (const auto& [name, id] : inputs)
        if (writes_over(index, id))
          fatal("the index '%s' of the output file '%s' is the input file '%s'.",
                (files.output + index.substr(output.size())).c_str(), files.output.c_str(),
                name.c_str());
  }
  if (not_a_file(files.sites)) return;
  const std::string sites = identify(files.sites, true, "per-site file").target;
  for (const auto& [name, id] : inputs)
    if (writes_over(sites, id))
      fatal("the per-site file '%s' is the input file '%s'.", files.sites.c_str(), name.c_str());
  if (sites == output) fatal("the per-site file '%s' is the output file.", files.sites.c_str());
  for (const std::string& index : indexes)
    if (sites == index)
      fatal("the per-site file '%s' is the index of the output file '%s'.", files.sites.c_str(),
            files.output.c_str());
}

}  // namespace tessellar
