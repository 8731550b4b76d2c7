// Plot layout. Lines keep their points in order with NaN breaks where the
// data have non-finite values; axis ranges add a small margin around the
// data (a flat series gets ±10% of its value), the norm panel works on
// log10 of the norms with whole decades at its ends and a labelled step of
// 1, 2 or 5 times a power of ten decades, and the key goes into the corner
// of the first panel that covers the fewest points. The waterfall and the
// profile panels follow the norm panel.
#include "output/plot_layout.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace identify::plot {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Axis ends are kept within this magnitude so that PLplot's own arithmetic
// on ranges (differences, tick steps) stays finite.
constexpr double kHuge = 1e300;
// Smallest and largest of the values added.
struct Range {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
  void add(double v) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  bool empty() const { return lo > hi; }
};

double clamp_huge(double v) { return std::clamp(v, -kHuge, kHuge); }

// The axis range for data spanning `r`, widened by `margin` times the span
// on each side; a value that does not change (relative to its size) gets
// some room around it so that a flat series sits mid-panel.
void axis_range(const Range& r, double margin, double& lo, double& hi) {
  const double span = r.hi - r.lo;
  const double size = std::max(std::abs(r.lo), std::abs(r.hi));
  if (!(span > 1e-9 * size) || span == 0.0) {
    const double mid = 0.5 * r.lo + 0.5 * r.hi;
    const double pad = std::abs(mid) > 1e-300 ? 0.1 * std::abs(mid) : 1.0;
    lo = clamp_huge(mid - pad);
    hi = clamp_huge(mid + pad);
    return;
  }
  // Written so that neither the margin nor the ends overflow.
  const double pad = margin * r.hi - margin * r.lo;
  lo = clamp_huge(r.lo - pad);
  hi = clamp_huge(r.hi + pad);
}

// Appends the points (x[k], y[k]) to the panel's line, leaving out those
// with a non-finite coordinate and breaking the line where they were.
void append_line(Panel& p, const double* x, const double* y, std::size_t n,
                 Range& xr, Range& yr) {
  bool in_run = false;
  for (std::size_t k = 0; k < n; ++k) {
    if (!std::isfinite(x[k]) || !std::isfinite(y[k])) {
      if (in_run) {
        p.line_x.push_back(kNaN);
        p.line_y.push_back(kNaN);
      }
      in_run = false;
      continue;
    }
    p.line_x.push_back(x[k]);
    p.line_y.push_back(y[k]);
    xr.add(x[k]);
    yr.add(y[k]);
    in_run = true;
  }
}

// Marker points (x[k], y[k]) with both coordinates finite, into the panel
// and the ranges.
void append_marks(Panel& p, const std::vector<double>& x,
                  const std::vector<double>& y, Range& xr, Range& yr) {
  const std::size_t n = std::min(x.size(), y.size());
  for (std::size_t k = 0; k < n; ++k) {
    if (!std::isfinite(x[k]) || !std::isfinite(y[k])) continue;
    p.mark_x.push_back(x[k]);
    p.mark_y.push_back(y[k]);
    xr.add(x[k]);
    yr.add(y[k]);
  }
}

// A log axis over the exponents `yr` (log10 of the data): whole decades at
// its ends, and at most about six labelled ones, a step of 1, 2 or 5 times
// a power of ten decades, so the labels never crowd.
void decade_axis(const Range& yr, Panel& p) {
  p.y_min = std::floor(yr.lo);
  p.y_max = std::ceil(yr.hi);
  if (p.y_max <= p.y_min) p.y_max = p.y_min + 1.0;
  const double wanted = (p.y_max - p.y_min) / 6.0;
  p.y_tick = 1.0;
  for (double scale = 1.0; p.y_tick < wanted; scale *= 10.0) {
    for (const double m : {1.0, 2.0, 5.0}) {
      p.y_tick = m * scale;
      if (p.y_tick >= wanted) break;
    }
  }
  // The axis ends on labelled decades.
  p.y_min = std::floor(p.y_min / p.y_tick) * p.y_tick;
  p.y_max = std::ceil(p.y_max / p.y_tick) * p.y_tick;
}

