#include "input/problem_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace identify {
namespace {

const char kWorkedExample[] =
    "% epsilon, T, opt_par\n0.001\n10\n0.01\n% dim\n2\n"
    "% fixed entries: count, then row column value\n1\n1 2 0.5\n"
    "% bounded entries: count, then row column lower upper\n1\n2 1 -1 1\n"
    "% init_val\n[1 0]\n% exp_coef\n[0 1]\n% exp_par\n[0 -0.5]\n";

ProblemRecord Parse(const std::string& text) {
  std::istringstream in(text);
  return parse_problem(read_number_list(in, true, "input.txt"));
}

std::string ErrorOf(const std::string& text) {
  try {
    Parse(text);
  } catch (const InputError& e) {
    return e.what();
  }
  return "no error";
}

TEST(ProblemFileTest, WorkedExampleWithLfAndCrLf) {
  const std::string lf = kWorkedExample;
  const std::string crlf = std::regex_replace(lf, std::regex("\n"), "\r\n");
  for (const std::string& text : {lf, crlf}) {
    const ProblemRecord r = Parse(text);
    EXPECT_EQ(r.epsilon, 0.001);
    EXPECT_EQ(r.T, 10.0);
    EXPECT_EQ(r.opt_par, 0.01);
    EXPECT_EQ(r.dim, 2);
    EXPECT_EQ(r.fix_par_dim, 1);
    EXPECT_EQ(r.fix_par_num, (std::vector<EntryIndex>{{0, 1}}));
    EXPECT_EQ(r.fix_par_val, std::vector<double>{0.5});
    EXPECT_EQ(r.par_borders_dim, 1);
    EXPECT_EQ(r.par_borders_num, (std::vector<EntryIndex>{{1, 0}}));
    EXPECT_EQ(r.par_borders_val, (std::vector<EntryBounds>{{-1.0, 1.0}}));
    EXPECT_EQ(r.init_val, (Vector{1, 0}));
    EXPECT_EQ(r.exp_coef, (Vector{0, 1}));
    EXPECT_EQ(r.exp_par, (Vector{0, -0.5}));
  }
}

TEST(ProblemFileTest, EntryCountsMoveTheVectors) {
  // No fixed and no bounded entries: the file is 3N + 6 numbers.
  ProblemRecord r = Parse("0 1 1 2 0 0\n[1 2]\n[3 4]\n[5 6]\n");
  EXPECT_TRUE(r.fix_par_num.empty() && r.fix_par_val.empty());
  EXPECT_TRUE(r.par_borders_num.empty() && r.par_borders_val.empty());
  EXPECT_EQ(r.init_val, (Vector{1, 2}));
  EXPECT_EQ(r.exp_coef, (Vector{3, 4}));
  EXPECT_EQ(r.exp_par, (Vector{5, 6}));

  // No fixed entries but one bounded entry ("]" then a blank would skip the
  // rest of the line); numbers after the last rate are ignored.
  r = Parse("0 1 1 2 0 1 2 2 -3 3\n[1 2]\n[3 4]\n[5 6]\n7 8\n");
  EXPECT_TRUE(r.fix_par_num.empty());
  EXPECT_EQ(r.par_borders_num, (std::vector<EntryIndex>{{1, 1}}));
  EXPECT_EQ(r.par_borders_val, (std::vector<EntryBounds>{{-3.0, 3.0}}));
  EXPECT_EQ(r.init_val, (Vector{1, 2}));
  EXPECT_EQ(r.exp_par, (Vector{5, 6}));
}

TEST(ProblemFileTest, CountsAndIndicesAreTruncated) {
  // dim 2.7 -> 2, E 1.9 -> 1, row 2.9 -> 1, column 1.5 -> 0, B -0.5 -> 0.
  const ProblemRecord r = Parse("0 1 1 2.7 1.9 2.9 1.5 4 -0.5 1 2 3 4 5 6");
  EXPECT_EQ(r.dim, 2);
  EXPECT_EQ(r.fix_par_num, (std::vector<EntryIndex>{{1, 0}}));
  EXPECT_EQ(r.fix_par_val, std::vector<double>{4});
  EXPECT_EQ(r.par_borders_dim, 0);
  EXPECT_EQ(r.exp_par, (Vector{5, 6}));
}

TEST(ProblemFileTest, ReadsFromDiskAndPassesWarningsOn) {
  const std::string path = testing::TempDir() + "/problem_file_test.txt";
  std::ofstream(path, std::ios::binary) << kWorkedExample << " 9\n";
  std::vector<std::string> warnings{"earlier"};
  EXPECT_EQ(read_problem_file(path, &warnings).exp_par, (Vector{0, -0.5}));
  EXPECT_EQ(warnings,
            (std::vector<std::string>{
                "earlier", path + ":19: warning: line starts with a blank or "
                                  "tab, its numbers are ignored: \"9\""}));
}

TEST(ProblemFileTest, BadFilesGiveExactMessages) {
  const std::string short_example =
      std::regex_replace(kWorkedExample, std::regex("\\[0 -0.5\\]"), "[0]");
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"0.001 10 0.01 2",
       "input.txt:1:16: expected at least 6 numbers (epsilon, T, opt_par, dim "
       "and the two entry counts), found 4"},
      {"0.001 10 0.01 2 2\n1 1 0.5\n",
       "input.txt:2:8: expected at least 12 numbers for dim 2 with 2 fixed "
       "entries and the count of bounded entries, found 8"},
      {short_example,
       "input.txt:18:4: expected 19 numbers for dim 2 with 1 fixed and 1 "
       "bounded entries, found 18"},
      {"0.001 10 0.01 1e9 0 0",
       "input.txt:1:22: expected 3000000006 numbers for dim 1000000000 with 0 "
       "fixed and 0 bounded entries, found 6"},
      {"0.001 10 0.01 1e10 0 0",
       "input.txt:1:15: expected a dimension of at most 2147483647, found "
       "1e10"},
      {"-0.001 10 0.01 2 0 0",
       "input.txt:1:1: expected epsilon of 0 or more, found -0.001"},
      {"0.001 0 0.01 2 0 0", "input.txt:1:7: expected T above 0, found 0"},
      {"0.001 10 -1 2 0 0",
       "input.txt:1:10: expected opt_par above 0, found -1"},
      {"0.001 10 0.01\n-2\n0 0",
       "input.txt:2:1: expected a dimension of 0 or more, found -2"},
      {"0.001 10 0.01 2 -1 0",
       "input.txt:1:17: expected a number of fixed entries of 0 or more, "
       "found -1"},
      {"0.001 10 0.01 2 0 -3 1 1 1 1 1 1",
       "input.txt:1:19: expected a number of bounded entries of 0 or more, "
       "found -3"},
      {"0.001 10 0.01 2 1\n3 1 0.5\n0 1 1 1 1 1 1",
       "input.txt:2:1: expected a row number from 1 to 2, found 3"},
      {"0.001 10 0.01 2 1\n1 0 0.5\n0 1 1 1 1 1 1",
       "input.txt:2:3: expected a column number from 1 to 2, found 0"},
      {"0.001 10 0.01 0 0 1\n1 1 0 1",
       "input.txt:2:1: expected no row numbers for dim 0, found 1"},
      {"0.001 10 0.01 2 0 1\n1 1 2 1\n1 1 1 1 1 1",
       "input.txt:2:5: expected a lower bound not above its upper bound 1, "
       "found 2"},
      {"0.001 10 0.01 2 0 0\n[1 1e999]\n[1 1]\n[1 1]",
       "input.txt:2:4: expected a finite number, found \"1e999\""},
      {"0.001 10 0.01 2 0 0\n[1 1]\nx",
       "input.txt:3:1: expected a number, found \"x\""},
      {"0.001 10 0.01 2 0 0\n[[1 1]\n[1 1]\n[1 1]",
       "input.txt:2:2: expected a number, found \"[1\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ErrorOf(c.text), c.message) << c.text;
  }

  // A list built without the tokenizer is checked for finite numbers too.
  NumberList list;
  list.file = "input.txt";
  for (double v : {0.001, 10.0, 0.01, 0.0, 0.0, 0.0}) {
    list.numbers.push_back(NumberToken{v, 1, 1, ""});
  }
  list.numbers[1].value = std::numeric_limits<double>::infinity();
  try {
    parse_problem(list);
    ADD_FAILURE() << "no error";
  } catch (const InputError& e) {
    EXPECT_EQ(std::string(e.what()),
              "input.txt:1:1: expected a finite number, found \"inf\"");
  }
}

}  // namespace
}  // namespace identify
