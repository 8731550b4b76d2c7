// The conversion of the legacy files into a problem file. Standard output's
// file is found through /proc/self/fd/1 and accepted only if that path still
// names the same file (device and inode) as descriptor 1; a file opened and
// then renamed or removed is treated like a pipe.
#include "api/convert_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>

#include "api/exit_codes.h"
#include "api/warning_lines.h"
#include "core/quoted_text.h"
#include "input/legacy_conversion.h"
#include "input/measurement_file.h"
#include "input/problem_file.h"
#include "output/distinct_files.h"
#include "output/output_file.h"

namespace identify {

namespace {

namespace fs = std::filesystem;

// The path of the regular file on standard output, if it is one.
std::optional<fs::path> standard_output_file() {
  struct stat out {};
  if (fstat(STDOUT_FILENO, &out) != 0 || !S_ISREG(out.st_mode)) {
    return std::nullopt;
  }
  std::error_code ec;
  const fs::path path = fs::read_symlink("/proc/self/fd/1", ec);
  struct stat named {};
  if (ec || stat(path.c_str(), &named) != 0 || named.st_dev != out.st_dev ||
      named.st_ino != out.st_ino) {
    return std::nullopt;
  }
  return path;
}

// Where the table goes (`path`) and how the problem file names it.
struct TablePlace {
  std::string path;
  std::string name;
};

TablePlace table_place(const std::string& data) {
  if (const std::optional<fs::path> out = standard_output_file()) {
    const std::string name = out->stem().string() + ".csv";
    return {(out->parent_path() / name).string(), name};
  }
  const std::string name = fs::path(data).stem().string() + ".csv";
  return {name, name};
}

// The content of `path` if it is a regular file, else nothing.
std::optional<std::string> existing_content(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// "" or the message for standard output that writes to one of the legacy
// files: the shell has emptied it before the run, and the problem file would
// replace it.
std::string standard_output_clash(const std::string& input,
                                  const std::string& data) {
  struct stat out {};
  if (fstat(STDOUT_FILENO, &out) != 0 || !S_ISREG(out.st_mode)) return "";
  const RunFile inputs[] = {{"--input", input}, {"--data", data}};
  for (const RunFile& in : inputs) {
    struct stat named {};
    if (stat(in.name.c_str(), &named) == 0 && named.st_dev == out.st_dev &&
        named.st_ino == out.st_ino) {
      return "expected standard output other than " + in.label + ", found " +
             quote_text(in.name) + " (the shell empties it before the run)";
    }
  }
  return "";
}

}  // namespace

int convert_legacy_files(const std::string& input, const std::string& data,
                         std::vector<std::string>& warnings, std::ostream& out,
                         std::ostream& err) {
  const std::string on_input = standard_output_clash(input, data);
  if (!on_input.empty()) {
    err << "identify: --convert: " << on_input << std::endl;
    return kExitUsage;
  }
  const ProblemRecord problem = read_problem_file(input, &warnings);
  flush_warnings(err, warnings);
  const ObservationRecord observations =
      read_measurement_file(data, problem.dim, problem.T, &warnings);
  flush_warnings(err, warnings);

  const TablePlace place = table_place(data);
  const std::string clash = check_distinct_files(
      {{"--input", input}, {"--data", data}}, {{"the data table", place.path}});
  if (!clash.empty()) {
    err << "identify: --convert: " << clash << std::endl;
    return kExitUsage;
  }
  const ConvertedProblem converted =
      convert_legacy(problem, observations, place.name);
  const std::optional<std::string> existing = existing_content(place.path);
  if (existing && *existing != converted.data) {
    err << "identify: cannot write " << place.path
        << ": a file of that name with other content exists; remove it, or "
           "convert to a problem file of another name"
        << std::endl;
    return kExitOutputError;
  }
  if (!existing) {
    clear_stale_temps(place.path, err);
    const std::string error = write_output_file(place.path, converted.data);
    if (!error.empty()) {
      err << "identify: cannot write " << place.path << ": " << error
          << std::endl;
      return kExitOutputError;
    }
  }
  out << converted.problem << std::flush;
  return kExitSuccess;
}

}  // namespace identify
