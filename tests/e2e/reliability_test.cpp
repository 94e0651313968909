// Runs that end early or meet a hostile machine: signals in mid-run,
// threads that cannot start, a lost run log, pipes as inputs, outputs that
// must not be written, links planted by another user.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "e2e_run.h"
#include "work_folder.h"

namespace fs = std::filesystem;
using namespace tessellar::testing_support;

namespace {

// A work folder holding the example's inputs.
class ExampleCopy : public WorkFolder {
 public:
  explicit ExampleCopy(const std::string& name) : WorkFolder("reliability_" + name) {
    copy_example_inputs(path());
  }
};

std::vector<std::string> temporary_files(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().find(".tmp.") != std::string::npos)
      names.push_back(e.path().filename());
  return names;
}

// Runs tessellar in dir with args (and redirections); its standard output
// and error into *out.
int run(const fs::path& dir, const std::string& args, std::string* out = nullptr) {
  return shell(dir, kBinary + " " + args + " 2>&1", out);
}

class Signals : public testing::TestWithParam<int> {};

// Each signal that ends a run removes its temporary files (output, index,
// per-site file) and ends it as the signal would; the earlier output stays.
TEST_P(Signals, RemoveTheTemporaryFilesAndEndTheRun) {
  const int signal_number = GetParam();
  const ExampleCopy w("signal" + std::to_string(signal_number));
  std::ofstream(w / "out.vcf.gz") << "earlier";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (chdir(w.path().c_str()) != 0) _exit(100);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    // A slow run: every set of 4 among all candidates of the example.
    execl(TESSELLAR_BINARY, TESSELLAR_BINARY, "-max", "200", "-min", "200", "-ofile", "out.vcf.gz",
          "-sites", "sites.tsv", static_cast<char*>(nullptr));
    _exit(101);
  }
  // Signal once the run has begun writing.
  for (int wait = 0; wait < 500 && temporary_files(w.path()).size() < 2; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(temporary_files(w.path()).size(), 2u);
  kill(child, signal_number);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
  EXPECT_TRUE(temporary_files(w.path()).empty());
  EXPECT_EQ(read_file(w / "out.vcf.gz"), "earlier");
  EXPECT_FALSE(fs::exists(w / "sites.tsv"));
}

INSTANTIATE_TEST_SUITE_P(EndARun, Signals,
                         testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE),
                         [](const testing::TestParamInfo<int>& p) {
                           return "SIG" + std::string(sigabbrev_np(p.param));
                         });

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Under a limit on memory only some worker threads start: the run goes on
// with them, says so, and gives the output of one thread; never an abort.
TEST(Limits, ThreadsThatCannotStartLeaveTheRunToTheOthers) {
  const ExampleCopy w("threads");
  ASSERT_EQ(run(w.path(), "-ofile one.txt"), 0);
  bool fell_back = false;
  for (int limit = 80000; limit >= 20000; limit -= 4000) {
    const std::string ulimit = "ulimit -v " + std::to_string(limit) + "; ";
    if (shell(w, ulimit + kBinary + " --version") != 0) continue;  // too little to start
    std::string out;
    const int status = shell(w, ulimit + kBinary + " -threads 7 -ofile seven.txt 2>&1", &out);
    EXPECT_TRUE(status == 0 || status == 1) << limit << ": " << out;
    if (status != 0) continue;
    EXPECT_EQ(read_file(w / "seven.txt"), read_file(w / "one.txt"));
    fell_back = fell_back || out.find("worker threads could be started") != std::string::npos;
  }
  EXPECT_TRUE(fell_back) << "no limit left some threads unstarted";
  EXPECT_TRUE(temporary_files(w.path()).empty());
}

// Beyond the file size limit the write fails and is reported like any
// write error, leaving no temporary file.
TEST(Limits, FileSizeLimitIsAnOrdinaryWriteError) {
  const ExampleCopy w("fsize");
  std::string out;
  EXPECT_EQ(shell(w, "ulimit -f 8; " + kBinary + " -ofile out.txt", &out), 1);
  EXPECT_NE(out.find("Error: cannot write to the output file 'out.txt': File too large."),
            std::string::npos)
      << out;
  EXPECT_TRUE(temporary_files(w.path()).empty());
}
#endif

