// The report of a problem file. With unit sigma the residuals' scale is
// estimated from the fit (s² = SSR/(n − p)) as in the legacy report; with
// sigma given the sum of squares is chi-square on n − p degrees of freedom
// and the standard errors take the sigmas as they are, so the report states
// which of the two it is before any standard error.
#include "output/problem_report.h"

#include <cmath>
#include <iomanip>
#include <locale>
#include <sstream>

#include "fit/wording.h"
#include "output/fit_report.h"

namespace identify {

namespace {

constexpr ReportNouns kParameterNouns{"parameter", "parameters", "estimated"};

std::string number(double v) { return number_text(v); }

std::string dof_text(std::int64_t dof) {
  return count_text(dof, "degree of freedom", "degrees of freedom");
}

void run_section(std::ostream& out, const ProblemReport& r) {
  out << "Run\n";
  report_line(out, "problem file", r.problem_file);
  report_line(out, "method", r.method);
  report_line(out, "model", r.model);
  if (r.fits.size() > 1) {
    const std::string threads = count_text(r.threads, "thread", "threads");
    report_line(out, "fits",
                std::to_string(r.fits.size()) + ", one per experiment",
                r.one_after_another ? "one after another, each on " + threads
                                    : "on " + threads);
  }
  report_line(out, "time", number(r.seconds) + " s");
  out << "\nData\n";
  for (const ProblemReport::Table& t : r.tables) {
    report_line(
        out, t.path,
        count_text(static_cast<std::int64_t>(t.measurements), "measurement",
                   "measurements"),
        t.missing == 0
            ? "no missing values"
            : count_text(static_cast<std::int64_t>(t.missing),
                         "missing value skipped", "missing values skipped"));
  }
}

void degrees_of_freedom(std::ostream& out, const FitStatistics& st) {
  if (st.dof > 0) {
    report_line(out, "degrees of freedom n - p", std::to_string(st.dof));
  } else if (st.dof == 0) {
    report_line(out, "degrees of freedom n - p", "0",
                "as many measurements as estimated parameters: nothing is "
                "left to judge the fit by");
  } else {
    report_line(out, "degrees of freedom n - p", "none",
                "fewer measurements than estimated parameters: the data "
                "cannot determine every parameter");
  }
}

void residual_section(std::ostream& out, const FitStatistics& st) {
  out << "\nResiduals (r = (model - measurement)/sigma)\n";
  report_line(out, "measurements n", std::to_string(st.residuals));
  report_line(out, "estimated parameters p", std::to_string(st.free_parameters),
              "neither fixed nor on a bound");
  degrees_of_freedom(out, st);
  if (st.likelihood) {
    report_line(out, "-2 ln L", number(st.minus_two_log_l),
                "the densities of the measurements on their own scale");
    report_line(out, "sum of r^2", number(st.ssr),
                "r on each observable's transformed scale");
    report_line(out, "AIC", number(st.aic), "-2 ln L + 2*p");
    report_line(out, "BIC", number(st.bic), "-2 ln L + ln(n)*p");
    return;
  }
  if (st.sigma_given) {
    report_line(out, "chi-square", number(st.ssr),
                "sum of r^2, the measurements' own sigma");
    if (st.dof > 0) {
      report_line(out, "reduced chi-square",
                  number(st.ssr / static_cast<double>(st.dof)),
                  "chi-square/(n - p); near 1 when model and sigma are right");
      report_line(out, "chi-square probability", number(st.chi_square_p),
                  "P(chi-square on " + dof_text(st.dof) +
                      " >= " + number(st.ssr) +
                      "); small: a misfit larger than sigma explains");
    }
    report_line(out, "-2 ln L", number(st.minus_two_log_l),
                "chi-square + sum of ln(2*pi*sigma^2), the constant part "
                "(+ 2*ln(measurement) terms on log scales)");
    report_line(out, "AIC", number(st.aic),
                "chi-square + sum of ln(2*pi*sigma^2) + 2*p");
    report_line(out, "BIC", number(st.bic),
                "chi-square + sum of ln(2*pi*sigma^2) + ln(n)*p");
    return;
  }
  report_line(out, "sum of squares SSR", number(st.ssr), "sum of r^2, sigma 1");
  report_line(out, "residual norm", number(st.norm), "sqrt(SSR)");
  if (st.dof > 0) {
    report_line(out, "residual standard error s",
                number(st.residual_standard_error),
                "sqrt(SSR/(n - p)), on " + dof_text(st.dof));
  }
  if (st.residuals > 0) {
    report_line(out, "AIC", number(st.aic),
                "n*(ln(2*pi) + ln(SSR/n) + 1) + 2*(p + 1), Gaussian errors");
    report_line(out, "BIC", number(st.bic),
                "n*(ln(2*pi) + ln(SSR/n) + 1) + ln(n)*(p + 1)");
  }
}

// How the standard errors and intervals were obtained, or why there are
// none.
void error_basis(std::ostream& out, const FitStatistics& st) {
  if (!std::isfinite(st.ssr)) {
    out << (st.likelihood
                ? "  no standard errors: -2 ln L is not finite\n"
                : "  no standard errors: the sum of squares is not finite\n");
    return;
  }
  if (!st.sigma_given && st.dof <= 0) {
    out << "  no standard errors: no degrees of freedom\n";
    return;
  }
  out << (st.likelihood
              ? "  standard errors from the inverse of the expected Fisher "
                "information of the likelihood\n  (noise parameters "
                "included)\n"
          : st.sigma_given
              ? "  standard errors from (J^T*J)^-1 with the measurements' own "
                "sigma, J the Jacobian of r\n"
              : "  standard errors from s^2*(J^T*J)^-1, J the Jacobian of r\n")
      << "  with respect to the estimated parameters on their scales, in the "
         "parameters' own units;\n"
      << "  95% interval: -/+ ";
  if (st.sigma_given) {
    out << number(st.t_quantile) << "*(standard error) (normal quantile)";
  } else {
    out << "t*(standard error), t = " << number(st.t_quantile)
        << " (Student's t, " << dof_text(st.dof) << ")";
  }
  out << ",\n  for log and log10 parameters on that scale and transformed "
         "back\n";
}

std::string interval(const ParameterEstimate& e) {
  return number(e.lower95) + (e.lower_cut ? "*" : "") + " .. " +
         number(e.upper95) + (e.upper_cut ? "*" : "");
}

void parameter_section(std::ostream& out, const FitResultView& view) {
  const FitStatistics& st = *view.stats;
  out << "\nParameters\n";
  error_basis(out, st);
  out << '\n'
      << "  " << std::left << std::setw(14) << "parameter" << std::setw(7)
      << "scale" << std::setw(14) << "estimate" << std::setw(16) << "status"
      << std::setw(14) << "std. error"
      << "95% interval\n";
  bool cut = false;
  for (int k : view.parameters) {
    const ParameterEstimate& e = st.parameters[k];
    std::ostringstream row;
    row << "  " << std::left << std::setw(14) << e.name << std::setw(7)
        << scale_name(view.problem->parameters[k].scale) << std::setw(14)
        << number(e.value) << std::setw(16) << status_word(st, k);
    if (!std::isnan(e.standard_error)) {
      row << std::setw(14) << number(e.standard_error) << interval(e);
      cut = cut || e.lower_cut || e.upper_cut;
    }
    std::string text = row.str();
    text.erase(text.find_last_not_of(' ') + 1);
    out << text << '\n';
  }
  if (cut) out << "  * the interval crossed the bound and is cut there\n";
}

void fit_sections(std::ostream& out, const ProblemReport::Fit& fit) {
  const FitResultView& view = *fit.view;
  if (!view.experiment.empty()) {
    out << "\nExperiment " << view.experiment << "\n";
  } else {
    out << "\nFit\n";
  }
  report_line(out, "stop", fit.stop);
  report_line(out, "iterations", std::to_string(fit.iterations));
  residual_section(out, *view.stats);
  parameter_section(out, view);
  report_identifiability(out, *view.stats, kParameterNouns);
  out << fit.search_sections;
}

}  // namespace

std::string format_problem_report(const ProblemReport& report) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << "Fit report\n\n";
  run_section(out, report);
  for (const ProblemReport::Fit& fit : report.fits) fit_sections(out, fit);
  return out.str();
}

}  // namespace identify
