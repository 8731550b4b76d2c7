// The profile points as a table for other programs (PROBLEM.profiles.tsv):
// tab-separated, a header "parameterId  value  objective" and one column
// per estimated parameter, then one row per point of each profile in
// ascending value: the profiled parameter, its value, the objective there
// and every estimated parameter's value at that point (the profiled one's
// included). Values unscaled, with 17 significant digits so that they read
// back as the same doubles.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "fit/profile/profiles.h"
#include "output/search_report.h"
#include "problem/parameter.h"

namespace identify {

// `names` and `scales`: the free parameters in the order of the coordinates.
std::string format_profile_table(const std::vector<std::string>& names,
                                 const std::vector<Scale>& scales,
                                 const std::vector<ParameterProfile>& profiles);

// The profile points of one fit: `experiment` empty for the fit of the
// whole problem, else the id of the experiment it fitted alone; the
// pointers as for format_profile_table and outliving the call.
struct ProfileTableRows {
  std::string experiment;
  const std::vector<std::string>* names = nullptr;
  const std::vector<Scale>* scales = nullptr;
  const std::vector<ParameterProfile>* profiles = nullptr;
};

// The profile points of several fits in one table. Without experiments
// (every `experiment` empty) the columns are those of the first fit's
// names, as format_profile_table gives them; otherwise a first column
// `experiment`, and one column per name of any fit in order of first
// appearance, empty in the rows of a fit without that parameter.
std::string format_profile_table(const std::vector<ProfileTableRows>& fits);

// The fields profileLower and profileUpper of a parameter table for the
// parameter `name`: each side's crossing with 17 significant digits, the
// bound for a side that ends on the bound the estimate rests on (the status
// column says "at lower bound"), "interrupted" for a side that an interrupt
// cut short or left out, or an empty field for a side that is open, and both
// empty for a parameter that was not profiled.
std::pair<std::string, std::string> profile_interval_fields(
    const ProfilesReport& report, const std::string& name);

}  // namespace identify
