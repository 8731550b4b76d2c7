// Command-line options. A run without arguments reads input.txt and
// input_data.txt in the working directory, runs the plain descent on the
// grid model with no iteration limit and writes output.txt, pausing where a
// person is at a terminal. A run with a problem file (`identify
// PROBLEM.yaml`) fits it with its own defaults and writes the result tables
// PROBLEM.parameters.tsv and PROBLEM.fit.tsv; `--convert` writes the problem
// file and data table equivalent to the two legacy files instead of fitting.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "api/fit_plan.h"
#include "identify/options.h"
#include "fit/method.h"
#include "model/model_kind.h"

namespace identify {

struct Options {
  std::string directory;  // -C: work in this directory
  std::string input = "input.txt";
  std::string data = "input_data.txt";
  std::string output = "output.txt";
  std::string history;     // empty: no history file
  std::string report;      // fit report; "-": stderr; empty: none
  std::string plot;        // .svg, .png or .pdf; empty: none
  // Population problems: the covariance step, "sandwich" (default), "r" or
  // "s".
  std::string covariance = "sandwich";
  std::string trajectory;  // CSV of the fitted model; empty: none
  // The problem file (a .yaml or .yml argument); empty: the legacy files.
  std::string problem;
  // Result tables of a problem file; set to PROBLEM.parameters.tsv and
  // PROBLEM.fit.tsv when not given (and --profiles, with --profile, to
  // PROBLEM.profiles.tsv).
  std::string parameters;
  std::string fit;
  bool separately = false;  // fit every experiment on its own
  bool evaluate = false;    // no fit: the objective at the start values
  std::string simulations;  // PEtab simulation table; empty: none
  // Write the problem as PEtab into this directory, no fit; empty: none.
  std::string export_petab;
  bool plot_log_y = false;  // logarithmic axis for the measured values
  bool convert = false;     // --convert: write the legacy files' problem file
  // --convert-events: write the problem file's event tables as data and
  // dose tables and the problem naming them; no fit.
  bool convert_events = false;
  bool no_pause = false;
  bool quiet = false;
  std::int64_t max_iter = 0;  // 0: no limit
  std::int64_t patience = 10000;
  double min_improvement = 1e-9;
  // As given; unset: the default of the input (run_choice).
  std::optional<Method> method;
  bool foce_i = false;  // --method foce-i: the method of population problems
  std::optional<ModelKind> model;
  // Multi-start and profiles (search_options.h): unset starts take the
  // input's default; threads 0 is the machine's cores.
  std::optional<std::int64_t> starts;
  std::int64_t seed = 1;
  std::int64_t threads = 0;
  bool verbose = false;  // every start's progress lines
  bool profile = false;
  std::vector<std::string> profile_names;  // empty: every fitted parameter
  std::string profiles;                    // profile points (TSV); empty: none
  std::int64_t bootstrap = 0;  // --bootstrap B: replicates; 0: none
  // The bootstrap replicates (TSV); PROBLEM.bootstrap.tsv with --bootstrap.
  std::string bootstrap_file;
  // --shard K/N (or slurm): this run is shard `shard_index` (from 0) of
  // `shard_count` (0: not a shard), writing into `shard_dir` (default
  // PROBLEM.shards).
  std::int64_t shard_index = 0, shard_count = 0;
  std::string shard_dir;
  // --merge DIR[,DIR...]: the shard directories to merge; empty: no merge.
  std::vector<std::string> merge_dirs;
};

// What a run reads: the two legacy files, or a problem file with its data
// tables.
enum class InputKind { kLegacyFiles, kProblemFile };

// The input of the run that `options` describe.
InputKind input_kind(const Options& options);


// The model, method and starts the options name, else the defaults of the
// input: for the legacy files the grid model, the descent and one start,
// the original program; for a problem file the exact model, lm and
// kProblemFileStarts starts. The one place where defaults are chosen.
RunChoice run_choice(const Options& options, InputKind input);

// What the fit stages take from `options` for `choice`: the threads
// resolved (0: the machine's cores), profiles wanted for --profile or
// --profiles.
FitPlan fit_plan(const Options& options, RunChoice choice);

// The library's options for these (the command line's checks passed).
FitOptions fit_options(const Options& options);


// Outcome of parsing: either options to run with, or an exit code (help or
// version printed: 0; a bad option: the usage code, message on `err`).
struct ParsedOptions {
  std::optional<Options> options;
  int exit_code = 0;
};

ParsedOptions parse_options(int argc, const char* const* argv,
                            std::ostream& out, std::ostream& err);

}  // namespace identify
