// What a multi-start fit and the profiles of a run leave for its outputs:
// the report sections, the waterfall and profile panels of the plot, and
// the table of profile points.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fit/profile/profiles.h"
#include "output/bootstrap_table.h"
#include "output/profile_side_rows.h"
#include "output/search_report.h"

namespace identify {

struct SearchResults {
  // --starts N with N > 1: the starts, their distinct optima, the seed.
  std::optional<StartsReport> starts;
  // --profile: the intervals for the report, and the profile points of the
  // parameters profiled (free coordinate j of `names`).
  std::optional<ProfilesReport> profiles;
  std::vector<ParameterProfile> curves;
  std::vector<std::string> names;  // the re-fitted parameters, in order
  std::vector<Scale> scales;
  // A shard of profile sides: the sides it walked, for the merge.
  std::vector<NamedSide> shard_sides;
  // --bootstrap: the replicates and intervals.
  std::optional<BootstrapReport> bootstrap;
  // Warnings on the result of the starts, for stderr (without the
  // "identify: warning: " prefix): see small_result_warning.
  std::vector<std::string> warnings;
};

}  // namespace identify
