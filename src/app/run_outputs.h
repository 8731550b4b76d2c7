// What a run leaves behind once its fits have run, in one sequence for
// every input; the input picks only the writers of its own result:
//   1. a signal that came after the last iteration, said once;
//   2. the verdicts and the input's own result (the legacy files:
//      output.txt, the matrix on the console, the time line; a problem
//      file: the kept console text of several fits, and after an interrupt
//      the fits without a result left out);
//   3. the end of --history;
//   4. the input's result tables (a problem file: --parameters, --fit and
//      the parameter table on the console);
//   5. --report, --profiles, --trajectory and --plot, as asked for.
// Each file is written only if the writing phase admits it, and a failure
// costs none of the others.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "api/pipeline.h"
#include "app/options.h"
#include "app/output_sink.h"
#include "app/run_input.h"
#include "output/fd_stream.h"

namespace identify {

// A run whose fits have run.
struct RunOutcome {
  const Options& opt;
  const RunInput& input;
  PreparedRun& run;
  int signal = 0;        // of the fit stages (0: none)
  double seconds = 0.0;  // the run's wall time so far
};

// The writers of one input: the parts of the sequence above that differ.
class InputWriters {
 public:
  virtual ~InputWriters() = default;
  // Step 2.
  virtual void write_result(OutputSink& sink, std::ostream& out,
                            std::ostream& err) = 0;
  // Step 4 (none for the legacy files).
  virtual void write_tables(OutputSink& sink, std::ostream& out) = 0;
  // The text of --report.
  virtual std::string report_text() = 0;
  // --trajectory and --plot, when either is asked for.
  virtual void write_model(OutputSink& sink) = 0;
};

// Runs the sequence with the writers of the outcome's input. `writing_signal`
// gets the signal that came while the outputs were written (0: none).
// Returns false if any output could not be written.
bool write_run(RunOutcome& outcome, std::optional<StreamedOutput>& history,
               int& writing_signal, std::ostream& out, std::ostream& err);

}  // namespace identify
