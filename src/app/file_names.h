// The files a console run names, checked before anything is read or
// written (distinct_files.h).
#pragma once

#include <string>
#include <vector>

#include "app/options.h"
#include "output/distinct_files.h"

namespace identify {

// check_distinct_files for the legacy files: the inputs --input and --data,
// the outputs --output, --history, --report, --plot, --trajectory and
// --profiles, relative to the working directory, after -C.
std::string check_file_names(const Options& opt);

// check_file_names for a problem file run: the inputs are the problem file
// and the data and dose tables it names (`tables`, as opened, labelled "a
// data table" or "a dose table"), the outputs
// --parameters, --fit, --history, --report, --plot, --trajectory and
// --profiles (PROBLEM.profiles.tsv by default with --profile); e.g.
// `--fit: expected a file other than a data table, found "data.csv"`.
std::string check_problem_file_names(const Options& opt,
                                     const std::vector<RunFile>& tables);

}  // namespace identify
