// The built program on the shipped examples and on small problems: console
// text and result file compared exactly (but for the elapsed time), and the
// verdict and exit code of every way a run can end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "run_binary.h"

namespace identify::testing {
namespace {

using std::chrono::milliseconds;

TEST(EndToEnd, ConvergingExamplesGiveTheStoredResults) {
  // A generous limit and patience leave a converging run untouched.
  for (const auto& [name, args] :
       {std::pair{"worked", ""},
        {"known_matrix", ""},
        {"worked", "--max-iter 437 --patience 436"}}) {
    ScratchDir dir(name);
    const RunResult r = dir.run(args);
    EXPECT_EQ(r.exit_code, 0) << name << "\n" << r.err;
    EXPECT_EQ(r.err, "") << name;
    EXPECT_EQ(mask_time(r.out), example_file(name, "expected_console.txt"))
        << name << " " << args;
    EXPECT_EQ(dir.read("output.txt"), example_file(name, "expected_output.txt"))
        << name;
  }
}

TEST(EndToEnd, HistoryRecordsEveryIterationToTheLastBit) {
  ScratchDir dir("worked");
  const RunResult r = dir.run("--history hist.csv -q");
  EXPECT_EQ(r.exit_code, 0);
  // The norms with 17 digits fingerprint every bit of the run; a Release and
  // a Debug build must both produce exactly this file.
  EXPECT_EQ(dir.read("hist.csv"),
            example_file("worked", "expected_history.csv"));
  // Quiet drops the progress lines and nothing else.
  EXPECT_EQ(r.out.find("COUNT"), std::string::npos);
  EXPECT_NE(r.out.find("ITERATION NUMBER = 436\n"), std::string::npos);
}

// A 1×1 problem whose data fit A = -1: x' = a x, x(0) = 1, x(1) = exp(-1).
std::string scalar_problem(const std::string& step,
                           const std::string& fixed = "0\n") {
  return "0\n1\n" + step + "\n1\n" + fixed + "0\n1\n0\n0\n";
}
const char* kScalarData = "1\n1\n1\n1 0.36787944117144222\n";

TEST(EndToEnd, EachEndHasItsVerdictAndExitCode) {
  const std::string given_output =
      example_file("worked_as_given", "expected_output.txt");
  const struct {
    const char* name;
    std::string example, problem, data, args;
    int exit_code;
    std::string err, out_part, output;
  } cases[] = {
      {"no progress", "worked_as_given", "", "", "", 7,
       "no progress: the best residual norm 0.441766 (iteration 567) has not "
       "improved by a relative 1e-09 in 10000 iterations; epsilon 0.001 not "
       "reached",
       "\n\n\nITERATION NUMBER = 10568\n\nNUMERIC SOLUTION:\n", given_output},
      {"short patience", "worked_as_given", "", "", "--patience 50 -q", 7,
       "no progress: the best residual norm 0.445573 (iteration 439) has not "
       "improved by a relative 1e-09 in 50 iterations; epsilon 0.001 not "
       "reached",
       "NUMERIC SOLUTION:\n-1.3904   0.5   \n",
       "-1.3904    0.5    \n-0.95442    0.266787    \n"},
      // The best matrix seen is the start matrix, whose norm was finite.
      {"diverged", "", scalar_problem("1000"), "1\n1\n1\n1 2.718281828459045\n",
       "", 5,
       "diverged: the residual norm is not finite at iteration 1; best "
       "residual norm 1.71828 (iteration 0) written; try a smaller descent "
       "step than 1000",
       "inf:   COUNT = 1\n\n\nITERATION NUMBER = 2\n", "0    \n"},
      // The only entry is fixed, so no step changes A.
      {"stalled", "", scalar_problem("0.1", "1\n1 1 -0.5\n"), kScalarData, "",
       6,
       "stalled: the step of iteration 1 left the matrix unchanged; best "
       "residual norm 0.238651 (iteration 1) > epsilon 0",
       "NUMERIC SOLUTION:", "-0.5    \n"},
      // The output is the best matrix of those evaluated.
      {"iteration limit", "", scalar_problem("0.5"), kScalarData,
       "--max-iter 3", 8,
       "iteration limit reached: 3 iterations; best residual norm 0.119331 "
       "(iteration 2) > epsilon 0",
       ":   COUNT = 2\n\n\nITERATION NUMBER = 3\n", "-0.71906    \n"},
      // The console report is still printed.
      {"unwritable output", "worked", "", "",
       "--output /proc/identify-test/output.txt", 4,
       "cannot write /proc/identify-test/output.txt: No such file or directory",
       "NUMERIC SOLUTION:\n-1.39151   0.5   \n", ""},
  };
  for (const auto& c : cases) {
    ScratchDir dir(c.example);
    if (c.example.empty()) {
      dir.write("input.txt", c.problem);
      dir.write("input_data.txt", c.data);
    }
    const RunResult r = dir.run(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.name;
    EXPECT_EQ(r.err, "identify: " + c.err + "\n") << c.name;
    EXPECT_NE(r.out.find(c.out_part), std::string::npos) << c.name << r.out;
    EXPECT_EQ(dir.read("output.txt"), c.output) << c.name;
  }
}

TEST(EndToEnd, InterruptFinishesTheIterationAndWritesTheBestMatrix) {
  const int null_fd = open("/dev/null", O_RDONLY);
  for (const auto& [sig, code] : {std::pair{SIGINT, 130}, {SIGTERM, 143}}) {
    ScratchDir dir("worked_as_given");
    const pid_t pid = start_identify(dir.path(), {"--patience", "0"}, null_fd);
    ASSERT_GE(pid, 0);
    // Wait until the descent is under way.
    for (int i = 0;
         i < 400 && dir.read("out").find("COUNT = 20") == std::string::npos;
         ++i) {
      std::this_thread::sleep_for(milliseconds(25));
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
  close(null_fd);
}

TEST(EndToEnd, NeverWaitsWhenStandardInputIsNotATerminal) {
  // Standard input is a pipe that stays open: a program that waited for a
  // key would block for ever.
  ScratchDir dir("worked");
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t pid = start_identify(dir.path(), {}, pipe_fds[0]);
  ASSERT_GE(pid, 0);
  close(pipe_fds[0]);
  int status = 0;
  pid_t done = 0;
  for (int i = 0; i < 600 && done == 0; ++i) {
    done = waitpid(pid, &status, WNOHANG);
    if (done == 0) std::this_thread::sleep_for(milliseconds(50));
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

}  // namespace
}  // namespace identify::testing
