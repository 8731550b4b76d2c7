// The population part of a problem as a reader states it: random effects
// (parameters fixed at 0 whose slots the population fit sets per subject),
// the blocks of correlated effects of Ω, and the individual definitions,
// named expressions substituted into every later expression that uses
// their names, so that the model sees only parameters.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/quoted_text.h"
#include "problem/problem_builder.h"

namespace identify {

namespace {

std::string number_text(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

}  // namespace

int ProblemBuilder::add_random_effect(const std::string& name, double sd,
                                      bool estimated) {
  if (!(sd > 0.0) || !std::isfinite(sd)) {
    throw ProblemError("expected a standard deviation above 0 for " + name +
                       ", found " + number_text(sd));
  }
  if (definition_names_.contains(name)) {
    throw ProblemError("expected a random effect name not used before, found " +
                       quote_text(name));
  }
  Parameter p;
  p.name = name;
  p.value = 0.0;
  p.estimated = false;
  const int k = add_parameter(p);
  population_.effects.push_back(RandomEffect{name, k, sd, estimated});
  return k;
}

void ProblemBuilder::add_correlated(const std::vector<std::string>& names) {
  if (names.size() < 2) {
    throw ProblemError(
        "expected two or more random effects in a correlated block, found " +
        std::to_string(names.size()));
  }
  std::vector<int> block;
  for (const std::string& name : names) {
    int e = -1;
    for (int q = 0; q < population_.effect_count(); ++q) {
      if (population_.effects[q].name == name) e = q;
    }
    if (e < 0) {
      throw ProblemError("expected a random effect, found " + quote_text(name));
    }
    bool taken = std::find(block.begin(), block.end(), e) != block.end();
    for (const std::vector<int>& other : population_.correlated) {
      taken = taken || std::find(other.begin(), other.end(), e) != other.end();
    }
    if (taken) {
      throw ProblemError("expected a random effect in one block only, found " +
                         quote_text(name) + " again");
    }
    if (!population_.effects[e].estimated) {
      throw ProblemError(
          "expected estimated random effects in a correlated block, found " +
          quote_text(name) + " with estimate: false");
    }
    block.push_back(e);
  }
  std::sort(block.begin(), block.end());
  population_.correlated.push_back(block);
}

void ProblemBuilder::add_definition(const std::string& name,
                                    std::string_view expression) {
  if (!is_valid_name(name) || parameter_names_.contains(name) ||
      definition_names_.contains(name)) {
    throw ProblemError(
        "expected an individual name (letters, digits and _) not used "
        "before, found " +
        quote_text(name));
  }
  Expression e = checked(expression);
  definitions_.emplace_back(name, std::move(e));
  definition_names_.add(name);
}

}  // namespace identify
