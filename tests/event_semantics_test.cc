// What each column of an event table means: every table below is read into
// a two-state problem and the experiments it gives are written out as one
// line each (x0, doses, measurements), so that each rule of the columns is
// one row of expectations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/input_error.h"
#include "input/number_syntax.h"
#include "input/yaml_problem_file.h"
#include "run_binary.h"

namespace identify {
namespace {

using testing::ScratchDir;

// "id: x0 gut=100; dose central@12 50 over 2; conc@1=3.5 ..." with the
// constant values of every expression.
std::string describe(const FitProblem& p) {
  std::vector<double> scratch;
  const auto value = [&](const BoundExpression& e) {
    return shortest_text(e.value(p.values(), scratch));
  };
  std::string out;
  for (const Experiment& e : p.experiments) {
    out += e.id + ":";
    for (int i = 0; i < p.state_count(); ++i) {
      if (!(e.x0[i].is_constant() && e.x0[i].constant_value() == 0.0)) {
        out += " x0 " + p.states[i] + "=" + value(e.x0[i]) + ";";
      }
    }
    if (!e.lag.is_constant()) out += " lag " + value(e.lag) + ";";
    for (const auto& [name, target] : e.overrides) {
      out += " " + name + "=" + target + ";";
    }
    for (const Dose& d : e.doses) {
      out += " dose " + p.states[d.state] + "@" + value(d.time) + " " +
             value(d.amount) +
             (d.infusion ? " over " + value(d.duration) : "") + ";";
    }
    for (const Measurement& m : e.measurements) {
      out += " " + p.observables[m.observable] + "@" + shortest_text(m.time) +
             "=" + shortest_text(m.value);
    }
    out += "\n";
  }
  return out;
}

std::string read_events(const std::string& extra, const std::string& table) {
  ScratchDir dir;
  dir.write("p.yaml",
            "states: [gut, central]\n"
            "parameters: {V: {value: 2}, tlag: {value: 0.5}}\n"
            "observables:\n"
            "  conc: {states: {central: 1/V}}\n"
            "  gutted: {states: {gut: 1}}\n" +
                extra + "events: e.csv\n");
  dir.write("e.csv", table);
  return describe(read_yaml_problem(dir.file("p.yaml")).problem);
}

TEST(EventSemantics, EveryColumnMeansWhatItsDocumentationSays) {
  const struct {
    const char* rule;
    std::string extra, table, expected;
  } cases[] = {
      {"IDs in order of first appearance; a bolus at 0 is part of x0; "
       "DVID by name or number; column names in any case",
       "",
       "id,Time,dv,AMT,CMT,dvid\nb,0,.,100,1,.\nb,1,3,0,.,conc\n"
       "7,2,4,0,.,2\nb,2,5,0,.,1\n",
       "b: x0 gut=100; conc@1=3 conc@2=5\nID7: gutted@2=4\n"},
      {"EVID 0 observation, 1 dose, 2 nothing; MDV 1 skips a DV", "",
       "ID,TIME,DV,AMT,EVID,MDV,DVID\n1,0,.,5,1,1,1\n1,1,9,0,0,1,1\n"
       "1,2,8,0,2,0,1\n1,3,7,0,0,0,1\n",
       "ID1: x0 gut=5; conc@3=7\n"},
      {"CMT by name and number; RATE an infusion of AMT/RATE; DUR likewise; "
       "ADDL doses every II",
       "",
       "ID,TIME,DV,AMT,CMT,RATE,DUR,II,ADDL,DVID\n1,1,.,10,central,5,.,0,0,."
       "\n1,2,.,6,2,0,3,0,0,.\n1,4,.,1,1,0,0,12,2,.\n1,5,2,0,.,.,.,.,.,1\n",
       "ID1: dose central@1 10 over 2; dose central@2 6 over 3; dose gut@4 1; "
       "dose gut@16 1; dose gut@28 1; conc@5=2\n"},
      {"without EVID and MDV: AMT above 0 a dose, a DV an observation, a "
       "missing DV (., NA, empty) nothing; compartments number CMT; "
       "dose_state takes doses without one",
       "compartments: [central, gut]\ndose_state: central\n",
       "ID,TIME,DV,AMT,CMT,DVID\n1,0,.,0,.,1\n1,1,NA,3,.,1\n1,2,,4,1,1\n"
       "1,3,2,0,2,1\n",
       "ID1: dose central@1 3; dose central@2 4; conc@3=2\n"},
      {"EVID 3 and 4 before the first dose or observation: x0 stands; "
       "ignored columns are not read",
       "ignore: [sex]\n",
       "ID,TIME,DV,AMT,EVID,SEX,DVID\n1,0,.,0,3,F,.\n1,0,.,2,4,F,.\n"
       "1,1,3,0,0,F,1\n",
       "ID1: x0 gut=2; conc@1=3\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule);
    EXPECT_EQ(read_events(c.extra, c.table), c.expected);
  }
}

// An experiment given in the problem file by ID sets its lag, overrides and
// x0; with a lag, a dose at 0 stays a dose.
TEST(EventSemantics, ExperimentsByIdSetLagOverridesAndX0) {
  const std::string described = read_events(
      "experiments:\n"
      "  - {id: 2, lag: tlag, x0: {central: 1}}\n"
      "  - {id: a, x0: {gut: 3}, parameters: {V: 4}}\n",
      "ID,TIME,DV,AMT,DVID\na,0,.,10,.\n2,0,.,5,.\n2,1,3,0,1\na,1,4,0,1\n");
  EXPECT_EQ(described,
            "a: x0 gut=13; V=4; conc@1=4\nID2: x0 central=1; lag 0.5; dose "
            "gut@0 5; conc@1=3\n");
}

}  // namespace
}  // namespace identify
