// Plot files of a fit, drawn with PLplot's C API on a stream of their own.
// The data are first turned into ready-to-draw panels (finite points,
// ranges, notes) in ordinary C++; the PLplot calls then run under a guard,
// because PLplot reports fatal errors through plexit(), which would end the
// process: the exit handler installed here jumps back out of PLplot instead.
// PLplot writes through a stdio stream of ours onto an OutputFile (a
// temporary file beside the target, or a device or FIFO in place), so write
// errors are noticed and the target is replaced only by a complete picture.
#include "output/plot_file.h"

#include <plplot.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>
#include <numbers>
#include <utility>

#include "output/output_file.h"
#include "output/plot_layout.h"

namespace identify {

namespace {

using plot::Colour;
using plot::kBackground;
using plot::kColourCount;
using plot::kGrid;
using plot::kInk;
using plot::kMarkerEdge;
using plot::kMeasured;
using plot::kModel;
using plot::Page;
using plot::Panel;

// The largest page side, in pixels for PNG and points for PDF and SVG: the
// largest page PDF allows, and below cairo's limit on image sizes.
constexpr PLINT kMaxPageSize = 14400;

// The colour map, entry by entry of plot::Colour.
constexpr PLINT kRed[kColourCount] = {255, 0, 222, 31, 255, 140, 117, 214};
constexpr PLINT kGreen[kColourCount] = {255, 0, 222, 94, 127, 45, 28, 39};
constexpr PLINT kBlue[kColourCount] = {255, 0, 222, 160, 14, 4, 132, 40};

// ---------------------------------------------------------------------------
// Drawing. Everything from here to run_guarded() may be left by a longjmp out
// of PLplot, so these functions hold no objects with destructors: all they
// use is prepared by plot::layout() and owned by the caller.

// The viewport's size in millimetres; the page is `columns` × `rows`
// subpages of the current one's size.
void viewport_mm(int columns, int rows, double& width, double& height) {
  PLFLT sx0 = 0, sx1 = 1, sy0 = 0, sy1 = 1;
  plgspa(&sx0, &sx1, &sy0, &sy1);
  PLFLT vx0 = 0, vx1 = 1, vy0 = 0, vy1 = 1;
  plgvpd(&vx0, &vx1, &vy0, &vy1);
  width = (vx1 - vx0) * (sx1 - sx0) * columns;
  height = (vy1 - vy0) * (sy1 - sy0) * rows;
}

// The half-axes, in world coordinates, of a circle of `radius_mm` on the
// page in the current viewport; false if the viewport has no size.
bool circle_radii(const Panel& p, double radius_mm, int columns, int rows,
                  double& rx, double& ry) {
  double width_mm = 0.0, height_mm = 0.0;
  viewport_mm(columns, rows, width_mm, height_mm);
  if (!(width_mm > 0.0) || !(height_mm > 0.0)) return false;
  rx = radius_mm * (p.x_max - p.x_min) / width_mm;
  ry = radius_mm * (p.y_max - p.y_min) / height_mm;
  return true;
}

// A filled, outlined disc: PLplot's own symbols are font glyphs whose size
// and centring vary between devices.
void draw_disc(double x, double y, double rx, double ry, Colour fill,
               Colour edge) {
  constexpr int kSides = 24;
  PLFLT cx[kSides + 1];
  PLFLT cy[kSides + 1];
  for (int s = 0; s <= kSides; ++s) {
    const double a = 2.0 * std::numbers::pi * s / kSides;
    cx[s] = x + rx * std::cos(a);
    cy[s] = y + ry * std::sin(a);
  }
  plcol0(fill);
  plfill(kSides, cx, cy);
  plcol0(edge);
  plline(kSides + 1, cx, cy);
}

void draw_markers(const Panel& p, int columns, int rows) {
  double rx = 0.0, ry = 0.0;
  if (!circle_radii(p, 1.5, columns, rows, rx, ry)) return;
  plwidth(1.0);
  for (std::size_t k = 0; k < p.mark_x.size(); ++k) {
    draw_disc(p.mark_x[k], p.mark_y[k], rx, ry, kMeasured, kMarkerEdge);
  }
}

// Draws the runs of the panel's line; a run of a single point, which a line
// cannot show, gets a small disc.
void draw_line(const Panel& p, int columns, int rows) {
  const std::size_t n = p.line_x.size();
  std::size_t start = 0;
  while (start < n) {
    std::size_t end = start;
    while (end < n && !std::isnan(p.line_x[end])) ++end;
    if (end - start >= 2) {
      plcol0(p.line_colour);
      plwidth(2.0);
      plline(static_cast<PLINT>(end - start), &p.line_x[start],
             &p.line_y[start]);
    } else if (end - start == 1) {
      double rx = 0.0, ry = 0.0;
      if (circle_radii(p, 1.0, columns, rows, rx, ry)) {
        plwidth(1.0);
        draw_disc(p.line_x[start], p.line_y[start], rx, ry, p.line_colour,
                  p.line_colour);
      }
    }
    start = end + 1;
  }
  plwidth(1.0);
}

// The dashed reference line of a panel, if it has one.
void draw_level(const Panel& p) {
  if (p.level_x.size() < 2) return;
  plcol0(plot::kThreshold);
  plwidth(1.5);
  pllsty(2);
  plline(static_cast<PLINT>(p.level_x.size()), p.level_x.data(),
         p.level_y.data());
  pllsty(1);
  plwidth(1.0);
}

// Labels of a log axis: "10^k" at every decade k that is a multiple of the
// step `*data`, nothing at the others (PLplot puts a tick at every decade).
extern "C" void label_decade(PLINT /*axis*/, PLFLT value, char* label,
                             PLINT length, PLPointer data) {
  const double step = *static_cast<const double*>(data);
  const double decade = std::round(value);
  if (std::fmod(std::abs(decade), step) != 0.0 || length <= 0) {
    if (length > 0) label[0] = '\0';
    return;
  }
  std::snprintf(label, static_cast<std::size_t>(length), "10#u%d#d",
                static_cast<int>(decade));
}

// A key to markers and line in the corner of the frame chosen by layout().
void draw_legend(PLINT corner, int columns, int rows) {
  double width_mm = 0.0, height_mm = 0.0;
  viewport_mm(columns, rows, width_mm, height_mm);
  if (!(width_mm > 0.0)) return;
  // The samples of marker and line are 9 mm wide.
  const double sample_width = 9.0 / width_mm;
  constexpr PLINT kEntries = 2;
  const PLINT options[kEntries] = {PL_LEGEND_SYMBOL, PL_LEGEND_LINE};
  const char* const text[kEntries] = {"measured", "model"};
  const PLINT text_colours[kEntries] = {kInk, kInk};
  const PLINT line_colours[kEntries] = {kModel, kModel};
  const PLINT line_styles[kEntries] = {1, 1};
  const PLFLT line_widths[kEntries] = {2.0, 2.0};
  const PLINT symbol_colours[kEntries] = {kMeasured, kMeasured};
  const PLFLT symbol_scales[kEntries] = {1.0, 1.0};
  const PLINT symbol_numbers[kEntries] = {1, 1};
  const char* const symbols[kEntries] = {"\u25CF", ""};
  PLFLT legend_w = 0.0, legend_h = 0.0;
  pllegend(&legend_w, &legend_h, PL_LEGEND_BACKGROUND | PL_LEGEND_BOUNDING_BOX,
           corner | PL_POSITION_INSIDE, 0.015, 0.03, sample_width, kBackground,
           kGrid, 1, kEntries, 1, kEntries, options, 0.6, 0.9, 1.8, 0.0,
           text_colours, text, nullptr, nullptr, nullptr, nullptr, line_colours,
           line_styles, line_widths, symbol_colours, symbol_scales,
           symbol_numbers, symbols);
}

void draw_panel(const Panel& p, int columns, int rows) {
  pladv(0);
  // Margins in character heights: tick labels and the axis label on the
  // left, tick labels and the axis label below, the title above.
  PLFLT sx0 = 0, sx1 = 1, sy0 = 0, sy1 = 1;
  plgspa(&sx0, &sx1, &sy0, &sy1);
  PLFLT default_ht = 0.0, char_ht = 0.0;
  plgchr(&default_ht, &char_ht);
  const double w = sx1 - sx0, h = sy1 - sy0;
  plvpor(6.6 * char_ht / w, 1.0 - 3.0 * char_ht / w, 4.6 * char_ht / h,
         1.0 - 3.2 * char_ht / h);
  plwind(p.x_min, p.x_max, p.y_min, p.y_max);
  plwidth(1.0);
  if (!p.note.empty()) {
    plcol0(kInk);
    plbox("bc", 0.0, 0, "bc", 0.0, 0);
    pllab(p.x_label.c_str(), p.y_label.c_str(), p.title.c_str());
    plptex(0.5 * (p.x_min + p.x_max), 0.5 * (p.y_min + p.y_max), 1.0, 0.0, 0.5,
           p.note.c_str());
    return;
  }
  // A log axis is PLplot's own while every decade is labelled (with minor
  // ticks at 2 to 9 times each); over more decades, an even axis of the
  // exponents with a labelled tick every y_tick decades, as PLplot's would
  // tick every decade however many there are.
  const bool every_decade = p.log_y && p.y_tick == 1.0;
  const double y_step = p.log_y && !every_decade ? p.y_tick : 0.0;
  plcol0(kGrid);
  plbox("g", 0.0, 0, every_decade ? "gl" : "g", y_step, 0);
  plcol0(kInk);
  if (p.log_y) {
    plslabelfunc(label_decade, const_cast<double*>(&p.y_tick));
    plbox("bcnst", 0.0, 0, every_decade ? "bcnstlov" : "bcntov", y_step, 0);
    plslabelfunc(nullptr, nullptr);
  } else {
    plbox("bcnst", 0.0, 0, "bcnstv", 0.0, 0);
  }
  pllab(p.x_label.c_str(), p.y_label.c_str(), p.title.c_str());
  draw_level(p);
  draw_line(p, columns, rows);
  draw_markers(p, columns, rows);
  if (p.legend_corner != 0) draw_legend(p.legend_corner, columns, rows);
}

// State shared with the exit handler; guarded by the mutex in
// write_plot_file.
struct Guard {
  // Where the exit handler returns to while `armed`.
  std::jmp_buf jump;
  bool armed;
  char message[512];
  // PLplot's record of operations it aborted on the plot stream: with these
  // set it reports them here instead of on standard error.
  PLINT error_code;
  char error_message[1024];
};
Guard guard;

// PLplot calls this from plexit() and ends the process when it returns, so
// inside run_guarded() it does not return but jumps back out of PLplot.
extern "C" int on_plplot_exit(const char* message) {
  if (!guard.armed) return 1;
  guard.armed = false;
  std::snprintf(guard.message, sizeof guard.message, "%s",
                message != nullptr ? message : "");
  std::longjmp(guard.jump, 1);
}

// Calls `step(context)`; returns false if PLplot bailed out of it through
// plexit(), with the reason in guard.message.
bool run_guarded(void (*step)(void*), void* context) {
  if (setjmp(guard.jump) != 0) return false;
  guard.armed = true;
  step(context);
  guard.armed = false;
  return true;
}

struct DrawJob {
  const Page* page;
  std::FILE* file;
  // The plot stream while it is open, else -1.
  PLINT stream;
  bool finished;
};

void draw_page(void* context) {
  DrawJob& job = *static_cast<DrawJob*>(context);
  const Page& page = *job.page;
  guard.error_code = 0;
  guard.error_message[0] = '\0';
  plmkstrm(&job.stream);
  if (job.stream < 0) return;
  plsError(&guard.error_code, guard.error_message);
  plsdev(page.device.c_str());
  plsfile(job.file);
  plspause(0);
  plspage(0.0, 0.0, page.width, page.height, 0, 0);
  plssub(page.columns, page.rows);
  plscmap0(kRed, kGreen, kBlue, kColourCount);
  plinit();
  // Text and ticks of the same size in millimetres on every page (PLplot
  // would scale them with the page and the number of rows).
  plschr(4.0, 1.2);
  plssym(4.0, 1.0);
  plsmaj(3.0, 1.0);
  plsmin(1.5, 1.0);
  // Times and iterations in full up to five digits, before PLplot moves a
  // power of ten to the axis end.
  plsxax(5, 0);
  for (const Panel& panel : page.panels) {
    draw_panel(panel, page.columns, page.rows);
  }
  plend1();
  job.stream = -1;
  job.finished = true;
}

void end_stream(void* context) {
  plsstrm(*static_cast<PLINT*>(context));
  plend1();
}

// Whether this PLplot has the output device `name`.
struct DeviceQuery {
  const char* name;
  bool found;
};

void find_device(void* context) {
  DeviceQuery& query = *static_cast<DeviceQuery*>(context);
  constexpr int kCapacity = 128;
  const char* menu[kCapacity];
  const char* names[kCapacity];
  const char** menu_p = menu;
  const char** names_p = names;
  int count = kCapacity;
  plgDevs(&menu_p, &names_p, &count);
  query.found = false;
  for (int k = 0; k < count && k < kCapacity; ++k) {
    if (names[k] != nullptr && std::strcmp(names[k], query.name) == 0) {
      query.found = true;
    }
  }
}

// ---------------------------------------------------------------------------
// The stdio stream PLplot writes to: a file descriptor of the temporary file,
// with the first write or close error kept.
struct Sink {
  int fd = -1;
  int error = 0;
  bool closed = false;
  std::size_t written = 0;
};

ssize_t sink_write(void* cookie, const char* buf, size_t size) {
  Sink& sink = *static_cast<Sink*>(cookie);
  size_t done = 0;
  while (done < size) {
    const ssize_t w = ::write(sink.fd, buf + done, size - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      if (sink.error == 0) sink.error = errno;
      return 0;
    }
    done += static_cast<size_t>(w);
  }
  sink.written += done;
  return static_cast<ssize_t>(done);
}

// The descriptor belongs to the OutputFile, which closes it on commit.
int sink_close(void* cookie) {
  Sink& sink = *static_cast<Sink*>(cookie);
  sink.closed = true;
  return sink.error == 0 ? 0 : -1;
}

std::string lower(std::string s) {
  for (char& c : s) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return s;
}

std::mutex plplot_mutex;

// While it exists, PLplot's fatal errors go to on_plplot_exit(); when it
// goes, PLplot's own handling and the stream current before are restored.
class PlplotSession {
 public:
  PlplotSession() {
    plgstrm(&previous_stream_);
    plsexit(on_plplot_exit);
  }
  ~PlplotSession() {
    plsexit(nullptr);
    plsstrm(previous_stream_);
  }
  PlplotSession(const PlplotSession&) = delete;
  PlplotSession& operator=(const PlplotSession&) = delete;

