// The public library: option checks, problems from files, text, code and
// tables in memory, the result tables against the program's files, stops,
// callbacks, and fits on several threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "fit/summary.h"
#include "identify/identify.h"
#include "run_binary.h"

namespace identify {
namespace {

using testing::ScratchDir;

const std::string kExample =
    std::string(IDENTIFY_EXAMPLES_DIR) + "/theophylline_pk/problem.yaml";

TEST(FitOptionsCheck, EachFaultNamesTheOptionAndItsRange) {
  const struct {
    void (*set)(FitOptions&);
    const char* reason;
  } cases[] = {
      {[](FitOptions&) {}, ""},
      {[](FitOptions& o) { o.method = "newton"; },
       "--method: expected one of descent, lm, lbfgsb, found \"newton\""},
      {[](FitOptions& o) { o.model = "ode"; },
       "--model: expected one of grid, exact, found \"ode\""},
      {[](FitOptions& o) { o.starts = 0; },
       "--starts: expected a whole number from 1 to 1000000, found \"0\""},
      {[](FitOptions& o) { o.seed = -1; },
       "--seed: expected a whole number from 0 to 9223372036854775807, "
       "found \"-1\""},
      {[](FitOptions& o) { o.threads = 257; },
       "--threads: expected a whole number from 0 to 256, found \"257\""},
      {[](FitOptions& o) { o.max_iter = -5; },
       "--max-iter: expected a whole number from 0 to 9223372036854775807, "
       "found \"-5\""},
      {[](FitOptions& o) { o.patience = -1; },
       "--patience: expected a whole number from 0 to 9223372036854775807, "
       "found \"-1\""},
      {[](FitOptions& o) { o.min_improvement = 1.0; },
       "--min-improvement: expected a number from 0 up to (not including) 1, "
       "found \"1\""},
      {[](FitOptions& o) { o.profile_names = {"ka", "not a name"}; },
       "--profile: expected parameter names separated by commas, found "
       "\"ka,not a name\""},
  };
  for (const auto& c : cases) {
    FitOptions o;
    c.set(o);
    EXPECT_EQ(o.invalid_reason(), c.reason);
    if (std::string(c.reason).empty()) {
      EXPECT_NO_THROW(o.validate());
    } else {
      EXPECT_THROW(o.validate(), OptionsError);
    }
  }
}

// What the library reports beyond the options, in the program's words.
TEST(FitOptionsCheck, ProblemDependentFaultsAreOptionErrors) {
  const Problem problem = Problem::from_file(kExample);
  FitOptions o;
  o.profile_names = {"kz"};
  try {
    fit(problem, o);
    FAIL() << "no error";
  } catch (const OptionsError& e) {
    EXPECT_STREQ(e.what(),
                 "--profile: expected a fitted parameter (ka, ke, V), found "
                 "\"kz\"");
  }
}

TEST(ProblemInput, ErrorsCarryTheirPlace) {
  try {
    Problem::from_yaml("states: [a, a]\n", ".", "p.yaml");
    FAIL() << "no error";
  } catch (const InputError& e) {
    EXPECT_EQ(e.file, "p.yaml");
    EXPECT_EQ(e.line, 1);
    EXPECT_EQ(e.column, 13);
    EXPECT_EQ(std::string(e.what()).rfind("p.yaml:1:13: ", 0), 0u) << e.what();
  }
  ColumnTable bad;
  bad.add("time", std::vector<double>{0.5, 1.0})
      .add("concentration", std::vector<std::string>{"1.5", "abc"});
  try {
    Problem::from_file(kExample).with_data({bad});
    FAIL() << "no error";
  } catch (const InputError& e) {
    EXPECT_EQ(e.file, "<data 1>");
    EXPECT_EQ(e.line, 3);
    EXPECT_GT(e.column, 0);
  }
}

// The tables of a fit are the text of the files the program writes for the
// same run, and their numbers are those doubles.
TEST(LibraryFit, TablesAreTheProgramsFiles) {
  ScratchDir dir("theophylline_pk");
  const testing::RunResult run = dir.run("-q --profile problem.yaml");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  FitOptions o;
  o.profile = true;
  const Result r = fit(Problem::from_file(dir.file("problem.yaml")), o);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.converged);
  EXPECT_EQ(r.parameter_table.tsv(), dir.read("problem.parameters.tsv"));
  EXPECT_EQ(r.fit_table.tsv(), dir.read("problem.fit.tsv"));
  const Column* estimate = r.parameter_table.find("estimate");
  ASSERT_NE(estimate, nullptr);
  ASSERT_EQ(estimate->kind, Column::Kind::kNumber);
  ASSERT_EQ(r.parameters.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(estimate->numbers[k], r.parameters[k].estimate);
  }
  EXPECT_EQ(r.parameter_table.find("status")->kind, Column::Kind::kText);
  EXPECT_EQ(r.start_table.rows(), 20u);
  EXPECT_GT(r.profile_table.rows(), 0u);
  EXPECT_NE(r.report.find("Profile likelihood"), std::string::npos);
}

// The same problem stated in code, with the measurements as arrays.
TEST(LibraryFit, ProblemInCodeEqualsTheProblemFile) {
  FitOptions o;
  o.starts = 3;
  const Result from_file = fit(Problem::from_file(kExample), o);
  ProblemSpec spec;
  spec.states = {"gut", "central"};
  spec.parameters = {{"ka", 0.01, 20, "log", 1.0, true},
                     {"ke", 0.001, 5, "log", 0.1, true},
                     {"V", 0.01, 10, "log", 0.5, true}};
  spec.matrix = {{"gut", "gut", "-ka"},
                 {"central", "gut", "ka"},
                 {"central", "central", "-ke"}};
  spec.observables = {{"concentration", {{"central", "1/V"}}, "0", "1"}};
  ProblemSpec::Experiment e;
  e.id = "subject1";
  e.x0 = {{"gut", "4.02"}};
  e.time = from_file.fit_table.find("time")->numbers;
  e.measurement = from_file.fit_table.find("measurement")->numbers;
  e.observable.assign(e.time.size(), "concentration");
  spec.experiments = {e};
  const Result in_code = fit(Problem::from_spec(spec), o);
  EXPECT_EQ(in_code.parameter_table.tsv(), from_file.parameter_table.tsv());
  EXPECT_EQ(in_code.objective, from_file.objective);
}

// Tables in memory in place of the problem file's: the data table's long
// form, here the measurements the file's fit table lists.
TEST(LibraryFit, TablesInMemoryReplaceTheFiles) {
  FitOptions o;
  o.starts = 3;
  const Problem from_file = Problem::from_file(kExample);
  const Result a = fit(from_file, o);
  ColumnTable data;
  for (const char* name : {"experiment", "observable", "time", "measurement"}) {
    data.columns.push_back(*a.fit_table.find(name));
  }
  const Result b = fit(from_file.with_data({data}), o);
  EXPECT_EQ(b.parameter_table.tsv(), a.parameter_table.tsv());
  EXPECT_EQ(b.report.find("theophylline.csv"), std::string::npos);
  EXPECT_NE(b.report.find("<data 1>"), std::string::npos);
}

// The legacy files through the library: the program's default fit (the
// descent on the grid model), its iterations as the console counts them.
TEST(LibraryFit, LegacyFilesFitAsTheProgramFitsThem) {
  ScratchDir dir("worked");
  const testing::RunResult run = dir.run("--no-pause --history h.csv");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::vector<std::string> history;
  Callbacks callbacks;
  callbacks.on_iteration = [&](const IterationEvent& e) {
    char line[64];
    std::snprintf(line, sizeof line, "%lld,%.17g",
                  static_cast<long long>(e.iteration), e.objective);
    history.push_back(line);
    return CallbackReturn::kContinue;
  };
  const Result r = fit(Problem::from_legacy(dir.file("input.txt"),
                                            dir.file("input_data.txt")),
                       {}, callbacks);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.method, "descent");
  EXPECT_EQ(r.model, "grid");
  std::string text = "iteration,residual_norm\n";
  for (const std::string& line : history) text += line + "\n";
  EXPECT_EQ(text, dir.read("h.csv"));
}

