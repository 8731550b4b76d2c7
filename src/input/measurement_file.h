// The measurement file (input_data.txt): a positional list of numbers read
// without brackets. It holds K, then K component numbers (1-based), then P,
// then for each series in turn P pairs of (time, value). Counts are truncated
// toward zero; a component number is truncated, then 1 is subtracted.
// Numbers after the last pair are ignored.
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
// Throws InputError at the place of the offending number.
ObservationRecord parse_measurements(const NumberList& list, std::int32_t dim,
                                     double T);

// Reads path (opened read only) and parses it. Warnings of the token loop are
// appended to *warnings. Throws InputError.
ObservationRecord read_measurement_file(const std::string& path,
                                        std::int32_t dim, double T,
                                        std::vector<std::string>* warnings);

}  // namespace identify
