// The built program on the shipped examples and on small problems: console
// text and result file compared exactly (but for the elapsed time), and the
// verdict and exit code of every way a run can end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <string>
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
      // exp(rate·t) overflows at the start: no step is to blame.
      {"start not finite", "", "0\n1000\n0.01\n1\n0\n0\n1\n1\n1\n",
       "1\n1\n1\n1000 2\n", "", 5,
       "diverged: the residual norm of the start matrix is not finite, so no "
       "step was tried: the model overflows there (check T, x0, amp and "
       "rate); the start matrix is written",
       ":   COUNT = 0\n\n\nITERATION NUMBER = 1\n", "0    \n"},
      // A tolerance written -0 is 0; one iteration is singular.
      {"one iteration", "", "-0\n1\n0.5\n1\n0\n0\n1\n0\n0\n", kScalarData,
       "--max-iter 1", 8,
       "iteration limit reached: 1 iteration; best residual norm 0.632121 "
       "(iteration 0) > epsilon 0",
       "0.632121:   COUNT = 0\n\n\nITERATION NUMBER = 1\n", "0    \n"},
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

// dim 0 is a valid if empty system: nothing to fit, an empty result. The
// sanitizer build checks that no empty buffer reaches a copy as a null
// pointer on the way.
TEST(EndToEnd, ASystemOfNoComponentsEndsWithAnEmptyResult) {
  ScratchDir dir;
  dir.write("input.txt", "1e-4\n5\n0.02\n0\n0\n0\n");
  dir.write("input_data.txt", "0 0\n");
  for (const char* args : {"--max-iter 2", "--method lm", "--model exact"}) {
    const RunResult r = dir.run(std::string(args) + " --no-pause -q");
    EXPECT_EQ(r.exit_code, 0) << args << r.err;
    EXPECT_EQ(r.err, "") << args;
    EXPECT_EQ(dir.read("output.txt"), "") << args;
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

// N components decaying from x0 = 1, no sources, one series of two samples:
// a problem whose iterations take seconds for N in the thousands.
void write_large_problem(const ScratchDir& dir, int n) {
  std::string problem = "0\n1\n0.01\n" + std::to_string(n) + "\n0\n0\n";
  for (const char* value : {"1\n", "0\n", "0\n"}) {
    for (int i = 0; i < n; ++i) problem += value;
  }
  dir.write("input.txt", problem);
  dir.write("input_data.txt", "1\n1\n2\n0.5 0.6\n1 0.4\n");
}

// How a run interrupted after some iterations ends.
const std::string kAfterIterations =
    "after [0-9]+ iterations?; best residual norm [0-9.e+-]+ \\(iteration "
    "[0-9]+\\) written";
#ifdef __SANITIZE_ADDRESS__
// Instrumented build: smaller and slower sweeps, whose timing is too loose
// to tell which iteration the signal meets.
constexpr int kScale = 10;
const std::string kDuringTheFirstSweep =
    "(before the first iteration finished; the start matrix is written|" +
    kAfterIterations + ")";
#else
constexpr int kScale = 1;
const std::string kDuringTheFirstSweep =
    "before the first iteration finished; the start matrix is written";
#endif

// Waits until `text` appears in the file `name` of dir (or about 60 s pass).
void wait_for(const ScratchDir& dir, const std::string& name,
              const std::string& text) {
  for (int i = 0; i < 2400 && dir.read(name).find(text) == std::string::npos;
       ++i) {
    std::this_thread::sleep_for(milliseconds(25));
  }
}

// SIGTERM in the middle of a sweep that takes seconds: the sweep gives up
// within a few grid steps, and the fit ends at once ("ITERATION NUMBER"),
// followed by its usual report (N² numbers: the rest of the time), the best
// matrix of a finished iteration (or the start) and exit code 143.
TEST(EndToEnd, SigtermEndsALongIterationPromptly) {
  const int null_fd = open("/dev/null", O_RDONLY);
  const struct {
    int dim;
    const char* wait_for;  // in the console, before the signal
    int pause_ms;
    std::string verdict;  // a regular expression
  } cases[] = {
      // One forward sweep takes about 6 s here; the signal comes during
      // the first, once the set-up is over (posing the 2.25 million entries
      // as parameters and building the model take 3 to 4 s on a virtual
      // machine, whose page faults are slow, more on a busy one).
      {1500 / kScale, "Data file was successfully loaded!", 5000,
       kDuringTheFirstSweep},
      // An iteration takes about 2 s: the signal comes during the sweep
      // after the first step (later ones in a slower build).
      {600 / kScale, "COUNT = 0\n", 200, kAfterIterations},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    write_large_problem(dir, c.dim);
    const pid_t pid = start_identify(dir.path(), {"--no-pause"}, null_fd);
    ASSERT_GE(pid, 0);
    wait_for(dir, "out", c.wait_for);
    std::this_thread::sleep_for(milliseconds(c.pause_ms));
    const auto signalled = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    wait_for(dir, "out", "ITERATION NUMBER = ");
    const std::chrono::duration<double> took =
        std::chrono::steady_clock::now() - signalled;
    EXPECT_LT(took.count(), 0.5 * kScale) << c.dim;
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << c.dim;
    EXPECT_EQ(WEXITSTATUS(status), 143) << c.dim;
    EXPECT_TRUE(std::regex_match(
        dir.read("err"),
        std::regex("identify: interrupted by signal 15 " + c.verdict + "\n")))
        << c.dim << ": " << dir.read("err");
    const std::string output = dir.read("output.txt");
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), c.dim);
    EXPECT_EQ(output.find("nan"), std::string::npos);
    EXPECT_NE(dir.read("out").find("NUMERIC SOLUTION:"), std::string::npos);
  }
  close(null_fd);
}

// A failing library run says why in one line of the program's own: no
// library log lines (glog's warnings and errors), no memory addresses.
TEST(EndToEnd, LibraryFailuresGetOneVerdictLine) {
  const struct {
    const char* T;
    const char* times;
  } cases[] = {{"4.9e-324", "4.9e-324"}, {"1e300", "1e300"}};
  for (const auto& c : cases) {
    for (const char* model : {"exact", "grid"}) {
      ScratchDir dir;
      dir.write("input.txt", std::string("0\n") + c.T +
                                 "\n0.01\n2\n1\n1 2 0.5\n1\n2 1 -1 1\n"
                                 "[1 0]\n[0 1]\n[0 -0.5]\n");
      dir.write("input_data.txt", std::string("2\n1 2\n1\n") + c.times +
                                      " 0.4\n" + c.times + " 0.6\n");
      const RunResult r =
          dir.run(std::string("-q --method lm --model ") + model);
      // Every sample time is 0 to the double's precision, or so large that
      // the Jacobian is not finite: the library finds the residuals flat
      // (an optimum of a sort) or gives up.
      EXPECT_TRUE(
          std::regex_search(r.err, std::regex("^identify: (converged: )?lm: ")))
          << c.T << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1)
          << c.T << " " << model << "\n"
          << r.err;
      EXPECT_EQ(r.err.find("0x"), std::string::npos) << r.err;
      EXPECT_EQ(dir.read("output.txt").find("nan"), std::string::npos);
    }
  }
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
