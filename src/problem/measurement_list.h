// The measurements of an experiment, shared by the copies of a problem:
// copying a list copies a pointer, and a list copies its rows only when it
// is changed while another one shares them. A fit of the whole problem
// works on a copy of the problem as read, which then costs no memory per
// measurement. Readers see the rows as a vector; writers go through
// edit(), push_back, reserve or clear. Lists that share rows may be read
// from several threads at once, but one that is edited belongs to one
// thread.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <vector>

#include "problem/shared_expression.h"

namespace identify {

// Ordered so that a measurement takes 32 bytes: a problem may hold tens of
// millions of them.
struct Measurement {
  double time = 0.0;  // >= 0, finite
  double value = 0.0;
  SharedExpression sigma{1.0};
  int observable = 0;
  // False for a point that is not data (the legacy point at t = 0 of a
  // series, which stands for x0): it is still simulated and has a residual,
  // but it does not count among the measurements of the statistics.
  bool counted = true;
};

class MeasurementList {
 public:
  using const_iterator = std::vector<Measurement>::const_iterator;

  MeasurementList() = default;
  MeasurementList(std::initializer_list<Measurement> rows)
      : rows_(std::make_shared<std::vector<Measurement>>(rows)) {}

  const std::vector<Measurement>& rows() const {
    static const std::vector<Measurement> kNone;
    return rows_ ? *rows_ : kNone;
  }
  std::size_t size() const { return rows().size(); }
  bool empty() const { return rows().empty(); }
  const Measurement& operator[](std::size_t k) const { return rows()[k]; }
  const_iterator begin() const { return rows().begin(); }
  const_iterator end() const { return rows().end(); }

  // The rows of this list alone, to change.
  std::vector<Measurement>& edit() {
    if (!rows_) {
      rows_ = std::make_shared<std::vector<Measurement>>();
    } else if (rows_.use_count() > 1) {
      rows_ = std::make_shared<std::vector<Measurement>>(*rows_);
    }
    return *rows_;
  }
  void push_back(const Measurement& m) { edit().push_back(m); }
  void reserve(std::size_t n) { edit().reserve(n); }
  void clear() { edit().clear(); }

 private:
  std::shared_ptr<std::vector<Measurement>> rows_;
};

}  // namespace identify
