// The bootstrap table: one tab-separated row per replicate, fit after fit,
// with 17 significant digits so that the estimates read back as the same
// doubles.
#include "output/bootstrap_table.h"

#include <algorithm>
#include <cmath>

#include "core/exact_number.h"
#include "output/tsv_row.h"

namespace identify {

namespace {

std::string field(double v) {
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  if (std::isnan(v)) return "NaN";
  return exact_number(v);
}

}  // namespace

std::string format_bootstrap_table(const std::vector<std::string>& parameters,
                                   const std::vector<FitBootstrap>& fits) {
  const bool experiments =
      std::any_of(fits.begin(), fits.end(),
                  [](const FitBootstrap& f) { return !f.experiment.empty(); });
  std::vector<std::string> header = {"replicate", "resample", "objective",
                                     "status"};
  if (experiments) header.insert(header.begin(), "experiment");
  header.insert(header.end(), parameters.begin(), parameters.end());
  std::string text;
  add_tsv_row(text, header);
  for (const FitBootstrap& f : fits) {
    for (const BootstrapReplicate& r : f.report->replicates) {
      std::string drawn;
      for (const std::string& item : r.resample) {
        drawn += (drawn.empty() ? "" : ",") + item;
      }
      std::vector<std::string> row = {std::to_string(r.replicate), drawn,
                                      field(r.objective), r.status};
      if (experiments) row.insert(row.begin(), f.experiment);
      for (double v : r.theta) row.push_back(field(v));
      add_tsv_row(text, row);
    }
  }
  return text;
}

}  // namespace identify
