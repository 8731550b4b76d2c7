// Writes that fail, through the built program: a closed or full standard
// output, a full report stream, full or size-limited files, FIFOs, devices
// and the temporary files of killed runs. The result file is written
// whatever happens to the console, every failure is reported once with the
// system's reason and exit code 4, and no file is destroyed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "run_binary.h"

namespace identify::testing {
namespace {

namespace fs = std::filesystem;

TEST(OutputFailures, ResultFileIsWrittenWhateverHappensToTheConsole) {
  const std::string console = example_file("worked", "expected_console.txt");
  const std::string result = example_file("worked", "expected_output.txt");
  const struct {
    const char* name;
    const char* args;  // split at blanks; FULL is a copy of /dev/full
    bool stdout_closed;
    std::string stdout_file, stderr_file, err;
    bool console_kept;
  } cases[] = {
      // `identify | head -1` once head has gone.
      {"closed pipe", "", true, "", "",
       "identify: cannot write standard output: Broken pipe\n", false},
      {"full standard output", "", false, "/dev/full", "",
       "identify: cannot write standard output: No space left on device\n",
       false},
      // Standard error is full, so nothing can be said: the code says it.
      {"full report stream", "--report -", false, "", "/dev/full", "", true},
      {"full history", "--history FULL", false, "", "",
       "identify: cannot write FULL: No space left on device\n", true},
  };
  for (const auto& c : cases) {
    ScratchDir dir("worked");
    const std::string full = device_copy(dir, "full", "/dev/full");
    std::vector<std::string> args;
    std::istringstream words(c.args);
    for (std::string a; words >> a;) args.push_back(a == "FULL" ? full : a);
    std::string err = c.err;
    if (const auto at = err.find("FULL"); at != err.npos)
      err.replace(at, 4, full);
    RunSetup setup;
    setup.stdout_closed = c.stdout_closed;
    setup.stdout_file = c.stdout_file;
    setup.stderr_file = c.stderr_file;
    const RunResult r = dir.run_with(args, setup);
    EXPECT_EQ(r.exit_code, 4) << c.name;
    EXPECT_EQ(r.err, err) << c.name;
    if (c.console_kept) {
      EXPECT_EQ(mask_time(r.out), console) << c.name;
    }
    EXPECT_EQ(dir.read("output.txt"), result) << c.name;
  }
}

TEST(OutputFailures, ClosedStandardDescriptorsAreNotReusedForFiles) {
  // With descriptor 2 closed, the first file opened would become standard
  // error and get the verdict.
  ScratchDir dir("worked");
  RunSetup no_stderr;
  no_stderr.stderr_absent = true;
  const RunResult quiet =
      dir.run_with({"-q", "--max-iter", "2", "--history", "h.csv"}, no_stderr);
  EXPECT_EQ(quiet.exit_code, 8);
  EXPECT_EQ(dir.read("h.csv"),
            "iteration,residual_norm\n0,2.2494202808632684\n"
            "1,1.8521389133495902\n");
  // With descriptor 1 closed, the console text is lost and reported.
  RunSetup no_stdout;
  no_stdout.stdout_absent = true;
  const RunResult r = dir.run_with({"--trajectory", "t.csv"}, no_stdout);
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_EQ(r.err,
            "identify: cannot write standard output: Bad file descriptor\n");
  EXPECT_EQ(dir.read("output.txt"),
            example_file("worked", "expected_output.txt"));
  EXPECT_EQ(dir.read("t.csv").rfind("t,x1,x2\n0,1,0\n", 0), 0u);
}

TEST(OutputFailures, FileSizeLimitIsAWriteErrorAndLeavesNoTemporaryFile) {
  // Under `prlimit --fsize=10` the result cannot be written; the other
  // outputs fail the same way, each on its own line.
  ScratchDir dir("worked");
  dir.write("output.txt", "old\n");
  const std::vector<std::string> before = dir.names();
  RunSetup limited;
  limited.file_size_limit = 10;
  const RunResult r = dir.run_with(
      {"-q", "--history", "h.csv", "--trajectory", "t.csv"}, limited);
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_EQ(r.err,
            "identify: cannot write output.txt: File too large\n"
            "identify: cannot write h.csv: File too large\n"
            "identify: cannot write t.csv: File too large\n");
  EXPECT_NE(r.out.find("NUMERIC SOLUTION:\n-1.39151   0.5   \n"),
            std::string::npos);
  EXPECT_EQ(dir.read("output.txt"), "old\n");
  // The history is written in place, so that it can be watched: it keeps
  // what fitted under the limit. Nothing else is left.
  std::vector<std::string> after = before;
  after.push_back("h.csv");
  std::sort(after.begin(), after.end());
  EXPECT_EQ(dir.names(), after);
  EXPECT_EQ(dir.read("h.csv"), "iteration,");
}

// A process id that is certainly not alive: a child that has been reaped.
pid_t dead_pid() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

TEST(OutputFailures, StaleTemporaryFilesOfKilledRunsAreRemoved) {
  ScratchDir dir("worked");
  const std::string dead = std::to_string(dead_pid());
  const std::string alive = std::to_string(getpid());
  const std::vector<std::string> removed = {
      "output.txt.tmp." + dead + ".a1B2c3",
      "output.txt.tmp." + dead + ".Zz9Zz9", "fit.txt.tmp." + dead + ".q8Q8q8"};
  // Kept: a live writer, and names that are not temporary files.
  const std::vector<std::string> kept = {
      "output.txt.tmp." + alive + ".a1B2c3", "output.txt.tmp." + dead,
      "output.txt.tmp." + dead + ".a1B2c", "input.txt.tmp." + dead + ".a1B2c3"};
  for (const auto& name : removed) dir.write(name, "partial");
  for (const auto& name : kept) dir.write(name, "partial");
  const RunResult r = dir.run("-q --report fit.txt");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err,
            "identify: removed 2 stale temporary files of output.txt left by "
            "a run that ended while writing it\n"
            "identify: removed 1 stale temporary file of fit.txt left by a "
            "run that ended while writing it\n");
  for (const auto& name : kept)
    EXPECT_TRUE(fs::exists(dir.path() / name)) << name;
  for (const auto& name : removed)
    EXPECT_FALSE(fs::exists(dir.path() / name)) << name;
  EXPECT_EQ(dir.read("output.txt"),
            example_file("worked", "expected_output.txt"));
}

TEST(OutputFailures, FifosAreWrittenInPlaceAndNeverWaitedOn) {
  ScratchDir dir("worked");
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  // No reader: an error at once, not a run that hangs.
  const RunResult alone = dir.run("-q --output fifo");
  EXPECT_EQ(alone.exit_code, 4);
  EXPECT_EQ(alone.err,
            "identify: cannot write fifo: no process has the FIFO open for "
            "reading\n");
  // With a reader the result goes through the FIFO, which stays one.
  const int reader = open(dir.file("fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const RunResult r = dir.run("-q --output fifo");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  char buf[256] = {};
  const ssize_t got = read(reader, buf, sizeof buf - 1);
  close(reader);
  EXPECT_EQ(std::string(buf, got > 0 ? got : 0),
            example_file("worked", "expected_output.txt"));
  EXPECT_TRUE(fs::is_fifo(dir.path() / "fifo"));
}

TEST(OutputFailures, DevicesAreWrittenInPlaceOrRefused) {
  if (getuid() != 0) GTEST_SKIP() << "making device nodes needs root";
  ScratchDir dir("worked");
  // A second /dev/null and a block device (the first loop device).
  ASSERT_EQ(mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  ASSERT_EQ(mknod(dir.file("disk").c_str(), S_IFBLK | 0600, makedev(7, 0)), 0);
  fs::create_directory(dir.path() / "folder");
  const RunResult r =
      dir.run("-q --output null --report disk --trajectory folder");
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_EQ(r.err,
            "identify: cannot write disk: a block device is not written "
            "over\n"
            "identify: cannot write folder: Is a directory\n");
  EXPECT_TRUE(fs::is_character_file(dir.path() / "null"));
  EXPECT_TRUE(fs::is_block_file(dir.path() / "disk"));
  EXPECT_TRUE(fs::is_directory(dir.path() / "folder"));
}

}  // namespace
}  // namespace identify::testing
