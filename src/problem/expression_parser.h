// The expression parser: recursive descent over the grammar of expressions
// (sums of products of unary minus, powers, function calls, numbers, names
// and parentheses), emitting the postfix program that Expression evaluates.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "problem/expression.h"

namespace identify {

// Parses `text` into the postfix `program` over the distinct `names`, in
// order of first use. Throws ExpressionError with the column, what was
// expected there and what was found.
void parse_expression(std::string_view text,
                      std::vector<Expression::Node>& program,
                      std::vector<std::string>& names);

}  // namespace identify
