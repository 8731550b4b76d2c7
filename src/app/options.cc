// Command-line parsing with CLI11 (the arguments first checked as
// argument_checks.h says). Values are taken as text and checked here, once,
// before any work starts, so that every bad value gets one line naming the
// option, the value and the allowed range.
#include "app/options.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <functional>
#include <limits>
#include <ostream>
#include <string_view>
#include <utility>
#include <vector>

#include "api/exit_codes.h"
#include "api/option_words.h"
#include "api/pipeline.h"
#include "app/argument_checks.h"
#include "app/input_arguments.h"
#include "fit/population/covariance_kind.h"
#include "output/shard_files.h"

namespace identify {

namespace {

// The text without one leading '+' before a digit or a point: "+5" is 5.
std::string_view without_plus(const std::string& text) {
  std::string_view v = text;
  if (v.size() > 1 && v[0] == '+' &&
      (std::isdigit(static_cast<unsigned char>(v[1])) || v[1] == '.')) {
    v.remove_prefix(1);
  }
  return v;
}

std::int64_t parse_count(
    const std::string& option, const std::string& text, std::int64_t lowest,
    std::int64_t highest = std::numeric_limits<std::int64_t>::max()) {
  const std::string_view digits = without_plus(text);
  std::int64_t v = 0;
  const char* end = digits.data() + digits.size();
  const auto [p, ec] = std::from_chars(digits.data(), end, v);
  if (ec != std::errc() || p != end || v < lowest || v > highest) {
    throw BadValue{count_message(option, lowest, highest, text)};
  }
  return v;
}

// A number too small for a double reads as 0 (or a subnormal), as in the
// input files: from_chars reports it out of range, strtod rounds it.
double parse_fraction(const std::string& option, const std::string& text) {
  const std::string_view digits = without_plus(text);
  double v = 0.0;
  const char* end = digits.data() + digits.size();
  const auto [p, ec] = std::from_chars(digits.data(), end, v);
  bool ok =
      p == end && (ec == std::errc() || ec == std::errc::result_out_of_range);
  if (ok && ec == std::errc::result_out_of_range) {
    v = std::strtod(std::string(digits).c_str(), nullptr);
  }
  if (!ok || !(v >= 0.0) || !(v < 1.0)) {
    throw BadValue{fraction_message(option, text)};
  }
  return v == 0.0 ? 0.0 : v;  // -0 is 0
}

// The method and the model of those names.
Method parse_method(const std::string& text) {
  if (const std::optional<Method> m = method_named(text)) return *m;
  throw BadValue{method_message(text)};
}

ModelKind parse_model(const std::string& text) {
  if (const std::optional<ModelKind> m = model_named(text)) return *m;
  throw BadValue{model_message(text)};
}

// The option texts that are checked as numbers after parsing.
struct NumberTexts {
  std::string max_iter, patience, min_improvement, method, model;
  std::string starts, seed, threads, profile_names, bootstrap, shard, merge;
  bool profile_named = false;
};

// " (default: X for the legacy files, Y for a problem file`more`)", X and Y
// the parts of the defaults that run_choice picks for each input.
std::string default_for_each_input(
    const std::function<std::string(const RunChoice&)>& part,
    const std::string& more = "") {
  const Options none;
  return " (default: " + part(run_choice(none, InputKind::kLegacyFiles)) +
         " for the legacy files, " +
         part(run_choice(none, InputKind::kProblemFile)) +
         " for a problem file" + more + ")";
}

// Every option, in the order of --help, bound to where its value goes.
std::vector<OptionSpec> option_specs(Options& o, NumberTexts& raw) {
  return {
      {"-C", "DIR", "Work in DIR", &o.directory},
      {"--input", "FILE", "Problem file (default input.txt)", &o.input},
      {"--data", "FILE", "Measurement file (default input_data.txt)", &o.data},
      {"--output", "FILE", "Result file (default output.txt)", &o.output},
      {"--history", "FILE",
       "Write 'iteration,residual_norm' per iteration to FILE (CSV)",
       &o.history},
      {"--report", "FILE",
       "Write a fit report (statistics, standard errors, identifiability) "
       "to FILE; - for standard error",
       &o.report},
      {"--plot", "FILE",
       "Draw the data, the fitted model and the residual norm to FILE (.svg, "
       ".png or .pdf)",
       &o.plot},
      {"--trajectory", "FILE",
       "Write the fitted model to FILE (CSV): at the 3001 grid times "
       "(t,x1,...,xN), or for a problem file per experiment on a fine grid "
       "(experiment,time,states...,observables...)",
       &o.trajectory},
      {"--plot-log-y", "",
       "Plot the measured values and the model on a logarithmic axis", nullptr,
       &o.plot_log_y},
      {"--parameters", "FILE",
       "Problem file: the parameter table (default PROBLEM.parameters.tsv)",
       &o.parameters},
      {"--fit", "FILE",
       "Problem file: the table of measurements and model values (default "
       "PROBLEM.fit.tsv)",
       &o.fit},
      {"--evaluate", "",
       "Problem file: no fit; print the objective, chi2 and llh at the "
       "parameters' values",
       nullptr, &o.evaluate},
      {"--simulations", "FILE",
       "Problem file: write the model value of every measurement to FILE "
       "(PEtab's simulation table), at the result or with --evaluate at "
       "the parameters' values",
       &o.simulations},
      {"--export-petab", "DIR",
       "Problem file: write the problem as a PEtab v1 problem into DIR "
       "(made if missing); no fit",
       &o.export_petab},
      {"--separately", "",
       "Problem file: fit every experiment on its own, in parallel", nullptr,
       &o.separately},
      {"--convert", "",
       "Write the problem file equivalent to input.txt and input_data.txt "
       "(or the two files named) to standard output and its data table "
       "beside it; no fit",
       nullptr, &o.convert},
      {"--convert-events", "",
       "Problem file with events: write its event tables as "
       "PROBLEM.data.tsv and PROBLEM.doses.tsv and the same problem naming "
       "them as PROBLEM.converted.yaml; no fit",
       nullptr, &o.convert_events},
      {"--no-pause", "",
       "Never wait for Enter (no wait either when standard input is not a "
       "terminal)",
       nullptr, &o.no_pause},
      {"-q,--quiet", "", "No progress lines", nullptr, &o.quiet},
      {"--max-iter", "N", "Stop after N iterations (default: no limit)",
       &raw.max_iter},
      {"--patience", "N",
       "Stop when the best residual norm has not improved for N iterations "
       "(default 10000; 0 turns this stop off)",
       &raw.patience},
      {"--min-improvement", "X",
       "Relative improvement that counts as progress (default 1e-9)",
       &raw.min_improvement},
      {"--method", "NAME",
       "descent, lm (bounded Levenberg-Marquardt) or lbfgsb (bounded "
       "quasi-Newton), or foce-i for a problem with random effects" +
           default_for_each_input(
               [](const RunChoice& c) {
                 return std::string(method_name(c.method));
               },
               "; lbfgsb for a problem file with a laplace distribution"),
       &raw.method},
      {"--model", "NAME",
       "grid (RK4 on 3001 nodes) or exact (matrix exponential at the sample "
       "times)" +
           default_for_each_input([](const RunChoice& c) {
             return std::string(model_name(c.model));
           }),
       &raw.model},
      {"--starts", "N",
       "Fit from N starts: the usual one and N - 1 Latin hypercube samples "
       "in the bounds" +
           default_for_each_input(
               [](const RunChoice& c) { return std::to_string(c.starts); }),
       &raw.starts},
      {"--seed", "S", "Seed of the samples of --starts (default 1)", &raw.seed},
      {"--threads", "N",
       "Worker threads for --starts and --profile (default: the cores)",
       &raw.threads},
      {"--verbose", "",
       "With --starts: every start's progress lines, not one line per start",
       nullptr, &o.verbose},
      {"--profile", "",
       "Profile-likelihood intervals of every fitted parameter; "
       "--profile=NAME,... for some",
       nullptr, &o.profile},
      {"--profiles", "FILE", "Write the profile points to FILE (TSV)",
       &o.profiles},
      {"--bootstrap", "B",
       "Problem file: B refits of data resampled by experiment (by residual "
       "for one experiment) from the estimate, seeded by --seed; percentile "
       "intervals in the parameter table, the replicates in "
       "PROBLEM.bootstrap.tsv",
       &raw.bootstrap},
      {"--shard", "K/N",
       "Problem file: do shard K (from 0) of N of the run's independent "
       "units (the experiments of --separately, else the bootstrap "
       "replicates, the profile sides or the starts) into --shard-dir; "
       "slurm: K and N from the Slurm array",
       &raw.shard},
      {"--shard-dir", "DIR",
       "Where --shard writes its files (default PROBLEM.shards)", &o.shard_dir},
      {"--merge", "DIR[,DIR...]",
       "Problem file: write the outputs of the whole run from the shards in "
       "the directories, run with the same options",
       &raw.merge},
      {"--covariance", "KIND",
       "Population problems: the covariance step, sandwich (R^-1 S R^-1, "
       "default), r or s",
       &o.covariance},
  };
}

// Checks and converts the values that the parser stored as text. Throws
// BadValue.
void check_values(const CLI::App& app, const NumberTexts& raw, Options& o) {
  if (app.count("--max-iter")) {
    o.max_iter = parse_count("--max-iter", raw.max_iter, 1);
  }
  if (app.count("--patience")) {
    o.patience = parse_count("--patience", raw.patience, 0);
  }
  if (app.count("--min-improvement")) {
    o.min_improvement =
        parse_fraction("--min-improvement", raw.min_improvement);
  }
  if (app.count("--method") && raw.method == "foce-i") {
    o.foce_i = true;
  } else if (app.count("--method")) {
    o.method = parse_method(raw.method);
  }
  if (app.count("--model")) {
    o.model = parse_model(raw.model);
  }
  if (app.count("--starts")) {
    o.starts = parse_count("--starts", raw.starts, 1, kMaxStarts);
  }
  if (app.count("--seed")) o.seed = parse_count("--seed", raw.seed, 0);
  if (app.count("--threads")) {
    o.threads = parse_count("--threads", raw.threads, 1, kMaxThreads);
  }
  if (app.count("--bootstrap")) {
    o.bootstrap = parse_count("--bootstrap", raw.bootstrap, 1, kMaxBootstrap);
  }
  if (app.count("--shard")) {
    const SlurmArray slurm{std::getenv("SLURM_ARRAY_TASK_ID"),
                           std::getenv("SLURM_ARRAY_TASK_COUNT"),
                           std::getenv("SLURM_ARRAY_TASK_MIN"),
                           std::getenv("SLURM_ARRAY_TASK_MAX")};
    const std::string fault =
        parse_shard(raw.shard, slurm, o.shard_index, o.shard_count);
    if (!fault.empty()) throw BadValue{fault};
  }
  if (app.count("--merge")) {
    require_nonempty("--merge", raw.merge);
    for (std::size_t from = 0;;) {
      const std::size_t comma = raw.merge.find(',', from);
      o.merge_dirs.push_back(raw.merge.substr(from, comma - from));
      require_nonempty("--merge", o.merge_dirs.back());
      if (comma == std::string::npos) break;
      from = comma + 1;
    }
  }
  if (raw.profile_named) o.profile_names = parse_names(raw.profile_names);
  if (app.count("-C")) require_nonempty("-C", o.directory);
  require_nonempty("--input", o.input);
  require_nonempty("--data", o.data);
  require_nonempty("--output", o.output);
  for (const auto& [option, value] :
       {std::pair<const char*, const std::string*>{"--history", &o.history},
        {"--report", &o.report},
        {"--trajectory", &o.trajectory},
        {"--parameters", &o.parameters},
        {"--fit", &o.fit},
        {"--simulations", &o.simulations},
        {"--export-petab", &o.export_petab},
        {"--profiles", &o.profiles}}) {
    if (app.count(option)) require_nonempty(option, *value);
  }
  if (app.count("--plot")) check_plot_name(o.plot);
  if (!parse_covariance_kind(o.covariance)) {
    throw BadValue{"--covariance: expected one of sandwich, r, s, found \"" +
                   o.covariance + "\""};
  }
}

}  // namespace

ParsedOptions parse_options(int argc, const char* const* argv,
                            std::ostream& out, std::ostream& err) {
  Options o;
  NumberTexts raw;
  const std::vector<OptionSpec> specs = option_specs(o, raw);
  CLI::App app{
      "identify: finds the matrix A of dx/dt = A x + amp*exp(rate*t) from "
      "measured samples of x.\nReads input.txt and input_data.txt, writes "
      "output.txt; or fits the problem file PROBLEM.yaml and writes "
      "PROBLEM.parameters.tsv and PROBLEM.fit.tsv.",
      "identify"};
  app.set_version_flag("--version",
                       std::string("identify ") + IDENTIFY_VERSION);
  for (const OptionSpec& s : specs) {
    if (s.text != nullptr) {
      app.add_option(s.name, *s.text, s.help)->option_text(s.value_name);
    } else {
      app.add_flag(s.name, *s.flag, s.help);
    }
  }
  std::vector<std::string> arguments;
  app.add_option("PROBLEM.yaml", arguments,
                 "Problem file to fit (with --convert: the two legacy files)");
  try {
    const std::vector<std::string> args = checked_arguments(
        split_profile_names(merge_subcommand({argv, argv + argc}),
                            raw.profile_names, raw.profile_named),
        specs);
    std::vector<const char*> pointers;
    for (const std::string& a : args) pointers.push_back(a.c_str());
    app.parse(static_cast<int>(pointers.size()), pointers.data());
    check_values(app, raw, o);
    const std::string message = take_arguments(
        o, arguments,
        [&](const char* option) { return app.count(option) > 0; });
    if (!message.empty()) throw BadValue{message};
  } catch (const BadValue& bad) {
    err << "identify: " << bad.message << std::endl;
    return {std::nullopt, kExitUsage};
  } catch (const CLI::Success& e) {
    return {std::nullopt, app.exit(e, out, err)};
  } catch (const CLI::ParseError& e) {
    err << "identify: " << e.what() << " (see --help)" << std::endl;
    return {std::nullopt, kExitUsage};
  }
  return {o, kExitSuccess};
}

FitOptions fit_options(const Options& options) {
  FitOptions o;
  if (options.method) o.method = method_name(*options.method);
  if (options.model) o.model = model_name(*options.model);
  o.starts = options.starts;
  o.seed = options.seed;
  o.threads = options.threads;
  o.separately = options.separately;
  o.bootstrap = options.bootstrap;
  // The profile points need the profiles too.
  o.profile = options.profile || !options.profiles.empty();
  o.profile_names = options.profile_names;
  o.max_iter = options.max_iter;
  o.patience = options.patience;
  o.min_improvement = options.min_improvement;
  o.verbose = options.verbose;
  return o;
}

FitPlan fit_plan(const Options& options, RunChoice choice) {
  return plan_of(fit_options(options), choice);
}

InputKind input_kind(const Options& options) {
  return options.problem.empty() ? InputKind::kLegacyFiles
                                 : InputKind::kProblemFile;
}

RunChoice run_choice(const Options& options, InputKind input) {
  RunChoice choice = input_defaults(input == InputKind::kLegacyFiles);
  if (options.model) choice.model = *options.model;
  if (options.method) choice.method = *options.method;
  if (options.starts) choice.starts = *options.starts;
  return choice;
}

}  // namespace identify
