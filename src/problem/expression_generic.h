// A BoundExpression evaluated in a number type T other than double: the
// same forward pass over its compiled postfix program as
// BoundExpression::value, each operation applied in T, so that a T that
// carries derivatives (a truncated Taylor number) gets the expression's
// derivatives of every order it carries, exactly. exp, log, sqrt and pow of
// T are found by argument-dependent lookup.
//
// The program is private to BoundExpression; it is read here through the
// rule that access is not checked in an explicit instantiation (the
// accessor below), which keeps expression.h, included nearly everywhere,
// unchanged. A public member template of BoundExpression would do the same.
#pragma once

#include <span>
#include <vector>

#include "problem/expression.h"

namespace identify {

namespace expression_generic_detail {

struct ProgramTag {
  friend auto program_of(ProgramTag);
};
template <auto Member>
struct ProgramAccess {
  friend auto program_of(ProgramTag) { return Member; }
};
template struct ProgramAccess<&BoundExpression::program_>;

}  // namespace expression_generic_detail

template <class T>
T generic_value(const BoundExpression& b, std::span<const T> theta,
                std::vector<T>& scratch) {
  if (b.single_parameter() >= 0) return theta[b.single_parameter()];
  if (b.is_constant()) return T(b.constant_value());
  using expression_generic_detail::ProgramTag;
  const auto& program = b.*program_of(ProgramTag{});
  const std::vector<int>& parameters = b.parameters();
  if (scratch.size() < program.size()) scratch.resize(program.size());
  using Op = Expression::Op;
  for (std::size_t i = 0; i < program.size(); ++i) {
    const auto& n = program[i];
    const T* v = scratch.data();
    switch (n.op) {
      case Op::kNumber:
        scratch[i] = T(n.number);
        break;
      case Op::kName:
        scratch[i] = theta[parameters[n.slot]];
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
  return scratch[program.size() - 1];
}

}  // namespace identify
