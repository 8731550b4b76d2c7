// Reading the linear model of an SBML document. With v_r the rate of
// reaction r (substance per time), s_ir the net stoichiometry of species i
// in it and V_i the size of its compartment,
//
//   d(amount_i)/dt = sum over r of s_ir·v_r,   d[x_i]/dt = that / V_i,
//
// and v_r = sum over j of a_rj·x_j + a_r0 (linear_form.h), so that
// A_ij = sum over r of s_ir·a_rj (/ V_i) and b_i = sum over r of s_ir·a_r0
// (/ V_i). Compartment sizes are constant (a changing one is refused), so
// the division by V_i is exact. The model is checked element by element in
// document order, so the first fault in the file is the one named.
#include "input/petab/sbml_model.h"

#include <sbml/SBMLTypes.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>

#include "input/petab/linear_form.h"

namespace identify {
namespace {

// A message on one line: ids and formulas of a document may hold line
// breaks and other control characters, which become blanks.
std::string one_line(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return text;
}

class ModelReader {
 public:
  ModelReader(const Model& m, std::string name,
              const std::set<std::string>& declared)
      : m_(m), name_(std::move(name)), declared_(declared) {}

  SbmlModel run() {
    refuse_unsupported();
    declare_states();
    declare_constants();
    const int n = static_cast<int>(out_.states.size());
    out_.matrix.assign(static_cast<std::size_t>(n) * n, "");
    out_.inputs.assign(n, "");
    for (unsigned r = 0; r < m_.getNumReactions(); ++r)
      add_reaction(*m_.getReaction(r));
    for (unsigned r = 0; r < m_.getNumRules(); ++r)
      add_rate_rule(*m_.getRule(r));
    initial_values();
    return out_;
  }

 private:
  [[noreturn]] void fail(const std::string& element,
                         const std::string& reason) const {
    throw InputError(one_line(name_ + ": " + element + ": " + reason));
  }

  void refuse_unsupported() const {
    if (m_.getNumEvents() > 0) {
      fail("event " + m_.getEvent(0)->getId(),
           "expected no events (a linear model has none), found one");
    }
    for (unsigned r = 0; r < m_.getNumRules(); ++r) {
      const Rule& rule = *m_.getRule(r);
      if (!rule.isRate()) {
        fail(std::string(rule.isAssignment() ? "assignment" : "algebraic") +
                 " rule" +
                 (rule.getVariable().empty() ? ""
                                             : " for " + rule.getVariable()),
             "expected only rate rules, found " +
                 (rule.isSetMath() ? quoted(formula_text(*rule.getMath()))
                                   : "one"));
      }
    }
    for (unsigned c = 0; c < m_.getNumCompartments(); ++c) {
      const Compartment& comp = *m_.getCompartment(c);
      if (!comp.getConstant()) {
        fail("compartment " + comp.getId(),
             "expected a constant size, found one that changes");
      }
    }
  }

  void declare_states() {
    for (unsigned s = 0; s < m_.getNumSpecies(); ++s) {
      const Species& sp = *m_.getSpecies(s);
      if (sp.getConstant() || sp.getBoundaryCondition()) {
        fail("species " + sp.getId(),
             "expected a species that reactions change, found a constant or "
             "boundary species");
      }
      add_state(sp.getId(), sp.getHasOnlySubstanceUnits());
    }
    for (unsigned r = 0; r < m_.getNumRules(); ++r) {
      const std::string& v = m_.getRule(r)->getVariable();
      if (m_.getParameter(v) != nullptr)
        add_state(v, true);
      else if (m_.getSpecies(v) == nullptr)
        fail("rate rule for " + v,
             "expected a species or a parameter, found neither");
    }
  }

  void add_state(const std::string& id, bool amount) {
    state_index_[id] = static_cast<int>(out_.states.size());
    out_.states.push_back(id);
    out_.amount.push_back(amount);
  }

