// Options of a population run: --method foce-i only (and only with random
// effects), --starts, --seed and --threads as for any search, the
// individual table named after the problem file. Options that a population
// fit does not serve (--separately, --profile, --trajectory, the grid
// model) and a Laplace density, which FOCE-I's normal likelihood does
// not cover, are refused.
#include "app/population_stage.h"

#include <ostream>

#include "api/exit_codes.h"
#include "app/input_arguments.h"
#include "fit/method.h"
#include "fit/multistart/worker_pool.h"
#include "fit/population/covariance_kind.h"
#include "model/model_kind.h"
#include "output/population_run.h"

namespace identify {

int population_run(const Options& opt, const FitProblem& problem,
                   std::ostream& out, std::ostream& err) {
  if (!problem.population.active()) {
    err << "identify: --method: expected descent, lm or lbfgsb for a problem "
           "without random effects, found \"foce-i\""
        << std::endl;
    return kExitUsage;
  }
  if (opt.method) {
    err << "identify: --method: expected foce-i for a problem with random "
           "effects, found \""
        << method_name(*opt.method) << "\"" << std::endl;
    return kExitUsage;
  }
  // What a population fit does not do is refused rather than ignored.
  const char* refused = opt.separately            ? "--separately"
                        : opt.profile             ? "--profile"
                        : !opt.trajectory.empty() ? "--trajectory"
                        : opt.model && *opt.model != ModelKind::kExact
                            ? "--model grid"
                            : nullptr;
  if (refused != nullptr) {
    err << "identify: " << refused
        << ": expected no such option for a problem with random effects "
           "(fitted by foce-i on the exact model)"
        << std::endl;
    return kExitUsage;
  }
  for (std::size_t o = 0; o < problem.observables.size(); ++o) {
    const NoiseModel noise = problem.noise_of(static_cast<int>(o));
    if (noise.distribution == Distribution::kNormal) continue;
    err << "identify: " << opt.problem << ": observable "
        << problem.observables[o]
        << ": expected a normal distribution in a problem with random "
           "effects, found "
        << distribution_name(noise.distribution) << std::endl;
    return kExitInputError;
  }
  PopulationRun run;
  run.parameters = opt.parameters;
  run.fit = opt.fit;
  run.individual = result_table_name(opt.problem, ".individual.tsv");
  run.report = opt.report;
  run.plot = opt.plot;
  run.starts = static_cast<int>(opt.starts.value_or(1));
  run.seed = static_cast<std::uint64_t>(opt.seed);
  run.covariance = *parse_covariance_kind(opt.covariance);
  run.threads =
      static_cast<int>(opt.threads > 0 ? opt.threads : default_thread_count());
  switch (run_population(problem, run, out, err)) {
    case PopulationOutcome::kFitted:
      return kExitSuccess;
    case PopulationOutcome::kLimitReached:
      return kExitIterationLimit;
    case PopulationOutcome::kNotFinite:
      return kExitDiverged;
    case PopulationOutcome::kOutputError:
      return kExitOutputError;
  }
  return kExitInternal;
}

}  // namespace identify
