#include "input/measurement_file.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace identify {
namespace {

const char kWorkedExample[] =
    "% number of series\n2\n% component of each series\n1 2\n"
    "% samples per series\n4\n"
    "% series 1: time value\n2.5 0.42\n5 0.37\n7.5 0.31\n10 0.27\n"
    "% series 2: time value\n2.5 0.61\n5 0.88\n7.5 1.02\n10 1.05\n";

ObservationRecord Parse(const std::string& text, std::int32_t dim = 2,
                        double T = 10.0,
                        std::vector<std::string>* warnings = nullptr) {
  return parse_measurements(
      read_number_list(text, false, "input_data.txt", warnings), dim, T,
      warnings);
}

std::string ErrorOf(const std::string& text, std::int32_t dim = 2) {
  try {
    Parse(text, dim);
  } catch (const InputError& e) {
    return e.what();
  }
  return "no error";
}

// The record on one line: "K | component of each series | points of each
// component | times rows x cols: series ; ... | values rows x cols: ...".
std::string Fields(const ObservationRecord& r) {
  std::ostringstream s;
  s << r.data_num << " |";
  for (int c : r.is_data_exist) s << ' ' << c;
  s << " |";
  for (int d : r.data_dim) s << ' ' << d;
  for (const Table* t : {&r.data_time, &r.add_data}) {
    s << " | " << t->rows() << 'x' << t->cols() << ':';
    for (std::size_t k = 0; k < t->rows(); ++k) {
      s << (k > 0 ? " ;" : "");
      for (std::size_t j = 0; j < t->cols(); ++j) s << ' ' << (*t)[k][j];
    }
  }
  return s.str();
}

TEST(MeasurementFileTest, ReadsEveryField) {
  const std::string lf = kWorkedExample;
  const std::string crlf = std::regex_replace(lf, std::regex("\n"), "\r\n");
  const std::string worked =
      "2 | 0 1 | 5 5 | 2x5: 0 2.5 5 7.5 10 ; 0 2.5 5 7.5 10 | 2x5: 0 0.42 "
      "0.37 0.31 0.27 ; 0 0.61 0.88 1.02 1.05";
  const struct {
    std::string text;
    std::int32_t dim;
    std::string fields;
  } cases[] = {
      {lf, 2, worked},
      {crlf, 2, worked},
      // P = 0: every series is the single point at t = 0.
      {"1 1 0", 2, "1 | 0 | 1 1 | 1x1: 0 | 1x1: 0"},
      // Component 2.9 is 1 (0-based), P 4.5 and 4.0 are 4; extra numbers
      // are ignored (with a warning: see below).
      {"1 2.9 4.5 1 1 2 2 3 3 4 4 99", 3,
       "1 | 1 | 5 5 5 | 1x5: 0 1 2 3 4 | 1x5: 0 1 2 3 4"},
      {"1 2.9 4.0 1 1 2 2 3 3 4 4 99", 3,
       "1 | 1 | 5 5 5 | 1x5: 0 1 2 3 4 | 1x5: 0 1 2 3 4"},
      // More series than components, in any order, several on one component.
      {"3 2 1 2 1 5 1 6 2 7 3", 2,
       "3 | 1 0 1 | 2 2 | 3x2: 0 5 ; 0 6 ; 0 7 | 3x2: 0 1 ; 0 2 ; 0 3"},
      // No series: the tables have no rows but still P + 1 columns.
      {"0 3", 4, "0 | | 4 4 4 4 | 0x4: | 0x4:"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Fields(Parse(c.text, c.dim)), c.fields) << c.text;
  }
}

TEST(MeasurementFileTest, BadFilesGiveExactMessages) {
  const std::pair<std::string, std::string> cases[] = {
      {"",
       "1:1: expected at least 2 numbers (the number of series and the number "
       "of samples), found 0"},
      {"2\n1 2\n",
       "2:4: expected at least 4 numbers for 2 series (their component numbers "
       "and the number of samples), found 3"},
      {"2\n1 2\n4\n2.5 0.42\n",
       "4:9: expected 20 numbers for 2 series of 4 samples, found 6"},
      {"-1 0", "1:1: expected a number of series of 0 or more, found -1"},
      {"1 1 -2", "1:5: expected a number of samples of 0 or more, found -2"},
      {"0 2147483647",
       "1:3: expected a number of samples of at most 2147483646, found "
       "2147483647"},
      {"2\n1 3\n0", "2:3: expected a component number from 1 to 2, found 3"},
      {"1\n0.5\n0", "2:1: expected a component number from 1 to 2, found 0.5"},
      {"1 1 2\n2.5 1\n12.5 1", "3:1: expected a time from 0 to 10, found 12.5"},
      {"1 1 1\n-0.5 1", "2:1: expected a time from 0 to 10, found -0.5"},
  };
  for (const auto& [text, message] : cases) {
    EXPECT_EQ(ErrorOf(text), "input_data.txt:" + message) << text;
  }
  EXPECT_EQ(
      ErrorOf("1 1 0", 0),
      "input_data.txt:1:3: expected no component numbers for dim 0, found 1");
}

// Numbers after the last sample are ignored, with a warning at the line of
// the first of them: a P one lower than the rows of the file loses rows.
TEST(MeasurementFileTest, UnusedNumbersWarn) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {kWorkedExample, {}},
      {std::string(kWorkedExample) + "% notes\n11 1.1\n",
       {"input_data.txt:18: warning: 2 numbers after the last sample are "
        "ignored"}},
      {"1 1 1\n5 0.5 6",
       {"input_data.txt:2: warning: 1 number after the "
        "last sample is ignored"}},
      {"2\n1 2\n3\n2.5 0.42\n5 0.37\n7.5 0.31\n10 0.27\n"
       "2.5 0.61\n5 0.88\n7.5 1.02\n10 1.05\n",
       {"input_data.txt:10: warning: 4 numbers after the last sample are "
        "ignored"}},
  };
  for (const auto& [text, warnings] : cases) {
    std::vector<std::string> found;
    Parse(text, 2, 10.0, &found);
    EXPECT_EQ(found, warnings) << text;
  }
}

}  // namespace
}  // namespace identify
