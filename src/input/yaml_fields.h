// The fields of a problem file's entries that stand on their own: a
// parameter (bounds, scale, value, whether it is estimated) and an
// observable's noise model (transformation and distribution).
#pragma once

#include <vector>

#include "input/yaml_document.h"
#include "problem/noise_model.h"
#include "problem/parameter.h"

namespace identify {

// The parameter of `entry` (its key the name). A value is required for a
// parameter that is not estimated; an estimated one without a value starts
// at default_start() of its bounds. Throws InputError at the offending
// node, also for a lower bound not above 0 on a log scale.
Parameter read_yaml_parameter(const YamlDocument& doc, const YamlEntry& entry);

// The transformation and distribution among an observable's `fields` (lin
// and normal when not given). Throws InputError at an unknown word.
NoiseModel read_noise_model(const YamlDocument& doc,
                            const std::vector<YamlEntry>& fields);

}  // namespace identify
