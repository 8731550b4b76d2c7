// The results of a problem file's fits. The fits' verdicts go to stderr
// after their progress lines (with --separately, each fit's lines, its
// messages and its verdict named by its experiment, in experiment order,
// once all have run), then the parameter table to the console. The
// trajectory and the plot take the model of each experiment on its fine
// grid (fit_views.h).
#include "app/problem_writers.h"

#include <ostream>

#include "api/fit_results.h"
#include "api/fit_views.h"
#include "api/interrupted_fits.h"
#include "api/experiment_line.h"
#include "api/run_result.h"
#include "app/input_arguments.h"
#include "output/two_stage_summary.h"
#include "output/result_tables.h"

namespace identify {

namespace {

// The kept messages of one experiment's fit, each line named by it:
// "identify: subject2: profile of ka ...".
void print_messages(const ProblemFit& fit, std::ostream& err) {
  const std::string prefix = "identify: ";
  std::size_t from = 0;
  for (std::size_t end;
       (end = fit.messages.find('\n', from)) != std::string::npos;
       from = end + 1) {
    std::string line = fit.messages.substr(from, end - from);
    if (line.rfind(prefix, 0) == 0) {
      line.insert(prefix.size(), fit.experiment + ": ");
    }
    err << line << '\n';
  }
  err.flush();
}

// The console text and messages of fits that ran beside others, then every
// verdict, in order. Of several fits, one that an interrupt left without a
// result of its own shows no console text and says so in its verdict.
void print_fits(const std::vector<ProblemFit>& fits, bool verbose,
                std::ostream& out, std::ostream& err) {
  const bool several = fits.size() > 1;
  const bool one_line = one_line_per_fit(fits.size(), verbose);
  for (std::size_t f = 0; f < fits.size() && several; ++f) {
    if (!has_result(fits[f])) continue;
    if (one_line) {
      out << experiment_line(fits[f]) << std::endl;
    } else {
      out << "experiment " << fits[f].experiment << std::endl
          << fits[f].console << std::flush;
    }
    print_messages(fits[f], err);
  }
  for (const ProblemFit& fit : fits) {
    const std::string line =
        several && !has_result(fit)
            ? "not fitted: interrupted before its first iteration finished"
            : verdict(fit.summary);
    if (line.empty()) continue;
    err << "identify: " << (fit.experiment.empty() ? "" : fit.experiment + ": ")
        << line << std::endl;
  }
}

class ProblemWriters : public InputWriters {
 public:
  explicit ProblemWriters(RunOutcome& outcome)
      : o_(outcome), fits_(outcome.run.fits) {
    info_.loaded = &outcome.input.in->loaded;
    info_.choice = outcome.run.plan.choice;
    info_.threads = outcome.run.threads;
    info_.one_after_another = one_after_another(fits_.size(), outcome.run.plan);
    info_.seconds = outcome.seconds;
  }

  void write_result(OutputSink&, std::ostream& out,
                    std::ostream& err) override {
    name_subject(fits_);
    print_fits(fits_, o_.opt.verbose, out, err);
    if (fits_.size() > 1 && o_.signal != 0) {
      err << "identify: " << interrupted_fits_line(fits_, o_.signal)
          << std::endl;
      fits_ = fits_with_results(fits_);
    }
  }

  void write_tables(OutputSink& sink, std::ostream& out) override {
    results_ = results_of(fits_);
    sink.write(o_.opt.parameters,
               [&] { return format_parameter_table(results_.views); });
    sink.write_by(o_.opt.fit, [&](const std::string& path) {
      return write_fit_table(path, results_.views);
    });
    if (o_.opt.separately) {
      sink.write(result_table_name(o_.opt.problem, ".summary.tsv"), [&] {
        return format_two_stage_summary(results_.views);
      });
    }
    if (!o_.opt.bootstrap_file.empty()) {
      const std::string bootstrap = bootstrap_table_text(fits_);
      if (!bootstrap.empty()) {
        sink.write(o_.opt.bootstrap_file, [&] { return bootstrap; });
      }
    }
    print_parameter_table(out, results_.views);
  }

  std::string report_text() override {
    return identify::report_text(o_.opt.problem, info_, fits_, results_);
  }

  void write_model(OutputSink& sink) override {
    const std::vector<ExperimentTrajectory> curves = fine_trajectories(fits_);
    if (!o_.opt.trajectory.empty()) {
      sink.write(o_.opt.trajectory, [&] {
        return format_problem_trajectory(fits_[0].problem.states,
                                         fits_[0].problem.observables, curves);
      });
    }
    if (!o_.opt.plot.empty()) {
      sink.plot(o_.opt.plot, [&] {
        return problem_plot(o_.opt.plot_log_y, fits_, results_, curves);
      });
    }
  }

 private:
  RunOutcome& o_;
  std::vector<ProblemFit>& fits_;
  ProblemRunInfo info_;
  ResultViews results_;
};

}  // namespace

std::unique_ptr<InputWriters> problem_writers(RunOutcome& outcome) {
  return std::make_unique<ProblemWriters>(outcome);
}

}  // namespace identify