// Two fits at once on two threads give what each gives alone.
TEST(LibraryFit, ConcurrentFitsEqualSeparateRuns) {
  const Problem a = Problem::from_file(kExample);
  const Problem b = Problem::from_file(std::string(IDENTIFY_EXAMPLES_DIR) +
                                       "/two_experiments/problem.yaml");
  FitOptions o;
  o.threads = 2;
  const Result alone_a = fit(a, o);
  const Result alone_b = fit(b, o);
  Result together_a, together_b;
  std::thread other([&] { together_b = fit(b, o); });
  together_a = fit(a, o);
  other.join();
  EXPECT_EQ(together_a.parameter_table.tsv(), alone_a.parameter_table.tsv());
  EXPECT_EQ(together_b.parameter_table.tsv(), alone_b.parameter_table.tsv());
  EXPECT_EQ(together_b.fit_table.tsv(), alone_b.fit_table.tsv());
}

// A stop token set before the fit, and a callback that asks to stop: the
// fit ends as on SIGINT with its best point.
TEST(LibraryFit, StopsKeepTheBestPoint) {
  const Problem problem = Problem::from_file(kExample);
  std::atomic<int> token{SIGTERM};
  FitOptions o;
  o.stop = &token;
  const Result stopped = fit(problem, o);
  EXPECT_EQ(stopped.signal, SIGTERM);
  EXPECT_EQ(stopped.exit_code, 143);
  EXPECT_FALSE(stopped.converged);
  EXPECT_EQ(stopped.parameters.size(), 3u);

  FitOptions one;
  one.starts = 1;
  int calls = 0;
  Callbacks callbacks;
  callbacks.on_iteration = [&](const IterationEvent& e) {
    EXPECT_EQ(e.iteration, calls);
    EXPECT_TRUE(std::isfinite(e.objective));
    return ++calls == 3 ? CallbackReturn::kStop : CallbackReturn::kContinue;
  };
  const Result cut = fit(problem, one, callbacks);
  EXPECT_EQ(calls, 3);
  ASSERT_EQ(cut.verdicts.size(), 1u);
  EXPECT_EQ(cut.verdicts[0].termination, TerminationType::kInterrupted);
  EXPECT_EQ(cut.exit_code, 130);
  EXPECT_EQ(cut.iterations, 3);
}

