// Names in order of declaration with their positions, found by hashing: the
// readers look up every name they meet (a parameter in an expression, an
// experiment id in each row of a table), so a lookup must not cost a scan of
// all names declared before it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace identify {

class NameIndex {
 public:
  // Appends `name` and returns true, or returns false when it is there
  // already (and changes nothing).
  bool add(const std::string& name) {
    if (!index_.try_emplace(name, static_cast<int>(names_.size())).second) {
      return false;
    }
    names_.push_back(name);
    return true;
  }
  // The position of `name`, or -1.
  int find(std::string_view name) const {
    const auto it = index_.find(name);
    return it == index_.end() ? -1 : it->second;
  }
  bool contains(std::string_view name) const { return find(name) >= 0; }
  // The names, in the order they were added.
  const std::vector<std::string>& names() const { return names_; }
  std::size_t size() const { return names_.size(); }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const {
      return std::hash<std::string_view>{}(s);
    }
  };
  std::vector<std::string> names_;
  std::unordered_map<std::string, int, Hash, std::equal_to<>> index_;
};

}  // namespace identify
