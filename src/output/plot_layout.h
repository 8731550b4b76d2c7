// The layout of a fit plot, before any drawing: which panels there are,
// their titles and labels, the finite points of their lines and markers,
// their axis ranges, and the grid of panels on the page. Kept apart from the
// PLplot calls so that every decision about the picture is made in ordinary
// C++ and the drawing only carries it out.
#pragma once

#include <plplot.h>

#include <string>
#include <utility>
#include <vector>

#include "output/plot_file.h"

namespace identify::plot {

// Entries of the colour map set up for every plot; 0 is the background.
enum Colour : PLINT {
  kBackground = 0,
  kInk = 1,
  kGrid = 2,
  kModel = 3,
  kMeasured = 4,
  kMarkerEdge = 5,
  kNorm = 6,
  kThreshold = 7,
};
inline constexpr PLINT kColourCount = 8;

// One panel, ready to draw. The line is a polyline whose runs of points are
// separated by NaN in both coordinates; every other value is finite.
struct Panel {
  Panel(std::string title_text, std::string x_text, std::string y_text)
      : title(std::move(title_text)),
        x_label(std::move(x_text)),
        y_label(std::move(y_text)) {}

  std::string title;
  std::string x_label;
  std::string y_label;
  // When not empty the panel shows only its frame, labels and this text.
  std::string note;
  // The y values are log10 of the data and the axis is labelled as such.
  bool log_y = false;
  // Spacing of the labelled y ticks; 0 leaves it to PLplot.
  double y_tick = 0.0;
  double x_min = 0.0, x_max = 1.0, y_min = 0.0, y_max = 1.0;
  Colour line_colour = kModel;
  // Where the key to markers and line goes (PL_POSITION_TOP | ...), or 0
  // for none.
  PLINT legend_corner = 0;
  std::vector<double> line_x, line_y;
  std::vector<double> mark_x, mark_y;
  // A dashed reference line (a threshold), drawn under the others.
  std::vector<double> level_x, level_y;
};

struct Page {
  std::string device;
  int columns = 1;
  int rows = 1;
  PLINT width = 0;
  PLINT height = 0;
  std::vector<Panel> panels;
};

// The panels of `data` for `device`: one per component panel of the data,
// or per series when there are any (on log10 axes with data.log_y), the
// first with something to draw carrying the key, then the residual panel
// if asked for, then the norm panel, the waterfall (if there is one) and
// the profile panels;
// in one column for up to three panels, two up to twenty, else a grid about
// twice as tall as wide.
Page layout(const std::string& device, const PlotData& data);

}  // namespace identify::plot
