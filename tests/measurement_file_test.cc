#include "input/measurement_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace identify {
namespace {

const char kWorkedExample[] =
    "% number of series\n2\n% component of each series\n1 2\n"
    "% samples per series\n4\n"
    "% series 1: time value\n2.5 0.42\n5 0.37\n7.5 0.31\n10 0.27\n"
    "% series 2: time value\n2.5 0.61\n5 0.88\n7.5 1.02\n10 1.05\n";

ObservationRecord Parse(const std::string& text, std::int32_t dim = 2,
                        double T = 10.0) {
  std::istringstream in(text);
  return parse_measurements(read_number_list(in, false, "input_data.txt"), dim,
                            T);
}

std::string ErrorOf(const std::string& text, std::int32_t dim = 2) {
  try {
    Parse(text, dim);
  } catch (const InputError& e) {
    return e.what();
  }
  return "no error";
}

std::vector<double> Row(const Table& t, std::size_t r) {
  return std::vector<double>(t[r], t[r] + t.cols());
}

TEST(MeasurementFileTest, WorkedExampleWithLfAndCrLf) {
  const std::string lf = kWorkedExample;
  const std::string crlf = std::regex_replace(lf, std::regex("\n"), "\r\n");
  for (const std::string& text : {lf, crlf}) {
    const ObservationRecord r = Parse(text);
    EXPECT_EQ(r.data_num, 2);
    EXPECT_EQ(r.is_data_exist, (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(r.data_dim, (std::vector<std::int32_t>{5, 5}));
    ASSERT_EQ(r.data_time.rows(), 2u);
    ASSERT_EQ(r.points(), 5);
    for (std::size_t c = 0; c < 2; ++c) {
      EXPECT_EQ(Row(r.data_time, c), (std::vector<double>{0, 2.5, 5, 7.5, 10}));
    }
    EXPECT_EQ(Row(r.add_data, 0),
              (std::vector<double>{0, 0.42, 0.37, 0.31, 0.27}));
    EXPECT_EQ(Row(r.add_data, 1),
              (std::vector<double>{0, 0.61, 0.88, 1.02, 1.05}));
  }
}

TEST(MeasurementFileTest, CountsAndShapes) {
  // P = 0: every series is the single point at t = 0.
  ObservationRecord r = Parse("1 1 0");
  EXPECT_EQ(r.data_dim, (std::vector<std::int32_t>{1, 1}));
  EXPECT_EQ(r.data_time, Table(1, 1));
  EXPECT_EQ(r.add_data, Table(1, 1));

  // Component 2.9 is 1 (0-based), P 4.5 and 4.0 are 4; extra numbers ignored.
  for (const char* p : {"4.5", "4.0"}) {
    r = Parse(std::string("1 2.9 ") + p + " 1 1 2 2 3 3 4 4 99", 3);
    EXPECT_EQ(r.is_data_exist, std::vector<std::int32_t>{1});
    EXPECT_EQ(r.data_dim, (std::vector<std::int32_t>{5, 5, 5}));
    EXPECT_EQ(Row(r.add_data, 0), (std::vector<double>{0, 1, 2, 3, 4}));
  }

  // More series than components, in any order, several on one component.
  r = Parse("3 2 1 2 1 5 1 6 2 7 3", 2);
  EXPECT_EQ(r.is_data_exist, (std::vector<std::int32_t>{1, 0, 1}));
  EXPECT_EQ(r.data_dim, (std::vector<std::int32_t>{2, 2}));
  EXPECT_EQ(Row(r.data_time, 2), (std::vector<double>{0, 7}));

  // No series: the tables have no rows but still P + 1 columns.
  r = Parse("0 3", 4);
  EXPECT_EQ(r.data_num, 0);
  EXPECT_EQ(r.data_dim, (std::vector<std::int32_t>{4, 4, 4, 4}));
  EXPECT_EQ(r.data_time.rows(), 0u);
  EXPECT_EQ(r.data_time.cols(), 4u);
}

TEST(MeasurementFileTest, ReadsFromDiskWithoutBrackets) {
  const std::string path = testing::TempDir() + "/measurement_file_test.txt";
  std::ofstream(path, std::ios::binary) << kWorkedExample;
  EXPECT_EQ(read_measurement_file(path, 2, 10.0, nullptr).data_num, 2);

  std::ofstream(path, std::ios::binary) << "1\n[1]\n0\n";
  try {
    read_measurement_file(path, 2, 10.0, nullptr);
    ADD_FAILURE() << "no error";
  } catch (const InputError& e) {
    EXPECT_EQ(std::string(e.what()),
              path + ":2:1: expected a number, found \"[1]\"");
  }
}

TEST(MeasurementFileTest, BadFilesGiveExactMessages) {
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"",
       "input_data.txt:1:1: expected at least 2 numbers (the number of series "
       "and the number of samples), found 0"},
      {"2\n1 2\n",
       "input_data.txt:2:4: expected at least 4 numbers for 2 series (their "
       "component numbers and the number of samples), found 3"},
      {"2\n1 2\n4\n2.5 0.42\n",
       "input_data.txt:4:9: expected 20 numbers for 2 series of 4 samples, "
       "found 6"},
      {"-1 0",
       "input_data.txt:1:1: expected a number of series of 0 or more, found "
       "-1"},
      {"1 1 -2",
       "input_data.txt:1:5: expected a number of samples of 0 or more, found "
       "-2"},
      {"0 2147483647",
       "input_data.txt:1:3: expected a number of samples of at most "
       "2147483646, found 2147483647"},
      {"2\n1 3\n0",
       "input_data.txt:2:3: expected a component number from 1 to 2, found "
       "3"},
      {"1\n0.5\n0",
       "input_data.txt:2:1: expected a component number from 1 to 2, found "
       "0.5"},
      {"1 1 2\n2.5 1\n12.5 1",
       "input_data.txt:3:1: expected a time from 0 to 10, found 12.5"},
      {"1 1 1\n-0.5 1",
       "input_data.txt:2:1: expected a time from 0 to 10, found -0.5"},
      {"1 1 1\n5 -1e999",
       "input_data.txt:2:3: expected a finite number, found \"-1e999\""},
      {"1 1 1\n5 abc", "input_data.txt:2:3: expected a number, found \"abc\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ErrorOf(c.text), c.message) << c.text;
  }
  EXPECT_EQ(ErrorOf("1 1 0", 0),
            "input_data.txt:1:3: expected no component numbers for dim 0, "
            "found 1");
}

}  // namespace
}  // namespace identify
