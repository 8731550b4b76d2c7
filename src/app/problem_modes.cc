// A problem file's own stages around the shared fit stages. The output
// names are checked against every table the problem file read, so that no
// result overwrites its own data; the export and the evaluation work on the
// problem as read, with no fit.
#include "app/problem_modes.h"

#include <cmath>
#include <filesystem>
#include <memory>
#include <ostream>

#include "api/exit_codes.h"
#include "app/file_names.h"
#include "app/population_stage.h"
#include "fit/point_evaluation.h"
#include "output/evaluation_report.h"
#include "output/output_file.h"
#include "output/petab_export.h"
#include "output/simulation_table.h"

namespace identify {

namespace {

// The names of the tables a problem file read, for the name check.
std::vector<RunFile> tables_of(const LoadedProblem& loaded) {
  std::vector<RunFile> tables;
  for (const TableRead& t : loaded.data_files) {
    tables.push_back({"a data table", t.path});
  }
  for (const TableRead& t : loaded.dose_files) {
    tables.push_back({"a dose table", t.path});
  }
  for (const TableRead& t : loaded.event_files) {
    tables.push_back({"an event table", t.path});
  }
  return tables;
}

// The simulation table at θ, written to `path`; false (with the reason on
// err) if it could not be written.
bool write_simulations(const std::string& path, const LoadedProblem& loaded,
                       const PointEvaluation& at, std::ostream& err) {
  const std::string failure = write_output_file(
      path,
      format_simulation_table(loaded.problem, loaded.rows, at.simulations));
  if (failure.empty()) return true;
  err << "identify: cannot write " << path << ": " << failure << std::endl;
  return false;
}

// --export-petab: the problem as PEtab in `directory`, no fit.
int export_only(const std::string& directory, const FitProblem& problem,
                std::ostream& err) {
  std::error_code ec;
  std::filesystem::create_directories(directory, ec);
  if (ec) {
    err << "identify: cannot make " << directory << ": " << ec.message()
        << std::endl;
    return kExitOutputError;
  }
  const std::string failure = export_petab(problem, directory);
  if (failure.empty()) return kExitSuccess;
  err << "identify: --export-petab: " << failure << std::endl;
  return failure.rfind("cannot write", 0) == 0 ? kExitOutputError : kExitUsage;
}

}  // namespace

std::optional<int> run_before_fits(const Options& opt,
                                   const LoadedProblem& loaded,
                                   std::ostream& out, std::ostream& err) {
  if (!opt.export_petab.empty()) {
    return export_only(opt.export_petab, loaded.problem, err);
  }
  require_measurements(loaded);
  const std::string clash = check_problem_file_names(opt, tables_of(loaded));
  if (!clash.empty()) {
    err << "identify: " << clash << std::endl;
    return kExitUsage;
  }
  if (loaded.problem.population.active() || opt.foce_i) {
    return population_run(opt, loaded.problem, out, err);
  }
  return std::nullopt;
}

int evaluate_only(const Options& opt, const LoadedProblem& loaded,
                  ModelKind kind, std::ostream& out, std::ostream& err) {
  const std::unique_ptr<Model> model = make_model(kind, loaded.problem);
  const std::vector<double> theta = loaded.problem.values();
  const PointEvaluation at = evaluate_point(loaded.problem, *model, theta);
  out << format_evaluation(at) << std::flush;
  if (!opt.simulations.empty() &&
      !write_simulations(opt.simulations, loaded, at, err)) {
    return kExitOutputError;
  }
  if (!std::isfinite(at.minus_2_ln_l)) {
    err << "identify: --evaluate: the objective is not finite at the "
           "parameters' values"
        << std::endl;
    return kExitDiverged;
  }
  return kExitSuccess;
}

bool write_result_simulations(const Options& opt, const LoadedProblem& loaded,
                              const std::vector<ProblemFit>& fits,
                              std::ostream& err) {
  if (opt.simulations.empty() || fits.size() != 1 ||
      fits[0].summary.theta.size() != loaded.problem.parameters.size()) {
    return true;
  }
  return write_simulations(
      opt.simulations, loaded,
      evaluate_point(loaded.problem, *fits[0].model, fits[0].summary.theta),
      err);
}

}  // namespace identify
