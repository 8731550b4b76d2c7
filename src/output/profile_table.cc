// Profile table: rows in the order of the profiles, each profile's points
// in ascending coordinate (which is ascending value on every scale); a
// point's full set of values is its others with the profiled value put
// back in its place, each mapped from its coordinate by its scale.
#include "output/profile_table.h"

#include <algorithm>
#include <cstdio>

#include "output/output_file.h"

namespace identify {

namespace {

void append_number(std::string& text, double v) {
  char number[32];
  std::snprintf(number, sizeof number, "\t%.17g", v);
  text += number;
}

}  // namespace

std::string format_profile_table(
    const std::vector<std::string>& names, const std::vector<Scale>& scales,
    const std::vector<ParameterProfile>& profiles) {
  std::string text = "parameterId\tvalue\tobjective";
  for (const std::string& name : names) text += '\t' + name;
  text += '\n';
  for (const ParameterProfile& p : profiles) {
    for (const ProfilePoint& point : p.points) {
      text += names[p.j];
      append_number(text, from_scaled(scales[p.j], point.x));
      append_number(text, point.objective);
      for (std::size_t k = 0, o = 0; k < names.size(); ++k) {
        const double x =
            static_cast<int>(k) == p.j ? point.x : point.others[o++];
        append_number(text, from_scaled(scales[k], x));
      }
      text += '\n';
    }
  }
  return text;
}

std::string write_profile_table(const std::string& path,
                                const std::vector<std::string>& names,
                                const std::vector<Scale>& scales,
                                const std::vector<ParameterProfile>& profiles) {
  return write_output_file(path, format_profile_table(names, scales, profiles));
}

std::pair<std::string, std::string> profile_interval_fields(
    const ProfilesReport& report, const std::string& name) {
  const auto row =
      std::find_if(report.rows.begin(), report.rows.end(),
                   [&](const ProfileRow& r) { return r.name == name; });
  if (row == report.rows.end()) return {};
  const auto field = [](SideEnd end, double value) {
    if (end != SideEnd::kCrossed) return std::string();
    char number[32];
    std::snprintf(number, sizeof number, "%.17g", value);
    return std::string(number);
  };
  return {field(row->lower_end, row->lower), field(row->upper_end, row->upper)};
}

}  // namespace identify
