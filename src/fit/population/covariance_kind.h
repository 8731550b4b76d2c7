// Which matrix the covariance step of a population fit inverts
// (covariance_step.h): the sandwich R⁻¹·S·R⁻¹, R⁻¹ or S⁻¹, and their names
// on the command line.
#pragma once

#include <optional>
#include <string_view>

namespace identify {

enum class CovarianceKind { kSandwich, kR, kS };

// "sandwich", "r", "s"; parse_covariance_kind the inverse (nothing if
// unknown).
const char* covariance_kind_name(CovarianceKind kind);
std::optional<CovarianceKind> parse_covariance_kind(std::string_view text);

}  // namespace identify
