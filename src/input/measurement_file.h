// The measurement file (input_data.txt): a positional list of numbers read
// without brackets. It holds K, then K component numbers (1-based), then P,
// then for each series in turn P pairs of (time, value). Counts are truncated
// toward zero; a component number is truncated, then 1 is subtracted.
// Numbers after the last pair are ignored, with a warning.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input/number_list.h"
#include "input/records.h"

namespace identify {

// Fills an ObservationRecord for a system of `dim` components on [0, T] and
// checks it: K >= 0, P >= 0, every component within 1 .. dim, every time
// within 0 .. T, every number finite, enough numbers for K and P. Point 0 of
// every series gets time 0.0 and value 0.0 (the driver anchors the value).
// Throws InputError at the place of the offending number. Numbers after the
// last sample add "file:line: warning: 2 numbers after the last sample are
// ignored" to *warnings (when not null).
ObservationRecord parse_measurements(
    const NumberList& list, std::int32_t dim, double T,
    std::vector<std::string>* warnings = nullptr);

// Reads path (opened read only; see read_input_file) and parses it. Warnings
// of the token loop and of the parse are appended to *warnings (when not
// null). Throws InputError.
ObservationRecord read_measurement_file(const std::string& path,
                                        std::int32_t dim, double T,
                                        std::vector<std::string>* warnings);

}  // namespace identify
