// The result file's number format and its atomic replacement.
#include "output/result_file.h"

#include <gtest/gtest.h>

#include "run_binary.h"

namespace identify {
namespace {

Matrix matrix(int n, std::vector<double> entries) {
  Matrix A = make_matrix(n);
  for (std::size_t q = 0; q < entries.size(); ++q) A.data()[q] = entries[q];
  return A;
}

TEST(ResultFile, NumberFormatAndSeparators) {
  EXPECT_EQ(format_result(make_matrix(0)), "");
  EXPECT_EQ(format_result(matrix(1, {-0.0})), "-0    \n");
  EXPECT_EQ(
      format_result(matrix(3, {1.0 / 3, -1.23456789, 123456, 1234567, 0.0001,
                               0.00001234, 100000, 999999.6, 2.0})),
      "0.333333    -1.23457    123456    \n"
      "1.23457e+06    0.0001    1.234e-05    \n"
      "100000    1e+06    2    \n");
}

TEST(ResultFile, ReplacesTheOldFileWholeOrNotAtAll) {
  testing::ScratchDir dir;
  const std::string path = dir.file("output.txt");
  dir.write("output.txt", std::string(1000, 'x'));
  EXPECT_EQ(write_result_file(path, matrix(1, {2.5})), "");
  EXPECT_EQ(dir.read("output.txt"), "2.5    \n");
  // A file-size limit of 16 bytes: the write of a big result fails halfway.
  EXPECT_EQ(testing::with_file_size_limit(
                16, [&] { return write_result_file(path, make_matrix(20)); }),
            "File too large");
  EXPECT_EQ(dir.read("output.txt"), "2.5    \n");
  // No temporary file is left behind by either write.
  EXPECT_EQ(dir.names(), std::vector<std::string>{"output.txt"});
}

}  // namespace
}  // namespace identify
