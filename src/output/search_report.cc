// Text of the starts and profile sections. Objectives of optima are shown
// with ten significant digits, so that optima the data cannot tell apart
// visibly agree and close ones visibly differ; everything else in the
// report's %g with six.
#include "output/search_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <locale>
#include <sstream>

#include "fit/wording.h"

namespace identify {

namespace {

std::string number(double v) { return number_text(v); }

std::string precise(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

void line(std::ostream& out, const std::string& label, const std::string& value,
          const std::string& note = "") {
  out << "  " << std::left << std::setw(28) << label << value;
  if (!note.empty()) out << "   " << note;
  out << '\n';
}

// Cell k padded to widths[k] (the last width repeats), at least one blank
// after each; the line's trailing blanks dropped.
void row(std::ostream& out, const std::vector<std::string>& cells,
         const std::vector<std::size_t>& widths) {
  std::string text = "  ";
  for (std::size_t k = 0; k < cells.size(); ++k) {
    const std::string& c = cells[k];
    const std::size_t w = widths[std::min(k, widths.size() - 1)];
    text += c;
    text.append(c.size() < w ? w - c.size() : 1, ' ');
  }
  text.erase(text.find_last_not_of(' ') + 1);
  out << text << '\n';
}

void start_counts(std::ostream& out, const StartsReport& r) {
  const auto starts = static_cast<std::int64_t>(r.outcomes.size());
  int redraws = 0, unfinished = 0, skipped = 0, capped = 0;
  for (const StartOutcome& o : r.outcomes) {
    redraws += o.redraws;
    skipped += o.skipped;
    capped += o.capped;
    unfinished += !o.finished && !o.skipped && !o.capped;
  }
  line(out, "starts", std::to_string(starts),
       starts == 1 ? "the usual start"
                   : "the usual start and " +
                         count_text(starts - 1, "Latin hypercube sample",
                                    "Latin hypercube samples") +
                         " in the bounds");
  line(out, "seed", std::to_string(r.seed),
       "--seed " + std::to_string(r.seed) + " draws the same starts again");
  line(out, "re-drawn starts", std::to_string(redraws),
       "draws rejected because the objective was not finite there");
  if (unfinished > 0) {
    line(out, "starts without a result", std::to_string(unfinished),
         "no finite start in " + std::to_string(kMaxStartDraws) +
             " draws, or the fit did not end at a finite objective");
  }
  if (capped > 0) {
    line(out, "starts not converged", std::to_string(capped),
         "drawn starts still improving after " +
             std::to_string(kDrawnStartIterations) +
             " iterations: not counted as optima");
  }
  if (skipped > 0) {
    line(out, "starts not run", std::to_string(skipped),
         "the run was interrupted first");
  }
  line(out, "distinct optima", std::to_string(r.optima.size()),
       "end points count as one optimum when their objectives agree to " +
           number(kSameObjective) +
           " relative or they lie within 1% of each other, with no ridge "
           "between them");
}

void optima_table(std::ostream& out, const StartsReport& r) {
  out << '\n';
  const std::vector<std::size_t> widths = {10, 16, 8, 13, 12};
  row(out, {"optimum", "objective", "starts", "within 1e-6", "first start"},
      widths);
  const std::size_t shown = std::min(r.optima.size(), kOptimaListed);
  for (std::size_t q = 0; q < shown; ++q) {
    const Optimum& o = r.optima[q];
    row(out,
        {std::to_string(q + 1), precise(o.objective),
         std::to_string(o.starts.size()), std::to_string(o.within),
         std::to_string(o.starts.front() + 1)},
        widths);
  }
  if (shown < r.optima.size()) {
    out << "  ... and " << r.optima.size() - shown << " more\n";
  }
  std::vector<std::string> tied;
  for (std::size_t q = 0; q < r.optima.size(); ++q) {
    if (r.optima[q].tied) tied.push_back(std::to_string(q + 1));
  }
  if (tied.size() > 1) {
    std::string list = tied[0];
    for (std::size_t k = 1; k < tied.size(); ++k) {
      list += (k + 1 == tied.size() ? " and " : ", ") + tied[k];
    }
    out << "\n  optima " << list << " have objectives that agree to "
        << number(kTiedObjective)
        << " relative: the data cannot tell them apart; the result is "
           "optimum 1, the one reached from the earliest start (start "
        << r.optima[0].starts.front() + 1 << ")\n";
  }
}

void optima_parameters(std::ostream& out, const StartsReport& r) {
  const std::size_t shown = std::min(r.optima.size(), kOptimaDetailed);
  if (shown == 0) return;
  out << '\n';
  std::vector<std::string> head = {"parameter"};
  for (std::size_t q = 0; q < shown; ++q) {
    head.push_back("optimum " + std::to_string(q + 1));
  }
  row(out, head, {12, 14});
  for (std::size_t j = 0; j < r.names.size(); ++j) {
    std::vector<std::string> cells = {r.names[j]};
    for (std::size_t q = 0; q < shown; ++q) {
      cells.push_back(number(from_scaled(r.scales[j], r.optima[q].x[j])));
    }
    row(out, cells, {12, 14});
  }
}

std::string threshold_formula(const ProfileThreshold& t, std::int64_t n,
                              int p) {
  if (t.kind == ThresholdKind::kLikelihoodRatio) {
    return "S <= S* + " + number(t.quantile) + " = " + number(t.optimum) +
           " + " + number(t.quantile) +
           ": likelihood ratio, chi-square with 1 degree of freedom, 95% " +
           (t.likelihood ? "(S is -2 ln L)"
                         : "(S is the chi-square of the weighted residuals)");
  }
  return "S <= S* * (1 + t^2/(n - p)) = " + number(t.optimum) + " * (1 + " +
         number(t.quantile) + "^2/" + std::to_string(t.dof) +
         "): profile-t, errors of unknown size; t = t(0.975, n - p), n = " +
         std::to_string(n) + ", p = " + std::to_string(p);
}

// Why a side is not closed by the threshold, or nothing for a closed one.
std::string open_side_note(const ProfileRow& r, int direction) {
  const char* side = direction < 0 ? "below" : "above";
  const SideEnd end = direction < 0 ? r.lower_end : r.upper_end;
  const double value = direction < 0 ? r.lower : r.upper;
  const std::string where = r.name + ", " + side + ": ";
  const std::string along = direction < 0 ? "down to " : "up to ";
  if (held_by_bound(r, direction)) {
    return where + "the estimate rests on its " +
           (direction < 0 ? "lower" : "upper") + " bound " + number(value) +
           ", so the interval ends there; it counts as fixed in p, as in the "
           "residual statistics";
  }
  switch (end) {
    case SideEnd::kBound:
      return where + "the profile stays below the threshold " + along +
             "the bound " + number(value) + ": not identifiable on this side";
    case SideEnd::kSearchLimit:
      return where + "the profile stays below the threshold " + along +
             number(value) +
             ", as far as it was followed: not identifiable on this side";
    case SideEnd::kNotFinite:
      return where + "the objective is not finite beyond " + number(value) +
             ", below the threshold up to there";
    case SideEnd::kBelowOptimum:
      return where + "the profile still found a lower objective at " +
             number(value);
    case SideEnd::kInterrupted:
      return where + "interrupted; the profile stays below the threshold " +
             along + number(value) + ", as far as it was followed";
    default:
      return "";
  }
}

}  // namespace

std::string format_starts_section(const StartsReport& report) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << "\nStarts\n";
  start_counts(out, report);
  if (!report.optima.empty()) {
    optima_table(out, report);
    optima_parameters(out, report);
  }
  return out.str();
}

std::string format_profiles_section(const ProfilesReport& report) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << "\nProfile likelihood\n";
  line(out, "threshold", number(report.threshold.value),
       threshold_formula(report.threshold, report.n, report.p));
  out << "  each side: the parameter steps away from the optimum with the "
         "others re-fitted, until S passes the threshold (located to 1e-07 "
         "relative) or the parameter reaches its bound\n";
  if (report.restarts > 0) {
    out << "  a profile found a lower objective than the fit's result: the "
           "fit restarted there ("
        << count_text(report.restarts, "time", "times")
        << "), and the optimum reported is the lower one\n";
  }
  out << '\n';
  const std::vector<std::size_t> widths = {12, 14, 28, 28};
  row(out, {"parameter", "value", "profile 95% interval", "Wald 95% interval"},
      widths);
  std::vector<std::string> notes;
  for (const ProfileRow& r : report.rows) {
    const std::string wald =
        std::isnan(r.wald_lower) || std::isnan(r.wald_upper)
            ? (r.wald_note.empty() ? std::string("n/a") : r.wald_note)
            : number(r.wald_lower) + " .. " + number(r.wald_upper);
    row(out,
        {r.name, number(r.estimate),
         profile_side_text(r, -1) + " .. " + profile_side_text(r, 1), wald},
        widths);
    for (const std::string& note :
         {open_side_note(r, -1), open_side_note(r, 1)}) {
      if (!note.empty()) notes.push_back(note);
    }
  }
  if (!notes.empty()) out << '\n';
  for (const std::string& note : notes) out << "  " << note << '\n';
  return out.str();
}

bool held_by_bound(const ProfileRow& r, int direction) {
  return direction < 0 ? r.lower_end == SideEnd::kBound && r.on_lower_bound
                       : r.upper_end == SideEnd::kBound && r.on_upper_bound;
}

std::string profile_side_text(const ProfileRow& row, int direction) {
  const SideEnd end = direction < 0 ? row.lower_end : row.upper_end;
  const double value = direction < 0 ? row.lower : row.upper;
  if (held_by_bound(row, direction)) return number(value) + " (bound)";
  switch (end) {
    case SideEnd::kCrossed:
      return number(value);
    case SideEnd::kInterrupted:
      return "interrupted";
    default:
      return "open";
  }
}

}  // namespace identify
