// The files of a console run checked as distinct files
// (distinct_files.h): the legacy files and their outputs, or a problem
// file, its tables and its outputs.
#include "app/file_names.h"

namespace identify {

std::string check_file_names(const Options& opt) {
  return check_distinct_files({{"--input", opt.input}, {"--data", opt.data}},
                              {{"--output", opt.output},
                               {"--history", opt.history},
                               {"--report", opt.report},
                               {"--plot", opt.plot},
                               {"--trajectory", opt.trajectory},
                               {"--profiles", opt.profiles}});
}

std::string check_problem_file_names(const Options& opt,
                                     const std::vector<RunFile>& tables) {
  std::vector<RunFile> inputs = {{"the problem file", opt.problem}};
  inputs.insert(inputs.end(), tables.begin(), tables.end());
  return check_distinct_files(inputs, {{"--parameters", opt.parameters},
                                       {"--fit", opt.fit},
                                       {"--history", opt.history},
                                       {"--report", opt.report},
                                       {"--plot", opt.plot},
                                       {"--trajectory", opt.trajectory},
                                       {"--profiles", opt.profiles},
                                       {"--bootstrap", opt.bootstrap_file}});
}

}  // namespace identify
