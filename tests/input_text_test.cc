// Whole-file reading: a file is read to its end, not to the size the system
// reports for it (a file of /proc reports 0 bytes), and within the limit.
#include "input/input_text.h"

#include <gtest/gtest.h>

#include <string>

namespace identify {
namespace {

TEST(InputText, ProcFilesAreReadToTheirEndWithinTheLimit) {
  const std::string status = read_input_file("/proc/self/status");
  EXPECT_EQ(status.rfind("Name:", 0), 0u) << status.substr(0, 40);
  EXPECT_GT(status.size(), 100u);
  try {
    read_input_file("/proc/self/status", 10);
    ADD_FAILURE() << "no error";
  } catch (const InputError& e) {
    EXPECT_STREQ(e.what(),
                 "/proc/self/status: expected a file of at most 10 bytes, "
                 "found 11 bytes");
  }
}

}  // namespace
}  // namespace identify
