// The PEtab reader's refusals, as one table of faults made in a copy of a
// suite case, each with the message that must name the element; the exit
// code of a refused problem; and the exact model's derivatives through a
// pre-equilibrated start (the model contract on the suite's
// pre-equilibration cases).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "input/yaml_problem_file.h"
#include "model/exact/exact_model.h"
#include "model_contract.h"
#include "run_binary.h"

namespace identify {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

const fs::path kSuite = fs::path(IDENTIFY_PETAB_DIR) / "suite";

void copy_case(const std::string& id, const ScratchDir& dir) {
  for (const auto& f : fs::directory_iterator(kSuite / id)) {
    fs::copy(f.path(), dir.path() / f.path().filename());
  }
}

// Replaces the first `from` of a file of `dir` with `to`.
void edit(const ScratchDir& dir, const std::string& name,
          const std::string& from, const std::string& to) {
  std::string text = dir.read(name);
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
  fs::remove(dir.file(name));
  dir.write(name, text);
}

const std::string kMath = "<math xmlns=\"http://www.w3.org/1998/Math/MathML\">";

struct Fault {
  const char* file;
  std::string from, to;
  std::string message;  // a part of the InputError's text
};

TEST(PetabReader, RefusesWhatItCannotReadNamingTheElement) {
  const Fault faults[] = {
      {"_model.xml", "<ci> k1 </ci>", "<ci> k1 </ci><ci> B </ci>",
       "_model.xml: reaction fwd: expected a rate law linear in the species, "
       "found \"compartment * k1 * B * A\""},
      {"_model.xml", "<ci> k1 </ci>",
       "<csymbol encoding=\"text\" definitionURL=\"http://www.sbml.org/sbml/"
       "symbols/time\"> t </csymbol>",
       "_model.xml: reaction fwd: expected a rate law linear in the species"},
      {"_model.xml", "</listOfReactions>",
       "</listOfReactions><listOfEvents><event id=\"e1\"><trigger>" + kMath +
           "<true/></math></trigger><listOfEventAssignments><eventAssignment "
           "variable=\"A\">" +
           kMath +
           "<cn>1</cn></math></eventAssignment>"
           "</listOfEventAssignments></event></listOfEvents>",
       "_model.xml: event e1: expected no events"},
      {"_model.xml", "<listOfReactions>",
       "<listOfRules><assignmentRule variable=\"k2\">" + kMath +
           "<apply><times/><ci> A </ci><ci> B </ci></apply></math>"
           "</assignmentRule></listOfRules><listOfReactions>",
       "_model.xml: assignment rule for k2: expected only rate rules, found "
       "\"A * B\""},
      {"_model.xml", "compartment=\"compartment\" initialConcentration",
       "compartment=\"nowhere\" initialConcentration",
       "_model.xml: compartment nowhere: expected a compartment of the model, "
       "found none"},
      {"_measurements.tsv", "obs_a\tc0\t0", "obs_a\t0c\t0",
       "_measurements.tsv:2:7: expected an experiment id"},
      {"_observables.tsv", "obs_a\tA", "obs_a\tA * B",
       "_observables.tsv:2:7: expected a formula linear in the species"},
      {"_observables.tsv", "obs_a\tA", "obs_a\tA + zz",
       "\"zz\" is neither a species nor a parameter"},
      {"_measurements.tsv", "obs_a\tc0\t0", "obs_a\tc9\t0",
       "_measurements.tsv:2:7: expected a condition of the condition table, "
       "found \"c9\""},
      {"_measurements.tsv", "obs_a\tc0\t10", "obs_x\tc0\t10",
       "_measurements.tsv:3:1: expected an observable of the observable "
       "table, found \"obs_x\""},
      {"_measurements.tsv", "c0\t10", "c0\tinf",
       "expected a finite time of 0 or more, found \"inf\""},
      {"_measurements.tsv", "\ttime\t", "\tt\t", "expected a column \"time\""},
      {"_parameters.tsv", "a0\tlin", "a0\tln",
       "_parameters.tsv:2:4: expected lin, log or log10, found \"ln\""},
      {"_parameters.tsv", "1.0\t1", "1.0\t2", "expected 0 or 1, found \"2\""},
      {"_0001.yaml", "format_version: 1", "format_version: 2",
       "expected format version 1, found \"2\""},
      {"_0001.yaml", "  - _model.xml", "  - _model.xml\n  - _model.xml",
       "expected one file name, found 2"},
  };
  for (const Fault& f : faults) {
    ScratchDir dir;
    copy_case("0001", dir);
    edit(dir, f.file, f.from, f.to);
    try {
      read_yaml_problem(dir.file("_0001.yaml"));
      ADD_FAILURE() << "no error for " << f.message;
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find(f.message), std::string::npos)
          << e.what() << "\n  expected to hold: " << f.message;
    }
  }
}

TEST(PetabReader, RefusedProblemExitsWithTheInputErrorCode) {
  ScratchDir dir;
  copy_case("0001", dir);
  edit(dir, "_model.xml", "<ci> k1 </ci>", "<ci> k1 </ci><ci> B </ci>");
  const auto run = dir.run("_0001.yaml --evaluate");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(run.err.rfind("identify: _model.xml: reaction fwd: ", 0), 0u)
      << run.err;
  EXPECT_EQ(run.out, "");
}

TEST(PetabReader, PreEquilibratedDerivativesKeepTheModelContract) {
  // 0009: the whole state from the steady state; 0010 and 0017: one state
  // reset; 0018: a rate-rule state. k1 differs between the conditions, and
  // the steady state depends on x0 through the conservation law.
  for (const char* id : {"0009", "0010", "0017", "0018"}) {
    SCOPED_TRACE(id);
    const LoadedProblem loaded = read_yaml_problem(
        (kSuite / id / ("_" + std::string(id) + ".yaml")).string());
    ASSERT_TRUE(loaded.problem.experiments[0].pre_equilibration.has_value());
    testing::check_model_contract(
        loaded.problem,
        [](const FitProblem& p) { return std::make_unique<ExactModel>(p); }, {},
        7);
  }
}

}  // namespace
}  // namespace identify