// The console program's lines reach the line callback, none the console.
TEST(LibraryFit, LinesGoToTheCallback) {
  std::vector<std::string> out;
  Callbacks callbacks;
  callbacks.on_line = [&](const std::string& line, bool to_stderr) {
    if (!to_stderr) out.push_back(line);
  };
  FitOptions o;
  o.starts = 2;
  ::testing::internal::CaptureStdout();
  fit(Problem::from_file(kExample), o, callbacks);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  ASSERT_GE(out.size(), 4u);
  EXPECT_EQ(out[0].rfind("start 1 of 2: objective ", 0), 0u) << out[0];
  EXPECT_EQ(std::count_if(out.begin(), out.end(),
                          [](const std::string& line) {
                            return line.rfind("ITERATION NUMBER = ", 0) == 0;
                          }),
            1);
}

// A library's verdict names the fitted point in the front end's word.
TEST(FitWording, LibraryFailuresNameTheSubject) {
  Summary s;
  s.termination = Termination::kLibraryFailure;
  s.method = "lm";
  s.library = true;
  s.message =
      "the solver stopped without converging: the model's Jacobian is not "
      "finite at the current {subject}";
  EXPECT_NE(verdict(s).find("not finite at the current matrix;"),
            std::string::npos)
      << verdict(s);
  s.subject = "point";
  EXPECT_NE(verdict(s).find("not finite at the current point;"),
            std::string::npos)
      << verdict(s);
}

}  // namespace
}  // namespace identify
