// The pieces of a multi-start fit: where starts are drawn (ranges, Latin
// hypercube cells, reproducibility, re-draws), the worker pool, the
// grouping of end points into distinct optima, and the run of the starts
// (the same outcomes and report order on any number of threads, re-drawn
// starts where the objective is not finite).
#include "fit/multistart/multistart.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "fit/multistart/optima.h"
#include "fit/multistart/random_stream.h"
#include "fit/multistart/start_sampler.h"
#include "fit/multistart/worker_pool.h"

namespace identify {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(StartSampler, RangesFollowBoundsAndScales) {
  struct Case {
    Scale scale;
    double lower, upper, value;
    double want_lower, want_upper;
  };
  const Case cases[] = {
      {Scale::kLin, -2, 3, 0, -2, 3},
      {Scale::kLin, -kInf, kInf, 0, -1, 1},  // the legacy start
      {Scale::kLin, -kInf, kInf, 5, 0, 10},
      {Scale::kLin, -kInf, kInf, -0.25, -1.25, 0.75},
      {Scale::kLin, 0, kInf, 0.5, 0, 1.5},
      {Scale::kLog, 0.01, 20, 1, std::log(0.01), std::log(20.0)},
      {Scale::kLog, 0, 10, 1, std::log(0.1), std::log(10.0)},
      {Scale::kLog10, 1, kInf, 100, 0, 3},
  };
  for (const Case& c : cases) {
    Parameter p;
    p.scale = c.scale;
    p.lower = c.lower;
    p.upper = c.upper;
    const SampleRange r = sample_range(p, c.value);
    EXPECT_DOUBLE_EQ(r.lower, c.want_lower) << c.lower << " " << c.value;
    EXPECT_DOUBLE_EQ(r.upper, c.want_upper) << c.upper << " " << c.value;
  }
}

// Linear bounds from 0, or spanning a factor 1000 or more, are drawn by
// decades: each of the eight decades below 1 gets as many Latin hypercube
// starts. Narrower, negative or half-open ranges stay linear.
TEST(StartSampler, BoundsSpanningDecadesAreDrawnOnALogScale) {
  struct Case {
    double lower, upper;
    bool logarithmic;
    double want_lower;
  };
  const Case cases[] = {{0, 1, true, 1e-8},       {1e-3, 10, true, 1e-3},
                        {1e-3, 0.5, false, 1e-3}, {-1, 1, false, -1},
                        {0, kInf, false, 0},      {2, 2, false, 2}};
  for (const Case& c : cases) {
    Parameter p;
    p.lower = c.lower;
    p.upper = c.upper;
    const SampleRange r = sample_range(p, c.lower);
    EXPECT_EQ(r.logarithmic, c.logarithmic) << c.lower << " " << c.upper;
    EXPECT_DOUBLE_EQ(r.lower, c.want_lower) << c.lower << " " << c.upper;
  }
  Parameter rate;
  rate.lower = 0;
  rate.upper = 1;
  const StartSampler sampler({sample_range(rate, 0.5)}, 40, 9);
  std::vector<int> per_decade(8, 0);
  std::vector<double> x(1);
  for (int i = 0; i < 40; ++i) {
    sampler.draw(i, 0, x);
    ASSERT_GE(x[0], 1e-8);
    ASSERT_LE(x[0], 1.0);
    ++per_decade[std::min(7, static_cast<int>(std::floor(-std::log10(x[0]))))];
  }
  EXPECT_EQ(per_decade, std::vector<int>(8, 5));
}

TEST(StartSampler, EveryCellOnceReproducibleAndRedrawsInTheBox) {
  const std::vector<SampleRange> box = {{-1, 1}, {std::log(0.01), 3}, {5, 5.5}};
  const int m = 37;
  const StartSampler a(box, m, 42);
  const StartSampler b(box, m, 42);
  const StartSampler other(box, m, 43);
  std::vector<double> x(3), y(3);
  std::vector<std::vector<int>> hits(3, std::vector<int>(m, 0));
  std::vector<int> cells[2];
  int differ = 0;
  for (int i = 0; i < m; ++i) {
    a.draw(i, 0, x);
    b.draw(i, 0, y);
    EXPECT_EQ(x, y);
    other.draw(i, 0, y);
    differ += x != y;
    for (int j = 0; j < 3; ++j) {
      ASSERT_GE(x[j], box[j].lower);
      ASSERT_LE(x[j], box[j].upper);
      const double f = (x[j] - box[j].lower) / (box[j].upper - box[j].lower);
      const int cell = std::min(m - 1, static_cast<int>(f * m));
      ++hits[j][cell];
      if (j < 2) cells[j].push_back(cell);
    }
    // Later draws are elsewhere in the box, each the same on every call.
    for (int draw = 1; draw < 4; ++draw) {
      a.draw(i, draw, y);
      std::vector<double> again(3);
      b.draw(i, draw, again);
      EXPECT_EQ(y, again);
      EXPECT_NE(y, x);
      for (int j = 0; j < 3; ++j) {
        EXPECT_GE(y[j], box[j].lower);
        EXPECT_LE(y[j], box[j].upper);
      }
    }
  }
  for (const auto& h : hits) {
    EXPECT_TRUE(std::all_of(h.begin(), h.end(), [](int n) { return n == 1; }));
  }
  // The parameters' cells are shuffled independently, not in step.
  EXPECT_NE(cells[0], cells[1]);
  EXPECT_FALSE(std::is_sorted(cells[0].begin(), cells[0].end()));
  EXPECT_EQ(differ, m);
}

TEST(StartSampler, RandomStreamIsUnbiased) {
  RandomStream s(7);
  int counts[3] = {0, 0, 0};
  double sum = 0.0;
  for (int k = 0; k < 30000; ++k) {
    ++counts[s.below(3)];
    const double u = s.uniform();
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
    sum += u;
  }
  for (int c : counts) EXPECT_NEAR(c, 10000, 400);
  EXPECT_NEAR(sum / 30000, 0.5, 0.01);
  EXPECT_NE(RandomStream(7, 1).next(), RandomStream(7, 2).next());
}

TEST(WorkerPool, RunsEveryTaskOnceAndRethrowsTheLowestFailure) {
  for (int threads : {1, 2, 5}) {
    std::vector<std::atomic<int>> runs(1000);
    std::atomic<int> bad_worker{0};
    WorkerPool pool(threads);
    pool.run(1000, [&](int worker, int task) {
      if (worker < 0 || worker >= threads) ++bad_worker;
      ++runs[task];
    });
    EXPECT_EQ(bad_worker, 0);
    EXPECT_TRUE(std::all_of(runs.begin(), runs.end(),
                            [](const std::atomic<int>& n) { return n == 1; }))
        << threads;

    std::atomic<int> done{0};
    try {
      pool.run(40, [&](int, int task) {
        if (task == 31 || task == 17) {
          throw std::runtime_error("task " + std::to_string(task));
        }
        ++done;
      });
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "task 17");
    }
    EXPECT_EQ(done, 38);
  }
}

