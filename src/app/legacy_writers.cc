// The legacy result is the matrix A(θ) of the fit's only experiment: entry
// (i, j) is the value of its matrix term at the result θ. The report takes
// the statistics of θ from the model's Jacobian; the trajectory and the
// plot take the model's states x(t) at the grid times.
#include "app/legacy_writers.h"

#include <ostream>

#include "api/fit_views.h"
#include "api/search_outputs.h"
#include "fit/constraint_check.h"
#include "fit/fit_statistics.h"
#include "output/fit_report.h"
#include "output/result_file.h"

namespace identify {

namespace {

// The matrix A of the (only) experiment at θ.
Matrix matrix_at(const FitProblem& problem, std::span<const double> theta) {
  const int n = problem.state_count();
  Matrix A = make_matrix(n);
  std::vector<double> scratch;
  for (const MatrixTerm& t : problem.experiments[0].matrix) {
    A[t.row][t.col] = t.value.value(theta, scratch);
  }
  return A;
}

class LegacyWriters : public InputWriters {
 public:
  explicit LegacyWriters(RunOutcome& outcome)
      : o_(outcome), fit_(outcome.run.fits[0]) {}

  void write_result(OutputSink& sink, std::ostream& out,
                    std::ostream& err) override {
    const Matrix A = matrix_at(fit_.problem, fit_.summary.theta);
    sink.write(o_.opt.output, [&] { return format_result(A); });
    print_matrix_report(out, A);
    print_time_line(out, o_.seconds);
    const std::string line = verdict(fit_.summary);
    if (!line.empty()) err << "identify: " << line << std::endl;
    for (const std::string& warning :
         constraint_warnings(fit_.problem, fit_.summary.theta, fit_.summary)) {
      err << "identify: warning: " << warning << std::endl;
    }
  }

  void write_tables(OutputSink&, std::ostream&) override {}

  std::string report_text() override {
    const FitStatistics stats =
        compute_fit_statistics(fit_.problem, *fit_.model, fit_.summary.theta);
    const RunChoice choice = o_.run.plan.choice;
    const RunSummary run{method_name(choice.method), model_name(choice.model),
                         stop_text(fit_.summary), fit_.summary.iterations,
                         o_.seconds};
    return format_fit_report(stats, run) + search_report_sections(fit_.search);
  }

  void write_model(OutputSink& sink) override {
    std::vector<double> times = o_.input.trajectory_times;
    Table X;
    fit_.model->states(fit_.summary.theta, 0, times, X);
    if (!o_.opt.trajectory.empty()) {
      sink.write(o_.opt.trajectory,
                 [&] { return format_trajectory(times, X); });
    }
    if (!o_.opt.plot.empty()) {
      sink.plot(o_.opt.plot, [&] {
        return single_fit_plot(fit_, std::move(times), std::move(X));
      });
    }
  }

 private:
  RunOutcome& o_;
  ProblemFit& fit_;
};

}  // namespace

std::unique_ptr<InputWriters> legacy_writers(RunOutcome& outcome) {
  return std::make_unique<LegacyWriters>(outcome);
}

}  // namespace identify
