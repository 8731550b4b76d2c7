// Plot files: the format chosen by the extension, complete files of each
// format replaced atomically, failures reported instead of ending the
// process, degenerate data still drawn, and the panels of a multi-start fit
// and of profiles.
#include "output/plot_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <regex>

#include "output/plot_layout.h"
#include "run_binary.h"

namespace identify {
namespace {

using testing::svg_text;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Two observed components of a decaying system with 11 samples each, on the
// full time grid, and a falling residual norm over 500 iterations.
PlotData fit_data() {
  PlotData d;
  d.trajectory = make_trajectory(2);
  for (int k = 0; k < kNodeCount; ++k) {
    const double t = 5.0 * k / kStepCount;
    d.times.push_back(t);
    d.trajectory[0][k] = 2.0 * std::exp(-0.4 * t) * std::cos(t);
    d.trajectory[1][k] = -std::exp(-0.7 * t);
  }
  for (int c = 0; c < 2; ++c) {
    PlotData::Panel panel{c, {}, {}};
    for (int s = 1; s <= 11; ++s) {
      panel.sample_time.push_back(0.5 * (s - 1));
      panel.sample_value.push_back(d.trajectory[c][300 * (s - 1)] + 0.01 * s);
    }
    d.panels.push_back(panel);
  }
  for (int i = 1; i <= 500; ++i) {
    d.iterations.push_back(i);
    d.norms.push_back(10.0 * std::exp(-0.03 * i));
  }
  return d;
}

// The plain names are drawn in their formats below; these are the names
// whose directory or case could mislead.
TEST(PlotFile, DeviceFollowsTheExtension) {
  EXPECT_EQ(plot_device_for("a.b/fit.Png"), "pngcairo");
  EXPECT_EQ(plot_device_for("out/Fit.SVG"), "svg");
  EXPECT_EQ(plot_device_for("fit.png.txt"), "");
  EXPECT_EQ(plot_device_for("dir.png/fit"), "");
  EXPECT_EQ(plot_device_for(""), "");
}

TEST(PlotFile, WritesEveryFormatWholeAndSilently) {
  testing::ScratchDir dir;
  const PlotData data = fit_data();
  const struct {
    const char* name;
    std::string magic, end;  // the first bytes, and what ends a whole file
  } formats[] = {{"fit.svg", "<?xml", "</svg>"},
                 {"fit.png", "\x89PNG\r\n", "IEND"},
                 {"fit.pdf", "%PDF-", "%%EOF"},
                 {"FIT.PNG", "\x89PNG\r\n", "IEND"}};
  for (const auto& format : formats) {
    SCOPED_TRACE(format.name);
    const std::string path = dir.file(format.name);
    // Twice in a row to the same file: the second replaces the first.
    dir.write(format.name, "previous");
    ::testing::internal::CaptureStdout();
    std::string err = write_plot_file(path, data);
    if (err.empty()) err = write_plot_file(path, data);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(err, "");
    const std::string bytes = dir.read(format.name);
    EXPECT_EQ(bytes.substr(0, format.magic.size()), format.magic);
    EXPECT_NE(bytes.find(format.end), std::string::npos);
    EXPECT_GT(bytes.size(), 5000u);
  }
  // No temporary file left over.
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"FIT.PNG", "fit.pdf",
                                                   "fit.png", "fit.svg"}));
  // The PNG is wide enough to read: IHDR holds the width in bytes 16..19.
  const std::string png = dir.read("fit.png");
  ASSERT_GT(png.size(), 24u);
  unsigned width = 0;
  for (int i = 16; i < 20; ++i) {
    width = width << 8 | static_cast<unsigned char>(png[i]);
  }
  EXPECT_GE(width, 800u);
  EXPECT_LE(width, 2000u);
}

TEST(PlotFile, FailuresAreReportedAndLeaveTheTargetAlone) {
  testing::ScratchDir dir;
  const PlotData data = fit_data();
  EXPECT_EQ(write_plot_file(dir.file("fit.txt"), data),
            "unknown plot format \".txt\": expected .svg, .png or .pdf");
  EXPECT_NE(write_plot_file(dir.file("fit"), data), "");
  EXPECT_EQ(write_plot_file(dir.file("no/such/dir/fit.png"), data),
            "No such file or directory");
  // The target is a directory: drawn, but it cannot be renamed over.
  std::filesystem::create_directory(dir.path() / "taken.svg");
  EXPECT_NE(write_plot_file(dir.file("taken.svg"), data), "");
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "taken.svg"));
  // More panels than a page can hold.
  PlotData crowded;
  crowded.panels.resize(2000);
  EXPECT_NE(write_plot_file(dir.file("crowded.pdf"), crowded), "");
  EXPECT_EQ(dir.names(), std::vector<std::string>{"taken.svg"});

  // Writes that fail halfway (a file-size limit of 1000 bytes, in a child
  // process): the reason comes back and the old file stays.
  dir.write("fit.png", "previous");
  EXPECT_EQ(
      testing::with_file_size_limit(
          1000, [&] { return write_plot_file(dir.file("fit.png"), data); }),
      "File too large");
  EXPECT_EQ(dir.read("fit.png"), "previous");
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"fit.png", "taken.svg"}));
  // PLplot is still usable afterwards.
  EXPECT_EQ(write_plot_file(dir.file("fit.png"), data), "");
}