StartOutcome outcome(int start, double objective, std::vector<double> x) {
  StartOutcome o;
  o.start = start;
  o.finished = std::isfinite(objective);
  o.objective = objective;
  o.x = std::move(x);
  return o;
}

// End points are one place when they are within 0.01 of each other.
bool near(const StartOutcome& a, const StartOutcome& b) {
  for (std::size_t j = 0; j < a.x.size(); ++j) {
    if (std::abs(a.x[j] - b.x[j]) > 0.01) return false;
  }
  return true;
}

TEST(DistinctOptima, GroupsByObjectiveAndPlaceAndPrefersTheEarliestTie) {
  struct Case {
    const char* what;
    std::vector<StartOutcome> outcomes;
    double floor;
    bool place_alone;  // one place is one optimum, whatever the objectives
    // Per optimum in the order returned: its starts, how many of them are
    // within 1e-6 of its objective, and whether it ties.
    std::vector<std::vector<int>> starts;
    std::vector<int> within;
    std::vector<bool> tied;
    // The start whose end point each keeps: the earliest of those tied to
    // its lowest objective.
    std::vector<int> best;
  };
  const Case cases[] = {
      {"mirror images tie: the one of start 0 is the result",
       {outcome(0, 4.2860090000001, {0.5, -2.9}),
        outcome(1, 4.2860090000000, {-2.9, 0.5}),
        outcome(2, 4.286009000002, {0.5005, -2.9}), outcome(3, 9.5, {0, 0}),
        outcome(4, std::nan(""), {1, 1}),
        outcome(5, 4.2860090000001, {-2.9, 0.5})},
       0.0,
       false,
       {{0, 2}, {1, 5}, {3}},
       {2, 2, 1},
       {true, true, false},
       {0, 1, 3}},
      {"close objectives at different places, not tied: the lowest wins",
       {outcome(0, 1.0000005, {1, 1}), outcome(1, 1.0, {2, 2}),
        outcome(2, 1.0000001, {2, 2})},
       0.0,
       false,
       {{1, 2}, {0}},
       {2, 1},
       {true, false},
       {1, 0}},
      {"objectives far apart at one place are two optima",
       {outcome(0, 1.0, {1, 1}), outcome(1, 1.1, {1, 1})},
       0.0,
       false,
       {{0}, {1}},
       {1, 1},
       {true, false},
       {0, 1}},
      {"a start that stopped short in an optimum's valley joins it, not "
       "within 1e-6",
       {outcome(0, 1.1, {1, 1}), outcome(1, 1.0, {1, 1})},
       0.0,
       true,
       {{0, 1}},
       {1},
       {true},
       {1}},
      {"the earliest start tied to the lowest is kept, not one only near it",
       {outcome(0, 2.0000000001, {1, 1}), outcome(1, 2.0, {1.001, 1}),
        outcome(2, 7.00001, {5, 5}), outcome(3, 7.0, {5, 5.001})},
       0.0,
       true,
       {{0, 1}, {2, 3}},
       {2, 1},
       {true, false},
       {0, 3}},
      {"exact fits agree below the floor",
       {outcome(0, 1e-25, {1, 1}), outcome(1, 3e-21, {1, 1}),
        outcome(2, 2e-9, {1, 1})},
       1e-12,
       false,
       {{0, 1}, {2}},
       {2, 1},
       {true, false},
       {0, 2}},
      {"nothing finished",
       {outcome(0, std::nan(""), {})},
       0.0,
       false,
       {},
       {},
       {},
       {}},
  };
  for (const Case& c : cases) {
    const std::vector<Optimum> optima = distinct_optima(
        c.outcomes,
        [&](const StartOutcome& a, const StartOutcome& b) {
          return near(a, b) &&
                 (c.place_alone || objectives_agree(a.objective, b.objective,
                                                    kSameObjective, c.floor));
        },
        c.floor);
    ASSERT_EQ(optima.size(), c.starts.size()) << c.what;
    for (std::size_t q = 0; q < optima.size(); ++q) {
      EXPECT_EQ(optima[q].starts, c.starts[q]) << c.what << " " << q;
      EXPECT_EQ(optima[q].within, c.within[q]) << c.what << " " << q;
      EXPECT_EQ(optima[q].tied, c.tied[q]) << c.what << " " << q;
      EXPECT_EQ(optima[q].best_start, c.best[q]) << c.what << " " << q;
      // The optimum's objective and point are those of the start it keeps.
      const StartOutcome& best = c.outcomes[optima[q].best_start];
      EXPECT_EQ(optima[q].objective, best.objective) << c.what;
      EXPECT_EQ(optima[q].x, best.x) << c.what;
    }
  }
  const Case& mirror = cases[0];
  EXPECT_EQ(waterfall(mirror.outcomes),
            (std::vector<double>{4.2860090000000, 4.2860090000001,
                                 4.2860090000001, 4.286009000002, 9.5}));
}