 private:
  PLINT previous_stream_ = 0;
};

}  // namespace

std::string plot_device_for(const std::string& path) {
  const std::string ext =
      lower(std::filesystem::path(path).extension().string());
  if (ext == ".svg") return "svg";
  if (ext == ".png") return "pngcairo";
  if (ext == ".pdf") return "pdfcairo";
  return "";
}

std::string write_plot_file(const std::string& path, const PlotData& data) {
  const std::string device = plot_device_for(path);
  if (device.empty()) {
    const std::string ext = std::filesystem::path(path).extension().string();
    if (ext.empty()) {
      return "the plot file name has no extension: expected .svg, .png or "
             ".pdf";
    }
    return "unknown plot format \"" + ext + "\": expected .svg, .png or .pdf";
  }
  const Page page = plot::layout(device, data);
  if (page.width > kMaxPageSize || page.height > kMaxPageSize) {
    return std::to_string(page.panels.size()) +
           " panels do not fit on one page";
  }

  // PLplot keeps its streams, handlers and current stream in globals.
  const std::lock_guard<std::mutex> lock(plplot_mutex);
  const PlplotSession session;
  const char* numeric_locale = std::setlocale(LC_NUMERIC, nullptr);
  const std::string locale = numeric_locale != nullptr ? numeric_locale : "C";

  DeviceQuery query{device.c_str(), false};
  if (!run_guarded(find_device, &query)) {
    return std::string("PLplot failed: ") + guard.message;
  }
  if (!query.found) return "PLplot has no \"" + device + "\" output device";

  OutputFile out(path);
  if (out.fd() < 0) return out.error();
  Sink sink;
  sink.fd = out.fd();
  const cookie_io_functions_t io = {nullptr, sink_write, nullptr, sink_close};
  std::FILE* file = fopencookie(&sink, "w", io);
  if (file == nullptr) return std::strerror(errno);

  DrawJob job{&page, file, -1, false};
  std::string failure;
  if (!run_guarded(draw_page, &job)) {
    failure = std::string("PLplot failed: ") + guard.message;
    // Release what PLplot holds of the stream, unless that fails too; the
    // jump out of PLplot may have skipped its restoring of the locale.
    if (job.stream >= 0) run_guarded(end_stream, &job.stream);
    std::setlocale(LC_NUMERIC, locale.c_str());
  } else if (!job.finished) {
    failure = "PLplot could not open a plot stream";
  }
  // PLplot closes the file when it ends the stream, but not if it failed
  // before; closing flushes, so write errors are known only after this.
  if (!sink.closed) std::fclose(file);

  if (failure.empty() && guard.error_code != 0) {
    failure = std::string("PLplot failed: ") + guard.error_message;
    while (!failure.empty() && failure.back() == '\n') failure.pop_back();
  }
  if (failure.empty() && sink.error != 0) failure = std::strerror(sink.error);
  // Some driver failures (a page too big for cairo) only show as no output.
  if (failure.empty() && sink.written == 0) failure = "PLplot wrote nothing";
  if (!failure.empty()) return failure;
  return out.commit();
}

}  // namespace identify
