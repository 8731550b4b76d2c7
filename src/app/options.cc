// Command-line parsing with CLI11. Values are taken as text and checked here,
// once, before any work starts, so that every bad value gets one line naming
// the option, the value and the allowed range.
#include "app/options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <ostream>
#include <utility>
#include <vector>

#include "app/exit_codes.h"
#include "output/plot_file.h"

namespace identify {

namespace {

struct BadValue {
  std::string message;
};

std::int64_t parse_count(const std::string& option, const std::string& text,
                         std::int64_t lowest) {
  std::int64_t v = 0;
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || p != end || v < lowest) {
    throw BadValue{option + ": expected a whole number from " +
                   std::to_string(lowest) + " to " +
                   std::to_string(std::numeric_limits<std::int64_t>::max()) +
                   ", found \"" + text + "\""};
  }
  return v;
}

double parse_fraction(const std::string& option, const std::string& text) {
  double v = 0.0;
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || p != end || !(v >= 0.0) || !(v < 1.0)) {
    throw BadValue{option +
                   ": expected a number from 0 up to (not including) "
                   "1, found \"" +
                   text + "\""};
  }
  return v;
}

std::string parse_choice(const std::string& option, const std::string& text,
                         std::initializer_list<const char*> allowed) {
  std::string list;
  for (const char* a : allowed) {
    if (text == a) return text;
    if (!list.empty()) list += ", ";
    list += a;
  }
  throw BadValue{option + ": expected one of " + list + ", found \"" + text +
                 "\""};
}

void require_nonempty(const std::string& option, const std::string& text) {
  if (text.empty()) {
    throw BadValue{option + ": expected a file or directory name, found \"\""};
  }
}

// The files a run writes must be distinct from each other and from the
// files it reads, or one would overwrite another.
void require_distinct(const Options& o, const CLI::App& app) {
  const auto same = [](const std::string& a, const std::string& b) {
    return std::filesystem::path(a).lexically_normal() ==
           std::filesystem::path(b).lexically_normal();
  };
  std::vector<std::pair<std::string, const std::string*>> files = {
      {"--input", &o.input}, {"--data", &o.data}, {"--output", &o.output}};
  for (const auto& [option, value] :
       {std::pair<const char*, const std::string*>{"--history", &o.history},
        {"--report", &o.report},
        {"--plot", &o.plot},
        {"--trajectory", &o.trajectory}}) {
    if (!app.count(option) || *value == "-") continue;
    for (const auto& [other, taken] : files) {
      if (same(*value, *taken)) {
        throw BadValue{std::string(option) + ": expected a file other than " +
                       other + ", found \"" + *value + "\""};
      }
    }
    files.emplace_back(option, value);
  }
}

}  // namespace

ParsedOptions parse_options(int argc, const char* const* argv,
                            std::ostream& out, std::ostream& err) {
  Options o;
  std::string max_iter, patience, min_improvement;
  CLI::App app{
      "identify: finds the matrix A of dx/dt = A x + amp*exp(rate*t) from "
      "measured samples of x.\nReads input.txt and input_data.txt, writes "
      "output.txt.",
      "identify"};
  app.set_version_flag("--version",
                       std::string("identify ") + IDENTIFY_VERSION);
  app.add_option("-C", o.directory, "Work in DIR")->option_text("DIR");
  app.add_option("--input", o.input, "Problem file (default input.txt)")
      ->option_text("FILE");
  app.add_option("--data", o.data, "Measurement file (default input_data.txt)")
      ->option_text("FILE");
  app.add_option("--output", o.output, "Result file (default output.txt)")
      ->option_text("FILE");
  app.add_option("--history", o.history,
                 "Write 'iteration,residual_norm' per iteration to FILE (CSV)")
      ->option_text("FILE");
  app.add_option("--report", o.report,
                 "Write a fit report (statistics, standard errors, "
                 "identifiability) to FILE; - for standard error")
      ->option_text("FILE");
  app.add_option("--plot", o.plot,
                 "Draw the data, the fitted model and the residual norm to "
                 "FILE (.svg, .png or .pdf)")
      ->option_text("FILE");
  app.add_option("--trajectory", o.trajectory,
                 "Write the fitted model at the 3001 grid times to FILE "
                 "(CSV: t,x1,...,xN)")
      ->option_text("FILE");
  app.add_flag("--no-pause", o.no_pause,
               "Never wait for Enter (no wait either when standard input is "
               "not a terminal)");
  app.add_flag("-q,--quiet", o.quiet, "No progress lines");
  app.add_option("--max-iter", max_iter,
                 "Stop after N iterations (default: no limit)")
      ->option_text("N");
  app.add_option("--patience", patience,
                 "Stop when the best residual norm has not improved for N "
                 "iterations (default 10000; 0 turns this stop off)")
      ->option_text("N");
  app.add_option("--min-improvement", min_improvement,
                 "Relative improvement that counts as progress (default "
                 "1e-9)")
      ->option_text("X");
  app.add_option("--method", o.method,
                 "descent (default), lm (bounded Levenberg-Marquardt) or "
                 "lbfgsb (bounded quasi-Newton)")
      ->option_text("NAME");
  app.add_option("--model", o.model,
                 "grid (default: RK4 on 3001 nodes) or exact (matrix "
                 "exponential at the sample times)")
      ->option_text("NAME");
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return {std::nullopt, app.exit(e, out, err)};
  } catch (const CLI::ParseError& e) {
    err << "identify: " << e.what() << " (see --help)" << std::endl;
    return {std::nullopt, kExitUsage};
  }
  try {
    if (!max_iter.empty()) o.max_iter = parse_count("--max-iter", max_iter, 1);
    if (!patience.empty()) o.patience = parse_count("--patience", patience, 0);
    if (!min_improvement.empty()) {
      o.min_improvement = parse_fraction("--min-improvement", min_improvement);
    }
    o.method = parse_choice("--method", o.method, {"descent", "lm", "lbfgsb"});
    o.model = parse_choice("--model", o.model, {"grid", "exact"});
    if (app.count("-C")) require_nonempty("-C", o.directory);
    require_nonempty("--input", o.input);
    require_nonempty("--data", o.data);
    require_nonempty("--output", o.output);
    if (app.count("--history")) require_nonempty("--history", o.history);
    if (app.count("--report")) require_nonempty("--report", o.report);
    if (app.count("--trajectory")) {
      require_nonempty("--trajectory", o.trajectory);
    }
    if (app.count("--plot") && plot_device_for(o.plot).empty()) {
      throw BadValue{
          "--plot: expected a file name ending in .svg, .png or "
          ".pdf, found \"" +
          o.plot + "\""};
    }
    require_distinct(o, app);
  } catch (const BadValue& bad) {
    err << "identify: " << bad.message << std::endl;
    return {std::nullopt, kExitUsage};
  }
  return {o, kExitSuccess};
}

}  // namespace identify
