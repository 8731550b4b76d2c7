// Building the SBML document: every formula is the problem's own expression
// text, parsed by libSBML's infix parser with log read as the natural
// logarithm (the meaning it has in the problem's expressions), so that the
// MathML written holds the same operations in the same order.
#include "output/sbml_writer.h"

#include <sbml/SBMLTypes.h>
#include <sbml/math/L3Parser.h>
#include <sbml/math/L3ParserSettings.h>

#include <cstdio>
#include <memory>

#include "core/exact_number.h"

namespace identify {
namespace {

std::string text_of(const BoundExpression& e) {
  return e.is_constant() ? exact_number(e.constant_value()) : e.text();
}

ASTNode* math(const std::string& text) {
  L3ParserSettings settings;
  settings.setParseLog(L3P_PARSE_LOG_AS_LN);
  return SBML_parseL3FormulaWithSettings(text.c_str(), &settings);
}

void add_species(Model& m, const std::string& id) {
  Species* s = m.createSpecies();
  s->setId(id);
  s->setCompartment("identify_compartment");
  s->setInitialAmount(0.0);
  s->setHasOnlySubstanceUnits(true);
  s->setBoundaryCondition(false);
  s->setConstant(false);
}

void add_rate_rule(Model& m, const std::string& id, const std::string& text) {
  RateRule* r = m.createRateRule();
  r->setVariable(id);
  std::unique_ptr<ASTNode> ast(math(text.empty() ? "0" : text));
  r->setMath(ast.get());
}

}  // namespace

std::string write_sbml_model(const FitProblem& problem) {
  SBMLDocument doc(3, 2);
  Model* m = doc.createModel();
  m->setId("identify_problem");
  Compartment* c = m->createCompartment();
  c->setId("identify_compartment");
  c->setSize(1.0);
  c->setConstant(true);
  for (const std::string& s : problem.states) add_species(*m, s);
  for (const identify::Parameter& q : problem.parameters) {
    ::Parameter* sp = m->createParameter();
    sp->setId(q.name);
    sp->setValue(q.value);
    sp->setConstant(true);
  }
  const Experiment& e = problem.experiments[0];
  const int n = problem.state_count();
  std::vector<std::string> rules(static_cast<std::size_t>(n));
  for (const MatrixTerm& t : e.matrix) {
    std::string& r = rules[t.row];
    r += (r.empty() ? "" : " + ") + std::string("(") + text_of(t.value) + ")*" +
         problem.states[t.col];
  }
  for (const Source& s : e.sources) {
    std::string& r = rules[s.state];
    if (s.rate.is_constant() && s.rate.constant_value() == 0.0) {
      r += (r.empty() ? "(" : " + (") + text_of(s.amp) + ")";
      continue;
    }
    const std::string u = "input_" + problem.states[s.state];
    add_species(*m, u);
    add_rate_rule(*m, u, "(" + text_of(s.rate) + ")*" + u);
    InitialAssignment* ia = m->createInitialAssignment();
    ia->setSymbol(u);
    std::unique_ptr<ASTNode> amp(math(text_of(s.amp)));
    ia->setMath(amp.get());
    r += (r.empty() ? "" : " + ") + u;
  }
  for (int i = 0; i < n; ++i) add_rate_rule(*m, problem.states[i], rules[i]);
  return writeSBMLToStdString(&doc);
}

}  // namespace identify
