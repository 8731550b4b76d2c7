// One row of a tab-separated table: the cells joined by tabs, then a
// newline, appended to `text`.
#pragma once

#include <string>
#include <vector>

namespace identify {

inline void add_tsv_row(std::string& text,
                        const std::vector<std::string>& cells) {
  for (std::size_t c = 0; c < cells.size(); ++c) {
    if (c > 0) text += '\t';
    text += cells[c];
  }
  text += '\n';
}

}  // namespace identify
