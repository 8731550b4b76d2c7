// A one-compartment model with first-order absorption, stated in code and
// fitted without any file: dx/dt = A x with x = (gut, central), A =
// [[-ka, 0], [ka, -ke]], the concentration central/V measured over a day.
#include <cstdio>
#include <identify/identify.h>

int main() {
  identify::ProblemSpec spec;
  spec.states = {"gut", "central"};
  spec.parameters = {{"ka", 0.01, 20, "log", 1.0, true},
                     {"ke", 0.001, 5, "log", 0.1, true},
                     {"V", 0.01, 10, "log", 0.5, true}};
  spec.matrix = {{"gut", "gut", "-ka"},
                 {"central", "gut", "ka"},
                 {"central", "central", "-ke"}};
  spec.observables = {{"concentration", {{"central", "1/V"}}, "0", "0.5"}};
  identify::ProblemSpec::Experiment e;
  e.id = "subject1";
  e.x0 = {{"gut", "4.02"}};
  e.time = {0.25, 0.57, 1.12, 2.02, 3.82, 5.1, 7.03, 9.05, 12.12, 24.37};
  e.measurement = {2.84, 6.57, 10.5, 9.66, 8.58, 8.36, 7.47, 6.89, 5.94, 3.28};
  e.observable.assign(e.time.size(), "concentration");
  spec.experiments = {e};

  try {
    identify::FitOptions options;
    options.starts = 5;
    options.validate();
    const identify::Result r =
        identify::fit(identify::Problem::from_spec(spec), options);
    for (const identify::ParameterResult& p : r.parameters) {
      std::printf("%-3s %.6g +- %.3g (%s)\n", p.name.c_str(), p.estimate,
                  p.standard_error, p.status.c_str());
    }
    std::printf("%s\n", r.verdicts[0].message.c_str());
    return r.converged ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fit_in_code: %s\n", e.what());
    return 1;
  }
}
