// The writing phase of a run, written once: the writers of the input fill
// in their parts, every file passes through one OutputSink, and the phase
// ends by saying which outputs a signal left out.
#include "app/run_outputs.h"

#include <ostream>

#include "api/interrupted_fits.h"
#include "api/search_outputs.h"
#include "app/legacy_writers.h"
#include "app/problem_writers.h"
#include "app/writing_phase.h"

namespace identify {

namespace {

// A signal after the last iteration leaves the results whole.
void note_late_signal(const std::vector<ProblemFit>& fits, int signal,
                      std::ostream& err) {
  if (signal == 0 || any_cut_short(fits)) return;
  err << "identify: interrupted by signal " << signal << " after the "
      << (fits.size() > 1 ? "fits" : "fit") << " ended" << std::endl;
}

// Written as the fit went: only its last bytes and its name are left.
void finish_history(const Options& opt, std::optional<StreamedOutput>& history,
                    OutputSink& sink, std::ostream& err) {
  if (!history) return;
  const std::string error = history->finish();
  if (error.empty()) return;
  err << "identify: cannot write " << opt.history << ": " << error << std::endl;
  sink.fail();
}

// The profile points of every fit that has profiles.
void write_profiles(const Options& opt, const std::vector<ProblemFit>& fits,
                    OutputSink& sink) {
  std::vector<FitProfiles> profiled;
  for (const ProblemFit& fit : fits) {
    if (fit.search.profiles) profiled.push_back({fit.experiment, &fit.search});
  }
  if (profiled.empty()) return;
  sink.write(opt.profiles, [&] { return profile_table_text(profiled); });
}

}  // namespace

bool write_run(RunOutcome& outcome, std::optional<StreamedOutput>& history,
               int& writing_signal, std::ostream& out, std::ostream& err) {
  const Options& opt = outcome.opt;
  const std::vector<ProblemFit>& fits = outcome.run.fits;
  const std::unique_ptr<InputWriters> writers = outcome.input.legacy()
                                                    ? legacy_writers(outcome)
                                                    : problem_writers(outcome);
  note_late_signal(fits, outcome.signal, err);
  WritingPhase writing;
  OutputSink sink(writing, err);
  writers->write_result(sink, out, err);
  finish_history(opt, history, sink, err);
  if (fits.empty()) {
    err << "identify: no experiment has a result: the outputs are not written"
        << std::endl;
  } else {
    writers->write_tables(sink, out);
    if (!opt.report.empty()) {
      sink.write(opt.report, [&] { return writers->report_text(); });
    }
    if (!opt.profiles.empty()) write_profiles(opt, fits, sink);
    if (!opt.trajectory.empty() || !opt.plot.empty()) {
      writers->write_model(sink);
    }
  }
  writing_signal = writing.report(err);
  return sink.ok();
}

}  // namespace identify