// A run log that cannot be written (standard output full or closed) fails
// the run, which writes nothing; a closed one is reported on standard error
// with the reason.
TEST(RunLog, ThatCannotBeWrittenFailsTheRun) {
  const ExampleCopy w("run_log");
  EXPECT_EQ(shell(w, kBinary + " > /dev/full 2> /dev/null"), 1);
  std::string error;
  EXPECT_EQ(shell(w, kBinary + " 2>&1 >&-", &error), 1);
  EXPECT_EQ(error, "Error: cannot write the run log on standard output: Bad file descriptor.\n");
  EXPECT_TRUE(temporary_files(w.path()).empty() && !fs::exists(w / "imp_geno.out"));
}

// A pipe holding text is refused at once (text is read twice), even with
// no writer; VCF from a pipe named /dev/fd/3 (as a process substitution
// names it) is read; /dev/stdout writes to the run's standard output, also
// when it is a file.
TEST(Streams, PipesAndStandardOutput) {
  const ExampleCopy w("pipes");
  ASSERT_EQ(mkfifo((w / "fifo").c_str(), 0600), 0);
  std::string out;
  EXPECT_EQ(shell(w, "timeout 20 " + kBinary + " -gfile fifo", &out), 1);
  EXPECT_NE(out.find("Error: 'fifo' is not a regular file"), std::string::npos) << out;
  ASSERT_EQ(run(w.path(), "-ofile text.txt"), 0);
  EXPECT_EQ(shell(w, "cat study.vcf.gz | " + kBinary +
                         " -gfile /dev/fd/3 -efile panel.vcf.gz -ped panel.ped -hfile "
                         "haplotypes.vcf.gz -ofile piped.txt 3<&0 < /dev/null"),
            0);
  EXPECT_EQ(read_file(w / "piped.txt"), read_file(w / "text.txt"));
  EXPECT_EQ(run(w.path(), "-ofile /dev/stdout > both.txt"), 0);
  EXPECT_NE(read_file(w / "both.txt").find(read_file(w / "text.txt")), std::string::npos);
}

// As another user (root runs these through setpriv): an earlier output that
// the user may not write, and an input the user may not read, stop the run;
// a link that another user planted in a sticky world-writable folder is not
// followed, as the kernel would not follow it.
TEST(Permissions, AreThoseOfTheUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const ExampleCopy w("permissions");
  fs::permissions(w.path(), fs::perms::all);
  std::ofstream(w / "kept.txt") << "kept";
  fs::permissions(w / "kept.txt", fs::perms(0444));
  std::ofstream(w / "secret.dat") << "x";
  fs::permissions(w / "secret.dat", fs::perms(0600));
  const std::string as_nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups " + kBinary;
  std::string out;
  EXPECT_EQ(shell(w, as_nobody + " -ofile kept.txt", &out), 1);
  EXPECT_NE(out.find("Error: cannot write to the output file 'kept.txt': Permission denied."),
            std::string::npos)
      << out;
  EXPECT_EQ(read_file(w / "kept.txt"), "kept");
  EXPECT_EQ(shell(w, as_nobody + " -gfile secret.dat", &out), 1);
  EXPECT_NE(out.find("Error: 'secret.dat' cannot be read: Permission denied."), std::string::npos)
      << out;
  fs::create_directory(w / "shared");
  ASSERT_EQ(chmod((w / "shared").c_str(), 01777), 0);
  fs::create_symlink(w / "victim.txt", w / "shared/out.txt");
  ASSERT_EQ(lchown((w / "shared/out.txt").c_str(), 65534, 65534), 0);
  EXPECT_EQ(run(w.path(), "-ofile shared/out.txt", &out), 1);
  EXPECT_NE(out.find("belongs to another user, so it is not followed"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(w / "victim.txt"));
}

}  // namespace
