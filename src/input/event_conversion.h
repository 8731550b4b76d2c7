// `--convert-events`: a problem file whose `events:` names event tables,
// rewritten as the same problem with the data and dose tables of a problem
// file without events.
//
// The converted problem keeps every section of the original but the event
// ones (events, ignore, compartments, dose_state, covariate_interpolation);
// `covariates:` stays, and each experiment (one per ID, in order) gives its
// covariate values under `parameters`, with its x0, overrides, doses and lag
// of the original `experiments:`. Its data table holds one row per
// measurement (experiment, observable, time, measurement), its dose table
// one row per dose with ADDL repetitions written out and RATE turned into a
// duration; a bolus at t = 0 is a dose at 0, which adds to x0 as the event
// table's does. Tables that the original names beside its events follow the
// converted ones. Every number is the shortest text that reads back as the
// same double, so the converted problem is the same problem.
//
// What a dose or data table cannot say is refused at its record: a
// steady-state record (SS 1 or 2), a covariate that changes within an ID.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace identify {

struct ConvertedEvents {
  std::string data_table;  // TSV text
  std::string dose_table;  // TSV text; empty when there is no dose
  std::string problem;     // YAML text naming the two tables
  std::size_t experiments = 0, measurements = 0, doses = 0;
  std::vector<std::string> tables;  // every table read, as opened
};

// Reads the problem file `path` with every table it names and converts it;
// the problem file names the tables `data_name` and `dose_name` (beside it).
// Throws InputError: any fault of the problem or its tables, a problem
// without `events:` (at its first line), or the first record with no
// equivalent in a data or dose table, e.g. "study.csv:5:40: cannot convert:
// a steady-state record (SS 1) has no equivalent in a dose table".
ConvertedEvents convert_event_problem(const std::string& path,
                                      const std::string& data_name,
                                      const std::string& dose_name);

}  // namespace identify
