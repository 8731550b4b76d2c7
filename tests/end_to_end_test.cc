// The built program on the shipped examples: console text and result file
// compared exactly (but for the elapsed time), exit codes, and the stops of
// a run that does not reach its tolerance.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "run_binary.h"

namespace identify::testing {
namespace {

std::string example_file(const std::string& name, const std::string& file) {
  return read_file(std::filesystem::path(IDENTIFY_EXAMPLES_DIR) / name / file);
}

TEST(EndToEnd, ConvergingExamplesGiveTheStoredResults) {
  for (const std::string name : {"worked", "known_matrix"}) {
    ScratchDir dir;
    dir.copy_example(name);
    const RunResult r = run_identify(dir.path());
    EXPECT_EQ(r.exit_code, 0) << name << "\n" << r.err;
    EXPECT_EQ(r.err, "") << name;
    EXPECT_EQ(mask_time(r.out), example_file(name, "expected_console.txt"))
        << name;
    EXPECT_EQ(dir.read("output.txt"), example_file(name, "expected_output.txt"))
        << name;
  }
}

TEST(EndToEnd, HistoryRecordsEveryIterationToTheLastBit) {
  ScratchDir dir;
  dir.copy_example("worked");
  const RunResult r = run_identify(dir.path(), "--history hist.csv -q");
  EXPECT_EQ(r.exit_code, 0);
  // The norms with 17 digits fingerprint every bit of the run; a Release and
  // a Debug build must both produce exactly this file.
  EXPECT_EQ(dir.read("hist.csv"), example_file("worked", "expected_history.csv"));
  // Quiet drops the progress lines and nothing else.
  EXPECT_EQ(r.out.find("COUNT"), std::string::npos);
  EXPECT_NE(r.out.find("ITERATION NUMBER = 436\n"), std::string::npos);
}

TEST(EndToEnd, ProblemThatCannotReachItsToleranceEndsWithTheBestMatrix) {
  ScratchDir dir;
  dir.copy_example("worked_as_given");
  const RunResult r = run_identify(dir.path());
  EXPECT_EQ(r.exit_code, 7) << r.err;
  EXPECT_EQ(r.err,
            "identify: no progress: the best residual norm 0.441766 "
            "(iteration 567) has not improved by a relative 1e-09 in 10000 "
            "iterations; epsilon 0.001 not reached\n");
  EXPECT_NE(r.out.find("\n\n\nITERATION NUMBER = 10568\n\nNUMERIC SOLUTION:\n"),
            std::string::npos);
  EXPECT_EQ(dir.read("output.txt"),
            example_file("worked_as_given", "expected_output.txt"));
}

// A 1×1 problem whose data fit A = -1: x' = a x, x(0) = 1, x(1) = exp(-1).
std::string scalar_problem(const std::string& epsilon, const std::string& step,
                           const std::string& fixed = "0\n") {
  return epsilon + "\n1\n" + step + "\n1\n" + fixed + "0\n1\n0\n0\n";
}
const char* kScalarData = "1\n1\n1\n1 0.36787944117144222\n";

TEST(EndToEnd, EachStopHasItsVerdictAndExitCode) {
  {  // Diverged: a step far too large.
    ScratchDir dir;
    dir.write("input.txt", scalar_problem("0", "1000"));
    dir.write("input_data.txt", "1\n1\n1\n1 2.718281828459045\n");
    const RunResult r = run_identify(dir.path());
    EXPECT_EQ(r.exit_code, 5);
    EXPECT_EQ(r.err,
              "identify: diverged: the residual norm is not finite at "
              "iteration 1; best residual norm 1.71828 (iteration 0) written; "
              "try a smaller descent step than 1000\n");
    EXPECT_NE(r.out.find("inf:   COUNT = 1\n\n\nITERATION NUMBER = 2\n"),
              std::string::npos);
    // The best matrix seen is the start matrix, whose norm was finite.
    EXPECT_EQ(dir.read("output.txt"), "0    \n");
  }
  {  // Stalled: the only entry is fixed, so no step changes A.
    ScratchDir dir;
    dir.write("input.txt", scalar_problem("0", "0.1", "1\n1 1 -0.5\n"));
    dir.write("input_data.txt", kScalarData);
    const RunResult r = run_identify(dir.path());
    EXPECT_EQ(r.exit_code, 6);
    EXPECT_EQ(r.err.rfind("identify: stalled: the step of iteration 1 left "
                          "the matrix unchanged; best residual norm ", 0),
              0u)
        << r.err;
    EXPECT_EQ(dir.read("output.txt"), "-0.5    \n");
  }
  {  // No progress, with a short patience.
    ScratchDir dir;
    dir.copy_example("worked_as_given");
    const RunResult r = run_identify(dir.path(), "--patience 50 -q");
    EXPECT_EQ(r.exit_code, 7);
    EXPECT_NE(r.err.find("in 50 iterations; epsilon 0.001 not reached"),
              std::string::npos)
        << r.err;
  }
  {  // Iteration limit: the output is the best matrix of those evaluated.
    ScratchDir dir;
    dir.write("input.txt", scalar_problem("0", "0.5"));
    dir.write("input_data.txt", kScalarData);
    const RunResult r = run_identify(dir.path(), "--max-iter 3");
    EXPECT_EQ(r.exit_code, 8);
    EXPECT_NE(r.out.find(":   COUNT = 2\n\n\nITERATION NUMBER = 3\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.err.rfind("identify: iteration limit reached: 3 iterations; "
                          "best residual norm ", 0),
              0u)
        << r.err;
  }
  {  // A converging run is untouched by a generous limit and patience.
    ScratchDir dir;
    dir.copy_example("worked");
    const RunResult r =
        run_identify(dir.path(), "--max-iter 437 --patience 436");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(mask_time(r.out), example_file("worked", "expected_console.txt"));
  }
}

TEST(EndToEnd, InterruptFinishesTheIterationAndWritesTheBestMatrix) {
  for (const auto& [sig, code] : {std::pair{SIGINT, 130}, {SIGTERM, 143}}) {
    ScratchDir dir;
    dir.copy_example("worked_as_given");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (chdir(dir.path().c_str()) != 0) _exit(99);
      if (!freopen("/dev/null", "r", stdin) || !freopen("out", "w", stdout) ||
          !freopen("err", "w", stderr))
        _exit(98);
      execl(IDENTIFY_BINARY, IDENTIFY_BINARY, "--patience", "0",
            static_cast<char*>(nullptr));
      _exit(97);
    }
    // Wait until the descent is under way.
    for (int i = 0; i < 400 && dir.read("out").find("COUNT = 20") ==
                                   std::string::npos;
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), code);
    EXPECT_EQ(dir.read("err").rfind("identify: interrupted by signal " +
                                        std::to_string(sig) + " after ",
                                    0),
              0u)
        << dir.read("err");
    EXPECT_NE(dir.read("out").find("NUMERIC SOLUTION:"), std::string::npos);
    EXPECT_FALSE(dir.read("output.txt").empty());
  }
}

