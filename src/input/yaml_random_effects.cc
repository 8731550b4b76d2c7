// Reading the random effects, their correlated blocks and the individual
// definitions. Each expression is checked where it stands, so that a fault
// inside it is placed at its character; the builder's other refusals are
// placed at the node they concern.
#include "input/yaml_random_effects.h"

#include <string>
#include <vector>

#include "input/input_error.h"

namespace identify {

namespace {

template <class Step>
void placed(const SourcePos& at, Step step) {
  try {
    step();
  } catch (const ProblemError& e) {
    throw input_error(at, e.what());
  }
}

YamlEntry item_entry(const char* name, const YAML::Node& item) {
  return YamlEntry{name, item, item};
}

void read_correlated(const YamlDocument& doc, const YamlEntry& entry,
                     ProblemBuilder& builder) {
  for (const YAML::Node& block : doc.items(entry, "blocks of random effects")) {
    const YamlEntry b = item_entry("correlated", block);
    std::vector<std::string> names;
    for (const YAML::Node& name : doc.items(b, "random effect names")) {
      names.push_back(
          doc.scalar(item_entry("effect", name), "a random effect name"));
    }
    placed(doc.pos(block), [&] { builder.add_correlated(names); });
  }
}

}  // namespace

void read_random_effects(const YamlDocument& doc, const YamlEntry& entry,
                         ProblemBuilder& builder) {
  // The entries outlive the loop: `correlated` points into them.
  const std::vector<YamlEntry> effects =
      doc.entries(entry, {}, "random effects");
  const YamlEntry* correlated = nullptr;
  for (const YamlEntry& effect : effects) {
    if (effect.name == "correlated") {
      correlated = &effect;
      continue;
    }
    const std::vector<YamlEntry> fields =
        doc.entries(effect, {"sd", "estimate"}, "sd and estimate");
    const YamlEntry* sd = find_entry(fields, "sd");
    if (sd == nullptr) doc.fail(doc.pos(effect), "a key \"sd\"", "none");
    const double value = doc.number(*sd, false);
    bool estimated = true;
    if (const YamlEntry* e = find_entry(fields, "estimate")) {
      estimated = doc.boolean(*e);
    }
    const bool name_ok =
        is_valid_name(effect.name) && builder.parameter_index(effect.name) < 0;
    placed(name_ok ? doc.pos(*sd) : doc.pos(effect.key),
           [&] { builder.add_random_effect(effect.name, value, estimated); });
  }
  if (correlated != nullptr) read_correlated(doc, *correlated, builder);
}

void read_individual_values(const YamlDocument& doc, const YamlEntry& entry,
                            ProblemBuilder& builder) {
  for (const YamlEntry& value : doc.entries(entry, {}, "individual values")) {
    const std::string text =
        doc.scalar(value, "an expression for " + value.name);
    try {
      builder.check_expression(text);
    } catch (const ExpressionError& e) {
      doc.fail(doc.scalar_pos(value.value, e.offset()), e.expected(),
               e.found());
    }
    placed(doc.pos(value.key),
           [&] { builder.add_definition(value.name, text); });
  }
}

}  // namespace identify
