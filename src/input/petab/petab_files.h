// The YAML file of a PEtab v1 problem: the format version, the parameter
// table and one problem with its SBML model, condition, measurement and
// observable tables (visualization tables are allowed and not read).
//
//   format_version: 1
//   parameter_file: parameters.tsv
//   problems:
//     - sbml_files: [model.xml]
//       condition_files: [conditions.tsv]
//       measurement_files: [measurements.tsv]
//       observable_files: [observables.tsv]
#pragma once

#include <string>
#include <vector>

#include "input/input_error.h"
#include "input/yaml_document.h"

namespace identify {

struct PetabFiles {
  std::string directory;  // of the YAML file; names below are relative to it
  std::string parameters;
  std::string model;
  std::vector<std::string> conditions;
  std::vector<std::string> measurements;
  std::vector<std::string> observables;
  SourcePos measurements_pos;  // of the measurement_files entry
};

// Whether the document is a PEtab problem rather than a problem file: a
// mapping with a key format_version or problems.
bool is_petab_document(const YamlDocument& doc);

// The files of a PEtab document. Throws InputError at the offending node:
// a format version other than 1, more than one problem, no SBML model or
// more than one, a missing table list.
PetabFiles read_petab_files(const YamlDocument& doc,
                            const std::string& directory);

// A file name joined to the directory.
std::string petab_path(const PetabFiles& files, const std::string& name);

}  // namespace identify
