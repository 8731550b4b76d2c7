// Pictures of a fit: one panel per observed component with the measured
// samples as markers and the fitted model as a line over [0, T], one panel
// with the residual norm against the iteration on a log scale, and after a
// multi-start fit or profiles, the waterfall of the starts' final
// objectives and one panel per profile with its threshold. Drawn with
// PLplot; the format follows the file name's extension.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/table.h"

namespace identify {

// What the plot shows. Components are 0-based here and printed 1-based.
struct PlotData {
  // The fitted model: times (ascending, from 0 to T) and the N × times.size()
  // table of x_i at those times.
  std::vector<double> times;
  Table trajectory;
  // One panel per entry, in this order: the component, and its measured
  // samples (time, value) from every series that observes it. The implicit
  // point at t = 0 is not a measurement and is not among them.
  struct Panel {
    int component = 0;
    std::vector<double> sample_time;
    std::vector<double> sample_value;
  };
  std::vector<Panel> panels;
  // Residual norm against iteration, ascending in iteration; may be empty
  // (then that panel says there is no history). Several runs follow one
  // another with a NaN norm between them, each starting at its iteration 0.
  std::vector<std::int64_t> iterations;
  std::vector<double> norms;
  // The norms are −2 ln L (fit/objective.h): drawn as they are, on a
  // linear axis, negative values included.
  bool likelihood = false;
  // Problem files: when not empty, these panels take the place of the
  // component panels, each with its own title and axis label, the model's
  // line over a fine grid and the measurements as markers.
  struct Series {
    std::string title;  // "conc, subject1"
    std::string y_label;
    std::vector<double> line_time, line_value;
    std::vector<double> sample_time, sample_value;
  };
  // Optional extras of the series, entry s for series s: a second, dashed
  // line under the first (a population prediction) and the x axis label
  // when it is not "time" (a scatter of one quantity against another).
  struct SeriesExtra {
    std::vector<double> dashed_time, dashed_value;
    std::string x_label;
  };
  std::vector<SeriesExtra> series_extra;
  // No panel of the residual norm (a population fit has no such history).
  bool no_norm = false;
  std::vector<Series> series;
  // The measured values and the model on a logarithmic axis (values that
  // are not above 0 are left out).
  bool log_y = false;
  // A panel of the weighted residuals (model − measurement)/sigma against
  // time, when `residuals` is set.
  bool residuals = false;
  std::vector<double> residual_time, residual_value;
  // One panel per multi-start fit: the final objectives of its starts in
  // ascending order, and the experiment it fitted (with --separately; its
  // id ends the title).
  struct Waterfall {
    std::string experiment;
    std::vector<double> objectives;
  };
  std::vector<Waterfall> waterfalls;
  // One panel per profiled parameter: the objective at each profile point
  // (values ascending, unscaled) and the threshold of the interval; the
  // experiment as for a waterfall.
  struct Profile {
    std::string name;
    std::vector<double> values;
    std::vector<double> objectives;
    double threshold = 0.0;
    std::string experiment;
  };
  std::vector<Profile> profiles;
};

// The PLplot device for a file name: "svg" for .svg, "pngcairo" for .png,
// "pdfcairo" for .pdf (case-insensitive); empty for anything else.
std::string plot_device_for(const std::string& path);

// Draws `data` into `path` in the format of its extension, as an OutputFile:
// atomically (a temporary file beside it, renamed over it when complete), or
// in place for a FIFO or a device. Returns an empty string on success,
// otherwise the reason; a replaced target is then untouched.
// Non-finite values are left out of the drawing, as are norms that are not
// positive, and a panel with nothing left to draw says so. PLplot's errors
// come back as the reason: it never ends the process. Calls from several
// threads take turns, as PLplot's state is global.
std::string write_plot_file(const std::string& path, const PlotData& data);

}  // namespace identify
