// The grouping of an experiment's measurements by time and observable, for
// the layouts whose tables are left out (in time order, one measurement a
// time, one observable) and those that need them: the groups are the same
// either way.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "model/exact/sample_schedule.h"

namespace identify::testing {
namespace {

// (time, observable) of each measurement, in measurement order.
using Layout = std::vector<std::pair<double, int>>;

Experiment experiment_of(const Layout& layout) {
  Experiment e;
  for (const auto& [t, o] : layout) {
    Measurement m;
    m.time = t;
    m.observable = o;
    e.measurements.push_back(m);
  }
  return e;
}

// Per distinct time: its measurements and its distinct observables.
struct Group {
  double time;
  std::vector<int> measurements;
  std::vector<int> observed;
};

std::vector<Group> groups_of(const SampleSchedule& s) {
  std::vector<Group> groups;
  for (std::size_t i = 0; i < s.times.size(); ++i) {
    Group g{s.times[i], {}, {}};
    for (int q = s.first(i); q < s.end(i); ++q) {
      g.measurements.push_back(s.measurement(q));
    }
    for (int r = 0; r < s.observed_count(i); ++r) {
      g.observed.push_back(s.observed(i, r));
    }
    groups.push_back(g);
  }
  return groups;
}

TEST(SampleSchedule, GroupsByTimeThenObservable) {
  const struct {
    const char* name;
    Layout layout;
    std::vector<Group> groups;
  } cases[] = {
      {"in order, one a time, one observable",
       {{0.5, 2}, {1.0, 2}, {3.0, 2}},
       {{0.5, {0}, {2}}, {1.0, {1}, {2}}, {3.0, {2}, {2}}}},
      {"in order, one a time, two observables",
       {{0.5, 1}, {1.0, 0}, {3.0, 1}},
       {{0.5, {0}, {1}}, {1.0, {1}, {0}}, {3.0, {2}, {1}}}},
      {"out of order",
       {{3.0, 0}, {0.5, 0}, {1.0, 0}},
       {{0.5, {1}, {0}}, {1.0, {2}, {0}}, {3.0, {0}, {0}}}},
      {"a time twice, two observables",
       {{2.0, 1}, {1.0, 0}, {2.0, 0}, {2.0, 1}},
       {{1.0, {1}, {0}}, {2.0, {0, 2, 3}, {0, 1}}}},
      {"a time twice, in order, one observable",
       {{1.0, 0}, {1.0, 0}, {4.0, 0}},
       {{1.0, {0, 1}, {0}}, {4.0, {2}, {0}}}},
      {"a time twice, in order, two observables",
       {{1.0, 1}, {1.0, 0}, {4.0, 1}},
       {{1.0, {0, 1}, {0, 1}}, {4.0, {2}, {1}}}},
  };
  for (const auto& c : cases) {
    const SampleSchedule s(experiment_of(c.layout));
    EXPECT_EQ(s.measurements(), static_cast<int>(c.layout.size())) << c.name;
    for (std::size_t m = 0; m < c.layout.size(); ++m) {
      EXPECT_EQ(s.observable(static_cast<int>(m)), c.layout[m].second)
          << c.name;
    }
    const std::vector<Group> got = groups_of(s);
    ASSERT_EQ(got.size(), c.groups.size()) << c.name;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].time, c.groups[i].time) << c.name;
      EXPECT_EQ(got[i].measurements, c.groups[i].measurements) << c.name;
      EXPECT_EQ(got[i].observed, c.groups[i].observed) << c.name;
    }
  }
  // A long table in time order keeps its distinct times and nothing more.
  Layout many;
  for (int k = 0; k < 1000; ++k) many.push_back({0.01 * k, 0});
  const SampleSchedule s(experiment_of(many));
  EXPECT_EQ(s.times.capacity(), 1000u);
}

}  // namespace
}  // namespace identify::testing
