// The fit report's text: four sections (run, residuals, entries,
// identifiability), label and value in aligned columns, the formulas named
// next to the numbers they give so that the report can be read without the
// program's documentation.
#include "output/fit_report.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <locale>
#include <sstream>

#include "fit/wording.h"

namespace identify {

namespace {

// Numbers in %g with six digits; a zero of either sign is "0".
std::string number(double v) { return number_text(v); }

std::string dof_text(std::int64_t dof) {
  return count_text(dof, "degree of freedom", "degrees of freedom");
}

void line(std::ostream& out, const std::string& label, const std::string& value,
          const std::string& note = "") {
  report_line(out, label, value, note);
}

const char* status_text(ParameterStatus status) {
  switch (status) {
    case ParameterStatus::kFree:
      return "free";
    case ParameterStatus::kFixed:
      return "fixed";
    case ParameterStatus::kOnLowerBound:
      return "on lower bound";
    case ParameterStatus::kOnUpperBound:
      return "on upper bound";
  }
  return "";
}

// A report stays readable when J is far from full rank: the combinations
// listed, and the terms shown of each (the largest), are capped.
constexpr std::size_t kMaxDirections = 10;
constexpr std::size_t kMaxTerms = 8;

// "a12 - 0.5*a21": the coefficients of a flat direction, +1 and −1 shown by
// their sign alone, the largest kMaxTerms of them.
std::string combination(const FlatDirection& flat,
                        const std::vector<ParameterEstimate>& names) {
  std::ostringstream s;
  s.imbue(std::locale::classic());
  const std::size_t shown = std::min(flat.parameters.size(), kMaxTerms);
  for (std::size_t t = 0; t < shown; ++t) {
    const double c = flat.coefficients[t];
    const double size = std::abs(c);
    if (t > 0)
      s << (c < 0 ? " - " : " + ");
    else if (c < 0)
      s << "-";
    // A coefficient that shows as 1 at six digits is written as the name
    // alone, as an exact 1 is.
    if (number_text(size) != "1") s << size << "*";
    s << names[flat.parameters[t]].name;
  }
  if (shown < flat.parameters.size()) {
    s << " + ... ("
      << count_text(static_cast<std::int64_t>(flat.parameters.size() - shown),
                    "smaller term", "smaller terms")
      << ")";
  }
  return s.str();
}

void run_section(std::ostream& out, const RunSummary& run) {
  out << "Run\n";
  line(out, "method", run.method);
  line(out, "model", run.model);
  line(out, "stop", run.stop);
  line(out, "iterations", std::to_string(run.iterations));
  line(out, "time", number(run.seconds) + " s");
}

void residual_section(std::ostream& out, const FitStatistics& st) {
  out << "\nResiduals (the measured samples; the point at t = 0 of each "
         "series stands for x0 and is not counted)\n";
  line(out, "residual norm", number(st.norm), "sqrt(SSR)");
  line(out, "sum of squares SSR", number(st.ssr));
  line(out, "residuals n", std::to_string(st.residuals));
  line(out, "free entries p", std::to_string(st.free_parameters),
       "neither fixed nor on a bound");
  if (st.dof > 0) {
    line(out, "degrees of freedom n - p", std::to_string(st.dof));
  } else if (st.dof == 0) {
    line(out, "degrees of freedom n - p", "0",
         "as many residuals as free entries: the fit can pass through every "
         "sample, which leaves nothing to estimate the error from");
  } else {
    line(out, "degrees of freedom n - p", "none",
         "fewer residuals (" + std::to_string(st.residuals) +
             ") than free entries (" + std::to_string(st.free_parameters) +
             "): the data cannot determine every free entry");
  }
  if (st.residuals == 0) {
    line(out, "RMS residual", "n/a", "no residuals");
  } else {
    line(out, "RMS residual", number(st.rms), "sqrt(SSR/n)");
  }
  if (st.dof <= 0) {
    line(out, "residual standard error s", "n/a", "no degrees of freedom");
  } else {
    line(out, "residual standard error s", number(st.residual_standard_error),
         "sqrt(SSR/(n - p)), on " + dof_text(st.dof));
  }
  if (st.residuals == 0) {
    line(out, "AIC", "n/a", "no residuals");
    line(out, "BIC", "n/a", "no residuals");
  } else {
    line(out, "AIC", number(st.aic),
         "n*(ln(2*pi) + ln(SSR/n) + 1) + 2*(p + 1), Gaussian errors");
    line(out, "BIC", number(st.bic),
         "n*(ln(2*pi) + ln(SSR/n) + 1) + ln(n)*(p + 1)");
  }
}

void entry_section(std::ostream& out, const FitStatistics& st) {
  out << "\nEntries\n";
  // A sum of squares that is not finite leaves every entry unassessed,
  // which is not the same as not determined by the data.
  const bool finite = std::isfinite(st.ssr);
  if (!finite) {
    out << "  no standard errors: the sum of squares is not finite\n";
  } else if (st.dof > 0) {
    out << "  standard errors from s^2*(J^T*J)^-1, J the Jacobian of the "
           "residuals with respect to the free entries;\n"
        << "  95% interval: value -/+ t*(standard error), t = "
        << number(st.t_quantile) << " (Student's t, " << dof_text(st.dof)
        << ")\n";
  } else {
    out << "  no standard errors: no degrees of freedom\n";
  }
  out << '\n'
      << "  " << std::left << std::setw(10) << "entry" << std::setw(14)
      << "value" << std::setw(18) << "status" << std::setw(14) << "std. error"
      << "95% interval\n";
  for (const ParameterEstimate& e : st.parameters) {
    std::ostringstream row;
    row << "  " << std::left << std::setw(10) << e.name << std::setw(14)
        << number(e.value) << std::setw(18) << status_text(e.status);
    if (e.status == ParameterStatus::kFree) {
      if (!finite) {
        row << "n/a";
      } else if (!e.determined) {
        row << "not determined by the data";
      } else if (std::isnan(e.standard_error)) {
        row << "n/a";
      } else {
        row << std::setw(14) << number(e.standard_error) << number(e.lower95)
            << " .. " << number(e.upper95);
      }
    }
    std::string text = row.str();
    text.erase(text.find_last_not_of(' ') + 1);
    out << text << '\n';
  }
}

// "3 free entries", "1 estimated parameter".
std::string counted(std::int64_t count, const ReportNouns& n) {
  return count_text(count, std::string(n.moving) + " " + n.one,
                    std::string(n.moving) + " " + n.many);
}

void flat_directions(std::ostream& out, const FitStatistics& st,
                     const ReportNouns& n) {
  out << "  the data cannot tell these combinations of " << n.many
      << " apart (moving the " << n.many
      << " along one leaves the fit unchanged to first order, or nearly "
         "so):\n";
  const std::size_t shown = std::min(st.flat.size(), kMaxDirections);
  for (std::size_t d = 0; d < shown; ++d) {
    const FlatDirection& f = st.flat[d];
    out << "    " << combination(f, st.parameters) << "   ("
        << (f.ratio == 0.0 ? std::string("rank-deficient")
                           : "singular value ratio " + number(f.ratio))
        << ")\n";
  }
  if (shown < st.flat.size()) {
    out << "    ... and " << st.flat.size() - shown
        << " more: the data determine only "
        << count_text(st.rank, "independent combination",
                      "independent combinations")
        << " of the " << counted(st.free_parameters, n) << "\n";
  }
}

}  // namespace

void report_line(std::ostream& out, const std::string& label,
                 const std::string& value, const std::string& note) {
  out << "  " << std::left << std::setw(28) << label << value;
  if (!note.empty()) out << "   " << note;
  out << '\n';
}

void report_identifiability(std::ostream& out, const FitStatistics& st,
                            const ReportNouns& n) {
  out << "\nIdentifiability\n";
  if (st.free_parameters == 0) {
    out << "  no " << n.moving << " " << n.many << "\n";
    return;
  }
  if (std::isnan(st.condition)) {
    out << "  not assessed: the sum of squares is not finite\n";
    return;
  }
  line(out, "rank of J",
       std::to_string(st.rank) + " of " + counted(st.free_parameters, n));
  line(out, "condition number of J", number(st.condition),
       "columns scaled to unit norm; above " + number(kIllConditioned) +
           " counts as ill-conditioned");
  if (st.flat.empty()) {
    out << "  every " << n.moving << " " << n.one
        << " is resolved by the data\n";
  } else {
    flat_directions(out, st, n);
  }
  if (st.correlated.empty()) {
    out << "  no pair of " << n.many << " has |correlation| above "
        << number(kHighCorrelation) << '\n';
  } else {
    out << "  pairs of " << n.many << " with |correlation| above "
        << number(kHighCorrelation) << ":\n";
    for (const Correlation& c : st.correlated) {
      out << "    " << st.parameters[c.first].name << ", "
          << st.parameters[c.second].name << ": " << number(c.value) << '\n';
    }
  }
}

std::string format_fit_report(const FitStatistics& stats,
                              const RunSummary& run) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << "Fit report\n\n";
  run_section(out, run);
  residual_section(out, stats);
  entry_section(out, stats);
  report_identifiability(out, stats, kEntryNouns);
  return out.str();
}

}  // namespace identify
