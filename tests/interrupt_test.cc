// SIGINT and SIGTERM at random moments of a run of the built program: the
// run ends with 130 or 143 (or 0 when it had finished), never by a crash,
// and what it writes is either this run's result or marked as cut short;
// and a fit too large to be interrupted in time is refused before it
// begins.
// Each test runs the program once without a signal for the reference, then
// a few times with a signal after a random delay; the seed of the delays
// is in the failure messages.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "run_binary.h"

namespace identify::testing {
namespace {

using Clock = std::chrono::steady_clock;

// How a started run ended.
struct Ending {
  bool signalled = false;  // ended by a signal's default action
  int value = -1;          // the signal, or the exit code
};

Ending wait_for_end(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return {true, WTERMSIG(status)};
  return {false, WEXITSTATUS(status)};
}

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  for (std::string f; std::getline(in, f, '\t');) out.push_back(f);
  if (!line.empty() && line.back() == '\t') out.emplace_back();
  return out;
}

// A parameter table's rows by their first `key` fields joined, each with
// every field.
std::map<std::string, std::vector<std::string>> rows_of(
    const std::string& table, int key) {
  std::map<std::string, std::vector<std::string>> rows;
  std::stringstream in(table);
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    const std::vector<std::string> f = fields(line);
    std::string k;
    for (int i = 0; i < key; ++i) k += f[i] + "/";
    rows[k] = f;
  }
  return rows;
}

// The names listed after `label` in the interrupted line of --separately.
std::set<std::string> group(const std::string& err, const std::string& label) {
  std::smatch m;
  const std::regex line("identify: interrupted by signal 15[^\n]*(; |: )" +
                        label + "[^:]*: ([^;\n]*)");
  if (!std::regex_search(err, m, line)) return {};
  std::set<std::string> names;
  std::stringstream in(m[2].str());
  for (std::string name; std::getline(in, name, ',');) {
    names.insert(name.substr(name.find_first_not_of(' ')));
  }
  return names;
}

// Whether a profile field of an interrupted run is acceptable: the
// reference's value or "interrupted".
bool same_or_interrupted(const std::string& got, const std::string& want) {
  return got == want || got == "interrupted";
}

std::vector<std::string> temp_files(const ScratchDir& dir) {
  std::vector<std::string> temps;
  for (const std::string& name : dir.names()) {
    if (name.find(".tmp.") != std::string::npos) temps.push_back(name);
  }
  return temps;
}

// Twelve experiments fitted separately with 50 starts and profiles each,
// SIGTERM after a random part of the time the whole run takes: an
// experiment whose starts had not begun has no result. The run says which
// experiments it fitted, cut short or did not fit, writes only the first
// two, and marks the profile sides it cut short.
TEST(Interrupt, SeparatelyEndsWithTheExperimentsItFitted) {
  const std::vector<const char*> args = {
      "problem.yaml", "--no-pause", "--starts", "50",          "--threads", "4",
      "--profile",    "--plot",     "p.svg",    "--separately"};
  const int null_fd = open("/dev/null", O_RDONLY);
  ScratchDir reference("theophylline_12");
  const auto started = Clock::now();
  ASSERT_EQ(wait_for_end(start_identify(reference.path(), args, null_fd)).value,
            0);
  const std::chrono::duration<double> whole = Clock::now() - started;
  const auto want = rows_of(reference.read("problem.parameters.tsv"), 2);

  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> delay(0.0, whole.count());
  for (int run = 0; run < 6; ++run) {
    ScratchDir dir("theophylline_12");
    const pid_t pid = start_identify(dir.path(), args, null_fd);
    const double after = delay(random);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", SIGTERM after " +
                 std::to_string(after) + " s");
    std::this_thread::sleep_for(std::chrono::duration<double>(after));
    kill(pid, SIGTERM);
    const Ending end = wait_for_end(pid);
    const std::string err = dir.read("err");
    EXPECT_EQ(temp_files(dir), std::vector<std::string>{});
    EXPECT_EQ(err.find("did not end at a finite objective"), std::string::npos)
        << err;
    if (end.signalled) {
      // Only while the files are read, before any handler is installed.
      EXPECT_EQ(end.value, SIGTERM);
      EXPECT_EQ(err, "");
      continue;
    }
    const auto got = rows_of(dir.read("problem.parameters.tsv"), 2);
    if (end.value == 0) {
      EXPECT_EQ(err.find("interrupted"), std::string::npos) << err;
      EXPECT_EQ(got, want);
      continue;
    }
    ASSERT_EQ(end.value, 143) << err;
    if (err.find("identify: interrupted by signal 15: ") == std::string::npos) {
      // The signal came while the outputs were written.
      EXPECT_NE(err.find("while the outputs were written"), std::string::npos)
          << err;
      continue;
    }
    const std::set<std::string> fitted = group(err, "fitted");
    const std::set<std::string> cut = group(err, "cut short");
    const std::set<std::string> not_fitted = group(err, "not fitted");
    EXPECT_EQ(fitted.size() + cut.size() + not_fitted.size(), 12u) << err;
    std::set<std::string> written;
    for (const auto& [key, row] : got) {
      written.insert(row[0]);
      if (fitted.contains(row[0])) {
        ASSERT_TRUE(want.contains(key));
        EXPECT_EQ(row[2], want.at(key)[2]) << key;
        EXPECT_TRUE(same_or_interrupted(row[10], want.at(key)[10])) << key;
        EXPECT_TRUE(same_or_interrupted(row[11], want.at(key)[11])) << key;
      }
    }
    std::set<std::string> with_results = fitted;
    with_results.insert(cut.begin(), cut.end());
    EXPECT_EQ(written, with_results) << err;
    const std::vector<std::string> names = dir.names();
    EXPECT_EQ(std::count(names.begin(), names.end(), "p.svg"),
              with_results.empty() ? 0 : 1);
  }
  close(null_fd);
}