  void declare_constants() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (unsigned c = 0; c < m_.getNumCompartments(); ++c) {
      const Compartment& comp = *m_.getCompartment(c);
      out_.constants.emplace_back(comp.getId(),
                                  comp.isSetSize() ? comp.getSize() : 1.0);
      out_.is_compartment.push_back(true);
    }
    for (unsigned p = 0; p < m_.getNumParameters(); ++p) {
      const Parameter& par = *m_.getParameter(p);
      if (state_index_.count(par.getId()) > 0) continue;
      out_.constants.emplace_back(par.getId(),
                                  par.isSetValue() ? par.getValue() : nan);
      out_.is_compartment.push_back(false);
    }
  }

  // The meaning of a name in a formula of `element`; a kinetic law's own
  // parameters are numbers.
  SymbolMeaning meaning(const std::string& name, const KineticLaw* law) const {
    if (law != nullptr) {
      const Parameter* own = law->getLocalParameter(name);
      if (own == nullptr) own = law->getParameter(name);
      if (own != nullptr) {
        if (!std::isfinite(own->getValue())) {
          throw LinearFormError("expected a finite value of " + name);
        }
        return {-1, formula_number(own->getValue())};
      }
    }
    const auto s = state_index_.find(name);
    if (s != state_index_.end()) return {s->second, ""};
    if (m_.getParameter(name) != nullptr ||
        m_.getCompartment(name) != nullptr) {
      return {-1, constant_text(name)};
    }
    throw LinearFormError(
        "expected a species, parameter or compartment, found \"" + name + "\"");
  }

  LinearForm affine(const ASTNode* math, const std::string& element,
                    const std::string& what, const KineticLaw* law) const {
    if (math == nullptr) fail(element, "expected " + what + ", found none");
    try {
      return linear_form(
          *math, static_cast<int>(out_.states.size()),
          [&](const std::string& name) { return meaning(name, law); });
    } catch (const LinearFormError&) {
      fail(element, "expected " + what + " linear in the species, found " +
                        quoted(formula_text(*math)));
    }
  }

  // A parameter's or compartment's name if it is declared, else its value.
  std::string constant_text(const std::string& name) const {
    if (declared_.count(name) > 0) return name;
    for (const auto& [id, value] : out_.constants) {
      if (id != name) continue;
      if (!std::isfinite(value)) {
        fail("parameter " + name,
             "expected a finite value, found " + formula_number(value));
      }
      return formula_number(value);
    }
    fail("compartment " + name,
         "expected a compartment of the model, found none");
  }

  // The size of the compartment of species `i`, or "1" for an amount.
  std::string volume_of(int i) const {
    if (out_.amount[i]) return "1";
    return constant_text(m_.getSpecies(out_.states[i])->getCompartment());
  }

  void add_reaction(const Reaction& r) {
    const std::string element = "reaction " + r.getId();
    const KineticLaw* law = r.getKineticLaw();
    const LinearForm v =
        affine(law != nullptr && law->isSetMath() ? law->getMath() : nullptr,
               element, "a rate law", law);
    std::map<int, double> net;
    const auto collect = [&](const SpeciesReference& ref, double sign) {
      if (ref.isSetStoichiometryMath() ||
          (m_.getLevel() >= 3 && !ref.getId().empty() && !ref.getConstant())) {
        fail(element, "expected a constant stoichiometry for " +
                          ref.getSpecies() + ", found one that changes");
      }
      const auto s = state_index_.find(ref.getSpecies());
      if (s == state_index_.end())
        fail(element, "expected a known species, found " + ref.getSpecies());
      const double k = ref.isSetStoichiometry() ? ref.getStoichiometry() : 1.0;
      net[s->second] += sign * k;
    };
    for (unsigned k = 0; k < r.getNumReactants(); ++k)
      collect(*r.getReactant(k), -1.0);
    for (unsigned k = 0; k < r.getNumProducts(); ++k)
      collect(*r.getProduct(k), 1.0);
    const int n = static_cast<int>(out_.states.size());
    for (const auto& [i, k] : net) {
      if (k == 0.0) continue;
      const std::string factor = quotient_text(formula_number(k), volume_of(i));
      for (int j = 0; j < n; ++j) {
        std::string& entry = out_.matrix[static_cast<std::size_t>(i) * n + j];
        entry = sum_text(entry, product_text(factor, v.coefficients[j]));
      }
      out_.inputs[i] =
          sum_text(out_.inputs[i], product_text(factor, v.constant));
    }
  }

