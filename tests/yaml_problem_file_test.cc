// Problem files and data tables: every kind of fault with its exact message
// and place, the forms of the data table that must be accepted, and what a
// valid file turns into.
#include "input/yaml_problem_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "input/input_error.h"
#include "run_binary.h"

namespace identify {
namespace {

using testing::ScratchDir;

const std::string kProblem = R"(states: [gut, central]
parameters:
  ka: {lower: 0.01, upper: 20, scale: log10, value: 1}
  ke: {lower: 0.001, upper: 5, scale: log10, value: 0.1}
  V:  {lower: 0.01, upper: 10, value: 0.5}
  F:  {value: 1, estimate: false}
  ka_2: {lower: 0.01, upper: 20, scale: log}
matrix:
  gut:     {gut: -ka}
  central: {gut: ka, central: -ke}
observables:
  conc: {states: {central: 1/V}, sigma: 0.5}
experiments:
  - {id: s1, x0: {gut: 4.02 * F}}
  - {id: s2, x0: {gut: 4.40 * F}, parameters: {ka: ka_2}}
data: data.csv
)";

const std::string kData = R"(experiment,observable,time,measurement
s1,conc,0.25,2.84
s2,conc,0.5,6.1
)";

// `text` with its first `from` replaced by `to` (which must be there).
std::string edit(const std::string& text, const std::string& from,
                 const std::string& to) {
  const std::size_t at = text.find(from);
  if (at == std::string::npos) throw std::logic_error("no " + from);
  return text.substr(0, at) + to + text.substr(at + from.size());
}

// Reads problem.yaml (and data.csv) written in a scratch directory; returns
// the message of the InputError, without the directory, or "" if none.
struct Outcome {
  std::string error;
  LoadedProblem loaded;
};
Outcome load(const std::string& problem, const std::string& data,
             const std::string& data_name = "data.csv") {
  ScratchDir dir;
  dir.write("problem.yaml", problem);
  if (!data.empty()) dir.write(data_name, data);
  Outcome out;
  try {
    out.loaded = read_yaml_problem(dir.file("problem.yaml"));
  } catch (const InputError& e) {
    out.error = e.what();
    const std::string prefix = dir.path().string() + "/";
    for (std::size_t at; (at = out.error.find(prefix)) != std::string::npos;) {
      out.error.erase(at, prefix.size());
    }
  }
  return out;
}

