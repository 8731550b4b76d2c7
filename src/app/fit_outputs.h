// The optional accounts of a finished fit: the fit report, the fitted
// trajectory as CSV, and the plot. Each is asked for by its own option and
// written only after the result, so that none of them can cost it.
#pragma once

#include <iosfwd>

#include "app/fit_input.h"
#include "app/options.h"
#include "api/search_results.h"
#include "app/writing_phase.h"
#include "fit/norm_trace.h"
#include "fit/summary.h"
#include "model/model.h"

namespace identify {

// Writes what `opt` asks for (--report, --trajectory, --plot, --profiles)
// for the result θ of `summary`: the report from the statistics of θ (the
// model's Jacobian) and the sections of `search` (starts, profiles), the
// trajectory and the plot from Model::states at the input's trajectory
// times, the plot with the waterfall and profile panels of `search`, and
// the profile points. `choice` names the model and method in the report, and
// `seconds` is the run's wall time. A report named "-" goes to `err`. Stale
// temporary files of each file are removed first (file_names.h). A file that
// cannot be written gets "identify: cannot write FILE: reason" on `err` and
// the others are still written. Returns false if any of them failed, the
// report on `err` included. Each output is begun only if `writing` admits
// it.
bool write_fit_outputs(const Options& opt, const FitInput& input,
                       RunChoice choice, Model& model, const Summary& summary,
                       const NormTrace& trace, const SearchResults& search,
                       double seconds, WritingPhase& writing,
                       std::ostream& err);

}  // namespace identify
