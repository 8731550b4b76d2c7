// The extension module `identify._identify`: one function, fit(), that
// reads a problem (a file or its YAML text), replaces its data tables when
// tables are given, checks the options, fits without the GIL and returns
// the result as a dict of plain values and tables (see tables.h); the
// package's Python code makes the DataFrames and the Result. The library's
// InputError becomes the package's InputError (file, line, column,
// message), its OptionsError a ValueError, both with the library's words.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "identify/identify.h"
#include "released_fit.h"
#include "tables.h"

namespace identify::python {

namespace py = pybind11;

namespace {

const char* termination_name(TerminationType t) {
  switch (t) {
    case TerminationType::kToleranceReached:
      return "tolerance reached";
    case TerminationType::kOptimumReached:
      return "optimum reached";
    case TerminationType::kDiverged:
      return "diverged";
    case TerminationType::kStalled:
      return "stalled";
    case TerminationType::kNoProgress:
      return "no progress";
    case TerminationType::kIterationLimit:
      return "iteration limit";
    case TerminationType::kLibraryFailure:
      return "library failure";
    case TerminationType::kInterrupted:
      return "interrupted";
  }
  return "";
}

py::dict result_dict(const ReleasedFit& fitted) {
  const Result& r = fitted.result;
  std::string verdict;
  for (const FitVerdict& v : r.verdicts) {
    if (v.message.empty()) continue;
    if (!verdict.empty()) verdict += '\n';
    verdict += v.message;
  }
  py::dict d;
  d["parameters"] = columns_of(r.parameter_table);
  d["fit"] = columns_of(r.fit_table);
  d["profiles"] = columns_of(r.profile_table);
  d["starts"] = columns_of(r.start_table);
  d["objective"] = r.objective;
  d["likelihood"] = r.likelihood;
  d["converged"] = r.converged;
  d["verdict"] = verdict;
  d["termination"] = r.verdicts.empty()
                         ? ""
                         : termination_name(r.verdicts.front().termination);
  d["report"] = r.report;
  d["method"] = r.method;
  d["model"] = r.model;
  d["iterations"] = r.iterations;
  d["seconds"] = r.seconds;
  d["exit_code"] = r.exit_code;
  d["interrupt"] = fitted.interrupt;
  return d;
}

struct FitArguments {
  std::string problem;
  bool is_text = false;
  std::optional<py::list> tables;
  FitOptions options;
  py::object progress;
};

py::dict fit_problem(const FitArguments& a) {
  a.options.validate();
  std::optional<Problem> problem;
  std::vector<ColumnTable> tables;
  if (a.tables) tables = tables_from(*a.tables);
  {
    py::gil_scoped_release release;
    problem.emplace(a.is_text ? Problem::from_yaml(a.problem)
                              : Problem::from_file(a.problem));
    if (a.tables) problem.emplace(problem->with_data(tables));
  }
  return result_dict(fit_without_gil(*problem, a.options, a.progress));
}

}  // namespace

}  // namespace identify::python

PYBIND11_MODULE(_identify, m) {
  namespace py = pybind11;
  using identify::python::FitArguments;
  m.doc() = "The compiled part of the identify package; use identify.fit().";
  m.def(
      "fit",
      [](std::string problem, bool is_text, std::optional<py::list> tables,
         std::int64_t starts, std::int64_t seed, std::int64_t threads,
         bool profile, std::vector<std::string> profile_names,
         std::string method, std::string model, py::object progress) {
        FitArguments a{std::move(problem),
                       is_text,
                       std::move(tables),
                       {},
                       std::move(progress)};
        a.options.starts = starts;
        a.options.seed = seed;
        a.options.threads = threads;
        a.options.profile = profile;
        a.options.profile_names = std::move(profile_names);
        a.options.method = std::move(method);
        a.options.model = std::move(model);
        try {
          return identify::python::fit_problem(a);
        } catch (const identify::InputError& e) {
          const py::object error =
              py::module_::import("identify._errors")
                  .attr("InputError")(e.what(), e.file, e.line, e.column);
          PyErr_SetObject(error.get_type().ptr(), error.ptr());
          throw py::error_already_set();
        } catch (const identify::OptionsError& e) {
          throw py::value_error(e.what());
        }
      },
      py::arg("problem"), py::arg("is_text"), py::arg("tables"),
      py::arg("starts"), py::arg("seed"), py::arg("threads"),
      py::arg("profile"), py::arg("profile_names"), py::arg("method"),
      py::arg("model"), py::arg("progress"));
}
