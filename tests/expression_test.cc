// Expressions of parameters: exact parse errors, values, folding of
// constants, and reverse-mode derivatives against central differences.
#include "problem/expression.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "problem/expression_generic.h"

namespace identify {
namespace {

// Binds each name to the parameter of the same position in `names`.
BoundExpression bind_to(const std::string& text,
                        const std::vector<std::string>& names) {
  return BoundExpression::bind(
      Expression::parse(text), [&](const std::string& name) {
        for (std::size_t k = 0; k < names.size(); ++k) {
          if (names[k] == name) return Resolved{static_cast<int>(k), 0.0};
        }
        ADD_FAILURE() << "unknown name " << name;
        return Resolved{};
      });
}

TEST(Expression, ParseErrorsNameThePlaceAndWhatWasExpected) {
  // Each message follows "in \"TEXT\": column OFFSET+1: ".
  const std::string kOperator =
      "expected an operator (+, -, *, /) or the end of the expression, found ";
  const struct {
    const char* text;
    std::size_t offset;
    std::string message;
  } cases[] = {
      {"", 0, "expected a number, a name or \"(\", found end of expression"},
      {"ka*", 3, "expected a number, a name or \"(\", found end of expression"},
      {"ka ke", 3, kOperator + "\"ke\""},
      {"(ka", 3, "expected \")\", found end of expression"},
      {"exp(1", 5, "expected \")\", found end of expression"},
      {"foo(1)", 0,
       "expected a function (exp, log or sqrt) before \"(\", found \"foo\""},
      {"2*1e", 2, "expected a number, a name or \"(\", found \"1e\""},
      {"1e999", 0, "expected a finite number, found \"1e999\""},
      {"ka%2", 2, kOperator + "\"%\""},
      {"ka^", 3, "expected a number, a name or \"(\", found end of expression"},
      {"ka^*2", 3, "expected a number, a name or \"(\", found \"*\""},
      {"0,74", 1, kOperator + "\",\""},
      {"k\xC3\xA9", 1, kOperator + "\"\\xC3\""},
      {".", 0, "expected a number, a name or \"(\", found \".\""},
      {"1 +* 2", 3, "expected a number, a name or \"(\", found \"*\""},
  };
  for (const auto& c : cases) {
    try {
      Expression::parse(c.text);
      ADD_FAILURE() << "no error for \"" << c.text << "\"";
    } catch (const ExpressionError& e) {
      EXPECT_EQ(e.what(), "in \"" + std::string(c.text) + "\": column " +
                              std::to_string(c.offset + 1) + ": " + c.message);
      EXPECT_EQ(e.offset(), c.offset) << c.text;
    }
  }
}

// Nesting is bounded: 1000 levels of parentheses, function calls or signs
// parse, and the opener of level 1001 is refused where it stands (deeper
// text overflowed the parser's stack).
TEST(Expression, NestingDeeperThanTheLimitIsRefusedAtItsOpener) {
  const auto nested = [](const std::string& open, const std::string& close,
                         int levels) {
    std::string text;
    for (int k = 0; k < levels; ++k) text += open;
    text += "ka";
    for (int k = 0; k < levels; ++k) text += close;
    return text;
  };
  const struct {
    std::string open, close;
  } kinds[] = {{"(", ")"}, {"-", ""}, {"+ ", ""}, {"exp(", ")"}, {"-(", ")"}};
  for (const auto& k : kinds) {
    const int per_level = k.open == "-(" ? 2 : 1;
    const int deepest = kMaxExpressionDepth / per_level;
    EXPECT_EQ(Expression::parse(nested(k.open, k.close, deepest)).names(),
              std::vector<std::string>{"ka"})
        << k.open;
    for (const int levels : {deepest + 1, 50000}) {
      const std::string text = nested(k.open, k.close, levels);
      try {
        Expression::parse(text);
        ADD_FAILURE() << "no error for " << levels << " x " << k.open;
      } catch (const ExpressionError& e) {
        const std::size_t at =
            per_level == 2 ? 2 * 500 : deepest * k.open.size();
        EXPECT_EQ(e.offset(), at) << k.open;
        EXPECT_EQ(e.expected(),
                  "nesting at most 1000 levels deep (parentheses, functions "
                  "and signs)");
      }
    }
  }
}

TEST(Expression, NumbersNamesAndPrecedence) {
  std::vector<double> scratch;
  const struct {
    const char* text;
    double value;
  } constants[] = {
      {".5", 0.5},
      {"5.", 5.0},
      {"1.5e-3", 1.5e-3},
      {"2E+2", 200.0},
      {"1 - 2 - 3", -4.0},
      {"8 / 4 / 2", 1.0},
      {"2 + 3 * 4", 14.0},
      {"-2 * -3", 6.0},
      {"--2", 2.0},
      {"(1 + 2) * 3", 9.0},
      {"exp(0) + log(1)", 1.0},
      {"sqrt(16)", 4.0},
      {"0.1 + 0.2", 0.1 + 0.2},
      {"\t1 +\t2 ", 3.0},
      {"1e-400", 0.0},
      {"2^3^2", 512.0},  // a^(b^c)
      {"-2^2", -4.0},    // -(a^2)
      {"2^-1", 0.5},
      {"(-2)^3", -8.0},
      {"2 * 3^2 + 1", 19.0},
      {"4^0.5", 2.0},
      {"0^0", 1.0},
  };
  for (const auto& c : constants) {
    const BoundExpression b = bind_to(c.text, {});
    EXPECT_TRUE(b.is_constant()) << c.text;
    EXPECT_EQ(b.constant_value(), c.value) << c.text;
    EXPECT_EQ(b.value({}, scratch), c.value) << c.text;
  }
  EXPECT_EQ(Expression::parse("ka * ke + ka / exp(V)").names(),
            (std::vector<std::string>{"ka", "ke", "V"}));
  // IEEE results, never an exception.
  EXPECT_TRUE(std::isnan(bind_to("log(-1)", {}).constant_value()));
  EXPECT_EQ(bind_to("1/0", {}).constant_value(), INFINITY);
  // A name alone is a single parameter; any arithmetic is not.
  EXPECT_EQ(bind_to("ka", {"x", "ka"}).single_parameter(), 1);
  EXPECT_EQ(bind_to("(+ka)", {"ka"}).single_parameter(), 0);
  EXPECT_EQ(bind_to("1*ka", {"ka"}).single_parameter(), -1);
  EXPECT_EQ(BoundExpression::parameter(4).single_parameter(), 4);
}

TEST(Expression, ConstantsAndResolvedNumbersAreFoldedAway) {
  // A name that stands for a number in its context folds like a number.
  const BoundExpression b = BoundExpression::bind(
      Expression::parse("2 * F * 3 + exp(0)"), [](const std::string&) {
        return Resolved{-1, 0.5};
      });
  EXPECT_TRUE(b.is_constant());
  EXPECT_EQ(b.constant_value(), 2 * 0.5 * 3 + 1.0);
  // Only the parameter's own subtree is left to evaluate.
  const BoundExpression c = bind_to("(2 * 3) * ka + 4 / 2", {"ka"});
  EXPECT_EQ(c.parameters(), std::vector<int>{0});
  std::vector<double> scratch;
  const std::vector<double> theta = {1.5};
  EXPECT_EQ(c.value(theta, scratch), 6.0 * 1.5 + 2.0);
}

TEST(Expression, GradientsMatchCentralDifferences) {
  const std::vector<std::string> names = {"k1", "k2", "V", "ka", "ke"};
  const std::vector<double> theta = {0.3, 0.7, 2.5, 1.9, 0.08};
  const char* texts[] = {
      "-(k1 + k2)",
      "ka * ke / (ka - ke)",
      "1 / V",
      "exp(-ke * 3) * ka",
      "log(V) / 2 - sqrt(ka)",
      "k1 - -k2 * k1",
      "k1 * k1 * k1 / V / V",
      "sqrt(k1 * k2) + log(exp(ke))",
      "ka + ka",  // one parameter used twice
      "ka^ke",
      "(k1 * V / 70)^0.75",
      "V^-2 + 2^k1",
      "ka^ke^k2",
      "(k1 - V)^3",  // a negative base with a whole exponent
  };
  std::vector<double> scratch;
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    const BoundExpression b = bind_to(text, names);
    std::vector<double> grad(b.parameters().size());
    const double v = b.value_and_gradient(theta, grad, scratch);
    EXPECT_EQ(v, b.value(theta, scratch));
    for (std::size_t i = 0; i < grad.size(); ++i) {
      const int k = b.parameters()[i];
      const double h = 1e-6 * std::fabs(theta[k]);
      std::vector<double> up = theta, down = theta;
      up[k] += h;
      down[k] -= h;
      const double fd =
          (b.value(up, scratch) - b.value(down, scratch)) / (2.0 * h);
      EXPECT_NEAR(grad[i], fd, 1e-7 * (1.0 + std::fabs(fd))) << names[k];
    }
  }
  // Two names that stand for one parameter add their derivatives.
  const BoundExpression twice = BoundExpression::bind(
      Expression::parse("ka * kb"), [](const std::string&) {
        return Resolved{0, 0.0};
      });
  ASSERT_EQ(twice.parameters(), std::vector<int>{0});
  double grad = 0.0;
  const std::vector<double> at = {3.0};
  EXPECT_EQ(twice.value_and_gradient(at, {&grad, 1}, scratch), 9.0);
  EXPECT_EQ(grad, 6.0);
}

// A forward-mode number v + ε·d, to evaluate an expression in a type that
// carries a derivative.
struct Forward {
  double v = 0.0, d = 0.0;
  Forward() = default;
  explicit Forward(double c, double t = 0.0) : v(c), d(t) {}
};
Forward operator+(Forward a, Forward b) {
  return Forward(a.v + b.v, a.d + b.d);
}
Forward operator-(Forward a, Forward b) {
  return Forward(a.v - b.v, a.d - b.d);
}
Forward operator-(Forward a) { return Forward(-a.v, -a.d); }
Forward operator*(Forward a, Forward b) {
  return Forward(a.v * b.v, a.d * b.v + a.v * b.d);
}
Forward operator/(Forward a, Forward b) {
  return Forward(a.v / b.v, (a.d * b.v - a.v * b.d) / (b.v * b.v));
}
Forward exp(Forward a) { return Forward(std::exp(a.v), std::exp(a.v) * a.d); }
Forward log(Forward a) { return Forward(std::log(a.v), a.d / a.v); }
Forward sqrt(Forward a) {
  return Forward(std::sqrt(a.v), 0.5 * a.d / std::sqrt(a.v));
}
Forward pow(Forward a, Forward b) {
  if (b.d != 0.0) return exp(b * log(a));
  return Forward(std::pow(a.v, b.v), b.v * std::pow(a.v, b.v - 1.0) * a.d);
}

TEST(Expression, GenericValueIsTheValueInAnotherNumberType) {
  const std::vector<std::string> names = {"k1", "k2", "V", "ka", "ke"};
  const std::vector<double> theta = {0.3, 0.7, 2.5, 1.9, 0.08};
  const char* texts[] = {"ka * ke / (ka - ke)",
                         "log(V) / 2 - sqrt(ka)",
                         "exp(-ke * 3) * ka",
                         "ka^ke^k2",
                         "(k1 - V)^3",
                         "2.5",
                         "V"};
  std::vector<double> scratch;
  std::vector<Forward> forward_scratch;
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    const BoundExpression b = bind_to(text, names);
    const double v = b.value(theta, scratch);
    EXPECT_EQ(b.generic_value<double>(theta, scratch), v);
    std::vector<double> grad(b.parameters().size());
    b.value_and_gradient(theta, grad, scratch);
    for (std::size_t i = 0; i < grad.size(); ++i) {
      std::vector<Forward> at;
      for (double t : theta) at.emplace_back(t);
      at[b.parameters()[i]].d = 1.0;
      const Forward f = b.generic_value<Forward>(at, forward_scratch);
      EXPECT_EQ(f.v, v);
      EXPECT_NEAR(f.d, grad[i], 1e-12 * (1.0 + std::fabs(grad[i])));
    }
  }
}

