// The arguments of the command line that are not options, and the options
// that belong to one kind of input only. Without --convert there is at most
// one such argument, a problem file ending in .yaml or .yml; with --convert
// there are none (the legacy files of --input and --data) or two (the
// legacy problem file and measurement file, in that order).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/options.h"

namespace identify {

// Takes `arguments` into `options` and checks that every option `given`
// (by its long name, e.g. "--output") fits the input: --input, --data and
// --output only with the legacy files, --parameters, --fit and
// --separately only with a problem file, --history not with --separately,
// and with a problem file a method other than the descent (whose step
// comes from input.txt). Sets the result tables of a problem file that are
// not named to PROBLEM.parameters.tsv and PROBLEM.fit.tsv, and with
// --profile the profile points to PROBLEM.profiles.tsv, PROBLEM the
// problem file's name without its extension. Returns "" or the one-line
// message, e.g. `expected a problem file ending in .yaml or .yml, found
// "input.txt"`.
std::string take_arguments(Options& options,
                           const std::vector<std::string>& arguments,
                           const std::function<bool(const char*)>& given);

// The result table `suffix` of `problem`: "dir/p.yaml" and ".fit.tsv" give
// "dir/p.fit.tsv".
std::string result_table_name(const std::string& problem,
                              const std::string& suffix);

}  // namespace identify
