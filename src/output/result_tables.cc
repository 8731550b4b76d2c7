// Result tables. Every cell is produced by one formatting function, so that
// a file and the console agree on what a value is; the console's columns
// are as wide as their widest cell plus two blanks.
#include "output/result_tables.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string_view>

#include "fit/wording.h"
#include "output/output_file.h"
#include "output/profile_table.h"
#include "output/tsv_row.h"

namespace identify {

namespace {

std::string full(double v) {
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  if (std::isnan(v)) return "NaN";
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

// A value that may not exist: empty then.
std::string optional_full(double v) { return std::isnan(v) ? "" : full(v); }

bool any_experiment(const std::vector<FitResultView>& fits) {
  return std::any_of(fits.begin(), fits.end(), [](const FitResultView& f) {
    return !f.experiment.empty();
  });
}

}  // namespace

std::string status_word(const FitStatistics& stats, int parameter) {
  const ParameterEstimate& e = stats.parameters[parameter];
  switch (e.status) {
    case ParameterStatus::kFixed:
      return "fixed";
    case ParameterStatus::kOnLowerBound:
      return "at lower bound";
    case ParameterStatus::kOnUpperBound:
      return "at upper bound";
    case ParameterStatus::kFree:
      break;
  }
  return std::isfinite(stats.ssr) && !e.determined ? "not determined"
                                                   : "estimated";
}

std::string format_parameter_table(const std::vector<FitResultView>& fits) {
  const bool experiments = any_experiment(fits);
  std::string text;
  std::vector<std::string> header = {
      "parameterId", "estimate",     "standardError", "lower95",
      "upper95",     "scale",        "lowerBound",    "upperBound",
      "status",      "profileLower", "profileUpper"};
  if (experiments) header.insert(header.begin(), "experiment");
  const bool bootstrapped = std::any_of(
      fits.begin(), fits.end(),
      [](const FitResultView& f) { return f.bootstrap != nullptr; });
  if (bootstrapped) {
    header.insert(header.end(), {"bootstrapLower", "bootstrapUpper"});
  }
  add_tsv_row(text, header);
  for (const FitResultView& f : fits) {
    for (int k : f.parameters) {
      const Parameter& p = f.problem->parameters[k];
      const ParameterEstimate& e = f.stats->parameters[k];
      const auto [profile_lower, profile_upper] =
          f.profiles == nullptr ? std::pair<std::string, std::string>()
                                : profile_interval_fields(*f.profiles, p.name);
      std::vector<std::string> row = {p.name,
                                      full(e.value),
                                      optional_full(e.standard_error),
                                      optional_full(e.lower95),
                                      optional_full(e.upper95),
                                      scale_name(p.scale),
                                      full(p.lower),
                                      full(p.upper),
                                      status_word(*f.stats, k),
                                      profile_lower,
                                      profile_upper};
      if (experiments) row.insert(row.begin(), f.experiment);
      if (bootstrapped) {
        const bool have = f.bootstrap != nullptr;
        row.push_back(have ? optional_full(f.bootstrap->lower[k]) : "");
        row.push_back(have ? optional_full(f.bootstrap->upper[k]) : "");
      }
      add_tsv_row(text, row);
    }
  }
  return text;
}

namespace {

void append_cell(std::string& text, std::string_view cell) {
  text += '\t';
  text += cell;
}

// The fit table's rows of one fit, each appended to `text`; `flush` is
// called whenever the text has grown past kFitTableChunk bytes.
void append_fit_rows(const FitResultView& f, bool transformed,
                     std::string& text,
                     const std::function<void(std::string&)>& flush) {
  std::size_t m = 0;
  for (const Experiment& e : f.problem->experiments) {
    for (const Measurement& ms : e.measurements) {
      const double y = f.simulation[m];
      text += e.id;
      append_cell(text, f.problem->observables[ms.observable]);
      append_cell(text, full(ms.time));
      append_cell(text, full(ms.value));
      append_cell(text, full(y));
      append_cell(
          text, full(f.sigma.empty() ? ms.sigma.constant_value() : f.sigma[m]));
      append_cell(text, full(y - ms.value));
      append_cell(text, full(f.weighted[m]));
      if (transformed) {
        append_cell(
            text,
            scale_name(f.problem->noise_of(ms.observable).transformation));
        const bool kept = !f.transformed_simulation.empty();
        append_cell(text, full(kept ? f.transformed_measurement[m] : ms.value));
        append_cell(text, full(kept ? f.transformed_simulation[m] : y));
      }
      text += '\n';
      if (text.size() >= kFitTableChunk) flush(text);
      ++m;
    }
  }
}

}  // namespace

void stream_fit_table(const std::vector<FitResultView>& fits,
                      const std::function<void(std::string&)>& flush) {
  bool transformed = false;
  for (const FitResultView& f : fits) {
    for (const NoiseModel& n : f.problem->noise) {
      transformed |= n.transformation != Scale::kLin;
    }
  }
  std::string text;
  text.reserve(kFitTableChunk + 1024);
  std::vector<std::string> header = {"experiment",  "observable",      "time",
                                     "measurement", "simulation",      "sigma",
                                     "residual",    "weightedResidual"};
  if (transformed) {
    header.insert(header.end(), {"transformation", "transformedMeasurement",
                                 "transformedSimulation"});
  }
  add_tsv_row(text, header);
  for (const FitResultView& f : fits) {
    append_fit_rows(f, transformed, text, flush);
  }
  if (!text.empty()) flush(text);
}

std::string format_fit_table(const std::vector<FitResultView>& fits) {
  std::string whole;
  stream_fit_table(fits, [&](std::string& text) {
    whole += text;
    text.clear();
  });
  return whole;
}

std::string write_fit_table(const std::string& path,
                            const std::vector<FitResultView>& fits) {
  OutputFile file(path);
  if (file.fd() >= 0) {
    stream_fit_table(fits, [&](std::string& text) {
      if (file.error().empty()) file.write(text);
      text.clear();
    });
  }
  return file.commit();
}

void print_parameter_table(std::ostream& out,
                           const std::vector<FitResultView>& fits) {
  const bool experiments = any_experiment(fits);
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"parameter", "estimate", "std. error", "status"});
  if (experiments) rows.back().insert(rows.back().begin(), "experiment");
  for (const FitResultView& f : fits) {
    for (int k : f.parameters) {
      const ParameterEstimate& e = f.stats->parameters[k];
      rows.push_back({e.name, number_text(e.value),
                      std::isnan(e.standard_error)
                          ? std::string("-")
                          : number_text(e.standard_error),
                      status_word(*f.stats, k)});
      if (experiments) rows.back().insert(rows.back().begin(), f.experiment);
    }
  }
  std::vector<std::size_t> width(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) {
      width[c] = std::max(width[c], row[c].size());
    }
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line.append(width[c] + 2 - row[c].size(), ' ');
    }
    out << line << '\n';
  }
  out << '\n';
}

}  // namespace identify
