// When the rounds of a library method stop: on a round that ends the fit,
// on a round that finds nothing lower than the one before, and when the
// step between rounds declines.
#include "fit/rounds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace identify {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Case {
  const char* name;
  std::vector<double> bests;  // best value after each round
  int last_going_on;          // rounds that return true, then false
  int between_declines_at;    // 0: never
  int expected_rounds;
};

TEST(Rounds, StopWhereTheFitEndsOrNothingLowerIsFound) {
  const Case cases[] = {
      {"each round lower, until one ends the fit", {5, 4, 3, 2}, 3, 0, 4},
      {"an equal best ends the rounds", {5, 4, 4, 3}, 9, 0, 3},
      {"a higher best ends the rounds", {5, 6, 1}, 9, 0, 2},
      {"a NaN best is never lower", {kNaN, 1}, 9, 0, 1},
      {"an infinite best is not lower than none", {INFINITY, 1}, 9, 0, 1},
      {"the first round ends the fit", {1}, 0, 0, 1},
      {"the step between rounds declines", {5, 4, 3, 2}, 9, 2, 2},
  };
  for (const Case& c : cases) {
    int rounds = 0, betweens = 0;
    run_rounds([&] { return ++rounds <= c.last_going_on; },
               [&] { return c.bests[rounds - 1]; },
               [&] { return ++betweens != c.between_declines_at; });
    EXPECT_EQ(rounds, c.expected_rounds) << c.name;
    // The step between runs only after a round that lowered the best.
    EXPECT_LE(betweens, rounds) << c.name;
  }
}

}  // namespace
}  // namespace identify
