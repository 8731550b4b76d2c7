// Grouping of end points: in ascending order of objective (ties by start),
// each end point joins the first optimum whose best point the caller calls
// the same place, or opens a new one. Since the points come in ascending
// order, an optimum's lowest objective is that of its first member. The
// optimum then keeps the point of its earliest start among those within
// kTiedObjective of that lowest objective: ends that differ only by the
// method's tolerance are the same answer, and the earliest (the usual start
// when it got there) makes the result that of a single start.
#include "fit/multistart/optima.h"

#include <algorithm>
#include <cmath>

namespace identify {

namespace {

std::vector<const StartOutcome*> finished_by_objective(
    std::span<const StartOutcome> outcomes) {
  std::vector<const StartOutcome*> order;
  for (const StartOutcome& o : outcomes) {
    if (o.finished) order.push_back(&o);
  }
  std::sort(order.begin(), order.end(),
            [](const StartOutcome* a, const StartOutcome* b) {
              if (a->objective != b->objective) {
                return a->objective < b->objective;
              }
              return a->start < b->start;
            });
  return order;
}

}  // namespace

bool objectives_agree(double a, double b, double relative, double floor) {
  return std::abs(a - b) <=
         relative * std::max(std::abs(a), std::abs(b)) + floor;
}

std::vector<Optimum> distinct_optima(std::span<const StartOutcome> outcomes,
                                     const SamePlace& same_place,
                                     double floor) {
  std::vector<Optimum> optima;
  std::vector<const StartOutcome*> best;  // per optimum: its lowest point
  std::vector<const StartOutcome*> kept;  // per optimum: the point it keeps
  for (const StartOutcome* o : finished_by_objective(outcomes)) {
    std::size_t home = 0;
    while (home < optima.size() && !same_place(*best[home], *o)) ++home;
    if (home == optima.size()) {
      Optimum fresh;
      fresh.objective = o->objective;
      optima.push_back(std::move(fresh));
      best.push_back(o);
      kept.push_back(o);
    }
    optima[home].starts.push_back(o->start);
    optima[home].within += objectives_agree(
        optima[home].objective, o->objective, kSameObjective, floor);
    if (o->start < kept[home]->start &&
        objectives_agree(best[home]->objective, o->objective, kTiedObjective,
                         floor)) {
      kept[home] = o;
    }
  }
  if (optima.empty()) return optima;
  for (std::size_t q = 0; q < optima.size(); ++q) {
    optima[q].objective = kept[q]->objective;
    optima[q].best_start = kept[q]->start;
    optima[q].x = kept[q]->x;
    optima[q].theta = kept[q]->theta;
  }
  std::size_t result = 0;
  for (std::size_t q = 0; q < optima.size(); ++q) {
    std::sort(optima[q].starts.begin(), optima[q].starts.end());
    optima[q].tied = objectives_agree(optima[q].objective, optima[0].objective,
                                      kTiedObjective, floor);
    if (optima[q].tied &&
        optima[q].starts.front() < optima[result].starts.front()) {
      result = q;
    }
  }
  std::rotate(optima.begin(), optima.begin() + result,
              optima.begin() + result + 1);
  return optima;
}

std::vector<double> waterfall(std::span<const StartOutcome> outcomes) {
  std::vector<double> objectives;
  for (const StartOutcome& o : outcomes) {
    if (o.finished) objectives.push_back(o.objective);
  }
  std::sort(objectives.begin(), objectives.end());
  return objectives;
}

}  // namespace identify