TEST(EndToEnd, NeverWaitsWhenStandardInputIsNotATerminal) {
  // Standard input is a pipe that stays open: a program that waited for a
  // key would block for ever.
  ScratchDir dir;
  dir.copy_example("worked");
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(pipe_fds[1]);
    if (chdir(dir.path().c_str()) != 0 || dup2(pipe_fds[0], 0) < 0 ||
        !freopen("out", "w", stdout))
      _exit(98);
    execl(IDENTIFY_BINARY, IDENTIFY_BINARY, static_cast<char*>(nullptr));
    _exit(97);
  }
  close(pipe_fds[0]);
  int status = 0;
  pid_t done = 0;
  for (int i = 0; i < 600 && done == 0; ++i) {
    done = waitpid(pid, &status, WNOHANG);
    if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (done == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  close(pipe_fds[1]);
  ASSERT_NE(done, 0) << "the program waited on a non-terminal input";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(mask_time(dir.read("out")),
            example_file("worked", "expected_console.txt"));
}

TEST(EndToEnd, UnwritableOutputIsReportedAndTheReportStillPrinted) {
  ScratchDir dir;
  dir.copy_example("worked");
  const RunResult r =
      run_identify(dir.path(), "--output /proc/identify-test/output.txt");
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_EQ(r.err.rfind("identify: cannot write "
                        "/proc/identify-test/output.txt: ",
                        0),
            0u)
      << r.err;
  EXPECT_NE(r.out.find("NUMERIC SOLUTION:\n-1.39151   0.5   \n"),
            std::string::npos);
}

}  // namespace
}  // namespace identify::testing