// Turns a finished panel of values into one of their log10 on a decade
// axis: values that are not above 0 leave the line (breaking it) and the
// markers.
void to_log_y(Panel& p) {
  if (!p.note.empty()) return;
  std::vector<double> x, y;
  std::swap(x, p.line_x);
  std::swap(y, p.line_y);
  for (double& v : y) v = v > 0.0 ? std::log10(v) : kNaN;
  Range xr, yr;
  append_line(p, x.data(), y.data(), x.size(), xr, yr);
  std::swap(x, p.mark_x);
  std::swap(y, p.mark_y);
  p.mark_x.clear();
  p.mark_y.clear();
  for (double& v : y) v = v > 0.0 ? std::log10(v) : kNaN;
  append_marks(p, x, y, xr, yr);
  p.log_y = true;
  if (yr.empty()) {
    p.note = "no values above 0 for a logarithmic axis";
    return;
  }
  decade_axis(yr, p);
}

// The model of one observable in one experiment as a line, its
// measurements as markers.
Panel series_panel(const PlotData::Series& source,
                   const PlotData::SeriesExtra& extra) {
  Panel p(source.title, extra.x_label.empty() ? "time" : extra.x_label,
          source.y_label);
  Range xr, yr;
  for (std::size_t k = 0;
       k < std::min(extra.dashed_time.size(), extra.dashed_value.size()); ++k) {
    const double x = extra.dashed_time[k], y = extra.dashed_value[k];
    if (!std::isfinite(x) || !std::isfinite(y)) continue;
    p.level_x.push_back(x);
    p.level_y.push_back(y);
    xr.add(x);
    yr.add(y);
  }
  append_line(p, source.line_time.data(), source.line_value.data(),
              std::min(source.line_time.size(), source.line_value.size()), xr,
              yr);
  append_marks(p, source.sample_time, source.sample_value, xr, yr);
  if (xr.empty()) {
    p.note = "no finite values";
    return p;
  }
  axis_range(xr, 0.02, p.x_min, p.x_max);
  axis_range(yr, 0.06, p.y_min, p.y_max);
  return p;
}

// The weighted residuals against time, with the zero line.
Panel residual_panel(const PlotData& data) {
  Panel p("weighted residuals", "time", "(model - measured)/sigma");
  p.line_colour = kInk;
  Range xr, yr;
  append_marks(p, data.residual_time, data.residual_value, xr, yr);
  if (xr.empty()) {
    p.note = "no finite residuals";
    return p;
  }
  yr.add(0.0);
  axis_range(xr, 0.02, p.x_min, p.x_max);
  axis_range(yr, 0.06, p.y_min, p.y_max);
  p.line_x = {p.x_min, p.x_max};
  p.line_y = {0.0, 0.0};
  return p;
}

Panel component_panel(const PlotData& data, const PlotData::Panel& source) {
  const std::string number = std::to_string(source.component + 1);
  Panel p("component " + number, "t", "x#d" + number + "#u");
  Range xr, yr;
  const std::size_t row = static_cast<std::size_t>(source.component);
  if (source.component >= 0 && row < data.trajectory.rows()) {
    const std::size_t n = std::min(data.times.size(), data.trajectory.cols());
    append_line(p, data.times.data(), data.trajectory[row], n, xr, yr);
  }
  const std::size_t samples =
      std::min(source.sample_time.size(), source.sample_value.size());
  for (std::size_t k = 0; k < samples; ++k) {
    const double t = source.sample_time[k];
    const double v = source.sample_value[k];
    if (!std::isfinite(t) || !std::isfinite(v)) continue;
    p.mark_x.push_back(t);
    p.mark_y.push_back(v);
    xr.add(t);
    yr.add(v);
  }
  if (xr.empty()) {
    p.note = "no finite values";
    return p;
  }
  // Room for the markers at the ends, which PLplot would clip.
  axis_range(xr, 0.02, p.x_min, p.x_max);
  axis_range(yr, 0.06, p.y_min, p.y_max);
  return p;
}