// Waits until the fit of a run started in `dir` has printed its iteration
// count: its profiles begin.
void wait_for_fit(const ScratchDir& dir) {
  for (int i = 0; i < 20000 &&
                  dir.read("out").find("ITERATION NUMBER") == std::string::npos;
       ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
}

// SIGINT at a random moment of the profiles of a fit that converged, or of
// the writing of its outputs: every side is the reference's interval end or
// says "interrupted", on the console and in the parameter table; an output
// the run says it did not write is not there; the run ends with 130.
TEST(Interrupt, ProfileSidesCutShortSayInterrupted) {
  const std::vector<const char*> args = {"problem.yaml", "--no-pause",
                                         "--profile", "--threads", "2"};
  const int null_fd = open("/dev/null", O_RDONLY);
  ScratchDir reference("theophylline_pk");
  const pid_t reference_pid = start_identify(reference.path(), args, null_fd);
  wait_for_fit(reference);
  const auto fitted = Clock::now();
  ASSERT_EQ(wait_for_end(reference_pid).value, 0);
  // The profiles and the outputs.
  const auto tail = std::chrono::duration_cast<std::chrono::microseconds>(
      Clock::now() - fitted);
  const auto want = rows_of(reference.read("problem.parameters.tsv"), 1);
  const std::regex profile_line(
      "profile of ([A-Za-z]+): 95% interval (\\S+) .. (\\S+)");
  std::map<std::string, std::pair<std::string, std::string>> want_lines;
  const std::string ref_out = reference.read("out");
  for (auto it =
           std::sregex_iterator(ref_out.begin(), ref_out.end(), profile_line);
       it != std::sregex_iterator(); ++it) {
    want_lines[(*it)[1]] = {(*it)[2], (*it)[3]};
  }
  ASSERT_EQ(want_lines.size(), 3u);

  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> delay_us(0, tail.count());
  int cut = 0;
  for (int run = 0; run < 10; ++run) {
    ScratchDir dir("theophylline_pk");
    const pid_t pid = start_identify(dir.path(), args, null_fd);
    wait_for_fit(dir);
    const int after = delay_us(random);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", SIGINT " +
                 std::to_string(after) + " us after the fit");
    std::this_thread::sleep_for(std::chrono::microseconds(after));
    kill(pid, SIGINT);
    const Ending end = wait_for_end(pid);
    const std::string out = dir.read("out");
    const std::string err = dir.read("err");
    ASSERT_FALSE(end.signalled) << end.value;
    if (end.value == 0) {
      EXPECT_EQ(out.substr(out.find("profile of")),
                ref_out.substr(ref_out.find("profile of")));
      continue;
    }
    ASSERT_EQ(end.value, 130) << err;
    EXPECT_NE(err.find("interrupted by signal 2"), std::string::npos) << err;
    std::smatch skipped;
    if (std::regex_search(err, skipped, std::regex("not written: ([^ ]*)"))) {
      const std::vector<std::string> names = dir.names();
      EXPECT_EQ(std::count(names.begin(), names.end(), skipped[1].str()), 0);
    }
    for (auto it = std::sregex_iterator(out.begin(), out.end(), profile_line);
         it != std::sregex_iterator(); ++it) {
      const auto& [lower, upper] = want_lines[(*it)[1]];
      EXPECT_TRUE(same_or_interrupted((*it)[2], lower)) << (*it)[0];
      EXPECT_TRUE(same_or_interrupted((*it)[3], upper)) << (*it)[0];
      cut += (*it)[2] == "interrupted" || (*it)[3] == "interrupted";
    }
    for (const auto& [key, row] :
         rows_of(dir.read("problem.parameters.tsv"), 1)) {
      EXPECT_EQ(row[1], want.at(key)[1]) << key;
      EXPECT_TRUE(same_or_interrupted(row[9], want.at(key)[9])) << key;
      EXPECT_TRUE(same_or_interrupted(row[10], want.at(key)[10])) << key;
    }
  }
  close(null_fd);
  std::printf("%d profile lines with a side interrupted\n", cut);
}

