// The command line's own rules, checked before and beside CLI11 (which does
// not keep them): an empty value is a value ("--output=" and "--output ''"
// both name the empty string, which is then refused), and a separate
// argument that begins with "-" (but for "-" itself) is never taken as a
// value, so "--output -q" cannot create a file named "-q". Also the forms
// CLI11 does not know: "--profile=NAMES" and the `merge` subcommand.
#pragma once

#include <string>
#include <vector>

namespace identify {

// A bad command line: the message, without "identify: ".
struct BadValue {
  std::string message;
};

// One option of the command line: a flag (sets `flag`) or an option with a
// value (sets `text`).
struct OptionSpec {
  const char* name;  // CLI11 names: "--output", "-q,--quiet"
  const char* value_name;
  std::string help;
  std::string* text = nullptr;
  bool* flag = nullptr;
};

// The arguments for CLI11: "--name=" becomes "--name" and an empty argument,
// which CLI11 takes as the value; a value given as a separate argument must
// not look like an option. Throws BadValue.
std::vector<std::string> checked_arguments(
    const std::vector<std::string>& args, const std::vector<OptionSpec>& specs);

// "--profile" takes its names only after "=" (a separate argument is never
// its value, so that "--profile problem.yaml" profiles every parameter of
// problem.yaml): "--profile=NAMES" becomes "--profile" with the names kept
// in `names`. Arguments after "--" are left alone.
std::vector<std::string> split_profile_names(std::vector<std::string> args,
                                             std::string& names, bool& named);

// "--profile=a,b": the names, each a valid parameter name. Throws BadValue.
std::vector<std::string> parse_names(const std::string& text);

// `identify merge PROBLEM.yaml DIR... [options]` as the run it stands for:
// `identify PROBLEM.yaml [options] --merge DIR,...`. Other arguments are
// left as they are. Throws BadValue.
std::vector<std::string> merge_subcommand(std::vector<std::string> args);

// Throws BadValue for an empty file or directory name of `option`.
void require_nonempty(const std::string& option, const std::string& text);

// A plot name needs a known extension, and a name before it: ".svg" alone is
// a hidden file without extension. Throws BadValue.
void check_plot_name(const std::string& name);

}  // namespace identify
