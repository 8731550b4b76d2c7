// The block structure of Ω: the correlated groups as given and every other
// effect as a 1×1 block, ordered by their first effect, so that the blocks
// tile the effects in a fixed order whatever the order of the groups.
#include "problem/population.h"

#include <algorithm>

namespace identify {

std::vector<std::vector<int>> Population::blocks() const {
  std::vector<int> group(effects.size(), -1);
  for (std::size_t g = 0; g < correlated.size(); ++g) {
    for (int e : correlated[g]) group[e] = static_cast<int>(g);
  }
  std::vector<std::vector<int>> out;
  std::vector<bool> placed(correlated.size(), false);
  for (int e = 0; e < effect_count(); ++e) {
    if (group[e] < 0) {
      out.push_back({e});
    } else if (!placed[group[e]]) {
      placed[group[e]] = true;
      out.push_back(correlated[group[e]]);
    }
  }
  return out;
}

bool Population::is_effect(int k) const {
  return std::any_of(effects.begin(), effects.end(),
                     [k](const RandomEffect& e) { return e.parameter == k; });
}

}  // namespace identify
