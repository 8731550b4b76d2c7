// Each warning a reader collected becomes one line of standard error.
#include "api/warning_lines.h"

#include <ostream>

namespace identify {

void flush_warnings(std::ostream& err, std::vector<std::string>& warnings) {
  for (const std::string& line : warnings) {
    err << "identify: " << line << std::endl;
  }
  warnings.clear();
}

}  // namespace identify
