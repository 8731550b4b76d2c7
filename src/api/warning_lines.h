// The readers' warnings as console lines.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace identify {

// Prints the collected warnings (after "identify: ") and forgets them.
void flush_warnings(std::ostream& err, std::vector<std::string>& warnings);

}  // namespace identify