  void add_rate_rule(const Rule& rule) {
    const int i = state_index_.at(rule.getVariable());
    const LinearForm f =
        affine(rule.isSetMath() ? rule.getMath() : nullptr,
               "rate rule for " + rule.getVariable(), "a rate", nullptr);
    const int n = static_cast<int>(out_.states.size());
    for (int j = 0; j < n; ++j) {
      out_.matrix[static_cast<std::size_t>(i) * n + j] = f.coefficients[j];
    }
    out_.inputs[i] = f.constant;
  }

  // A number of the model for an initial value; refused unless finite.
  std::string finite(double value, const std::string& element) const {
    if (!std::isfinite(value)) {
      fail(element,
           "expected a finite initial value, found " + formula_number(value));
    }
    return formula_number(value);
  }

  void initial_values() {
    out_.x0.assign(out_.states.size(), "");
    for (std::size_t i = 0; i < out_.states.size(); ++i) {
      const std::string& id = out_.states[i];
      const InitialAssignment* ia = m_.getInitialAssignment(id);
      if (ia != nullptr) {
        const std::string element = "initial assignment for " + id;
        const LinearForm f = affine(ia->isSetMath() ? ia->getMath() : nullptr,
                                    element, "a value", nullptr);
        if (f.has_state())
          fail(element, "expected a value free of the species, found " +
                            quoted(formula_text(*ia->getMath())));
        out_.x0[i] = f.constant;
        continue;
      }
      const Species* sp = m_.getSpecies(id);
      if (sp == nullptr) {
        const Parameter& p = *m_.getParameter(id);
        if (!p.isSetValue())
          fail("parameter " + id, "expected an initial value, found none");
        out_.x0[i] = finite(p.getValue(), "parameter " + id);
      } else if (sp->isSetInitialConcentration()) {
        const std::string c =
            finite(sp->getInitialConcentration(), "species " + id);
        out_.x0[i] = out_.amount[i]
                         ? product_text(c, constant_text(sp->getCompartment()))
                         : c;
      } else if (sp->isSetInitialAmount()) {
        const std::string a = finite(sp->getInitialAmount(), "species " + id);
        out_.x0[i] =
            out_.amount[i]
                ? a
                : quotient_text(a, constant_text(sp->getCompartment()));
      } else {
        fail("species " + id,
             "expected an initial amount, concentration or assignment, found "
             "none");
      }
    }
  }

  static std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
  }

  const Model& m_;
  std::string name_;
  const std::set<std::string>& declared_;
  SbmlModel out_;
  std::map<std::string, int> state_index_;
};

SbmlModel read_document(SBMLDocument& doc, const std::string& name,
                        const std::set<std::string>& declared) {
  for (unsigned e = 0; e < doc.getNumErrors(); ++e) {
    const SBMLError& error = *doc.getError(e);
    if (error.getSeverity() >= LIBSBML_SEV_ERROR) {
      throw InputError(name + ":" + std::to_string(error.getLine()) + ":" +
                       std::to_string(error.getColumn()) +
                       ": expected a valid SBML document, found an error: " +
                       one_line(error.getShortMessage()));
    }
  }
  const Model* m = doc.getModel();
  if (m == nullptr)
    throw InputError(name + ": expected an SBML model, found none");
  return ModelReader(*m, name, declared).run();
}

}  // namespace

SbmlModel read_sbml_model(const std::string& path, const std::string& name,
                          const std::set<std::string>& declared) {
  std::unique_ptr<SBMLDocument> doc(readSBMLFromFile(path.c_str()));
  return read_document(*doc, name, declared);
}

SbmlModel read_sbml_text(const std::string& text, const std::string& name,
                         const std::set<std::string>& declared) {
  std::unique_ptr<SBMLDocument> doc(readSBMLFromString(text.c_str()));
  return read_document(*doc, name, declared);
}

}  // namespace identify
