// Profile sides written and read back exactly: every double is written with
// 17 significant digits, which read back as the same double, and a side's end is
// one word, so a side read back continues the run as if it had been walked
// in the process reading it.
#include "output/profile_side_rows.h"

#include <array>
#include <charconv>
#include <cstdlib>
#include <sstream>

#include "core/exact_number.h"

namespace identify {

namespace {

constexpr std::array<std::pair<SideEnd, const char*>, 6> kEnds = {{
    {SideEnd::kCrossed, "crossed"},
    {SideEnd::kBound, "bound"},
    {SideEnd::kSearchLimit, "search-limit"},
    {SideEnd::kNotFinite, "not-finite"},
    {SideEnd::kBelowOptimum, "below-optimum"},
    {SideEnd::kInterrupted, "interrupted"},
}};

std::vector<std::string> split(const std::string& text, char by) {
  std::vector<std::string> parts;
  std::string part;
  std::stringstream s(text);
  while (std::getline(s, part, by)) parts.push_back(part);
  return parts;
}

std::string point_text(const ProfilePoint& p) {
  std::string text = exact_number(p.x) + ',' + exact_number(p.objective);
  for (double v : p.others) text += ',' + exact_number(v);
  return text;
}

bool read_number(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

bool read_point(const std::string& text, ProfilePoint& p) {
  const std::vector<std::string> v = split(text, ',');
  if (v.size() < 2 || !read_number(v[0], p.x) ||
      !read_number(v[1], p.objective)) {
    return false;
  }
  p.others.resize(v.size() - 2);
  for (std::size_t i = 2; i < v.size(); ++i) {
    if (!read_number(v[i], p.others[i - 2])) return false;
  }
  return true;
}

bool read_end(const std::string& word, SideEnd& end) {
  for (const auto& [e, w] : kEnds) {
    if (word == w) {
      end = e;
      return true;
    }
  }
  return false;
}

bool read_side(std::vector<std::string> c, NamedSide& s) {
  while (c.size() < 6 && c.size() >= 4) c.emplace_back();
  if (c.size() != 6 || c[0].empty() || (c[1] != "lower" && c[1] != "upper") ||
      !read_end(c[2], s.side.end) || !read_number(c[3], s.side.value)) {
    return false;
  }
  s.name = c[0];
  s.direction = c[1] == "lower" ? -1 : 1;
  if (!c[4].empty()) {
    ProfilePoint below;
    if (!read_point(c[4], below)) return false;
    s.side.below_optimum = std::move(below);
  }
  for (const std::string& text : split(c[5], ';')) {
    ProfilePoint p;
    if (!read_point(text, p)) return false;
    s.side.points.push_back(std::move(p));
  }
  return true;
}

}  // namespace

std::string format_side_rows(const std::vector<NamedSide>& sides) {
  std::string text = "parameter\tside\tend\tvalue\tbelowOptimum\tpoints\n";
  for (const NamedSide& s : sides) {
    const char* end = "";
    for (const auto& [e, w] : kEnds) {
      if (e == s.side.end) end = w;
    }
    std::string points;
    for (const ProfilePoint& p : s.side.points) {
      points += (points.empty() ? "" : ";") + point_text(p);
    }
    text += s.name + '\t' + (s.direction < 0 ? "lower" : "upper") + '\t' +
            end + '\t' + exact_number(s.side.value) + '\t' +
            (s.side.below_optimum ? point_text(*s.side.below_optimum) : "") +
            '\t' + points + '\n';
  }
  return text;
}

std::vector<NamedSide> parse_side_rows(const std::string& table,
                                       std::string& fault) {
  std::vector<NamedSide> sides;
  const std::vector<std::string> lines = split(table, '\n');
  for (std::size_t i = 1; i < lines.size(); ++i) {
    NamedSide s;
    if (!read_side(split(lines[i], '\t'), s)) {
      fault = "cannot read the profile side row \"" + lines[i] + "\"";
      return {};
    }
    sides.push_back(std::move(s));
  }
  return sides;
}

}  // namespace identify