// −2 ln L against iteration, on a linear axis.
Panel likelihood_panel(const PlotData& data) {
  Panel p("-2 ln L", "iteration", "-2 ln L");
  p.line_colour = kNorm;
  const std::size_t n = std::min(data.iterations.size(), data.norms.size());
  std::vector<double> x(n);
  for (std::size_t k = 0; k < n; ++k) {
    x[k] = static_cast<double>(data.iterations[k]);
  }
  Range xr, yr;
  append_line(p, x.data(), data.norms.data(), n, xr, yr);
  if (xr.empty()) {
    p.note = n == 0 ? "no iteration history" : "no finite values";
    return p;
  }
  axis_range(xr, 0.02, p.x_min, p.x_max);
  axis_range(yr, 0.06, p.y_min, p.y_max);
  return p;
}

Panel norm_panel(const PlotData& data) {
  if (data.likelihood) return likelihood_panel(data);
  Panel p("residual norm", "iteration", "norm");
  p.log_y = true;
  p.line_colour = kNorm;
  const std::size_t n = std::min(data.iterations.size(), data.norms.size());
  if (n == 0) {
    p.note = "no iteration history";
    return p;
  }
  // Norms that are not positive have no place on a log axis.
  std::vector<double> x(n), y(n);
  for (std::size_t k = 0; k < n; ++k) {
    x[k] = static_cast<double>(data.iterations[k]);
    y[k] = data.norms[k] > 0.0 ? std::log10(data.norms[k]) : kNaN;
  }
  Range xr, yr;
  append_line(p, x.data(), y.data(), n, xr, yr);
  if (xr.empty()) {
    p.note = "no positive finite norms";
    return p;
  }
  if (xr.lo == xr.hi) {
    p.x_min = xr.lo - 1.0;
    p.x_max = xr.hi + 1.0;
  } else {
    p.x_min = xr.lo;
    p.x_max = xr.hi;
  }
  decade_axis(yr, p);
  return p;
}

// ", subject1" after the title of a panel of one experiment's fit.
std::string experiment_suffix(const std::string& experiment) {
  return experiment.empty() ? "" : ", " + experiment;
}

// The final objectives of the starts against their rank: a flat step at the
// left is the optimum most starts found. On a log axis when every objective
// is above 0 and they span more than a factor 10.
Panel waterfall_panel(const PlotData::Waterfall& source) {
  const std::vector<double>& objectives = source.objectives;
  Panel p(
      "starts: final objectives, sorted" + experiment_suffix(source.experiment),
      "rank", "objective");
  const std::size_t n = objectives.size();
  Range positive;
  for (double v : objectives) {
    if (std::isfinite(v)) positive.add(v);
  }
  p.log_y = !positive.empty() && positive.lo > 0.0 &&
            positive.hi > 10.0 * positive.lo;
  std::vector<double> x(n), y(n);
  for (std::size_t k = 0; k < n; ++k) {
    x[k] = static_cast<double>(k + 1);
    y[k] = p.log_y ? std::log10(objectives[k]) : objectives[k];
  }
  Range xr, yr;
  append_line(p, x.data(), y.data(), n, xr, yr);
  p.mark_x = p.line_x;
  p.mark_y = p.line_y;
  std::erase_if(p.mark_x, [](double v) { return std::isnan(v); });
  std::erase_if(p.mark_y, [](double v) { return std::isnan(v); });
  if (xr.empty()) {
    p.note = "no start ended at a finite objective";
    return p;
  }
  axis_range(xr, 0.04, p.x_min, p.x_max);
  if (p.log_y) {
    decade_axis(yr, p);
  } else {
    axis_range(yr, 0.06, p.y_min, p.y_max);
  }
  return p;
}

// The objective along a profile, its points marked, with the threshold as a
// dashed line across the panel.
Panel profile_panel(const PlotData::Profile& source) {
  Panel p("profile of " + source.name + experiment_suffix(source.experiment),
          source.name, "objective");
  const std::size_t n =
      std::min(source.values.size(), source.objectives.size());
  Range xr, yr;
  append_line(p, source.values.data(), source.objectives.data(), n, xr, yr);
  for (std::size_t k = 0; k < p.line_x.size(); ++k) {
    if (std::isnan(p.line_x[k])) continue;
    p.mark_x.push_back(p.line_x[k]);
    p.mark_y.push_back(p.line_y[k]);
  }
  if (xr.empty()) {
    p.note = "no finite profile points";
    return p;
  }
  if (std::isfinite(source.threshold)) yr.add(source.threshold);
  axis_range(xr, 0.04, p.x_min, p.x_max);
  axis_range(yr, 0.06, p.y_min, p.y_max);
  if (std::isfinite(source.threshold)) {
    p.level_x = {p.x_min, p.x_max};
    p.level_y = {source.threshold, source.threshold};
  }
  return p;
}

