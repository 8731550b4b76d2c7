// Fuzz target: the tables of a PEtab problem around a fixed linear model
// (A <-> B, parameters a0, b0, k1, k2, one compartment). The input is the
// condition, measurement, observable and parameter tables in that order,
// separated by lines "=====" (missing ones are empty), written with the
// model and a YAML file into a scratch directory made once per process.
// Either the reader refuses them with one line that names the file at
// fault, or the problem it returns keeps its promises: every measurement of
// a declared observable at a finite time of 0 or more with a finite value,
// every estimated parameter within its bounds, one simulation row per
// measurement, pre-equilibration masks of one entry per state.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "input/yaml_problem_file.h"

namespace identify::fuzz {
namespace {

constexpr const char* kMath =
    "<math xmlns=\"http://www.w3.org/1998/Math/MathML\">";

std::string law(const char* k, const char* s) {
  return std::string("<kineticLaw>") + kMath + "<apply><times/><ci>" + k +
         "</ci><ci>" + s + "</ci></apply></math></kineticLaw>";
}

std::string model() {
  return std::string(
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<sbml "
             "xmlns=\"http://www.sbml.org/sbml/level2/version4\" level=\"2\" "
             "version=\"4\"><model id=\"m\"><listOfCompartments><compartment "
             "id=\"c\" size=\"1\"/></listOfCompartments><listOfSpecies>"
             "<species id=\"A\" compartment=\"c\" initialConcentration=\"1\"/>"
             "<species id=\"B\" compartment=\"c\" initialConcentration=\"0\"/>"
             "</listOfSpecies><listOfParameters><parameter id=\"a0\" "
             "value=\"1\"/><parameter id=\"b0\" value=\"0\"/><parameter "
             "id=\"k1\" value=\"0.5\"/><parameter id=\"k2\" value=\"0.2\"/>"
             "</listOfParameters><listOfReactions><reaction id=\"fwd\" "
             "reversible=\"false\"><listOfReactants><speciesReference "
             "species=\"A\"/></listOfReactants><listOfProducts>"
             "<speciesReference species=\"B\"/></listOfProducts>") +
         law("k1", "A") +
         "</reaction><reaction id=\"rev\" reversible=\"false\">"
         "<listOfReactants><speciesReference species=\"B\"/>"
         "</listOfReactants><listOfProducts><speciesReference "
         "species=\"A\"/></listOfProducts>" +
         law("k2", "B") + "</reaction></listOfReactions></model></sbml>\n";
}

void check_problem(const LoadedProblem& l) {
  const FitProblem& p = l.problem;
  check(!p.experiments.empty(), "at least one experiment");
  for (const Parameter& q : p.parameters) {
    check(!q.estimated || (q.lower <= q.value && q.value <= q.upper),
          "estimated parameters start within their bounds");
  }
  for (const Experiment& e : p.experiments) {
    check(e.x0.size() == p.states.size(), "x0 has one entry per state");
    if (e.pre_equilibration) {
      check(e.pre_equilibration->reset.size() == p.states.size() &&
                e.pre_equilibration->x0.size() == p.states.size(),
            "a pre-equilibration has one entry per state");
    }
    for (const Measurement& m : e.measurements) {
      check(m.observable >= 0 &&
                m.observable < static_cast<int>(p.observables.size()),
            "measurements name a declared observable");
      check(std::isfinite(m.time) && m.time >= 0.0,
            "measurement times are finite and >= 0");
      check(std::isfinite(m.value), "measured values are finite");
    }
  }
  check(l.rows.cells.size() == p.measurement_count() &&
            l.rows.measurement.size() == p.measurement_count(),
        "one simulation row per measurement");
  for (std::size_t m : l.rows.measurement) {
    check(m < p.measurement_count(), "rows point at measurements");
  }
}

}  // namespace
}  // namespace identify::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace identify;
  const std::string dir = fuzz::scratch_dir("identify-petab");
  static const bool written = [&dir] {
    fuzz::write_file(dir + "/model.xml", fuzz::model());
    fuzz::write_file(dir + "/problem.yaml",
                     "format_version: 1\nparameter_file: p.tsv\nproblems:\n"
                     "- sbml_files: [model.xml]\n  condition_files: [c.tsv]\n"
                     "  measurement_files: [m.tsv]\n"
                     "  observable_files: [o.tsv]\n");
    return true;
  }();
  static_cast<void>(written);
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  for (const char* name : {"c.tsv", "m.tsv", "o.tsv", "p.tsv"}) {
    const std::size_t split = rest.find("\n=====\n");
    fuzz::write_file(dir + "/" + name, rest.substr(0, split));
    rest = split == std::string_view::npos ? std::string_view()
                                           : rest.substr(split + 7);
  }
  try {
    fuzz::check_problem(read_yaml_problem(dir + "/problem.yaml"));
  } catch (const InputError& e) {
    fuzz::check_message(e.what(), dir + "/");
  }
  return 0;
}
