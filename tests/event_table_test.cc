// Event tables end to end: the examples give what their separate data and
// dose tables give, bit for bit, or the parameters that generated them;
// every refused record is one placed message and exit code 3.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "input/input_error.h"
#include "input/yaml_problem_file.h"
#include "run_binary.h"

namespace identify {
namespace {

using testing::RunResult;
using testing::ScratchDir;

// The columns after the first of every row of a TSV text.
std::string without_first_column(const std::string& tsv) {
  std::istringstream in(tsv);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    out += line.substr(line.find('\t')) + "\n";
  }
  return out;
}

// The estimates of a run, by parameter name, from PROBLEM.parameters.tsv
// of a single fit.
double estimate_of(const std::string& tsv, const std::string& name) {
  std::istringstream in(tsv);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(name + "\t", 0) == 0) {
      return std::stod(line.substr(name.size() + 1));
    }
  }
  ADD_FAILURE() << "no estimate of " << name;
  return NAN;
}

// The twelve subjects of the event table, each fitted on its own, have the
// 36 estimates of the same subjects posed as experiments by hand, to the
// last digit written.
TEST(EventTables, TheophyllineGivesTheEstimatesOfItsHandWrittenProblem) {
  ScratchDir events("theophylline_events");
  ScratchDir by_hand("theophylline_12");
  const RunResult a = events.run("problem.yaml --separately -q");
  const RunResult b = by_hand.run("problem.yaml --separately -q");
  ASSERT_EQ(a.exit_code, 0) << a.err;
  ASSERT_EQ(b.exit_code, 0) << b.err;
  const std::string estimates = events.read("problem.parameters.tsv");
  EXPECT_EQ(std::count(estimates.begin(), estimates.end(), '\n'), 37);
  EXPECT_EQ(without_first_column(estimates),
            without_first_column(by_hand.read("problem.parameters.tsv")));
  EXPECT_EQ(estimates.find("ID1\tka\t1.7774137460664432\t"),
            estimates.find('\n') + 1);
}

// The noise-free concentrations of repeated oral doses (ADDL, II) and of
// repeated infusions (RATE) recover the parameters that made them.
TEST(EventTables, MultipleDosesRecoverTheirParameters) {
  ScratchDir dir("multiple_dose_events");
  const RunResult r = dir.run("problem.yaml -q");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string tsv = dir.read("problem.parameters.tsv");
  EXPECT_NEAR(estimate_of(tsv, "ka"), 1.2, 1e-12);
  EXPECT_NEAR(estimate_of(tsv, "ke"), 0.15, 1e-12);
  EXPECT_NEAR(estimate_of(tsv, "V"), 10.0, 1e-12);
}

constexpr const char* kProblem =
    "states: [gut, central]\n"
    "covariates: [WT]\n"
    "parameters:\n"
    "  ka: {lower: 0.01, upper: 20, value: 1}\n"
    "  CL: {lower: 0.01, upper: 20, value: 1}\n"
    "  V: {lower: 0.01, upper: 100, value: 10}\n"
    "matrix:\n"
    "  gut: {gut: -ka}\n"
    "  central: {gut: ka, central: -CL * (WT / 70)^0.75 / V}\n"
    "observables:\n"
    "  conc: {states: {central: 1/V}}\n"
    "events: e.csv\n";

// Each refused record: the table (after a header that the case gives), the
// message's place and its text after "e.csv:LINE:COL: ".
TEST(EventTables, RefusedRecordsArePlacedAndExitWithThree) {
  const std::string header = "ID,TIME,DV,AMT,CMT,RATE,II,SS,WT\n";
  const std::string dose = "1,0,.,100,1,0,0,0,70\n";
  const struct {
    std::string table;
    std::string message;
  } cases[] = {
      {header + "1,0,.,100,2,-1,0,0,70\n",
       "2:13: expected a RATE of 0 or more (-1 and -2, a rate or duration from "
       "the model, are not supported), found \"-1\""},
      {header + "1,0,.,100,2,-3,0,0,70\n",
       "2:13: expected a RATE of 0 or more, found \"-3\""},
      {header + "1,0,.,100,3,0,0,0,70\n",
       "2:11: expected a CMT from 1 to 2 (gut, central) or a state name, "
       "found \"3\""},
      {header + "1,0,.,100,liver,0,0,0,70\n",
       "2:11: expected a CMT from 1 to 2 (gut, central) or a state name, "
       "found \"liver\""},
      {header + "1,0,.,100,1,0,0,1,70\n",
       "2:15: expected an II above 0 for a steady-state dose (SS 1), found "
       "\"0\""},
      {"ID,TIME,DV,AMT\n1,0,.,100\n",
       "1:1: expected a column WT (a declared covariate), found none"},
      {"ID,TIME,DV,AMT,WT,DVID\n1,1,3,0,70,2\n",
       "2:12: expected a DVID from 1 to 1 (conc) or an observable name, found "
       "\"2\""},
      {header + dose + "1,2,5,0,2,0,0,0,70\n1,1,4,0,2,0,0,0,70\n",
       "4:3: expected a TIME of 2 or more (the record before it of ID 1), "
       "found \"1\""},
      {"ID,TIME,DV,AMT,WT,AGE\n1,0,.,100,70,40\n",
       "1:19: expected a column ID, TIME, DV, AMT, EVID, MDV, CMT, RATE, DUR, "
       "II, ADDL, SS or DVID, a declared covariate or an ignored column, found "
       "\"AGE\""},
      {"ID,TIME,DV,WT,EVID\n1,0,1,70,5\n",
       "2:10: expected an EVID 0, 1, 2, 3 or 4, found \"5\""},
      {"ID,TIME,DV,WT,MDV\n1,0,.,70,0\n",
       "2:5: expected a DV (MDV is 0), "
       "found \".\""},
      {"ID,TIME,DV,WT\n1,0,1,NA\n",
       "2:7: expected a value of covariate WT, found \"NA\""},
      {"ID,TIME,DV,AMT,EVID,WT\n1,0,.,100,1,70\n1,2,5,0,0,70\n1,3,.,0,3,70\n",
       "4:9: expected a reset (EVID 3 or 4) only before the first dose and "
       "observation of ID 1, found one at TIME 3"},
      {"ID,TIME,DV,AMT,ADDL,WT\n1,0,.,100,3,70\n",
       "2:11: expected an II above 0 for additional doses (ADDL), found no II "
       "column"},
      {"ID,TIME,AMT,RATE,DUR,WT\n1,0,100,5,2,70\n",
       "2:11: expected either a RATE or a DUR, not both, found \"2\""},
      {"id,time,dv,time,wt\n",
       "1:12: expected a column not named before, "
       "found \"time\""},
      {"ID,TIME,WT\n", "1:1: expected a column DV or AMT, found none"},
      {"ID,TIME,DV,WT\n1,-1,3,70\n",
       "2:3: expected a TIME of 0 or more, "
       "found \"-1\""},
      {"ID,TIME,DV,WT\n1.5,0,3,70\n",
       "2:1: expected an ID of letters, digits and \"_\" (an experiment), "
       "found \"1.5\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    ScratchDir dir;
    dir.write("p.yaml", kProblem);
    dir.write("e.csv", c.table);
    const RunResult r = dir.run("p.yaml -q");
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.err, "identify: e.csv:" + c.message + "\n");
  }
}

}  // namespace
}  // namespace identify