// f(x, y) = (x² − 1)² + (y − x/2)² + 0.3·x: two wells near x = ±1, the
// left one lower; not finite for y > 1.5. The local fit is a fixed number
// of gradient steps, so its end depends on the start alone.
class TwoWells : public StartRunner {
 public:
  static double f(std::span<const double> p) {
    if (p[1] > 1.5) return std::nan("");
    const double a = p[0] * p[0] - 1, b = p[1] - p[0] / 2;
    return a * a + b * b + 0.3 * p[0];
  }
  double objective_at(std::span<const double> x) override { return f(x); }
  StartOutcome fit_from(std::span<const double> x, bool) override {
    std::vector<double> p(x.begin(), x.end());
    for (int k = 0; k < 2000; ++k) {
      const double a = p[0] * p[0] - 1, b = p[1] - p[0] / 2;
      const double gx = 4 * a * p[0] - b + 0.3, gy = 2 * b;
      p[0] -= 0.01 * gx;
      p[1] -= 0.01 * gy;
    }
    StartOutcome o;
    o.finished = true;
    o.objective = f(p);
    o.x = p;
    o.iterations = 2000;
    return o;
  }
};

TEST(RunStarts, SameOutcomesOnAnyThreadsAndRedrawsWhereNotFinite) {
  const std::vector<double> first = {0.9, 0.0};
  const std::vector<SampleRange> box = {{-2, 2}, {-2, 2}};
  std::vector<std::vector<StartOutcome>> runs;
  for (int threads : {1, 2, 3}) {
    std::vector<int> order;
    MultiStartSettings s;
    s.starts = 25;
    s.seed = 9;
    s.threads = threads;
    runs.push_back(run_starts(
        s, first, box, [](int) { return std::make_unique<TwoWells>(); },
        [&](const StartOutcome& o) { order.push_back(o.start); }));
    ASSERT_EQ(order.size(), 25u);
    for (int i = 0; i < 25; ++i) EXPECT_EQ(order[i], i);
  }
  int redrawn = 0;
  for (int i = 0; i < 25; ++i) {
    for (const auto& other : {runs[1][i], runs[2][i]}) {
      EXPECT_EQ(other.objective, runs[0][i].objective) << i;
      EXPECT_EQ(other.x, runs[0][i].x) << i;
      EXPECT_EQ(other.redraws, runs[0][i].redraws) << i;
    }
    EXPECT_TRUE(runs[0][i].finished);
    redrawn += runs[0][i].redraws > 0;
  }
  // About an eighth of the box is not finite: some draws were rejected.
  EXPECT_GT(redrawn, 0);
  // Start 0 descends into the right well; others find the lower left one.
  const auto optima = distinct_optima(runs[0], near);
  ASSERT_EQ(optima.size(), 2u);
  EXPECT_LT(optima[0].x[0], 0);
  EXPECT_EQ(optima[1].starts.front(), 0);

  // A box where nothing is finite: every draw is rejected, never fatal.
  MultiStartSettings s;
  s.starts = 3;
  const auto none = run_starts(
      s, first, {{-1, 1}, {2, 3}},
      [](int) { return std::make_unique<TwoWells>(); },
      [](const StartOutcome&) {});
  EXPECT_TRUE(none[0].finished);
  for (int i : {1, 2}) {
    EXPECT_FALSE(none[i].finished);
    EXPECT_EQ(none[i].redraws, kMaxStartDraws);
  }
}

}  // namespace
}  // namespace identify
