// The PEtab v1 test suite through the program: every case evaluated with
// --evaluate at its nominal parameters, its chi2, llh and simulation table
// compared with the case's solution to 1e-9 relative. One test runs all of
// them and names every case and number that differs.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "run_binary.h"

namespace identify {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

const fs::path kSuite = fs::path(IDENTIFY_PETAB_DIR) / "suite";

std::vector<std::vector<std::string>> tsv_rows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::vector<std::string>& row = rows.emplace_back();
    std::istringstream cells(line);
    std::string cell;
    while (std::getline(cells, cell, '\t')) row.push_back(cell);
  }
  return rows;
}

// "name: value" and "name\tvalue" lines.
std::map<std::string, double> named_numbers(const std::string& text) {
  std::map<std::string, double> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t at = line.find_first_of(":\t");
    if (at == std::string::npos) continue;
    try {
      out[line.substr(0, at)] = std::stod(line.substr(at + 1));
    } catch (const std::exception&) {
    }
  }
  return out;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool close(double a, double b) {
  return std::abs(a - b) <= 1e-9 * std::max(std::abs(a), std::abs(b)) + 1e-15;
}

// The faults of one case, each a line naming it.
std::string check_case(const std::string& id) {
  ScratchDir dir;
  for (const auto& f : fs::directory_iterator(kSuite / id)) {
    fs::copy(f.path(), dir.path() / f.path().filename());
  }
  const auto run = dir.run("_" + id + ".yaml --evaluate --simulations sim.tsv");
  if (run.exit_code != 0) {
    return id + ": exit " + std::to_string(run.exit_code) + ": " + run.err;
  }
  std::string faults;
  const auto got = named_numbers(run.out);
  const auto want =
      named_numbers(slurp(kSuite / id / ("_" + id + "_solution.yaml")));
  for (const char* name : {"chi2", "llh"}) {
    if (!got.count(name) || !close(got.at(name), want.at(name))) {
      faults += id + ": " + name + " " +
                (got.count(name) ? std::to_string(got.at(name)) : "missing") +
                ", expected " + std::to_string(want.at(name)) + "\n";
    }
  }
  const auto ours = tsv_rows(dir.read("sim.tsv"));
  const auto theirs = tsv_rows(slurp(kSuite / id / "_simulations.tsv"));
  if (ours.size() != theirs.size())
    return faults + id + ": row count differs\n";
  std::size_t column = 0;
  while (column < theirs[0].size() && theirs[0][column] != "simulation")
    ++column;
  std::size_t own = 0;
  while (own < ours[0].size() && ours[0][own] != "simulation") ++own;
  for (std::size_t r = 1; r < theirs.size(); ++r) {
    const double a = std::stod(ours[r][own]);
    const double b = std::stod(theirs[r][column]);
    if (!close(a, b)) {
      faults += id + ": simulation of row " + std::to_string(r) + " " +
                ours[r][own] + ", expected " + theirs[r][column] + "\n";
    }
  }
  return faults;
}

TEST(PetabSuite, EveryCaseMatchesItsSolution) {
  std::string faults;
  int cases = 0;
  for (int c = 1; c <= 20; ++c) {
    char id[8];
    std::snprintf(id, sizeof id, "%04d", c);
    faults += check_case(id);
    ++cases;
  }
  EXPECT_EQ(cases, 20);
  EXPECT_EQ(faults, "");
}

}  // namespace
}  // namespace identify
