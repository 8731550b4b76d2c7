// Search outputs from SearchResults. The table of several fits joins their
// parameter columns by name: a fit of one experiment fits only the
// parameters its expressions use, so the fits' column sets differ, and a
// parameter's column is the same in every row that has it.
#include "api/search_outputs.h"

#include <algorithm>

#include "output/profile_table.h"
#include "output/search_report.h"

namespace identify {

std::string search_report_sections(const SearchResults& search) {
  std::string text;
  if (search.starts) text += format_starts_section(*search.starts);
  if (search.profiles) text += format_profiles_section(*search.profiles);
  return text;
}

void add_search_panels(const SearchResults& search,
                       const std::string& experiment, PlotData& data) {
  if (search.starts) {
    data.waterfalls.push_back({experiment, waterfall(search.starts->outcomes)});
  }
  if (!search.profiles) return;
  for (const ParameterProfile& profile : search.curves) {
    PlotData::Profile panel;
    panel.name = search.names[profile.j];
    panel.experiment = experiment;
    panel.threshold = search.profiles->threshold.value;
    for (const ProfilePoint& point : profile.points) {
      panel.values.push_back(from_scaled(search.scales[profile.j], point.x));
      panel.objectives.push_back(point.objective);
    }
    data.profiles.push_back(std::move(panel));
  }
}

std::string profile_table_text(const std::vector<FitProfiles>& fits) {
  std::vector<ProfileTableRows> blocks;
  for (const FitProfiles& f : fits) {
    if (f.search == nullptr || !f.search->profiles) continue;
    blocks.push_back(
        {f.experiment, &f.search->names, &f.search->scales, &f.search->curves});
  }
  return format_profile_table(blocks);
}

}  // namespace identify
