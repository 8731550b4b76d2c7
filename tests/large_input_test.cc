// A large generated measurement-like file: the reader's peak heap must stay
// under 40 bytes a number (the file's bytes included), and its time is
// printed. Ten million numbers in 20 MB, one million under the sanitizers,
// which slow the loop down by an order of magnitude.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "heap_counter.h"
#include "input/number_list.h"

namespace identify {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kNumbers = 1'000'000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr std::size_t kNumbers = 1'000'000;
#else
constexpr std::size_t kNumbers = 10'000'000;
#endif
#else
constexpr std::size_t kNumbers = 10'000'000;
#endif

TEST(LargeInput, PeakHeapStaysUnder40BytesANumber) {
  const std::string path = ::testing::TempDir() + "/large_input.txt";
  {
    // Lines of ten one-digit numbers: two bytes a number, the densest a
    // file can hold them.
    std::ofstream out(path, std::ios::binary);
    const std::string line = "1 2 3 4 5 6 7 8 9 0\n";
    for (std::size_t k = 0; k < kNumbers; k += 10) out << line;
  }
  const std::size_t before = testing::heap_bytes_in_use();
  testing::reset_heap_peak();
  const auto start = std::chrono::steady_clock::now();
  {
    const NumberList list = read_number_list_file(path, false, nullptr);
    ASSERT_EQ(list.size(), kNumbers);
    EXPECT_EQ(list[kNumbers - 1], 0);
    EXPECT_EQ(list[kNumbers - 2], 9);
    EXPECT_EQ(format_pos(list.pos(kNumbers - 1)),
              path + ":" + std::to_string(kNumbers / 10) + ":19: ");
  }
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;
  const double per_number =
      static_cast<double>(testing::heap_peak_bytes() - before) / kNumbers;
  std::printf("%zu numbers read in %.2f s, peak heap %.1f bytes a number\n",
              kNumbers, took.count(), per_number);
  EXPECT_LT(per_number, 40.0);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace identify
