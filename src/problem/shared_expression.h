// A BoundExpression held by many rows at once, as the sigma of every
// measurement of an observable is: a constant is kept as its value alone,
// any other expression once, shared by all its copies, so that a row pays
// 24 bytes for it whatever the expression (a BoundExpression takes about
// 100). Values and gradients are those of the expression it was made from,
// bit for bit; the text of a constant is not kept.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "problem/expression.h"

namespace identify {

class SharedExpression {
 public:
  // The constant `value` (implicit, as a sigma is often a number).
  SharedExpression(double value = 0.0) : constant_(value) {}  // NOLINT
  // `e` itself: its value if constant, else a shared copy (implicit, so
  // that a bound expression stands wherever a shared one is wanted).
  SharedExpression(const BoundExpression& e)  // NOLINT
      : constant_(e.is_constant() ? e.constant_value() : 0.0) {
    if (!e.is_constant()) shared_ = std::make_shared<const BoundExpression>(e);
  }

  bool is_constant() const { return shared_ == nullptr; }
  double constant_value() const { return constant_; }
  int single_parameter() const {
    return shared_ ? shared_->single_parameter() : -1;
  }
  // The distinct parameters it depends on, ascending.
  const std::vector<int>& parameters() const {
    static const std::vector<int> kNone;
    return shared_ ? shared_->parameters() : kNone;
  }
  // The text it was bound from; "" for a constant.
  const std::string& text() const {
    static const std::string kNone;
    return shared_ ? shared_->text() : kNone;
  }
  // As BoundExpression::value and value_and_gradient.
  double value(std::span<const double> theta,
               std::vector<double>& scratch) const {
    return shared_ ? shared_->value(theta, scratch) : constant_;
  }
  double value_and_gradient(std::span<const double> theta,
                            std::span<double> grad,
                            std::vector<double>& scratch) const {
    return shared_ ? shared_->value_and_gradient(theta, grad, scratch)
                   : constant_;
  }
  // The expression held; null for a constant.
  const BoundExpression* bound() const { return shared_.get(); }
  // Whether two hold the very same expression (or equal constants).
  bool same_as(const SharedExpression& other) const {
    return shared_ == other.shared_ &&
           (shared_ != nullptr || constant_ == other.constant_);
  }

 private:
  std::shared_ptr<const BoundExpression> shared_;
  double constant_ = 0.0;
};

}  // namespace identify
