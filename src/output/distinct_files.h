// The files a run names, checked before anything is read or written: every
// output must be a file of its own. And the removal, before an output is
// written, of the temporary files that a killed run left beside it.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace identify {

// A file of a run and what messages call it: an option ("--fit") or a
// description ("the problem file").
struct RunFile {
  std::string label;
  std::string name;
};

// No output may be the same file as an input, as an output named before
// it, or as the regular file that standard output or standard error already
// write to (it would destroy the console text). Two names are the same file
// when both exist with equal device and inode, whatever their spelling,
// links or symbolic links; for a name that does not exist, when the
// resolved paths are equal (the existing part of the path with symbolic
// links resolved, the rest normalised). Character devices (/dev/null, a
// terminal) are shared freely. Each output is compared with standard output
// and error, the inputs and the outputs before it. Empty names are skipped,
// as is "-" for --report. Returns "" or the message, e.g. `--report:
// expected a file other than --output, found "output.txt"`.
std::string check_distinct_files(const std::vector<RunFile>& inputs,
                                 const std::vector<RunFile>& outputs);

// Removes the stale temporary files of the output `name` (stale_temps.h)
// and says so on `err` in one line if there were any.
void clear_stale_temps(const std::string& name, std::ostream& err);

}  // namespace identify
