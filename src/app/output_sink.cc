// The gate and the failure report of every output file: admitted by the
// writing phase, stale temporaries cleared, written whole (output_file.h),
// a failure reported with the system's reason and remembered.
#include "app/output_sink.h"

#include <ostream>

#include "output/distinct_files.h"
#include "output/output_file.h"

namespace identify {

bool OutputSink::begin(const std::string& path) {
  if (!writing_.admit(path == "-" ? "the report on standard error" : path)) {
    return false;
  }
  if (path != "-") clear_stale_temps(path, err_);
  return true;
}

void OutputSink::check(const std::string& path, const std::string& error) {
  if (error.empty()) return;
  err_ << "identify: cannot write " << path << ": " << error << std::endl;
  ok_ = false;
}

void OutputSink::write(const std::string& path,
                       const std::function<std::string()>& make) {
  if (!begin(path)) return;
  if (path != "-") {
    check(path, write_output_file(path, make()));
  } else if (!(err_ << make() << std::flush)) {
    // Standard error that fails has no room left for a message either.
    ok_ = false;
  }
}

void OutputSink::write_by(
    const std::string& path,
    const std::function<std::string(const std::string&)>& writer) {
  if (begin(path)) check(path, writer(path));
}

void OutputSink::plot(const std::string& path,
                      const std::function<PlotData()>& make) {
  if (begin(path)) check(path, write_plot_file(path, make()));
}

}  // namespace identify
