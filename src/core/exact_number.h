// A double as text with 17 significant digits ("%.17g"), which always reads
// back as the same double: for files that another program, or identify
// itself, reads again.
#pragma once

#include <cstdio>
#include <string>

namespace identify {

inline std::string exact_number(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

}  // namespace identify
