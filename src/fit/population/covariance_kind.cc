// The command-line names of the covariance kinds.
#include "fit/population/covariance_kind.h"

namespace identify {

const char* covariance_kind_name(CovarianceKind kind) {
  switch (kind) {
    case CovarianceKind::kSandwich:
      return "sandwich";
    case CovarianceKind::kR:
      return "r";
    case CovarianceKind::kS:
      return "s";
  }
  return "sandwich";
}

std::optional<CovarianceKind> parse_covariance_kind(std::string_view text) {
  for (CovarianceKind k :
       {CovarianceKind::kSandwich, CovarianceKind::kR, CovarianceKind::kS}) {
    if (text == covariance_kind_name(k)) return k;
  }
  return std::nullopt;
}

}  // namespace identify
