// The result file's text, its atomic replacement, and the console report.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <sstream>

#include "output/result_file.h"
#include "run_binary.h"

namespace identify {
namespace {

Matrix matrix(int n, std::vector<double> entries) {
  Matrix A = make_matrix(n);
  for (std::size_t q = 0; q < entries.size(); ++q) A.data()[q] = entries[q];
  return A;
}

TEST(ResultFile, NumberFormatAndSeparators) {
  EXPECT_EQ(format_result(matrix(2, {1, -0.5, 0, 2.25})),
            "1    -0.5    \n0    2.25    \n");
  EXPECT_EQ(format_result(make_matrix(0)), "");
  EXPECT_EQ(format_result(matrix(1, {-0.0})), "-0    \n");
  EXPECT_EQ(format_result(matrix(3, {1.0 / 3, -1.23456789, 123456, 1234567,
                                     0.0001, 0.00001234, 100000, 999999.6,
                                     2.0})),
            "0.333333    -1.23457    123456    \n"
            "1.23457e+06    0.0001    1.234e-05    \n"
            "100000    1e+06    2    \n");
  std::ostringstream console;
  print_matrix_report(console, matrix(2, {1, -0.5, 0, 2.25}));
  print_time_line(console, 3.75);
  EXPECT_EQ(console.str(),
            "NUMERIC SOLUTION:\n1   -0.5   \n0   2.25   \n\n\nTIME = 3.75 sec\n\n");
}

TEST(ResultFile, ReplacesTheOldFileWhole) {
  testing::ScratchDir dir;
  const std::string path = (dir.path() / "output.txt").string();
  dir.write("output.txt", std::string(1000, 'x'));
  EXPECT_EQ(write_result_file(path, matrix(1, {2.5})), "");
  EXPECT_EQ(dir.read("output.txt"), "2.5    \n");
  // Nothing but the result is left in the directory.
  int files = 0;
  for ([[maybe_unused]] const auto& e :
       std::filesystem::directory_iterator(dir.path()))
    ++files;
  EXPECT_EQ(files, 1);
  EXPECT_NE(write_result_file((dir.path() / "no/such/dir/out.txt").string(),
                              matrix(1, {1.0})),
            "");
}

TEST(ResultFile, FailedWriteLeavesThePreviousResult) {
  testing::ScratchDir dir;
  const std::string path = (dir.path() / "output.txt").string();
  dir.write("output.txt", "previous    \n");
  // A file-size limit of 16 bytes: the write of a big result fails halfway.
  EXPECT_EQ(testing::with_file_size_limit(
                16, [&] { return write_result_file(path, make_matrix(20)); }),
            "File too large");
  EXPECT_EQ(dir.read("output.txt"), "previous    \n");
  int files = 0;
  for ([[maybe_unused]] const auto& e :
       std::filesystem::directory_iterator(dir.path()))
    ++files;
  EXPECT_EQ(files, 1);  // the temporary file was removed
}

}  // namespace
}  // namespace identify
