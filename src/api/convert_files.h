// `identify --convert [input.txt input_data.txt] > problem.yaml`: the
// problem file equivalent to the two legacy files on standard output, and
// its data table written beside it.
//
// Where the table goes: when standard output is a regular file (the shell
// redirected it to problem.yaml), beside it, named after it (problem.csv),
// so that the problem file's `data: problem.csv` finds it wherever the two
// are moved together. Otherwise (a terminal, a pipe) in the working
// directory, named after the measurement file (input_data.csv); the problem
// file must then be saved in that directory. The table is written
// atomically; an existing file of that name with the same content is left
// as it is, and one with other content is never replaced.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace identify {

// Reads the legacy files `input` and `data` (their warnings on `err`), writes
// the data table and then prints the problem file on `out`. Returns 0; the
// usage code when the table's name is another file of the run; the output-error
// code when the table cannot be written or another file holds its name (then
// nothing is printed). Throws InputError.
int convert_legacy_files(const std::string& input, const std::string& data,
                         std::vector<std::string>& warnings, std::ostream& out,
                         std::ostream& err);

}  // namespace identify
