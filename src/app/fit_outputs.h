// The optional accounts of a finished fit: the fit report, the fitted
// trajectory as CSV, and the plot. Each is asked for by its own option and
// written only after output.txt, so that none of them can cost the result.
#pragma once

#include <iosfwd>

#include "app/options.h"
#include "fit/norm_trace.h"
#include "fit/stop.h"
#include "input/records.h"
#include "model/matrix_model.h"

namespace identify {

// Writes what `opt` asks for (--report, --trajectory, --plot) for the result
// A of `model`. A report named "-" goes to `err`. Stale temporary files of
// each file are removed first (file_names.h). A file that cannot be written
// gets "identify: cannot write FILE: reason" on `err` and the others are
// still written. Returns false if any of them failed, the report on `err`
// included.
bool write_fit_outputs(const Options& opt, const ProblemRecord& problem,
                       const ObservationRecord& obs, MatrixModel& model,
                       const Matrix& A, const IdentifyResult& result,
                       const NormTrace& trace, double seconds,
                       std::ostream& err);

}  // namespace identify
