// The Result of a run, made from its fits: the verdicts and exit code, the
// estimates, the result tables (the objects the TSV files are written
// from), the table of starts, the counts and times, and the report.
#pragma once

#include <string>
#include <vector>

#include "api/fit_results.h"
#include "api/problem_fits.h"
#include "identify/result.h"

namespace identify {

struct RunFacts {
  ProblemRunInfo info;
  int signal = 0;       // of a stop during the fits; 0: none
  bool legacy = false;  // the legacy files: their wording, no report
  std::string name;     // the problem file
};

// Names the fitted point of a problem file's fits as such ("point"), not
// as the legacy files' matrix.
void name_subject(std::vector<ProblemFit>& fits);

// The exit code of the fits; a stop at any stage makes it 130 or 143.
int exit_code_of(const std::vector<ProblemFit>& fits, int signal);

// Result tables from the TSV text the table formatters write: a column is
// a number column when each of its fields is empty or a whole number in
// C's strtod syntax (with "inf", "-inf" and "NaN"), its field texts kept,
// so that tsv() gives back `text` exactly.
ColumnTable columns_of_tsv(const std::string& text);

// The tables of the program: the parameter table, the fit table and the
// profile table (no columns without profiles).
struct ResultTables {
  ColumnTable parameters, fit, profiles;
};
ResultTables result_tables(const std::vector<ProblemFit>& fits,
                           const ResultViews& views);

Result run_result(std::vector<ProblemFit>& fits, const RunFacts& facts);

}  // namespace identify
