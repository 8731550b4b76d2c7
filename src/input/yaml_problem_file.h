// The problem file: a YAML document that states a fit problem in the names
// of its science, and the data tables it refers to.
//
//   states: [gut, central]            # names, in order
//   parameters:                       # name: {lower, upper, scale, value,
//     ka: {lower: 0.01, upper: 20, scale: log10, value: 1}   # estimate}
//     F:  {value: 1, estimate: false}
//   matrix:                           # row state: {column state: expression}
//     gut:     {gut: -ka}
//     central: {gut: ka, central: -ke}
//   inputs:                           # state: {amp, rate}: amp·exp(rate·t)
//     central: {amp: 0, rate: 0}
//   observables:                      # name: {states, offset, sigma}
//     conc: {states: {central: 1/V}, offset: 0, sigma: 1}
//   experiments:                      # {id, x0, parameters, doses, lag}
//     - {id: subject1, x0: {gut: 4.02 * F}}
//     - {id: subject2, x0: {gut: 4.40 * F}, parameters: {ka: ka_2}}
//   doses: doses.csv                  # optional: dose tables
//   data: theoph.csv                  # a data table or a list of them
//
// Required: states (at least one), observables, experiments (at least one)
// and data (tables, which may be empty when the problem is only read; a fit
// needs a measurement: see require_measurements). A parameter without a value
// starts at default_start() of its bounds; bounds left out are infinite (".inf"
// may be written); the scale is lin, log or log10, lin by default; estimate is
// true by default, and a parameter that is not estimated needs a value.
// Experiment doses are a list of {time, state, amount[, duration]} (a duration
// makes an infusion); the top-level `doses` names tables with columns
// experiment, time, state, amount and optionally duration. File names are
// relative to the problem file's directory. Every fault is an InputError placed
// in the file that holds it (the README, section "Problem files", lists every
// message).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "input/event_translation.h"
#include "input/input_error.h"
#include "input/text_file.h"
#include "problem/fit_problem.h"
#include "problem/measurement_rows.h"

namespace identify {

// The largest problem file and the largest data or dose table read.
inline constexpr std::size_t kMaxProblemFileBytes = std::size_t{16} << 20;
inline constexpr std::size_t kMaxTableBytes = std::size_t{256} << 20;

struct TableRead {
  std::string path;           // as opened, and as named in messages
  std::size_t rows_used = 0;  // measurements (or doses) taken from it
  std::size_t missing = 0;    // missing values skipped
};

struct LoadedProblem {
  FitProblem problem;
  std::vector<TableRead> data_files;  // in the order of `data`
  std::vector<TableRead> dose_files;  // in the order of `doses`
  // In the order of `events`: rows_used counts the measurements.
  std::vector<TableRead> event_files;
  std::string directory;  // of the problem file ("" for ".")
  SourcePos data_pos;     // of the `data` entry's value
  // The measurement table as read, for a PEtab problem (empty for a problem
  // file).
  MeasurementRows rows;
};

// Reads the problem file at `path` and every table it names. Throws
// InputError.
LoadedProblem read_yaml_problem(const std::string& path);

// read_yaml_problem that also records in `trace` what the records of the
// event tables became (empty without `events`).
LoadedProblem read_yaml_problem_traced(const std::string& path,
                                       EventTrace& trace);

// Reads the problem file text `file`, its relative table names from
// `directory`. With `data`, those tables (each named by its TextFile name)
// are the data tables and the `data` entry may be left out.
LoadedProblem read_yaml_problem_text(const TextFile& file,
                                     const std::string& directory,
                                     const std::vector<TextFile>* data);

// A fit needs something to fit: throws InputError, placed at the `data`
// entry and naming the tables, when they hold no measurement between them
// (no table, only headers, only missing values):
// "p.yaml:15:7: expected at least one measurement in data.csv, found none
// (2 missing values)".
void require_measurements(const LoadedProblem& loaded);

}  // namespace identify
