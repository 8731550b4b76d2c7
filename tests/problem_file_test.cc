#include "input/problem_file.h"

#include <gtest/gtest.h>

#include <limits>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace identify {
namespace {

const char kWorkedExample[] =
    "% epsilon, T, opt_par\n0.001\n10\n0.01\n% dim\n2\n"
    "% fixed entries: count, then row column value\n1\n1 2 0.5\n"
    "% bounded entries: count, then row column lower upper\n1\n2 1 -1 1\n"
    "% init_val\n[1 0]\n% exp_coef\n[0 1]\n% exp_par\n[0 -0.5]\n";

NumberList List(const std::string& text) {
  return read_number_list(text, true, "input.txt", nullptr);
}

std::string ErrorOf(const NumberList& list) {
  try {
    parse_problem(list);
  } catch (const InputError& e) {
    return e.what();
  }
  return "no error";
}

// The record on one line, entries 0-based: "epsilon T opt_par dim | fixed
// count: row col = value | bounded count: row col lower..upper | x0 | amp |
// rate", so that a whole record is one comparison.
std::string Fields(const ProblemRecord& r) {
  std::ostringstream s;
  s << r.epsilon << ' ' << r.T << ' ' << r.opt_par << ' ' << r.dim << " | "
    << r.fix_par_dim << ':';
  for (std::size_t i = 0; i < r.fix_par_num.size(); ++i) {
    s << ' ' << r.fix_par_num[i].row << r.fix_par_num[i].col << '='
      << r.fix_par_val.at(i);
  }
  s << " | " << r.par_borders_dim << ':';
  for (std::size_t i = 0; i < r.par_borders_num.size(); ++i) {
    s << ' ' << r.par_borders_num[i].row << r.par_borders_num[i].col << ' '
      << r.par_borders_val.at(i).lower << ".." << r.par_borders_val.at(i).upper;
  }
  for (const Vector* v : {&r.init_val, &r.exp_coef, &r.exp_par}) {
    s << " |";
    for (double x : *v) s << ' ' << x;
  }
  return s.str();
}

TEST(ProblemFileTest, ReadsEveryField) {
  const std::string lf = kWorkedExample;
  const std::string crlf = std::regex_replace(lf, std::regex("\n"), "\r\n");
  const std::pair<std::string, std::string> cases[] = {
      {lf, "0.001 10 0.01 2 | 1: 01=0.5 | 1: 10 -1..1 | 1 0 | 0 1 | 0 -0.5"},
      {crlf, "0.001 10 0.01 2 | 1: 01=0.5 | 1: 10 -1..1 | 1 0 | 0 1 | 0 -0.5"},
      // No fixed and no bounded entries: the file is 3N + 6 numbers.
      {"0 1 1 2 0 0\n[1 2]\n[3 4]\n[5 6]\n",
       "0 1 1 2 | 0: | 0: | 1 2 | 3 4 | 5 6"},
      // One bounded entry ("]" then a blank would skip the rest of the line);
      // numbers after the last rate are ignored.
      {"0 1 1 2 0 1 2 2 -3 3\n[1 2]\n[3 4]\n[5 6]\n7 8\n",
       "0 1 1 2 | 0: | 1: 11 -3..3 | 1 2 | 3 4 | 5 6"},
      // Counts and indices are truncated: dim 2.7 -> 2, E 1.9 -> 1, row
      // 2.9 -> 1, column 1.5 -> 0, B -0.5 -> 0.
      {"0 1 1 2.7 1.9 2.9 1.5 4 -0.5 1 2 3 4 5 6",
       "0 1 1 2 | 1: 10=4 | 0: | 1 2 | 3 4 | 5 6"},
  };
  for (const auto& [text, fields] : cases) {
    EXPECT_EQ(Fields(parse_problem(List(text))), fields) << text;
  }
}

TEST(ProblemFileTest, BadFilesGiveExactMessages) {
  const std::string short_example =
      std::regex_replace(kWorkedExample, std::regex("\\[0 -0.5\\]"), "[0]");
  const std::pair<std::string, std::string> cases[] = {
      {"0.001 10 0.01 2",
       "1:16: expected at least 6 numbers (epsilon, T, opt_par, dim and the "
       "two entry counts), found 4"},
      {"0.001 10 0.01 2 2\n1 1 0.5\n",
       "2:8: expected at least 12 numbers for dim 2 with 2 fixed entries and "
       "the count of bounded entries, found 8"},
      {short_example,
       "18:4: expected 19 numbers for dim 2 with 1 fixed and 1 bounded "
       "entries, found 18"},
      {"0.001 10 0.01 1e9 0 0",
       "1:22: expected 3000000006 numbers for dim 1000000000 with 0 fixed and "
       "0 bounded entries, found 6"},
      {"0.001 10 0.01 1e10 0 0",
       "1:15: expected a dimension of at most 2147483647, found 1e10"},
      {"-0.001 10 0.01 2 0 0",
       "1:1: expected epsilon of 0 or more, found -0.001"},
      {"0.001 0 0.01 2 0 0", "1:7: expected T above 0, found 0"},
      {"0.001 10 0 2 0 0", "1:10: expected opt_par above 0, found 0"},
      {"0.001 10 0.01\n-2\n0 0",
       "2:1: expected a dimension of 0 or more, found -2"},
      {"0.001 10 0.01 2 -1 0",
       "1:17: expected a number of fixed entries of 0 or more, found -1"},
      {"0.001 10 0.01 2 0 -3 1 1 1 1 1 1",
       "1:19: expected a number of bounded entries of 0 or more, found -3"},
      {"0.001 10 0.01 2 1\n3 1 0.5\n0 1 1 1 1 1 1",
       "2:1: expected a row number from 1 to 2, found 3"},
      {"0.001 10 0.01 2 1\n1 0 0.5\n0 1 1 1 1 1 1",
       "2:3: expected a column number from 1 to 2, found 0"},
      {"0.001 10 0.01 0 0 1\n1 1 0 1",
       "2:1: expected no row numbers for dim 0, found 1"},
      {"0.001 10 0.01 2 0 1\n1 1 2 1\n1 1 1 1 1 1",
       "2:5: expected a lower bound not above its upper bound 1, found 2"},
  };
  for (const auto& [text, message] : cases) {
    EXPECT_EQ(ErrorOf(List(text)), "input.txt:" + message) << text;
  }
  // A number the tokenizer would never pass is caught by the parser too.
  NumberList list("input.txt", "0.001 inf 0.01 0 0 0");
  const std::pair<double, std::uint32_t> numbers[] = {
      {0.001, 0}, {std::numeric_limits<double>::infinity(), 6},
      {0.01, 10}, {0, 15},
      {0, 17},    {0, 19}};
  for (const auto& [value, offset] : numbers) list.append(value, offset);
  EXPECT_EQ(ErrorOf(list),
            "input.txt:1:7: expected a finite number, found \"inf\"");
}

// Numbers after the last rate are ignored, with a warning at the line of the
// first of them.
TEST(ProblemFileTest, UnusedNumbersWarn) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {kWorkedExample, {}},
      {std::string(kWorkedExample) + "% old rates\n[0 -0.4]\n",
       {"input.txt:20: warning: 2 numbers after the last rate are ignored"}},
      {"0 1 1 0 0 0 5",
       {"input.txt:1: warning: 1 number after the last rate is ignored"}},
  };
  for (const auto& [text, warnings] : cases) {
    std::vector<std::string> found;
    parse_problem(List(text), &found);
    EXPECT_EQ(found, warnings) << text;
  }
}

}  // namespace
}  // namespace identify
