// Arguments and the options of one input kind. The checks run once after
// parsing, in a fixed order, so that a command line with several faults
// always gets the same one message.
#include "app/input_arguments.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "output/shard_files.h"

namespace identify {

namespace {

bool has_yaml_extension(const std::string& name) {
  std::string ext = std::filesystem::path(name).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) {
    return static_cast<char>(std::tolower(c));
  });
  return (ext == ".yaml" || ext == ".yml") &&
         std::filesystem::path(name).stem() != "";
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string convert_arguments(Options& o,
                              const std::vector<std::string>& arguments) {
  if (arguments.size() == 2) {
    o.input = arguments[0];
    o.data = arguments[1];
    return "";
  }
  if (arguments.empty()) return "";
  return "--convert: expected the problem file and the measurement file "
         "(input.txt input_data.txt) or nothing, found " +
         std::to_string(arguments.size()) + " file name" +
         (arguments.size() == 1 ? "" : "s");
}

// A shard writes its tables and nothing else, into its directory; a merge
// is no shard.
std::string shard_options(const Options& o,
                          const std::function<bool(const char*)>& given) {
  if (o.shard_count > 0 && !o.merge_dirs.empty()) {
    return "--merge: expected no --shard with it (the merge puts the shards "
           "together), found one";
  }
  if (!o.merge_dirs.empty() && given("--shard-dir")) {
    return "--shard-dir: expected --shard with it, found --merge";
  }
  for (const char* option :
       {"--report", "--plot", "--trajectory", "--simulations", "--history",
        "--parameters", "--fit", "--profiles", "--evaluate"}) {
    if (o.shard_count > 0 && given(option)) {
      return std::string(option) +
             ": expected no such output with --shard (a shard writes its "
             "tables into --shard-dir; name the outputs at the merge), "
             "found one";
    }
  }
  return "";
}

// The options that a problem file run has no use for, or that need one.
std::string problem_file_options(
    const Options& o, const std::function<bool(const char*)>& given) {
  if (o.problem.empty()) {
    for (const char* option :
         {"--parameters", "--fit", "--separately", "--evaluate",
          "--simulations", "--export-petab", "--bootstrap", "--shard",
          "--shard-dir", "--merge"}) {
      if (given(option)) {
        return std::string(option) +
               ": expected a problem file argument (identify PROBLEM.yaml " +
               option + " ...), found none";
      }
    }
    return "";
  }
  for (const auto& [option, value] :
       {std::pair<const char*, const std::string*>{"--input", &o.input},
        {"--data", &o.data},
        {"--output", &o.output}}) {
    if (given(option)) {
      return std::string(option) +
             ": expected no legacy file with a problem file (its results go "
             "to --parameters and --fit), found " +
             quoted(*value);
    }
  }
  if (o.separately && (given("--simulations") || given("--evaluate"))) {
    return "--separately: expected no --simulations or --evaluate with it "
           "(they are of the whole problem), found one";
  }
  if (o.separately && given("--history")) {
    return "--history: expected no history file with --separately (the "
           "experiments are fitted at the same time), found " +
           quoted(o.history);
  }
  if (o.shard_count > 0 || !o.merge_dirs.empty()) {
    const std::string fault = shard_options(o, given);
    if (!fault.empty()) return fault;
  }
  if (o.method == Method::kDescent) {
    return "--method: expected lm or lbfgsb with a problem file (the descent "
           "takes its step from input.txt), found \"descent\"";
  }
  return "";
}

}  // namespace

namespace {

// The tables of a shard, in its directory under its stem.
void shard_outputs(Options& o) {
  if (o.shard_dir.empty()) o.shard_dir = result_table_name(o.problem, ".shards");
  const std::string stem =
      (std::filesystem::path(o.shard_dir) /
       shard_stem(o.shard_index, o.shard_count))
          .string();
  o.parameters = stem + ".parameters.tsv";
  o.fit = stem + ".fit.tsv";
  if (o.profile) o.profiles = stem + ".profiles.tsv";
  if (o.bootstrap > 0) o.bootstrap_file = stem + ".bootstrap.tsv";
}

}  // namespace

std::string result_table_name(const std::string& problem,
                              const std::string& suffix) {
  std::filesystem::path p(problem);
  p.replace_extension();
  return p.string() + suffix;
}

std::string take_arguments(Options& o,
                           const std::vector<std::string>& arguments,
                           const std::function<bool(const char*)>& given) {
  if (o.convert) {
    if (o.convert_events) {
      return "--convert-events: expected no --convert (one converts the "
             "legacy files, the other a problem file's event tables)";
    }
    return convert_arguments(o, arguments);
  }
  if (o.convert_events) {
    if (arguments.size() == 1 && has_yaml_extension(arguments[0])) {
      o.problem = arguments[0];
      return "";
    }
    return "--convert-events: expected one problem file ending in .yaml or "
           ".yml, found " +
           std::to_string(arguments.size()) + " arguments";
  }
  if (arguments.size() > 1) {
    return "expected at most one problem file, found " +
           std::to_string(arguments.size()) +
           " arguments: " + quoted(arguments[0]) + ", " + quoted(arguments[1]) +
           (arguments.size() > 2 ? ", ..." : "");
  }
  if (arguments.size() == 1) {
    if (!has_yaml_extension(arguments[0])) {
      return "expected a problem file ending in .yaml or .yml, found " +
             quoted(arguments[0]);
    }
    o.problem = arguments[0];
  }
  const std::string message = problem_file_options(o, given);
  if (!message.empty() || o.problem.empty()) return message;
  if (o.parameters.empty()) {
    o.parameters = result_table_name(o.problem, ".parameters.tsv");
  }
  if (o.fit.empty()) o.fit = result_table_name(o.problem, ".fit.tsv");
  if (o.profile && o.profiles.empty()) {
    o.profiles = result_table_name(o.problem, ".profiles.tsv");
  }
  if (o.bootstrap > 0) {
    o.bootstrap_file = result_table_name(o.problem, ".bootstrap.tsv");
  }
  if (o.shard_count > 0) shard_outputs(o);
  return "";
}

}  // namespace identify