TEST(PlotFile, DegenerateDataIsStillDrawn) {
  testing::ScratchDir dir;
  const std::string svg = dir.file("fit.svg");

  // Nothing at all: only the norm panel, which says so.
  EXPECT_EQ(write_plot_file(svg, PlotData{}), "");
  std::string text = svg_text(dir.read("fit.svg"));
  EXPECT_NE(text.find("residual norm"), std::string::npos);
  EXPECT_NE(text.find("no iteration history"), std::string::npos);
  EXPECT_EQ(text.find("component"), std::string::npos);

  // A flat series, a series with gaps, one with nothing finite, one without
  // samples, one the trajectory does not have; norms of which only a single
  // one can go on a log axis.
  PlotData d;
  d.times = {0.0, 1.0, 2.0, 3.0};
  d.trajectory = Table(4, 4);
  for (int k = 0; k < 4; ++k) {
    d.trajectory[0][k] = 3.0;
    d.trajectory[1][k] = k == 2 ? kNaN : k;
    d.trajectory[2][k] = k == 1 ? -kInf : kNaN;
    d.trajectory[3][k] = 0.5 * k;
  }
  d.panels = {{0, {1.0, 2.0}, {3.0, 3.0}},
              {1, {1.0, kNaN, 3.0}, {1.0, 2.0, kInf}},
              {2, {1.0}, {kNaN}},
              {3, {}, {}},
              {9, {1.5}, {-2.0}}};
  d.iterations = {1, 2, 3, 4};
  d.norms = {0.0, kNaN, 0.25, -1.0};
  EXPECT_EQ(write_plot_file(svg, d), "");
  text = svg_text(dir.read("fit.svg"));
  for (const char* label : {"component 1", "component 2", "component 3",
                            "component 4", "component 10", "residual norm"}) {
    EXPECT_NE(text.find(label), std::string::npos) << label;
  }
  EXPECT_NE(text.find("no finite values"), std::string::npos);
  EXPECT_EQ(text.find("no iteration history"), std::string::npos);

  // History with no positive norm, into each raster and vector format.
  d.norms = {0.0, kNaN, -kInf, -1.0};
  for (const char* name : {"fit.png", "fit.pdf", "fit.svg"}) {
    EXPECT_EQ(write_plot_file(dir.file(name), d), "") << name;
  }
  EXPECT_NE(svg_text(dir.read("fit.svg")).find("no positive finite norms"),
            std::string::npos);
}

// −2 ln L per iteration, which may be negative: drawn as it is on a linear
// axis under its own name (a log axis of norms had nothing to draw).
TEST(PlotFile, LikelihoodHistoryOnALinearAxis) {
  PlotData d;
  d.times = {0.0, 1.0};
  d.trajectory = Table(1, 2, 1.0);
  d.panels = {{0, {1.0}, {1.0}}};
  d.iterations = {0, 1, 2};
  d.norms = {12.0, -3.0, -29.5};
  d.likelihood = true;
  const plot::Page page = plot::layout("svg", d);
  const plot::Panel& history = page.panels.back();
  EXPECT_EQ(history.title, "-2 ln L");
  EXPECT_FALSE(history.log_y);
  EXPECT_TRUE(history.note.empty());
  EXPECT_LT(history.y_min, -29.5);
  EXPECT_GT(history.y_max, 12.0);
}

