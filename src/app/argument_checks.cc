// The argument checks: options are found by their names in the option
// table, a cluster of short options ("-qC DIR") by its letters; the first
// letter that takes a value takes the rest of the argument, or the next
// argument if it is last.
#include "app/argument_checks.h"

#include <cstddef>
#include <filesystem>
#include <string_view>

#include "api/option_words.h"
#include "output/plot_file.h"
#include "problem/parameter.h"

namespace identify {

namespace {

bool takes_value(const std::vector<OptionSpec>& specs, std::string_view name) {
  for (const OptionSpec& s : specs) {
    if (s.text != nullptr && name == s.name) return true;
  }
  return false;
}

// A value given as a separate argument must not look like an option.
void check_separate_value(const std::string& option, const std::string& value) {
  if (value.size() < 2 || value[0] != '-') return;
  const std::string hint =
      option.size() == 2 ? option + " ./" + value : option + "=" + value;
  throw BadValue{option + ": expected a value, found \"" + value +
                 "\" (write " + hint + " for a value that begins with -)"};
}

}  // namespace

std::vector<std::string> checked_arguments(
    const std::vector<std::string>& args,
    const std::vector<OptionSpec>& specs) {
  std::vector<std::string> result;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    result.push_back(arg);
    if (i == 0 || arg.size() < 2 || arg[0] != '-') continue;
    if (arg == "--") {
      result.insert(result.end(), args.begin() + i + 1, args.end());
      break;
    }
    std::string option;
    if (arg[1] == '-') {
      const std::size_t eq = arg.find('=');
      if (!takes_value(specs, arg.substr(0, eq))) continue;
      if (eq == std::string::npos) {
        option = arg;
      } else if (eq + 1 == arg.size()) {
        result.back() = arg.substr(0, eq);
        result.emplace_back();
      }
    } else {
      // A cluster of short options: the first that takes a value takes the
      // rest of the argument, or the next one if it is last.
      for (std::size_t k = 1; k < arg.size(); ++k) {
        const std::string name = std::string("-") + arg[k];
        if (!takes_value(specs, name)) continue;
        if (k + 1 == arg.size()) option = name;
        break;
      }
    }
    if (!option.empty() && i + 1 < args.size()) {
      check_separate_value(option, args[i + 1]);
      result.push_back(args[++i]);
    }
  }
  return result;
}

std::vector<std::string> split_profile_names(std::vector<std::string> args,
                                             std::string& names, bool& named) {
  for (std::size_t i = 1; i < args.size() && args[i] != "--"; ++i) {
    if (args[i].rfind("--profile=", 0) != 0) continue;
    names = args[i].substr(10);
    named = true;
    args[i] = "--profile";
  }
  return args;
}

std::vector<std::string> parse_names(const std::string& text) {
  std::vector<std::string> names;
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = text.find(',', from);
    names.push_back(text.substr(from, comma - from));
    if (!is_valid_name(names.back())) {
      throw BadValue{profile_names_message(text)};
    }
    if (comma == std::string::npos) return names;
    from = comma + 1;
  }
}

std::vector<std::string> merge_subcommand(std::vector<std::string> args) {
  if (args.size() < 2 || args[1] != "merge") return args;
  std::vector<std::string> run = {args[0]};
  std::size_t i = 2;
  if (i < args.size() && args[i][0] != '-') run.push_back(args[i++]);
  std::string dirs;
  for (; i < args.size() && !args[i].empty() && args[i][0] != '-'; ++i) {
    if (args[i].find(',') != std::string::npos) {
      throw BadValue{
          "merge: expected shard directories without commas, "
          "found \"" +
          args[i] + "\""};
    }
    dirs += (dirs.empty() ? "" : ",") + args[i];
  }
  if (run.size() < 2 || dirs.empty()) {
    throw BadValue{
        "merge: expected the problem file and at least one shard "
        "directory (identify merge PROBLEM.yaml DIR... [options])"};
  }
  run.insert(run.end(), args.begin() + static_cast<std::ptrdiff_t>(i),
             args.end());
  run.push_back("--merge=" + dirs);
  return run;
}

void require_nonempty(const std::string& option, const std::string& text) {
  if (text.empty()) {
    throw BadValue{option + ": expected a file or directory name, found \"\""};
  }
}

void check_plot_name(const std::string& name) {
  if (!plot_device_for(name).empty()) return;
  const std::string file = std::filesystem::path(name).filename().string();
  if (file.find('.', 1) == std::string::npos &&
      !plot_device_for("x" + file).empty()) {
    throw BadValue{"--plot: expected a name before the extension " + file +
                   ", found \"" + name + "\""};
  }
  throw BadValue{
      "--plot: expected a file name ending in .svg, .png or .pdf, found \"" +
      name + "\""};
}

}  // namespace identify
