// Writing a converted event-table problem. The output names derive from
// the problem file's (its extension replaced), and are checked against
// every file the conversion read before anything is written.
#include "api/convert_events.h"

#include <filesystem>
#include <ostream>
#include <vector>

#include "api/exit_codes.h"
#include "input/event_conversion.h"
#include "output/distinct_files.h"
#include "output/output_file.h"

namespace identify {

namespace {

std::string beside(const std::string& problem, const char* suffix) {
  std::filesystem::path p(problem);
  p.replace_extension();
  return p.string() + suffix;
}

std::string file_name(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace

int convert_event_files(const std::string& problem, std::ostream& out,
                        std::ostream& err) {
  const std::string data = beside(problem, ".data.tsv");
  const std::string doses = beside(problem, ".doses.tsv");
  const std::string converted_problem = beside(problem, ".converted.yaml");
  const ConvertedEvents converted =
      convert_event_problem(problem, file_name(data), file_name(doses));

  std::vector<RunFile> inputs = {{"the problem file", problem}};
  for (const std::string& t : converted.tables) {
    inputs.push_back({"a table", t});
  }
  struct Output {
    RunFile file;
    const std::string* text;
  };
  std::vector<Output> outputs = {
      {{"the data table", data}, &converted.data_table}};
  if (!converted.dose_table.empty()) {
    outputs.push_back({{"the dose table", doses}, &converted.dose_table});
  }
  outputs.push_back(
      {{"the converted problem file", converted_problem}, &converted.problem});
  std::vector<RunFile> names;
  for (const Output& o : outputs) names.push_back(o.file);
  const std::string clash = check_distinct_files(inputs, names);
  if (!clash.empty()) {
    err << "identify: --convert-events: " << clash << std::endl;
    return kExitUsage;
  }
  for (const Output& o : outputs) {
    clear_stale_temps(o.file.name, err);
    const std::string error = write_output_file(o.file.name, *o.text);
    if (!error.empty()) {
      err << "identify: cannot write " << o.file.name << ": " << error
          << std::endl;
      return kExitOutputError;
    }
  }
  out << converted_problem << ": " << converted.experiments << " experiments; "
      << data << ": " << converted.measurements << " measurements";
  if (!converted.dose_table.empty()) {
    out << "; " << doses << ": " << converted.doses << " doses";
  }
  out << std::endl;
  return kExitSuccess;
}

}  // namespace identify
