// Wording helpers. The default stream format is what the console and the
// verdicts have always used, so only the sign of zero and the agreement of
// counts with their nouns are changed here.
#include "fit/wording.h"

#include <locale>
#include <sstream>

namespace identify {

std::string number_text(double v) {
  std::ostringstream s;
  s.imbue(std::locale::classic());
  s << (v == 0.0 ? 0.0 : v);
  return s.str();
}

std::string count_text(std::int64_t count, std::string_view one,
                       std::string_view many) {
  std::string text = std::to_string(count);
  text += ' ';
  text += count == 1 ? one : many;
  return text;
}

}  // namespace identify