// The corner of the frame that covers the fewest drawn points, for the key:
// top right, top left, bottom right, bottom left, the first on a tie.
PLINT emptiest_corner(const Panel& p) {
  // The key's size as a fraction of the frame, generously.
  constexpr double kWidth = 0.3;
  constexpr double kHeight = 0.35;
  const PLINT corners[4] = {PL_POSITION_TOP | PL_POSITION_RIGHT,
                            PL_POSITION_TOP | PL_POSITION_LEFT,
                            PL_POSITION_BOTTOM | PL_POSITION_RIGHT,
                            PL_POSITION_BOTTOM | PL_POSITION_LEFT};
  std::size_t covered[4] = {0, 0, 0, 0};
  const auto count = [&](const std::vector<double>& xs,
                         const std::vector<double>& ys, std::size_t weight) {
    for (std::size_t k = 0; k < xs.size(); ++k) {
      if (std::isnan(xs[k])) continue;
      const double u = (xs[k] - p.x_min) / (p.x_max - p.x_min);
      const double v = (ys[k] - p.y_min) / (p.y_max - p.y_min);
      const bool right = u > 1.0 - kWidth, left = u < kWidth;
      const bool top = v > 1.0 - kHeight, bottom = v < kHeight;
      if (top && right) covered[0] += weight;
      if (top && left) covered[1] += weight;
      if (bottom && right) covered[2] += weight;
      if (bottom && left) covered[3] += weight;
    }
  };
  // A marker hidden matters more than a stretch of a dense line.
  count(p.line_x, p.line_y, 1);
  count(p.mark_x, p.mark_y, std::max<std::size_t>(1, p.line_x.size() / 50));
  return corners[std::min_element(covered, covered + 4) - covered];
}

}  // namespace

Page layout(const std::string& device, const PlotData& data) {
  Page page;
  page.device = device;
  if (data.series.empty()) {
    for (const PlotData::Panel& source : data.panels) {
      page.panels.push_back(component_panel(data, source));
    }
  }
  for (std::size_t k = 0; k < data.series.size(); ++k) {
    page.panels.push_back(
        series_panel(data.series[k], k < data.series_extra.size()
                                         ? data.series_extra[k]
                                         : PlotData::SeriesExtra()));
  }
  if (data.log_y) {
    for (Panel& panel : page.panels) to_log_y(panel);
  }
  for (Panel& panel : page.panels) {
    if (panel.note.empty()) {
      panel.legend_corner = emptiest_corner(panel);
      break;
    }
  }
  if (data.residuals) page.panels.push_back(residual_panel(data));
  if (!data.no_norm) page.panels.push_back(norm_panel(data));
  for (const PlotData::Waterfall& waterfall : data.waterfalls) {
    if (!waterfall.objectives.empty()) {
      page.panels.push_back(waterfall_panel(waterfall));
    }
  }
  for (const PlotData::Profile& profile : data.profiles) {
    page.panels.push_back(profile_panel(profile));
  }
  const int count = static_cast<int>(page.panels.size());
  // One column of wide panels for up to three, two columns for up to ten
  // rows, and beyond that a grid about twice as tall as wide. A grid cell
  // is 500 × 350.
  if (count <= 3) {
    page.columns = 1;
  } else if (count <= 20) {
    page.columns = 2;
  } else {
    page.columns = static_cast<int>(std::ceil(std::sqrt(count / 2.0)));
  }
  page.rows = (count + page.columns - 1) / page.columns;
  page.width = page.columns == 1 ? 1000 : 500 * page.columns;
  page.height = page.rows * (page.columns == 1 ? 310 : 350);
  return page;
}

}  // namespace identify::plot
