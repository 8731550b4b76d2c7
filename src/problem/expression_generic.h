// BoundExpression::generic_value: the forward pass of BoundExpression::value
// over the compiled postfix program, each node evaluated in the number type
// T. Kept out of expression.h, which nearly every file includes, so that
// only the users of a non-double T compile it.
#pragma once

#include <cmath>
#include <span>
#include <vector>

#include "problem/expression.h"

namespace identify {

template <class T>
T BoundExpression::generic_value(std::span<const T> theta,
                                 std::vector<T>& scratch) const {
  if (single_ >= 0) return theta[single_];
  if (is_constant()) return T(constant_);
  if (scratch.size() < program_.size()) scratch.resize(program_.size());
  using Op = Expression::Op;
  // The functions of double from std, those of other types by
  // argument-dependent lookup.
  using std::exp, std::log, std::pow, std::sqrt;
  for (std::size_t i = 0; i < program_.size(); ++i) {
    const Node& n = program_[i];
    const T* v = scratch.data();
    switch (n.op) {
      case Op::kNumber:
        scratch[i] = T(n.number);
        break;
      case Op::kName:
        scratch[i] = theta[parameters_[n.slot]];
        break;
      case Op::kAdd:
        scratch[i] = v[n.left] + v[n.right];
        break;
      case Op::kSub:
        scratch[i] = v[n.left] - v[n.right];
        break;
      case Op::kMul:
        scratch[i] = v[n.left] * v[n.right];
        break;
      case Op::kDiv:
        scratch[i] = v[n.left] / v[n.right];
        break;
      case Op::kNeg:
        scratch[i] = -v[n.left];
        break;
      case Op::kExp:
        scratch[i] = exp(v[n.left]);
        break;
      case Op::kLog:
        scratch[i] = log(v[n.left]);
        break;
      case Op::kSqrt:
        scratch[i] = sqrt(v[n.left]);
        break;
      case Op::kPow:
        scratch[i] = pow(v[n.left], v[n.right]);
        break;
    }
  }
  return scratch[program_.size() - 1];
}

}  // namespace identify
