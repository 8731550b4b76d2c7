// A problem file with a long data table, run by the binary from reading
// through a short fit to writing the fit table: each measurement may cost
// at most 120 bytes of resident memory over a run of the same problem with
// a handful of rows (it cost about 520 when the fit table was built whole
// and every measurement held its own sigma expression, about 270 while
// Ceres' dense QR fitted long tables; about 80 now), and ten times the
// rows may cost at most twice ten times the CPU time (a step that grows
// with the square of the rows takes a hundred times). Under the sanitizers,
// whose shadow memory and allocator change both figures, the rows are fewer and
// only the outputs are checked.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "run_binary.h"

namespace identify {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// One compartment, x' = -k x, observed directly in two experiments that
// take turns in a long-form table of `rows` rows.
void write_problem(const testing::ScratchDir& dir, int rows) {
  dir.write("problem.yaml",
            "states: [x]\n"
            "parameters:\n  k: {lower: 0.001, upper: 10, value: 0.5}\n"
            "matrix:\n  x: {x: -k}\n"
            "observables:\n  y: {states: {x: 1}}\n"
            "experiments:\n  - {id: e0, x0: {x: 10}}\n"
            "  - {id: e1, x0: {x: 11}}\n"
            "data: data.csv\n");
  std::string data = "experiment,observable,time,measurement\n";
  data.reserve(static_cast<std::size_t>(rows) * 24 + 64);
  char line[96];
  const double step = 40.0 / rows;
  for (int r = 0; r < rows; ++r) {
    const int e = r % 2;
    const double t = (r / 2) * step;
    std::snprintf(line, sizeof line, "e%d,y,%.6g,%.6g\n", e, t,
                  (10 + e) * std::exp(-0.3 * t) + 0.01 * std::sin(r));
    data += line;
  }
  dir.write("data.csv", data);
}

testing::RunResult fit(int rows) {
  const testing::ScratchDir dir;
  write_problem(dir, rows);
  testing::RunResult r =
      dir.run_with({"problem.yaml", "--starts", "1", "--max-iter", "2",
                    "--method", "lm", "--model", "exact"},
                   {});
  // Header and one line per measurement.
  const std::string table = dir.read("problem.fit.tsv");
  std::size_t lines = 0;
  for (const char c : table) lines += c == '\n';
  EXPECT_EQ(lines, static_cast<std::size_t>(rows) + 1) << r.err;
  return r;
}

TEST(LargeTable, MeasurementsCostAtMost120BytesAndTimeGrowsLinearly) {
  const int small = 10;
  const int rows = kSanitized ? 20'000 : 200'000;
  const testing::RunResult base = fit(small);
  const testing::RunResult tenth = fit(rows / 10);
  const testing::RunResult whole = fit(rows);
  // The iteration limit ends the fits: exit code 2 is "not converged".
  for (const testing::RunResult* r : {&base, &tenth, &whole}) {
    EXPECT_NE(r->exit_code, 3) << r->err;
    EXPECT_NE(r->exit_code, 1) << r->err;
  }
  const double per_row =
      1024.0 * static_cast<double>(whole.peak_rss_kib - base.peak_rss_kib) /
      (rows - small);
  std::printf(
      "%d rows: %.1f bytes a measurement, %.2f s CPU (%d rows: %.2f s)\n", rows,
      per_row, whole.cpu_seconds, rows / 10, tenth.cpu_seconds);
  if (kSanitized) return;
  EXPECT_LE(per_row, 120.0);
  EXPECT_LT(whole.cpu_seconds, 20.0 * tenth.cpu_seconds + 1.0);
}

// A long table is fitted on the objective's own normal equations: the
// estimate and its standard error are those of Newton's method on S(k)
// (tools/long_table_reference.py 100000 2, NumPy; the table is the one
// tools/big_table.py writes for 100000 rows and two experiments).
TEST(LargeTable, AFitReachesTheLeastSquaresOptimum) {
  const testing::ScratchDir dir;
  write_problem(dir, 100'000);
  const testing::RunResult r = dir.run_with(
      {"problem.yaml", "--starts", "1", "--method", "lm", "--model", "exact"},
      {});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string table = dir.read("problem.parameters.tsv");
  const std::size_t row = table.find("\nk\t");
  ASSERT_NE(row, std::string::npos) << table;
  double k = 0.0, standard_error = 0.0;
  ASSERT_EQ(
      std::sscanf(table.c_str() + row, "\nk\t%lf\t%lf", &k, &standard_error),
      2);
  EXPECT_NEAR(k, 0.30000000006062644, 1e-15);
  EXPECT_NEAR(standard_error, 3.1271362368081273e-06, 1e-9 * 3.13e-06);
}

}  // namespace
}  // namespace identify