// A power outside its domain is NaN at evaluation, and refused where both
// operands are constant at binding; powers count toward the nesting limit.
TEST(Expression, PowersOutsideTheirDomain) {
  std::vector<double> scratch;
  const BoundExpression root = bind_to("ka^0.5", {"ka"});
  for (const double ka : {-4.0, 0.0}) {
    const std::vector<double> theta = {ka};
    EXPECT_TRUE(std::isnan(root.value(theta, scratch))) << ka;
  }
  const std::vector<double> four = {4.0};
  EXPECT_EQ(root.value(four, scratch), 2.0);
  const std::vector<double> negative = {-3.0};
  double grad = 0.0;
  const BoundExpression cube = bind_to("ka^3", {"ka"});
  EXPECT_EQ(cube.value_and_gradient(negative, {&grad, 1}, scratch), -27.0);
  EXPECT_EQ(grad, 27.0);
  const struct {
    const char* text;
    double stands_for;
    const char* message;
  } refused[] = {
      {"(-8)^(1/3)", 0.0,
       "in \"(-8)^(1/3)\": a power a^b with a above 0 or a whole number b, "
       "found -8^0.3333333333333333"},
      {"(WT - 80)^0.75", 77.5,
       "in \"(WT - 80)^0.75\": a power a^b with a above 0 or a whole number "
       "b, found -2.5^0.75"},
  };
  for (const auto& c : refused) {
    try {
      BoundExpression::bind(Expression::parse(c.text), [&](const std::string&) {
        return Resolved{-1, c.stands_for};
      });
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const EvaluationError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
  std::string chain = "ka";
  for (int k = 0; k < kMaxExpressionDepth; ++k) chain += "^ka";
  EXPECT_NO_THROW(Expression::parse(chain));
  EXPECT_THROW(Expression::parse(chain + "^ka"), ExpressionError);
}

}  // namespace
}  // namespace identify
