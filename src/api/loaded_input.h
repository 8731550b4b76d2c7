// What a Problem holds: the problem as read, with what its input adds (the
// legacy files' descent rules and tolerance, the problem file's text and
// tables), so that a fit can be run and its outputs named.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fit/method.h"
#include "input/yaml_problem_file.h"

namespace identify {

struct LoadedInput {
  bool legacy = false;
  // The problem file, or the legacy input file: messages and output names.
  std::string name;
  // A problem file: its text and directory, kept to read other tables.
  std::string yaml;
  std::string directory;
  // The problem and the tables it was read from (data_files and dose_files
  // empty for the legacy files).
  LoadedProblem loaded;
  // The legacy files: the descent's rules and step, and the tolerance.
  DescentSetup descent;
  double epsilon = 0.0;
  // Warnings the readers gave (without "identify: ").
  std::vector<std::string> warnings;
};

// A problem file with the tables it names, as Problem::from_file reads it.
// Throws InputError.
std::shared_ptr<LoadedInput> read_problem_input(const std::string& path);

}  // namespace identify
