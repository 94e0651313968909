// Region runs over VCF inputs, tessellar::run_tessellar in-process with
// -region, each input given in one of eight forms, against the whole run on
// the same inputs:
//
//   byte 0  bits 0-2: the study's form, bits 3-5: the panel's form (below);
//           bit 6: no -hfile (the panel's phased GT gives the haplotypes);
//           bit 7: -ped with the fourth section
//   byte 1  bits 0-2: the haplotype file's form; bits 3-4: the region's
//           contig, "1", "chr1", "2" or "X"; bits 5-7: -window from a table
//   byte 2  bits 0-3: the region's start, bits 4-7: its length, from tables
//   byte 3  bits 0-3: -min, bits 4-7: -max + 4
//   then    study file, "===" line, panel file, "===" line, haplotype file,
//           "===" line, ped file (the VCF sections as text).
//
// Forms: 0 plain VCF (no index), 1 bgzipped with a tabix index, 2 BCF with a
// CSI index, 3 bgzipped without an index, 4 BCF without an index, 5 a pipe
// of the text, 6 a pipe of the bgzipped text, 7 bgzipped with a tabix index
// older than the file (not used). A section that htslib cannot index or
// re-encode is given as it is.
//
// A region run must end with status 0 or 1, without a temporary file, with
// its output exactly when its status is 0. When both runs end with status
// 0, the region's output records are the whole run's records at the
// region's positions, byte for byte; when the whole run stops and the
// region run does not, or the reverse, an error outside the region read
// may explain it, so only a region run that stops while the whole run does
// not is a finding when every input is read whole (forms 0, 3, 4, 5, 6).
#include <fcntl.h>
#include <htslib/hts.h>
#include <htslib/tbx.h>
#include <htslib/vcf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common.h"
#include "core/settings.h"
#include "input/vcf_reader.h"
#include "run/driver.h"

namespace {

const char* const kContigs[] = {"1", "chr1", "2", "X"};
const char* const kWindows[] = {"0", "10", "1000", "5000", "50000", "100000", "1000000", "2"};
const long long kStarts[] = {1,       2,       100,     1000,    1000000, 1002208,
                             1005986, 1100000, 1200000, 1300000, 1400000, 1500000,
                             1700000, 1900000, 2000000, 5000000};
const long long kLengths[] = {0,      1,      10,     100,     1000,    10000,   50000,    100000,
                              200000, 300000, 500000, 1000000, 2000000, 5000000, 10000000, -1};

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
// One input in its form: the path the runs take, and for a pipe the bytes
// that each run's fresh pipe holds.
struct Input {
  std::string path;
  std::string piped;
  bool pipe = false;
  bool read_whole = true;  // no index is used
};

Input make_input(const std::string& name, std::string_view text, int form) {
  Input in;
  const std::string plain = tsl_fuzz::path_of(name + ".vcf");
  tsl_fuzz::write_file(plain, text);
  in.path = plain;
  if (form == 1 || form == 3 || form == 6 || form == 7) {
    in.path = tsl_fuzz::path_of(name + ".vcf.gz");
    tsl_fuzz::write_bgzf(in.path, text);
    if ((form == 1 || form == 7) && tbx_index_build(in.path.c_str(), 0, &tbx_conf_vcf) == 0) {
      in.read_whole = form == 7;
      if (form == 7) {
        const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        if (::utimensat(AT_FDCWD, (in.path + ".tbi").c_str(), old, 0) != 0)
          tsl_fuzz::fail("cannot age the index");
      }
    }
  } else if (form == 2 || form == 4) {
    const std::string bcf = tsl_fuzz::path_of(name + ".bcf");
    if (tsl_fuzz::to_bcf(plain, bcf, true)) {
      in.path = bcf;
      if (form == 2) in.read_whole = bcf_index_build(bcf.c_str(), 14) != 0;
    }
  }
  if (form == 5 || form == 6) {
    in.pipe = true;
    in.piped = read_all(in.path);
  }
  return in;
}

// The pipes of one run: each holds its input's bytes, written before the
// run starts (they fit the pipe's buffer) and closed for writing.
class Pipes {
 public:
  // Sets the path of each piped input to its pipe.
  explicit Pipes(std::array<Input, 3>& inputs) {
    for (Input& in : inputs) {
      if (!in.pipe) continue;
      int fds[2];
      if (::pipe2(fds, O_CLOEXEC) != 0) tsl_fuzz::fail("cannot make a pipe");
      if (::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20) < static_cast<int>(in.piped.size()))
        tsl_fuzz::fail("a pipe too small for its input");
      if (!in.piped.empty() && ::write(fds[1], in.piped.data(), in.piped.size()) !=
                                   static_cast<ssize_t>(in.piped.size()))
        tsl_fuzz::fail("cannot fill a pipe");
      ::close(fds[1]);
      open_.push_back(fds[0]);
      in.path = "/dev/fd/" + std::to_string(fds[0]);
    }
  }
  ~Pipes() {
    for (int fd : open_) ::close(fd);
  }
  Pipes(const Pipes&) = delete;
  Pipes& operator=(const Pipes&) = delete;

