// Where the outputs of a run go in its writing phase: each output is begun
// only if the phase admits it (writing_phase.h), its stale temporary files
// removed first (distinct_files.h), and one that cannot be written gets
// "identify: cannot write FILE: reason" on `err` while the others are still
// written.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "app/writing_phase.h"
#include "output/plot_file.h"

namespace identify {

class OutputSink {
 public:
  OutputSink(WritingPhase& writing, std::ostream& err)
      : writing_(writing), err_(err) {}

  // The text `make` gives, written to `path`; "-" is standard error (the
  // report). `make` runs only if the output is admitted.
  void write(const std::string& path, const std::function<std::string()>& make);
  // A file that `writer` writes itself to `path` (never "-"), returning
  // the system's reason on failure: a table streamed row by row.
  void write_by(const std::string& path,
                const std::function<std::string(const std::string&)>& writer);
  // The plot `make` gives, drawn to `path` (its format by its extension).
  void plot(const std::string& path, const std::function<PlotData()>& make);
  // Notes an output that failed elsewhere (its message already given).
  void fail() { ok_ = false; }
  // Whether every output so far was written.
  bool ok() const { return ok_; }

 private:
  bool begin(const std::string& path);
  void check(const std::string& path, const std::string& error);

  WritingPhase& writing_;
  std::ostream& err_;
  bool ok_ = true;
};

}  // namespace identify
