// Profile table: rows in the order of the fits and their profiles, each
// profile's points in ascending coordinate (which is ascending value on
// every scale); a point's full set of values is its others with the
// profiled value put back in its place, each mapped from its coordinate by
// its scale, and placed in the column of its name.
#include "output/profile_table.h"

#include <algorithm>
#include <cstdio>


namespace identify {

namespace {

void append_number(std::string& text, double v) {
  char number[32];
  std::snprintf(number, sizeof number, "\t%.17g", v);
  text += number;
}

}  // namespace

std::string format_profile_table(const std::vector<ProfileTableRows>& fits) {
  const bool experiments = std::any_of(
      fits.begin(), fits.end(),
      [](const ProfileTableRows& f) { return !f.experiment.empty(); });
  std::vector<std::string> columns;
  for (const ProfileTableRows& f : fits) {
    for (const std::string& name : *f.names) {
      if (std::find(columns.begin(), columns.end(), name) == columns.end()) {
        columns.push_back(name);
      }
    }
  }
  std::string text = experiments ? "experiment\t" : "";
  text += "parameterId\tvalue\tobjective";
  for (const std::string& name : columns) text += '\t' + name;
  text += '\n';
  std::vector<double> row(columns.size());
  std::vector<bool> present(columns.size());
  for (const ProfileTableRows& f : fits) {
    const std::vector<std::string>& names = *f.names;
    // The column of each of this fit's names.
    std::vector<std::size_t> column(names.size());
    for (std::size_t k = 0; k < names.size(); ++k) {
      column[k] = static_cast<std::size_t>(
          std::find(columns.begin(), columns.end(), names[k]) -
          columns.begin());
    }
    for (const ParameterProfile& p : *f.profiles) {
      for (const ProfilePoint& point : p.points) {
        if (experiments) text += f.experiment + '\t';
        text += names[p.j];
        append_number(text, from_scaled((*f.scales)[p.j], point.x));
        append_number(text, point.objective);
        std::fill(present.begin(), present.end(), false);
        for (std::size_t k = 0, o = 0; k < names.size(); ++k) {
          const double x =
              static_cast<int>(k) == p.j ? point.x : point.others[o++];
          row[column[k]] = from_scaled((*f.scales)[k], x);
          present[column[k]] = true;
        }
        for (std::size_t c = 0; c < row.size(); ++c) {
          if (present[c]) {
            append_number(text, row[c]);
          } else {
            text += '\t';
          }
        }
        text += '\n';
      }
    }
  }
  return text;
}

std::string format_profile_table(
    const std::vector<std::string>& names, const std::vector<Scale>& scales,
    const std::vector<ParameterProfile>& profiles) {
  return format_profile_table(
      std::vector<ProfileTableRows>{{"", &names, &scales, &profiles}});
}

std::pair<std::string, std::string> profile_interval_fields(
    const ProfilesReport& report, const std::string& name) {
  const auto row =
      std::find_if(report.rows.begin(), report.rows.end(),
                   [&](const ProfileRow& r) { return r.name == name; });
  if (row == report.rows.end()) return {};
  const auto field = [&](int direction) {
    const SideEnd end = direction < 0 ? row->lower_end : row->upper_end;
    if (end == SideEnd::kInterrupted) return std::string("interrupted");
    if (end != SideEnd::kCrossed && !held_by_bound(*row, direction)) {
      return std::string();
    }
    char number[32];
    std::snprintf(number, sizeof number, "%.17g",
                  direction < 0 ? row->lower : row->upper);
    return std::string(number);
  };
  return {field(-1), field(1)};
}

}  // namespace identify
