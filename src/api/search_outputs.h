// The outputs of a fit's search (several starts, profiles) that the legacy
// run and the problem-file run share: the report sections, the plot's
// waterfall and profile panels, and the table of profile points.
#pragma once

#include <string>
#include <vector>

#include "api/search_results.h"
#include "output/plot_file.h"

namespace identify {

// The report's sections on the starts and on the profiles, each only if
// it ran; "" without either.
std::string search_report_sections(const SearchResults& search);

// Adds the waterfall of the starts and one panel per profile (values
// unscaled) of `search` to `data`; `experiment` (empty for the fit of the
// whole problem) ends their titles.
void add_search_panels(const SearchResults& search,
                       const std::string& experiment, PlotData& data);

// One fit's profile points for the table: `experiment` empty for the fit
// of the whole problem.
struct FitProfiles {
  std::string experiment;
  const SearchResults* search = nullptr;
};

// The profile table of `fits` (the ones with profiles): that of
// format_profile_table for one fit of the whole problem; with fits of
// single experiments, a first column `experiment` and one column per
// parameter fitted in any of them (in order of first appearance), empty in
// the rows of a fit that does not fit it.
std::string profile_table_text(const std::vector<FitProfiles>& fits);

}  // namespace identify