// A signal while the outputs are written, held at a known file: the
// trajectory goes to a FIFO that this test reads only after the signal, so
// the program is inside that file when the signal comes. The file is
// finished (all of it arrives), the plot after it is not begun, the run
// says so and ends with the signal's code; for the legacy files and for a
// problem file.
TEST(Interrupt, ASignalWhileWritingFinishesTheFileAndNamesTheRest) {
  const struct {
    const char* example;
    std::vector<const char*> args;
    int signal;
    int code;
  } cases[] = {
      {"worked", {"--no-pause"}, SIGINT, 130},
      {"theophylline_pk", {"problem.yaml", "--no-pause"}, SIGTERM, 143},
  };
  const int null_fd = open("/dev/null", O_RDONLY);
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> delay_us(0, 50000);
  for (const auto& c : cases) {
    std::vector<const char*> args = c.args;
    for (const char* a : {"--report", "r.txt", "--plot", "p.svg"}) {
      args.push_back(a);
    }
    ScratchDir reference(c.example);
    std::vector<const char*> to_file = args;
    to_file.insert(to_file.end(), {"--trajectory", "t.csv"});
    ASSERT_EQ(
        wait_for_end(start_identify(reference.path(), to_file, null_fd)).value,
        0);

    ScratchDir dir(c.example);
    ASSERT_EQ(mkfifo(dir.file("t.fifo").c_str(), 0600), 0);
    const int fifo = open(dir.file("t.fifo").c_str(), O_RDONLY | O_NONBLOCK);
    args.insert(args.end(), {"--trajectory", "t.fifo"});
    const pid_t pid = start_identify(dir.path(), args, null_fd);
    // Once the first bytes of the trajectory are there, the program is
    // inside that file: it fills the FIFO's buffer and waits.
    pollfd ready{fifo, POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 60000), 1);
    const int after = delay_us(random);
    SCOPED_TRACE(std::string(c.example) + ", seed " + std::to_string(seed) +
                 ", signal " + std::to_string(after) +
                 " us into the trajectory");
    std::this_thread::sleep_for(std::chrono::microseconds(after));
    kill(pid, c.signal);
    fcntl(fifo, F_SETFL, 0);
    std::string trajectory;
    char buffer[65536];
    for (ssize_t got; (got = read(fifo, buffer, sizeof buffer)) > 0;) {
      trajectory.append(buffer, got);
    }
    close(fifo);
    const Ending end = wait_for_end(pid);
    const std::string err = dir.read("err");
    ASSERT_FALSE(end.signalled) << end.value;
    EXPECT_EQ(end.value, c.code) << err;
    EXPECT_EQ(trajectory, reference.read("t.csv"));
    EXPECT_NE(err.find("interrupted by signal " + std::to_string(c.signal) +
                       " while the outputs were written; not written: p.svg"),
              std::string::npos)
        << err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("p.svg")));
    EXPECT_EQ(temp_files(dir), std::vector<std::string>{});
  }
  close(null_fd);
}

// n parameters, each the offset of an observable measured once: a problem
// whose Jacobian is n × n.
void write_wide_problem(const ScratchDir& dir, int n) {
  std::string yaml = "states: [x]\nparameters:\n";
  std::string observables, data = "experiment,observable,time,measurement\n";
  for (int k = 0; k < n; ++k) {
    const std::string p = "p" + std::to_string(k);
    const std::string o = "o" + std::to_string(k);
    yaml += "  " + p + ": {value: 0}\n";
    observables += "  " + o + ": {states: {x: 1}, offset: " + p + "}\n";
    data += "e," + o + ",1," + std::to_string(k % 7) + "\n";
  }
  yaml += "matrix:\n  x: {x: -1}\nobservables:\n" + observables +
          "experiments:\n  - {id: e, x0: {x: 1}}\ndata: data.csv\n";
  dir.write("problem.yaml", yaml);
  dir.write("data.csv", data);
}

// A dense solve cannot be interrupted once begun, so a problem whose dense
// Jacobians do not fit in the memory the process may use is refused before
// any fit, with the memory it would need: 1000 × 1000 on four threads
// under a 300 MiB address-space limit.
TEST(Interrupt, AFitTooLargeForMemoryIsRefusedUpFront) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // A sanitizer's shadow memory does not fit under the address-space limit.
  GTEST_SKIP() << "address-space limits and sanitizers do not mix";
#endif
  ScratchDir dir;
  write_wide_problem(dir, 1000);
  RunSetup setup;
  setup.address_space_limit = std::size_t{300} << 20;
  const RunResult r =
      dir.run_with({"problem.yaml", "--no-pause", "--threads", "4"}, setup);
  EXPECT_EQ(r.exit_code, 3) << r.err;
  EXPECT_TRUE(std::regex_match(
      r.err,
      std::regex("identify: problem.yaml: 1000 fitted parameters and 1000 "
                 "measurements: the dense Jacobians of the fit \\(4 threads\\) "
                 "need about 0.358 GiB of memory, more than this process may "
                 "use \\(0.293 GiB\\)\n")))
      << r.err;
  EXPECT_EQ(dir.names(),
            (std::vector<std::string>{"data.csv", "problem.yaml"}));
}

}  // namespace
}  // namespace identify::testing
