// The compact forms a problem keeps its measurements in: copies of a
// measurement list share rows until one is changed, and a shared sigma
// gives the values and gradients of the expression it was made from.
#include "problem/measurement_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "problem/expression.h"

namespace identify {
namespace {

TEST(MeasurementList, CopiesShareRowsUntilOneIsChanged) {
  MeasurementList a;
  Measurement m;
  m.time = 1.0;
  m.value = 2.0;
  a.push_back(m);
  const MeasurementList b = a;
  EXPECT_EQ(&a.rows(), &b.rows());  // one set of rows
  m.value = 3.0;
  a.push_back(m);
  a.edit()[0].value = 5.0;
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0].value, 2.0);  // the copy keeps what it had
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a[0].value, 5.0);
  EXPECT_EQ(a[1].value, 3.0);
  MeasurementList c = b;
  c.clear();
  EXPECT_TRUE(c.empty());
  EXPECT_EQ(b.size(), 1u);
  EXPECT_TRUE(MeasurementList().empty());
  EXPECT_LE(sizeof(Measurement), 32u);
}

TEST(SharedExpression, GivesTheBoundExpressionsValuesAndGradients) {
  const Expression text = Expression::parse("a * 2 + b");
  const BoundExpression bound =
      BoundExpression::bind(text, [](const std::string& name) {
        return Resolved{name == "a" ? 0 : 1, 0.0};
      });
  const SharedExpression shared = bound;
  const SharedExpression copy = shared;
  EXPECT_TRUE(copy.same_as(shared));
  EXPECT_FALSE(shared.is_constant());
  EXPECT_EQ(shared.parameters(), bound.parameters());
  EXPECT_EQ(shared.text(), bound.text());
  const std::vector<double> theta = {0.3, 1.7};
  std::vector<double> scratch;
  EXPECT_EQ(shared.value(theta, scratch), bound.value(theta, scratch));
  std::vector<double> g1(2), g2(2);
  EXPECT_EQ(shared.value_and_gradient(theta, g1, scratch),
            bound.value_and_gradient(theta, g2, scratch));
  EXPECT_EQ(g1, g2);

  const SharedExpression constant = BoundExpression(0.25);
  EXPECT_TRUE(constant.is_constant());
  EXPECT_EQ(constant.constant_value(), 0.25);
  EXPECT_EQ(constant.value(theta, scratch), 0.25);
  EXPECT_TRUE(constant.parameters().empty());
  EXPECT_EQ(constant.single_parameter(), -1);
  EXPECT_FALSE(constant.same_as(SharedExpression(0.5)));
  const SharedExpression single = BoundExpression::parameter(1);
  EXPECT_EQ(single.single_parameter(), 1);
  EXPECT_EQ(single.value(theta, scratch), 1.7);

  // A copy outlives the one it was made from; moved and reassigned ones
  // keep their expressions; no constant is taken for a shared expression.
  SharedExpression kept = 1.0;
  {
    const SharedExpression original = bound;
    kept = original;
  }
  EXPECT_EQ(kept.value(theta, scratch), bound.value(theta, scratch));
  SharedExpression moved = std::move(kept);
  EXPECT_TRUE(moved.same_as(shared) == false && !moved.is_constant());
  EXPECT_EQ(moved.text(), bound.text());
  for (const double v : {std::numeric_limits<double>::quiet_NaN(),
                         -std::numeric_limits<double>::quiet_NaN(),
                         -std::numeric_limits<double>::infinity(), -0.0}) {
    const SharedExpression c = v;
    EXPECT_TRUE(c.is_constant());
    EXPECT_EQ(std::isnan(c.constant_value()), std::isnan(v));
    if (!std::isnan(v)) {
      EXPECT_EQ(c.constant_value(), v);
    }
  }
}

}  // namespace
}  // namespace identify