 private:
  std::vector<int> open_;
};

// Runs the program on the inputs with args; returns the exit status.
int run(std::array<Input, 3> inputs, bool hfile, std::vector<std::string> args) {
  const Pipes pipes(inputs);
  std::vector<std::string> all = {"tessellar", "-gfile", inputs[0].path, "-efile", inputs[1].path};
  if (hfile) all.insert(all.end(), {"-hfile", inputs[2].path});
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  return tessellar::run_tessellar(static_cast<int>(all.size()), argv.data());
}

// The record lines of a VCF output, those of the region only when given.
std::string records(const std::string& path, const tessellar::Region* region) {
  std::istringstream text(read_all(path));
  std::string out;
  for (std::string line; std::getline(text, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (region != nullptr) {
      const std::size_t tab = line.find('\t');
      const long long pos = std::atoll(line.c_str() + tab + 1);
      if (tessellar::contig_key(std::string_view(line).substr(0, tab)) !=
              tessellar::contig_key(region->contig) ||
          !region->contains(pos))
        continue;
    }
    out += line + "\n";
  }
  return out;
}

// Checks what a run left: no temporary file, its output exactly with status 0.
void check_files(int status, const char* output) {
  bool found = false;
  for (const std::string& f : tsl_fuzz::work_dir_files()) {
    if (f.find(".tmp.") != std::string::npos)
      tsl_fuzz::fail("the run (status %d) left the temporary file '%s'", status, f.c_str());
    found = found || f == output;
  }
  if (status != 0 && status != 1) tsl_fuzz::fail("run_tessellar returned %d", status);
  if ((status == 0) != found)
    tsl_fuzz::fail("status %d %s the output '%s'", status, found ? "with" : "without", output);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tsl_fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::vector<std::string_view> parts;
  if (!tsl_fuzz::run_input(data, size, parts)) return -1;
  const auto part = [&](std::size_t k) { return k < parts.size() ? parts[k] : std::string_view(); };

  tsl_fuzz::clear_work_dir();
  const int forms[3] = {data[0] & 7, data[0] >> 3 & 7, data[1] & 7};
  const bool hfile = (data[0] & 0x40) == 0;
  std::array<Input, 3> inputs = {make_input("study", part(0), forms[0]),
                                 make_input("panel", part(1), forms[1]),
                                 make_input("haplotypes", part(2), forms[2])};
  std::vector<std::string> options = {"-window", kWindows[data[1] >> 5],
                                      "-min",    std::to_string(data[3] & 15),
                                      "-max",    std::to_string(4 + (data[3] >> 4))};
  if ((data[0] & 0x80) != 0) {
    const std::string ped = tsl_fuzz::path_of("panel.ped");
    tsl_fuzz::write_file(ped, part(3));
    options.insert(options.end(), {"-ped", ped});
  }
  tessellar::Region region;
  region.contig = kContigs[data[1] >> 3 & 3];
  region.start = kStarts[data[2] & 15];
  const long long length = kLengths[data[2] >> 4];
  const std::string range = region.contig + ":" + std::to_string(region.start) + "-" +
                            (length < 0 ? "" : std::to_string(region.start + length));
  if (length >= 0) region.end = region.start + length;

  std::vector<std::string> args = options;
  args.insert(args.end(), {"-region", range, "-ofile", tsl_fuzz::path_of("region.vcf")});
  const int status = run(inputs, hfile, args);
  check_files(status, "region.vcf");
  const std::string region_records =
      status == 0 ? records(tsl_fuzz::path_of("region.vcf"), nullptr) : "";
  ::unlink(tsl_fuzz::path_of("region.vcf").c_str());

  args = options;
  args.insert(args.end(), {"-ofile", tsl_fuzz::path_of("whole.vcf")});
  const int whole = run(inputs, hfile, args);
  check_files(whole, "whole.vcf");
  bool read_whole = true;
  for (std::size_t k = 0; k < 3; ++k)
    read_whole = read_whole && (inputs[k].read_whole || (k == 2 && !hfile));
  if (status == 1 && whole == 0 && read_whole)
    tsl_fuzz::fail("the region run stopped, the whole run did not");
  if (status == 0 && whole == 0 &&
      region_records != records(tsl_fuzz::path_of("whole.vcf"), &region))
    tsl_fuzz::fail("the region run's records differ from the whole run's at the region");
  return 0;
}
