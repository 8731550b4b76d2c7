// Values that decay by many orders between the event they start from and
// the time they are measured at keep their own relative accuracy, and so
// do their derivatives. Gut -> central with ka = ke = 0.7 (a double root:
// C(t) = D·k·t·e^{−kt}/V), boluses of 4 into the gut at 0 and, in a second
// experiment, again at 20, measured out to t = 950 where C is 1e-279.
// References from tools/exact_accuracy_reference.py (the closed forms of C
// and of its derivatives with respect to ka, ke and V at ka = ke, in mpmath
// at 60 digits), as {t, C, ∂C/∂ka, ∂C/∂ke, ∂C/∂V}.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "model/exact/exact_model.h"
#include "problem/problem_builder.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::parameter;

struct Reference {
  double t, c, d_ka, d_ke, d_v;
};

constexpr Reference kOneBolus[] = {
    {1, 2.780877701231893229420118, 2.582243579715329679350882,
     -1.390438850615946614710059, -5.561755402463786458840237},
    {5, 8.455267358249181548173376e-1, -9.059215026695550892452495e-1,
     -2.113816839562295387043344, -1.691053471649836309634675},
    {20, 9.313121653959967982393616e-5, -7.982675703394258186217858e-4,
     -9.313121653959967982393616e-4, -1.862624330791993596478723e-4},
    {32.6, 2.242877478412869139415861e-8, -3.335479221468281244941461e-7,
     -3.655890289812976856613884e-7, -4.485754956825738278831723e-8},
    {45.1, 4.916859236902201568911923e-12, -1.038510911679986461856826e-10,
     -1.108751757921446488726025e-10, -9.833718473804403137823846e-12},
    {62.4, 3.744463893113819349764166e-17, -1.114780393321314187844434e-15,
     -1.168272734651511610520404e-15, -7.488927786227638699528333e-17},
    {150, 2.105516679755974557388483e-43, -1.549058700106181279599002e-41,
     -1.579137509816980918041362e-41, -4.211033359511949114776967e-43},
    {400, 5.594909749890260008730895e-119, -1.110989221763923058369494e-116,
     -1.118981949978052001746179e-116, -1.118981949978052001746179e-118},
    {950, 8.319192365215034905629903e-286, -3.939731812955405815269332e-283,
     -3.951616373477141580174204e-283, -1.663838473043006981125981e-285},
};

constexpr Reference kTwoBoluses[] = {
    {1, 2.780877701231893229420118, 2.582243579715329679350882,
     -1.390438850615946614710059, -5.561755402463786458840237},
    {5, 8.455267358249181548173376e-1, -9.059215026695550892452495e-1,
     -2.113816839562295387043344, -1.691053471649836309634675},
    {20, 9.313121653959967982393616e-5, -7.982675703394258186217858e-4,
     -9.313121653959967982393616e-4, -1.862624330791993596478723e-4},
    {32.6, 1.042514672674707672619053e-2, -5.078558191375860723003292e-2,
     -6.567864866625443206942658e-2, -2.085029345349415345238107e-2},
    {45.1, 3.290851993835662935790401e-6, -3.659902455717899385509565e-5,
     -4.13002416912299412044762e-5, -6.581703987671325871580801e-6},
    {62.4, 3.059808115582183838293889e-11, -6.049681504414953486102503e-10,
     -6.486796949498122633589951e-10, -6.119616231164367676587778e-11},
    {150, 2.194491701044284960667731e-37, -1.395069934786963412890207e-35,
     -1.426419816230453200031481e-35, -4.388983402088569921335461e-37},
    {400, 6.392044907906385308909073e-113, -1.205357095725730156574711e-110,
     -1.214488588451310707595324e-110, -1.278408981581277061781815e-112},
    {950, 9.794079511460364980601395e-280, -4.540255513861764274412925e-277,
     -4.554247056020993368129998e-277, -1.958815902292072996120279e-279},
};

FitProblem double_root_problem() {
  ProblemBuilder b({"gut", "central"});
  for (const auto& [name, value] : std::vector<std::pair<std::string, double>>{
           {"ka", 0.7}, {"ke", 0.7}, {"V", 0.5}}) {
    b.add_parameter(parameter(name, value));
  }
  b.set_entry("gut", "gut", "-ka");
  b.set_entry("central", "gut", "ka");
  b.set_entry("central", "central", "-ke");
  const int conc = b.add_observable("conc", {{"central", "1/V"}});
  const int one = b.add_experiment("one");
  const int two = b.add_experiment("two");
  b.add_dose(one, "gut", "0", "4");
  b.add_dose(two, "gut", "0", "4");
  b.add_dose(two, "gut", "20", "4");
  for (const Reference& r : kOneBolus) b.add_measurement(one, conc, r.t, 0.0);
  for (const Reference& r : kTwoBoluses) b.add_measurement(two, conc, r.t, 0.0);
  return b.build();
}

TEST(ExactDecayTest, DecayedValuesAndDerivativesKeepTheirRelativeAccuracy) {
  const FitProblem problem = double_root_problem();
  ExactModel model(problem);
  Evaluation at;
  model.evaluate(problem.values(), at);
  Table J;
  model.jacobian(at, J);
  std::vector<const Reference*> rows;
  for (const Reference& r : kOneBolus) rows.push_back(&r);
  for (const Reference& r : kTwoBoluses) rows.push_back(&r);
  ASSERT_EQ(at.y.size(), rows.size());
  const int ka = problem.parameter_index("ka");
  const int ke = problem.parameter_index("ke");
  const int v = problem.parameter_index("V");
  std::vector<double> w(rows.size(), 0.0), g(problem.parameter_count());
  for (std::size_t m = 0; m < rows.size(); ++m) {
    const Reference& r = *rows[m];
    SCOPED_TRACE(::testing::Message()
                 << "measurement " << m << ", t = " << r.t);
    EXPECT_NEAR(at.y[m], r.c, 1e-13 * r.c);
    // The gradient of the one measurement m: the adjoint pass.
    w.assign(rows.size(), 0.0);
    w[m] = 1.0;
    model.gradient(at, w, g);
    for (const auto& [k, want] :
         {std::pair{ka, r.d_ka}, std::pair{ke, r.d_ke}, std::pair{v, r.d_v}}) {
      EXPECT_NEAR(J[m][k], want, 1e-12 * std::abs(want)) << k;
      EXPECT_NEAR(g[k], want, 1e-12 * std::abs(want)) << k;
    }
  }
  // The states themselves, from the last event as in the fit.
  Table X;
  std::vector<double> times;
  for (const Reference& r : kTwoBoluses) times.push_back(r.t);
  model.states(problem.values(), 1, times, X);
  for (std::size_t q = 0; q < times.size(); ++q) {
    const double want = kTwoBoluses[q].c * 0.5;  // central = C·V
    EXPECT_NEAR(X[1][q], want, 1e-13 * want) << times[q];
  }
}

}  // namespace
}  // namespace identify
