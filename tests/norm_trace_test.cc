// The bounded residual-norm trace: which iterations it keeps as it thins
// itself out, and that the last iteration is always among them.
#include "fit/norm_trace.h"

#include <gtest/gtest.h>

namespace identify {
namespace {

TEST(NormTrace, KeepsEvenlySpacedIterationsAndTheLast) {
  std::vector<std::int64_t> it;
  std::vector<double> norm;
  {
    NormTrace trace(4);
    trace.points(it, norm);
    EXPECT_TRUE(it.empty());
    for (int k = 0; k <= 2; ++k) trace.record(k, 10.0 - k);
    trace.points(it, norm);
    EXPECT_EQ(it, (std::vector<std::int64_t>{0, 1, 2}));
    EXPECT_EQ(norm, (std::vector<double>{10, 9, 8}));
  }
  {
    // 4 slots: 0..3 fill them; 4 halves to {0, 2} and adds 4 (stride 2);
    // 8 halves again to {0, 4} and adds 8 (stride 4); 12 fills the buffer.
    NormTrace trace(4);
    for (int k = 0; k <= 13; ++k) trace.record(k, 100.0 / (k + 1));
    EXPECT_EQ(trace.stride(), 4);
    trace.points(it, norm);
    EXPECT_EQ(it, (std::vector<std::int64_t>{0, 4, 8, 12, 13}));
    EXPECT_EQ(norm.back(), 100.0 / 14);
    EXPECT_EQ(norm[1], 100.0 / 5);
  }
  {
    // A million iterations stay within the capacity plus the last point.
    NormTrace trace(4096);
    for (int k = 0; k < 1000000; ++k) trace.record(k, 1.0);
    trace.points(it, norm);
    EXPECT_LE(it.size(), 4097u);
    EXPECT_GT(it.size(), 2048u);
    EXPECT_EQ(it.front(), 0);
    EXPECT_EQ(it.back(), 999999);
    for (std::size_t q = 1; q + 1 < it.size(); ++q) {
      EXPECT_EQ(it[q] - it[q - 1], trace.stride());
    }
  }
}

}  // namespace
}  // namespace identify
