// A parameter's fields and an observable's noise fields, each read from
// its own node and refused there: the scale and the transformation are
// lin, log or log10, the distribution normal or laplace.
#include "input/yaml_fields.h"

#include <optional>
#include <string>

#include "core/quoted_text.h"

namespace identify {

Parameter read_yaml_parameter(const YamlDocument& doc, const YamlEntry& entry) {
  const std::vector<YamlEntry> fields =
      doc.entries(entry, {"lower", "upper", "scale", "value", "estimate"},
                  "lower, upper, scale, value and estimate");
  Parameter p;
  p.name = entry.name;
  const YamlEntry* lower = find_entry(fields, "lower");
  if (lower) p.lower = doc.number(*lower, true);
  if (const YamlEntry* e = find_entry(fields, "upper")) {
    p.upper = doc.number(*e, true);
  }
  if (const YamlEntry* e = find_entry(fields, "scale")) {
    const std::string text = doc.scalar(*e, "a scale");
    const std::optional<Scale> scale = parse_scale(text);
    if (!scale)
      doc.fail(doc.pos(*e), "a scale lin, log or log10", quote_text(text));
    p.scale = *scale;
  }
  if (lower && p.scale != Scale::kLin && !(p.lower > 0.0)) {
    doc.fail(doc.pos(*lower),
             "parameter " + p.name + ": a lower bound above 0 for a " +
                 scale_name(p.scale) + "-scaled parameter",
             lower->value.Scalar());
  }
  if (const YamlEntry* e = find_entry(fields, "estimate")) {
    p.estimated = doc.boolean(*e);
  }
  if (const YamlEntry* e = find_entry(fields, "value")) {
    p.value = doc.number(*e, false);
  } else if (!p.estimated) {
    doc.fail(doc.pos(entry.key),
             "parameter " + p.name +
                 ": a value for a parameter that is not estimated",
             "none");
  } else {
    p.value = default_start(p.lower, p.upper, p.scale);
  }
  return p;
}

NoiseModel read_noise_model(const YamlDocument& doc,
                            const std::vector<YamlEntry>& fields) {
  NoiseModel noise;
  if (const YamlEntry* t = find_entry(fields, "transformation")) {
    const std::string text = doc.scalar(*t, "a transformation");
    const std::optional<Scale> h = parse_scale(text);
    if (!h) {
      doc.fail(doc.pos(*t), "a transformation lin, log or log10",
               quote_text(text));
    }
    noise.transformation = *h;
  }
  if (const YamlEntry* d = find_entry(fields, "distribution")) {
    const std::string text = doc.scalar(*d, "a distribution");
    const std::optional<Distribution> p = parse_distribution(text);
    if (!p) {
      doc.fail(doc.pos(*d), "a distribution normal or laplace",
               quote_text(text));
    }
    noise.distribution = *p;
  }
  return noise;
}

}  // namespace identify
