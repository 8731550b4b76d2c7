// Reading the event-table sections of a problem file: lists of names and
// single names, each checked where it stands.
#include "input/yaml_event_sections.h"

#include <functional>
#include <string>

namespace identify {

namespace {

std::string name_list(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
  return list;
}

// The texts of a list of scalars, each checked by `check` at its node.
std::vector<std::string> scalar_list(
    const YamlDocument& doc, const YamlEntry& entry, const std::string& what,
    const std::function<void(const YAML::Node&, const std::string&)>& check) {
  std::vector<std::string> names;
  for (const YAML::Node& item : doc.items(entry, what + "s")) {
    names.push_back(doc.scalar(YamlEntry{entry.name, item, item}, what));
    check(item, names.back());
  }
  return names;
}

}  // namespace

void read_event_sections(const YamlDocument& doc,
                         const std::vector<YamlEntry>& top,
                         const ProblemBuilder& builder,
                         EventColumnNames& columns, EventSettings& settings) {
  const auto state = [&](const YAML::Node& at, const std::string& name) {
    if (builder.state_index(name) >= 0) return;
    doc.fail(doc.pos(at), "a state (" + name_list(builder.states()) + ")",
             quote_text(name));
  };
  if (const YamlEntry* e = find_entry(top, "ignore")) {
    columns.ignored = scalar_list(doc, *e, "a column name",
                                  [](const YAML::Node&, const std::string&) {});
  }
  if (const YamlEntry* e = find_entry(top, "compartments")) {
    settings.compartments = scalar_list(doc, *e, "a state name", state);
  }
  if (const YamlEntry* e = find_entry(top, "dose_state")) {
    settings.dose_state = doc.scalar(*e, "a state name");
    state(e->value, settings.dose_state);
  }
  if (const YamlEntry* e = find_entry(top, "covariate_interpolation")) {
    const std::string text = doc.scalar(*e, "locf or nocb");
    if (text != "locf" && text != "nocb") {
      doc.fail(doc.pos(*e), "locf or nocb", quote_text(text));
    }
    settings.next_observation = text == "nocb";
  }
}

}  // namespace identify