TEST(ProblemFile, RefusesEveryKindOfFaultWithItsPlace) {
  const std::string one_experiment =
      edit(kProblem,
           "  - {id: s2, x0: {gut: 4.40 * F}, parameters: {ka: ka_2}}\n", "");
  std::string windows = "\xEF\xBB\xBF";
  for (const char c : kProblem)
    windows += c == '\n' ? "\r\n" : std::string(1, c);
  const struct {
    const char* what;
    std::string problem;
    std::string data;
    std::string message;
  } cases[] = {
      {"places unchanged by a byte-order mark and CR LF",
       edit(windows, "{gut: -ka}", "{gut: -kx}"), kData,
       "problem.yaml:9:19: expected a declared parameter, found \"kx\""},
      // The problem file.
      {"YAML syntax error", edit(kProblem, "{gut: -ka}", "{gut: -ka"), kData,
       "problem.yaml:10:10: expected valid YAML, found a syntax error: end of "
       "map flow not found"},
      {"a control byte after a backslash stays escaped in the message",
       edit(kProblem, "states: [gut, central]",
            "states: [\"g\\\x01\", central]"),
       kData,
       "problem.yaml:1:14: expected valid YAML, found a syntax error: unknown "
       "escape character: \\x01"},
      {"a name folded over lines is shown on one line",
       edit(kProblem, "states: [gut, central]", "states: [gut, cen\n\n tral]"),
       kData,
       "problem.yaml:1:15: expected a state name (letters, digits and "
       "underscores, not starting with a digit), found \"cen\\ntral\""},
      {"tab in the indentation",
       edit(kProblem, "  gut:     {gut", "\tgut: {gut"), kData,
       "problem.yaml:9:1: expected blanks for indentation, found a tab"},
      {"unknown top-level key", edit(kProblem, "matrix:", "matrx:"), kData,
       "problem.yaml:8:1: expected states, parameters, matrix, inputs, "
       "observables, experiments, doses or data, found \"matrx\""},
      {"keys are case-sensitive", edit(kProblem, "states:", "States:"), kData,
       "problem.yaml:1:1: expected states, parameters, matrix, inputs, "
       "observables, experiments, doses or data, found \"States\""},
      {"unknown parameter key",
       edit(kProblem, "{lower: 0.01, upper: 10,", "{lowr: 0.01, upper: 10,"),
       kData,
       "problem.yaml:5:8: expected lower, upper, scale, value or estimate, "
       "found \"lowr\""},
      {"required key missing", edit(kProblem, "data: data.csv\n", ""), kData,
       "problem.yaml:1:1: expected a key \"data\", found none"},
      {"no states", edit(kProblem, "[gut, central]", "[]"), kData,
       "problem.yaml:1:9: expected at least one state, found none"},
      {"a parameter that is not a mapping",
       edit(kProblem, "  F:  {value: 1, estimate: false}", "  F:  1"), kData,
       "problem.yaml:6:7: expected a mapping of lower, upper, scale, value and "
       "estimate, found \"1\""},
      {"state named twice", edit(kProblem, "[gut, central]", "[gut, gut]"),
       kData,
       "problem.yaml:1:15: expected a state name not used before, found "
       "\"gut\""},
      {"invalid name", edit(kProblem, "  V:  {", "  2V: {"), kData,
       "problem.yaml:5:3: expected a parameter name (letters, digits and "
       "underscores, not starting with a digit), found \"2V\""},
      {"parameter declared twice", edit(kProblem, "  F:  {", "  V:  {"), kData,
       "problem.yaml:6:3: expected a key not given before in this mapping, "
       "found \"V\""},
      {"lower above upper",
       edit(kProblem, "{lower: 0.01, upper: 10,", "{lower: 11, upper: 10,"),
       kData,
       "problem.yaml:5:3: parameter V: expected a lower bound not above the "
       "upper bound 10, found 11"},
      {"value outside the bounds", edit(kProblem, "value: 0.5}", "value: 12}"),
       kData,
       "problem.yaml:5:3: parameter V: expected a value from 0.01 to 10, "
       "found 12"},
      {"log scale with a lower bound of 0",
       edit(kProblem, "{lower: 0.001, upper: 5,", "{lower: 0, upper: 5,"),
       kData,
       "problem.yaml:4:15: expected parameter ke: a lower bound above 0 for a "
       "log10-scaled parameter, found 0"},
      {"log scale with an upper bound below 0",
       edit(kProblem, "{lower: 0.01, upper: 20, scale: log}",
            "{upper: -1, scale: log}"),
       kData,
       "problem.yaml:7:3: parameter ka_2: expected an upper bound above 0 for "
       "a log-scaled parameter, found -1"},
      {"unknown scale", edit(kProblem, "scale: log}", "scale: ln}"), kData,
       "problem.yaml:7:41: expected a scale lin, log or log10, found \"ln\""},
      {"bound not a number", edit(kProblem, "upper: 5,", "upper: five,"), kData,
       "problem.yaml:4:29: expected a number for upper, found \"five\""},
      {"decimal comma in a bound",
       edit(kProblem, "upper: 5,", "upper: \"0,5\","), kData,
       "problem.yaml:4:29: expected a number for upper, found \"0,5\""},
      {"estimate not a boolean",
       edit(kProblem, "estimate: false", "estimate: no"), kData,
       "problem.yaml:6:28: expected true or false for estimate, found \"no\""},
      {"fixed parameter without a value",
       edit(kProblem, "{value: 1, estimate: false}", "{estimate: false}"),
       kData,
       "problem.yaml:6:3: expected parameter F: a value for a parameter that "
       "is not estimated, found none"},
      {"undeclared name in an expression",
       edit(kProblem, "{gut: ka, central: -ke}", "{gut: ka, central: -kel}"),
       kData,
       "problem.yaml:10:32: expected a declared parameter, found \"kel\""},
      {"expression that does not parse",
       edit(kProblem, "{central: 1/V}", "{central: \"1/(V\"}"), kData,
       "problem.yaml:12:33: expected \")\", found end of expression"},
      {"unknown state in the matrix",
       edit(kProblem, "{gut: ka,", "{blood: ka,"), kData,
       "problem.yaml:10:13: expected a state (gut, central), found \"blood\""},
      {"a matrix entry given twice",
       edit(kProblem, "{gut: ka, central: -ke}", "{gut: ka, gut: -ke}"), kData,
       "problem.yaml:10:22: expected a key not given before in this mapping, "
       "found \"gut\""},
      {"sigma not above 0", edit(kProblem, "sigma: 0.5}", "sigma: 0}"), kData,
       "problem.yaml:12:41: expected a sigma above 0, found 0"},
      {"duplicate experiment id", edit(kProblem, "{id: s2,", "{id: s1,"), kData,
       "problem.yaml:15:10: expected an experiment id not used before, found "
       "\"s1\""},
      {"no experiment",
       edit(edit(kProblem, "  - {id: s1, x0: {gut: 4.02 * F}}\n", ""),
            "  - {id: s2, x0: {gut: 4.40 * F}, parameters: {ka: ka_2}}\n",
            "  []\n"),
       kData,
       "problem.yaml:14:3: expected at least one experiment, found none"},
      {"override of an undeclared name",
       edit(kProblem, "parameters: {ka: ka_2}", "parameters: {kb: ka_2}"),
       kData,
       "problem.yaml:15:48: experiment s2: expected a declared parameter to "
       "override, found \"kb\""},
      {"override standing for an undeclared name",
       edit(kProblem, "parameters: {ka: ka_2}", "parameters: {ka: ka_3}"),
       kData,
       "problem.yaml:15:52: experiment s2: expected a declared parameter or a "
       "number for ka, found \"ka_3\""},
      {"infusion of zero duration",
       edit(kProblem, "{id: s1, x0: {gut: 4.02 * F}}",
            "{id: s1, doses: [{time: 0, state: gut, amount: 4, duration: 0}]}"),
       kData,
       "problem.yaml:14:22: expected an infusion duration above 0 (for a dose "
       "given at once, use a bolus: no duration), found 0"},
      {"negative dose amount",
       edit(kProblem, "{id: s1, x0: {gut: 4.02 * F}}",
            "{id: s1, doses: [{time: 0, state: gut, amount: -4}]}"),
       kData,
       "problem.yaml:14:22: expected a dose amount of 0 or more, found -4"},
      // The data table.
      {"data file missing", kProblem, "",
       "data.csv: cannot open: No such file or directory"},
      {"decimal comma", kProblem,
       edit(kData, "s1,conc,0.25,2.84", "s1,conc,0.25,\"2,84\""),
       "data.csv:2:14: expected a number with a decimal point, found \"2,84\""},
      {"text for a number", kProblem, edit(kData, "2.84", "high"),
       "data.csv:2:14: expected a number, found \"high\""},
      {"number beyond a double", kProblem, edit(kData, "2.84", "1e999"),
       "data.csv:2:14: expected a finite number, found \"1e999\""},
      {"unknown experiment", kProblem, edit(kData, "s2,conc", "s3,conc"),
       "data.csv:3:1: expected an experiment (s1, s2), found \"s3\""},
      {"unknown observable", kProblem, edit(kData, "s2,conc", "s2,Conc"),
       "data.csv:3:4: expected an observable (conc), found \"Conc\""},
      {"negative time", kProblem, edit(kData, "0.5,", "-0.5,"),
       "data.csv:3:9: expected a time of 0 or more, found \"-0.5\""},
      {"time not finite", kProblem, edit(kData, "0.5,", "inf,"),
       "data.csv:3:9: expected a number, found \"inf\""},
      {"missing time", kProblem, edit(kData, "0.5,", "NA,"),
       "data.csv:3:9: expected a time, found \"NA\""},
      {"sigma not above 0", kProblem,
       edit(edit(edit(kData, "measurement", "measurement,sigma"), "2.84",
                 "2.84,1"),
            "6.1", "6.1,0"),
       "data.csv:3:17: expected a finite sigma above 0, found 0"},
      {"too many fields", kProblem, edit(kData, "6.1", "6.1,7"),
       "data.csv:3:17: expected 4 fields as in the header, found 5"},
      {"too few fields", kProblem,
       edit(kData, "s2,conc,0.5,6.1", "s2,conc,0.5"),
       "data.csv:3:12: expected 4 fields as in the header, found 3"},
      {"unknown column in long form", kProblem, edit(kData, "time,", "tme,"),
       "data.csv:1:23: expected a column experiment, observable, time, "
       "measurement or sigma, found \"tme\""},
      {"column missing in long form", kProblem,
       "experiment,observable,time\ns1,conc,1\n",
       "data.csv:1:1: expected a column \"measurement\", found none"},
      {"a column and its synonym", kProblem,
       edit(kData, "experiment,", "experiment,simulationConditionId,"),
       "data.csv:1:12: expected one column for experiment, found a second "
       "one \"simulationConditionI\"..."},
      {"no experiment column with two experiments", kProblem,
       "time,conc\n1,2\n",
       "data.csv:1:1: expected a column \"experiment\" (the problem has 2 "
       "experiments), found none"},
      {"wide column that is no observable", one_experiment,
       "time,concentration\n1,2\n",
       "data.csv:1:6: expected a column time, experiment or an observable "
       "(conc), found \"concentration\""},
      {"quote left open", kProblem, kData + "s1,\"conc,1,2\n",
       "data.csv:4:4: expected a closing quote for this field, found end of "
       "file"},
      {"empty table", kProblem, "# only a comment\n",
       "data.csv:1:17: expected a header row, found end of file"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(load(c.problem, c.data).error, c.message) << c.what;
  }
}

TEST(ProblemFile, RefusesMissingHugeAndUnreadableProblemFiles) {
  ScratchDir dir;
  const auto error_of = [&](const std::string& name) {
    try {
      read_yaml_problem(dir.file(name));
    } catch (const InputError& e) {
      std::string m = e.what();
      return m.substr(dir.path().string().size() + 1);
    }
    return std::string();
  };
  EXPECT_EQ(error_of("none.yaml"),
            "none.yaml: cannot open: No such file or directory");
  std::filesystem::create_directory(dir.path() / "folder.yaml");
  EXPECT_EQ(error_of("folder.yaml"),
            "folder.yaml: cannot read: Is a directory");
  // A sparse file: refused by its size, without being read.
  dir.write("huge.yaml", "");
  std::filesystem::resize_file(dir.path() / "huge.yaml",
                               std::uintmax_t{1} << 30);
  EXPECT_EQ(error_of("huge.yaml"),
            "huge.yaml: expected a file of at most 16 MiB, found 1073741824 "
            "bytes");
}

TEST(ProblemFile, AcceptsEveryFormOfTheDataTable) {
  const std::string one_experiment =
      edit(kProblem,
           "  - {id: s2, x0: {gut: 4.40 * F}, parameters: {ka: ka_2}}\n", "");
  const struct {
    const char* what;
    std::string problem;
    std::string file_name;
    std::string data;
    std::size_t measurements;
    std::size_t missing;
  } cases[] = {
      {"long form", kProblem, "data.csv", kData, 2, 0},
      {"byte-order mark and CR LF", kProblem, "data.csv",
       "\xEF\xBB\xBF"
       "experiment,observable,time,measurement\r\ns1,conc,1,2\r\n",
       1, 0},
      {"quoted fields", kProblem, "data.csv",
       "\"experiment\",\"observable\",time,measurement\n\"s1\",\"conc\",\"1\","
       "2\n",
       1, 0},
      {"PEtab names", kProblem, "data.csv",
       "simulationConditionId,observableId,time,measurement,noiseParameters\n"
       "s1,conc,1,2,0.1\ns2,conc,1,2,\n",
       2, 0},
      {"missing values counted", kProblem, "data.csv",
       "experiment,observable,time,measurement\n"
       "s1,conc,1,\ns1,conc,2,NA\ns1,conc,3,NaN\ns1,conc,4,.\ns1,conc,5,1\n",
       1, 4},
      {"comments, empty lines and blank rows", kProblem, "data.csv",
       "# a note\nexperiment,observable,time,measurement\n\n"
       "# another\ns1,conc,1,2\n,,,\n",
       1, 0},
      {"TSV by extension, blanks kept out", kProblem, "data.tsv",
       "experiment\tobservable\ttime\tmeasurement\ns1\tconc\t 1 \t2\n", 1, 0},
      {"TSV by header", kProblem, "data.txt",
       "experiment\tobservable\ttime\tmeasurement\ns1\tconc\t1\t2\n", 1, 0},
      {"wide form with experiments", kProblem, "data.csv",
       "experiment,time,conc\ns1,1,2\ns2,1,NA\n", 1, 1},
      {"wide form, one experiment, no experiment column", one_experiment,
       "data.csv", "time,conc\n0,0.74\n1,2\n", 2, 0},
      {"header only", kProblem, "data.csv", "time,experiment,conc\n", 0, 0},
  };
  for (const auto& c : cases) {
    const std::string problem =
        edit(c.problem, "data: data.csv", "data: " + c.file_name);
    const Outcome out = load(problem, c.data, c.file_name);
    ASSERT_EQ(out.error, "") << c.what;
    ASSERT_EQ(out.loaded.data_files.size(), 1u) << c.what;
    EXPECT_EQ(out.loaded.data_files[0].rows_used, c.measurements) << c.what;
    EXPECT_EQ(out.loaded.data_files[0].missing, c.missing) << c.what;
    EXPECT_EQ(out.loaded.problem.measurement_count(), c.measurements) << c.what;
  }
}

TEST(ProblemFile, TurnsIntoTheProblemItStates) {
  const std::string problem =
      edit(edit(kProblem, "data: data.csv", "data: [data.csv, more.csv]"),
           "{id: s1, x0: {gut: 4.02 * F}}",
           "{id: s1, x0: {gut: 4.02 * F}, lag: 0.25, doses: "
           "[{time: 1, state: gut, amount: 2, duration: 0.5}]}");
  ScratchDir dir;
  dir.write("problem.yaml", problem);
  dir.write("data.csv",
            "experiment,observable,time,measurement,sigma\n"
            "s2,conc,2,6.1,0.25\ns1,conc,0.5,2.84,\n");
  dir.write("more.csv", "experiment,time,conc\ns1,3,NA\n");
  const LoadedProblem loaded = read_yaml_problem(dir.file("problem.yaml"));
  const FitProblem& p = loaded.problem;
  EXPECT_EQ(loaded.directory, dir.path().string());
  EXPECT_EQ(loaded.data_files[1].path, dir.file("more.csv"));
  EXPECT_EQ(loaded.data_files[1].missing, 1u);
  EXPECT_EQ(p.states, (std::vector<std::string>{"gut", "central"}));
  ASSERT_EQ(p.parameter_count(), 5);
  const Parameter& ka_2 = p.parameters[4];
  EXPECT_EQ(ka_2.scale, Scale::kLog);
  EXPECT_DOUBLE_EQ(ka_2.value, std::sqrt(0.01 * 20));  // geometric midpoint
  EXPECT_FALSE(p.parameters[3].estimated);
  EXPECT_EQ(p.parameters[2].lower, 0.01);
  EXPECT_EQ(p.parameters[2].upper, 10);
  ASSERT_EQ(p.experiments.size(), 2u);
  const Experiment& s1 = p.experiments[0];
  const Experiment& s2 = p.experiments[1];
  // Measurements follow the experiments, each in table order.
  ASSERT_EQ(s1.measurements.size(), 1u);
  EXPECT_EQ(s1.measurements[0].time, 0.5);
  EXPECT_EQ(s1.measurements[0].sigma.constant_value(), 0.5);  // observable's
  EXPECT_EQ(s2.measurements[0].sigma.constant_value(), 0.25);
  EXPECT_EQ(s2.matrix[1].value.single_parameter(), 4);  // ka means ka_2
  ASSERT_EQ(s1.doses.size(), 1u);
  EXPECT_TRUE(s1.doses[0].infusion);
  EXPECT_EQ(s1.lag.constant_value(), 0.25);
  EXPECT_TRUE(s2.doses.empty());
}

TEST(ProblemFile, ReadsDoseTablesAndRefusesTheirFaults) {
  const std::string problem =
      edit(kProblem, "data: data.csv", "doses: doses.csv\ndata: data.csv");
  const auto with_doses = [&](const std::string& doses) {
    ScratchDir dir;
    dir.write("problem.yaml", problem);
    dir.write("data.csv", kData);
    dir.write("doses.csv", doses);
    try {
      const LoadedProblem l = read_yaml_problem(dir.file("problem.yaml"));
      return std::to_string(l.problem.experiments[1].doses.size()) + " " +
             std::to_string(l.dose_files[0].rows_used);
    } catch (const InputError& e) {
      return std::string(e.what()).substr(dir.path().string().size() + 1);
    }
  };
  EXPECT_EQ(with_doses("experiment,time,state,amount,duration\n"
                       "s2,0,gut,4,\ns2,12,gut,4,0.5\ns1,0,gut,4,NA\n"),
            "2 3");
  const struct {
    const char* rows;
    const char* message;
  } faults[] = {
      {"s2,0,blood,4,",
       "doses.csv:2:6: expected a state (gut, central), found "
       "\"blood\""},
      {"s2,0,gut,-4,",
       "doses.csv:2:10: expected a dose amount of 0 or more, "
       "found \"-4\""},
      {"s2,0,gut,4,0",
       "doses.csv:2:12: expected an infusion duration above 0 (for a dose "
       "given at once, use a bolus: no duration), found 0"},
      {"s9,0,gut,4,",
       "doses.csv:2:1: expected an experiment (s1, s2), found "
       "\"s9\""},
  };
  for (const auto& f : faults) {
    EXPECT_EQ(
        with_doses(std::string("experiment,time,state,amount,duration\n") +
                   f.rows + "\n"),
        f.message);
  }
}

}  // namespace
}  // namespace identify
