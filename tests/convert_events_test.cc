// --convert-events through the built program: the converted problem of each
// event-table example fits to the same estimates, bit for bit, as the
// problem it came from (the tables are read back by the data and dose table
// readers on the way); what a dose or data table cannot express is refused
// at its record with nothing written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_binary.h"

namespace identify::testing {
namespace {

struct Example {
  const char* dir;
  const char* problem;           // its stem
  const char* experiments = "";  // added to the problem file
};

TEST(ConvertEvents, ConvertedProblemFitsToTheSameEstimatesBitForBit) {
  for (const Example& e : {Example{"theophylline_events", "problem"},
                           Example{"theophylline_events", "problem_wt"},
                           Example{"multiple_dose_events", "problem"},
                           // A lag (doses at 0 stay doses) and an x0 that
                           // a dose at 0 adds to.
                           Example{"multiple_dose_events", "problem",
                                   "experiments:\n  - {id: 1, x0: {gut: 5}}\n"
                                   "  - {id: 2, lag: 0.25}\n"}}) {
    SCOPED_TRACE(std::string(e.dir) + "/" + e.problem);
    ScratchDir dir(e.dir);
    const std::string stem = e.problem;
    dir.write(stem + ".yaml", dir.read(stem + ".yaml") + e.experiments);
    const RunResult convert = dir.run("--convert-events " + stem + ".yaml");
    ASSERT_EQ(convert.exit_code, 0) << convert.err;
    // The whole problem, then every experiment on its own.
    for (const char* how : {" -q", " -q --separately"}) {
      SCOPED_TRACE(how);
      const RunResult direct = dir.run(stem + ".yaml" + how);
      const RunResult converted = dir.run(stem + ".converted.yaml" + how);
      ASSERT_EQ(converted.exit_code, direct.exit_code) << converted.err;
      EXPECT_EQ(dir.read(stem + ".converted.parameters.tsv"),
                dir.read(stem + ".parameters.tsv"));
      EXPECT_EQ(dir.read(stem + ".converted.fit.tsv"),
                dir.read(stem + ".fit.tsv"));
    }
  }
}

TEST(ConvertEvents, TablesSpellOutRepeatedDosesInfusionsAndCovariates) {
  ScratchDir dir("multiple_dose_events");
  ASSERT_EQ(dir.run("--convert-events problem.yaml").exit_code, 0);
  const std::string doses = dir.read("problem.doses.tsv");
  // ID 1: 100 mg orally, ADDL 4 every 12 h; ID 2: 100 mg at 50 mg/h into
  // CMT 2, ADDL 2 every 24 h.
  EXPECT_EQ(doses.rfind("experiment\ttime\tstate\tamount\tduration\n"
                        "ID1\t0\tgut\t100\tNA\nID1\t12\tgut\t100\tNA\n"
                        "ID1\t24\tgut\t100\tNA\nID1\t36\tgut\t100\tNA\n"
                        "ID1\t48\tgut\t100\tNA\n",
                        0),
            0u)
      << doses;
  EXPECT_NE(doses.find("ID2\t0\tcentral\t100\t2\nID2\t24\tcentral\t100\t2\n"
                       "ID2\t48\tcentral\t100\t2\n"),
            std::string::npos)
      << doses;
  EXPECT_EQ(dir.read("problem.data.tsv")
                .rfind("experiment\tobservable\ttime\tmeasurement\n"
                       "ID1\tconc\t0.5\t4.3306497169660165\n",
                       0),
            0u);

  ScratchDir wt("theophylline_events");
  ASSERT_EQ(wt.run("--convert-events problem_wt.yaml").exit_code, 0);
  const std::string problem = wt.read("problem_wt.converted.yaml");
  EXPECT_NE(problem.find("{id: ID1, parameters: {WT: 79.6}}"),
            std::string::npos)
      << problem;
  EXPECT_NE(problem.find("covariates:"), std::string::npos);
  EXPECT_EQ(problem.find("events"), std::string::npos);
}

// A one-compartment problem on the event table `events`.
std::string events_problem(const std::string& events = "e.csv") {
  return std::string(
             "states: [central]\n"
             "covariates: [WT]\n"
             "parameters:\n"
             "  ke: {lower: 0.001, upper: 5, value: 0.1}\n"
             "matrix:\n"
             "  central: {central: -ke * WT / 70}\n"
             "observables:\n"
             "  c: {states: {central: 1}}\n"
             "events: ") +
         events + "\n";
}

TEST(ConvertEvents, RefusesWhatTablesCannotSayAndWritesNothing) {
  const std::string header = "ID,TIME,DV,AMT,EVID,II,SS,WT\n";
  const std::string dose = "1,0,.,10,1,0,0,70\n";
  struct Case {
    const char* what;
    std::string problem, events, args;
    int exit_code;
    std::string message;
    std::string table = "e.csv";  // the name of `events`
  };
  const std::vector<Case> cases = {
      {"steady state", events_problem(),
       header + "1,0,.,10,1,12,1,70\n1,1,5,0,0,0,0,70\n", "", 3,
       "identify: e.csv:2:15: cannot convert: a steady-state record (SS 1) "
       "has no equivalent in a dose table\n"},
      {"steady state added later", events_problem(),
       header + dose + "1,1,5,0,0,0,0,70\n1,2,.,10,1,12,2,70\n", "", 3,
       "identify: e.csv:4:15: cannot convert: a steady-state record (SS 2) "
       "has no equivalent in a dose table\n"},
      {"covariate changing", events_problem(),
       header + dose + "1,1,5,0,0,0,0,70\n1,2,4,0,0,0,0,72\n", "", 3,
       "identify: e.csv:4:15: cannot convert: covariate WT changes within "
       "ID 1 (from 70 to 72): an experiment of a dose table has one value "
       "of it\n"},
      {"no events",
       "states: [x]\nmatrix: {x: {x: -1}}\nobservables: {y: {states: {x: "
       "1}}}\nexperiments: [{id: a}]\ndata: d.csv\n",
       "", "", 3,
       "identify: p.yaml:1:1: expected a problem file with event tables "
       "(events:) to convert, found none\n"},
      {"two problem files", events_problem(), header + dose, " p.yaml", 2,
       "identify: --convert-events: expected one problem file ending in "
       ".yaml or .yml, found 2 arguments\n"},
      {"an output that is the event table", events_problem("p.data.tsv"),
       "ID\tTIME\tDV\tAMT\tWT\n1\t0\t.\t10\t70\n1\t1\t5\t0\t70\n", "", 2,
       "identify: --convert-events: the data table: expected a file other "
       "than a table, found \"p.data.tsv\"\n",
       "p.data.tsv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    dir.write("p.yaml", c.problem);
    dir.write(c.table, c.events);
    dir.write("d.csv", "time,y\n1,0.5\n");
    const std::vector<std::string> before = dir.names();
    const RunResult r = dir.run("--convert-events p.yaml" + c.args);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(r.err.substr(r.err.find("identify: ")), c.message);
    EXPECT_EQ(dir.names(), before);
  }
}

// A covariate's value given per experiment in a problem without event
// tables must be a number.
TEST(ConvertEvents, CovariateValueOfAnExperimentIsANumber) {
  ScratchDir dir;
  dir.write("p.yaml",
            "states: [x]\ncovariates: [WT]\n"
            "parameters: {k: {lower: 0.01, upper: 5, value: 1}}\n"
            "matrix: {x: {x: -k * WT}}\nobservables: {y: {states: {x: 1}}}\n"
            "experiments: [{id: a, x0: {x: 1}, parameters: {WT: heavy}}]\n"
            "data: d.csv\n");
  dir.write("d.csv", "time,y\n1,0.5\n");
  const RunResult r = dir.run("p.yaml -q");
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find("p.yaml:6:"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("found \"heavy\""), std::string::npos) << r.err;
}

}  // namespace
}  // namespace identify::testing
