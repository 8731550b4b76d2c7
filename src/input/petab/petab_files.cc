// Reading the YAML file of a PEtab problem with the checked access of
// yaml_document.h: the keys of each mapping are checked against the format,
// and a list of files that the reader needs is required to hold at least
// one name (the SBML model exactly one: a PEtab v1 problem has one model).
#include "input/petab/petab_files.h"

#include <filesystem>

namespace identify {

bool is_petab_document(const YamlDocument& doc) {
  const YAML::Node& root = doc.root();
  return root.IsMap() && (root["format_version"] || root["problems"]);
}

namespace {

std::vector<std::string> file_list(const YamlDocument& doc,
                                   const std::vector<YamlEntry>& entries,
                                   const YamlEntry& problem, const char* key,
                                   bool one) {
  const YamlEntry* e = find_entry(entries, key);
  if (e == nullptr) {
    doc.fail(doc.pos(problem.value), std::string("a key \"") + key + "\"",
             "none");
  }
  std::vector<std::string> names;
  for (const YAML::Node& item : doc.items(*e, "file names")) {
    names.push_back(doc.scalar(YamlEntry{key, item, item}, "a file name"));
  }
  if (names.empty() || (one && names.size() > 1)) {
    doc.fail(doc.pos(*e), one ? "one file name" : "at least one file name",
             std::to_string(names.size()));
  }
  return names;
}

}  // namespace

PetabFiles read_petab_files(const YamlDocument& doc,
                            const std::string& directory) {
  const YamlEntry root{"problem", doc.root(), doc.root()};
  const std::vector<YamlEntry> top =
      doc.entries(root, {"format_version", "parameter_file", "problems"},
                  "format_version, parameter_file and problems");
  const YamlEntry* version = find_entry(top, "format_version");
  if (version == nullptr)
    doc.fail(doc.pos(root.value), "a key \"format_version\"", "none");
  const std::string v = doc.scalar(*version, "a format version");
  if (v != "1" && v != "1.0.0")
    doc.fail(doc.pos(*version), "format version 1", "\"" + v + "\"");
  PetabFiles files;
  files.directory = directory;
  const YamlEntry* parameters = find_entry(top, "parameter_file");
  if (parameters == nullptr)
    doc.fail(doc.pos(root.value), "a key \"parameter_file\"", "none");
  files.parameters = doc.scalar(*parameters, "a file name");
  const YamlEntry* problems = find_entry(top, "problems");
  if (problems == nullptr)
    doc.fail(doc.pos(root.value), "a key \"problems\"", "none");
  const std::vector<YAML::Node> list = doc.items(*problems, "problems");
  if (list.size() != 1) {
    doc.fail(doc.pos(*problems), "one problem", std::to_string(list.size()));
  }
  const YamlEntry problem{"problem", list[0], list[0]};
  const std::vector<YamlEntry> entries = doc.entries(
      problem,
      {"sbml_files", "condition_files", "measurement_files", "observable_files",
       "visualization_files"},
      "sbml_files, condition_files, measurement_files, observable_files and "
      "visualization_files");
  files.model = file_list(doc, entries, problem, "sbml_files", true)[0];
  files.conditions = file_list(doc, entries, problem, "condition_files", false);
  files.measurements =
      file_list(doc, entries, problem, "measurement_files", false);
  files.observables =
      file_list(doc, entries, problem, "observable_files", false);
  files.measurements_pos = doc.pos(*find_entry(entries, "measurement_files"));
  return files;
}

std::string petab_path(const PetabFiles& files, const std::string& name) {
  return (std::filesystem::path(files.directory) / name).string();
}

}  // namespace identify
