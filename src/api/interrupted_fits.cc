// The three ends of a fit under an interrupt, from its summary alone: not
// interrupted (fitted), interrupted after an iteration finished (cut short:
// its best point is a result), interrupted before (no result: its θ is
// only the start).
#include "api/interrupted_fits.h"

namespace identify {

namespace {

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) {
    text += (text.empty() ? "" : ", ") + name;
  }
  return text;
}

}  // namespace

bool has_result(const ProblemFit& fit) {
  return fit.summary.termination != Termination::kInterrupted ||
         fit.summary.has_best;
}

std::string interrupted_fits_line(const std::vector<ProblemFit>& fits,
                                  int signal) {
  std::vector<std::string> fitted, cut, not_fitted;
  for (const ProblemFit& fit : fits) {
    if (!has_result(fit)) {
      not_fitted.push_back(fit.experiment);
    } else if (fit.summary.termination == Termination::kInterrupted) {
      cut.push_back(fit.experiment);
    } else {
      fitted.push_back(fit.experiment);
    }
  }
  std::string line = "interrupted by signal " + std::to_string(signal);
  std::string sep = ": ";
  if (!fitted.empty()) {
    line += sep + "fitted: " + joined(fitted);
    sep = "; ";
  }
  if (!cut.empty()) {
    line +=
        sep + "cut short (the best point so far is written): " + joined(cut);
    sep = "; ";
  }
  if (!not_fitted.empty()) {
    line += sep + "not fitted (left out of the outputs): " + joined(not_fitted);
  }
  return line;
}

bool cut_short(const Summary& summary, const SearchResults& search) {
  if (summary.termination == Termination::kInterrupted) return true;
  if (!search.profiles) return false;
  for (const ProfileRow& row : search.profiles->rows) {
    if (row.lower_end == SideEnd::kInterrupted ||
        row.upper_end == SideEnd::kInterrupted) {
      return true;
    }
  }
  return false;
}

bool any_cut_short(const std::vector<ProblemFit>& fits) {
  for (const ProblemFit& fit : fits) {
    if (cut_short(fit.summary, fit.search)) return true;
  }
  return false;
}

std::vector<ProblemFit> fits_with_results(std::vector<ProblemFit>& fits) {
  std::vector<ProblemFit> kept;
  for (ProblemFit& fit : fits) {
    if (has_result(fit)) kept.push_back(std::move(fit));
  }
  return kept;
}

}  // namespace identify