// Panels of a problem file: the series replace the component panels, a
// logarithmic axis drops what is not above 0 (breaking the line there) and
// ends on whole decades, and the residual panel has its zero line.
TEST(PlotFile, SeriesOnALogAxisAndTheResidualPanel) {
  PlotData d;
  d.times = {0.0, 1.0};
  d.trajectory = Table(1, 2, 1.0);
  d.panels = {{0, {1.0}, {1.0}}};
  d.series = {{"conc, s1",
               "conc",
               {0, 1, 2, 3},
               {0.0, 0.5, 20.0, 0.3},
               {1.0, 2.0},
               {0.4, -1.0}},
              {"conc, s2", "conc", {0, 1}, {0.0, -2.0}, {1.0}, {0.0}}};
  d.log_y = true;
  d.residuals = true;
  d.residual_time = {1.0, 2.0};
  d.residual_value = {-0.5, 1.5};
  const plot::Page page = plot::layout("svg", d);
  ASSERT_EQ(page.panels.size(), 4u);
  const plot::Panel& s1 = page.panels[0];
  EXPECT_EQ(s1.title, "conc, s1");
  EXPECT_TRUE(s1.log_y);
  // log10 of 0.5, 20 and 0.3, the 0 left out; the marker at -1 too.
  EXPECT_EQ(s1.line_x, (std::vector<double>{1, 2, 3}));
  EXPECT_NEAR(s1.line_y[1], std::log10(20.0), 1e-15);
  EXPECT_EQ(s1.mark_x, (std::vector<double>{1.0}));
  EXPECT_EQ(s1.y_min, -1.0);
  EXPECT_EQ(s1.y_max, 2.0);
  EXPECT_NE(s1.legend_corner, 0);
  EXPECT_EQ(page.panels[1].note, "no values above 0 for a logarithmic axis");
  const plot::Panel& r = page.panels[2];
  EXPECT_EQ(r.title, "weighted residuals");
  EXPECT_EQ(r.line_y, (std::vector<double>{0.0, 0.0}));
  EXPECT_LT(r.y_min, -0.5);
  EXPECT_GT(r.y_max, 1.5);
  EXPECT_EQ(page.panels[3].title, "residual norm");
}

TEST(PlotFile, WaterfallAndProfilePanelsFollowTheNormPanel) {
  PlotData d = fit_data();
  d.waterfalls = {{"", {4.17, 4.17, 4.175, 46.5, 120.0}}};
  d.profiles = {
      {"ka", {1.0, 1.5, 1.78, 2.2, 2.6}, {9.0, 5.0, 4.29, 5.5, 7.5}, 7.13, ""},
      {"V", {kNaN}, {kNaN}, 7.13, ""}};
  const plot::Page page = plot::layout("svg", d);
  ASSERT_EQ(page.panels.size(), 6u);
  const plot::Panel& waterfall = page.panels[3];
  EXPECT_EQ(waterfall.title, "starts: final objectives, sorted");
  EXPECT_TRUE(waterfall.log_y);  // 4.17 to 120: more than a factor 10
  EXPECT_EQ(waterfall.mark_x.size(), 5u);
  EXPECT_EQ(waterfall.y_min, 0.0);
  EXPECT_EQ(waterfall.y_max, 3.0);
  const plot::Panel& ka = page.panels[4];
  EXPECT_EQ(ka.title, "profile of ka");
  EXPECT_FALSE(ka.log_y);
  EXPECT_EQ(ka.level_y, (std::vector<double>{7.13, 7.13}));
  EXPECT_EQ(ka.level_x, (std::vector<double>{ka.x_min, ka.x_max}));
  EXPECT_LT(ka.y_min, 4.29);
  EXPECT_GT(ka.y_max, 9.0);
  EXPECT_EQ(page.panels[5].note, "no finite profile points");
  // Objectives within a factor 10 stay on a linear axis.
  d.waterfalls = {{"", {4.17, 4.175}}};
  EXPECT_FALSE(plot::layout("svg", d).panels[3].log_y);
  // Fits of single experiments: one waterfall each (an empty one is left
  // out), titles ending in the experiment.
  PlotData each = fit_data();
  each.waterfalls = {{"s1", {1.0, 2.0}}, {"s2", {}}, {"s3", {3.0}}};
  each.profiles = {{"ka", {1.0, 2.0}, {5.0, 6.0}, 7.0, "s3"}};
  const plot::Page separate = plot::layout("svg", each);
  ASSERT_EQ(separate.panels.size(), 6u);
  EXPECT_EQ(separate.panels[3].title, "starts: final objectives, sorted, s1");
  EXPECT_EQ(separate.panels[4].title, "starts: final objectives, sorted, s3");
  EXPECT_EQ(separate.panels[5].title, "profile of ka, s3");
  EXPECT_EQ(separate.panels[5].x_label, "ka");

  testing::ScratchDir dir;
  EXPECT_EQ(write_plot_file(dir.file("fit.svg"), d), "");
  const std::string text = svg_text(dir.read("fit.svg"));
  for (const char* label : {"starts: final objectives, sorted", "rank",
                            "profile of ka", "profile of V"}) {
    EXPECT_NE(text.find(label), std::string::npos) << label;
  }
}

}  // namespace
}  // namespace identify
