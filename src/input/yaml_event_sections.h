// The sections of a problem file about its event tables:
//
//   ignore: [AGE, SEX]               # columns of the tables not read
//   compartments: [gut, central]     # the states CMT 1, 2, ... name
//   dose_state: gut                  # doses without a CMT (default: the
//                                    # first state)
//   covariate_interpolation: locf    # or nocb
//   events: study.csv                # an event table or a list of them
//
// (`covariates: [WT]`, the columns that expressions may use, is read with
// the parameters, since the matrix may use them.) Faults are InputErrors at
// the node concerned.
#pragma once

#include <memory>
#include <vector>

#include "input/event_table.h"
#include "input/event_translation.h"
#include "input/text_file.h"
#include "input/yaml_document.h"
#include "problem/problem_builder.h"

namespace identify {

// Reads ignore, compartments, dose_state and covariate_interpolation from
// the top-level entries `top`; the states named must be the builder's.
void read_event_sections(const YamlDocument& doc,
                         const std::vector<YamlEntry>& top,
                         const ProblemBuilder& builder,
                         EventColumnNames& columns, EventSettings& settings);

// An event table read and held until its records are added.
struct EventSource {
  EventSource(const TextFile& f, const EventColumnNames& names)
      : file(f), table(read_event_table(file, names)) {}
  TextFile file;
  EventTable table;
};

}  // namespace identify
