// --export-petab: every problem-file example without doses, exported and
// read back, fits to the same estimates bit for bit (the parameter tables'
// text is compared); an example with doses is refused with the reason; a
// PEtab problem read in and exported evaluates to the same bits.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "run_binary.h"

namespace identify {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

// The first two columns (parameterId, estimate) of a parameter table.
std::string estimates(const std::string& table) {
  std::istringstream in(table);
  std::string line, out;
  while (std::getline(in, line)) {
    const std::size_t second = line.find('\t', line.find('\t') + 1);
    out += line.substr(0, second) + "\n";
  }
  return out;
}

TEST(PetabExport, ExamplesReadBackFitToTheSameBits) {
  int exported = 0, refused = 0;
  for (const auto& entry : fs::directory_iterator(IDENTIFY_EXAMPLES_DIR)) {
    const std::string name = entry.path().filename().string();
    if (!fs::exists(entry.path() / "problem.yaml")) continue;
    SCOPED_TRACE(name);
    ScratchDir dir(name);
    const auto out = dir.run("problem.yaml --export-petab petab");
    const std::string text = dir.read("problem.yaml");
    // Event tables may carry doses: such a problem is refused, or exports
    // and reads back.
    const bool events = text.find("events:") != std::string::npos;
    if (events && out.exit_code == 2) {
      EXPECT_NE(out.err.find("identify: --export-petab: expected"),
                std::string::npos)
          << out.err;
      ++refused;
      continue;
    }
    if (!events && text.find("doses") != std::string::npos) {
      EXPECT_EQ(out.exit_code, 2);
      EXPECT_NE(out.err.find("identify: --export-petab: expected a problem "
                             "without doses (PEtab v1 has no form for them)"),
                std::string::npos)
          << out.err;
      ++refused;
      continue;
    }
    // Random effects have no PEtab v1 form either.
    if (text.find("random:") != std::string::npos) {
      EXPECT_EQ(out.exit_code, 2);
      EXPECT_NE(out.err.find("identify: --export-petab: expected a problem "
                             "without random effects"),
                std::string::npos)
          << out.err;
      ++refused;
      continue;
    }
    ASSERT_EQ(out.exit_code, 0) << out.err;
    ASSERT_EQ(dir.run("problem.yaml -q").exit_code, 0);
    ASSERT_EQ(dir.run("petab/problem.yaml -q").exit_code, 0);
    EXPECT_EQ(estimates(dir.read("problem.parameters.tsv")),
              estimates(dir.read("petab/problem.parameters.tsv")));
    ++exported;
  }
  EXPECT_GE(exported, 4);
  EXPECT_GE(refused, 1);
}

TEST(PetabExport, PetabProblemReadInExportsToTheSameEvaluation) {
  for (const char* id : {"0002", "0004", "0014", "0016"}) {
    SCOPED_TRACE(id);
    ScratchDir dir;
    for (const auto& f :
         fs::directory_iterator(fs::path(IDENTIFY_PETAB_DIR) / "suite" / id)) {
      fs::copy(f.path(), dir.path() / f.path().filename());
    }
    const std::string yaml = "_" + std::string(id) + ".yaml";
    ASSERT_EQ(dir.run(yaml + " --export-petab out").exit_code, 0);
    const auto original = dir.run(yaml + " --evaluate");
    const auto again = dir.run("out/problem.yaml --evaluate");
    ASSERT_EQ(again.exit_code, 0) << again.err;
    EXPECT_EQ(original.out, again.out);
  }
}

}  // namespace
}  // namespace identify
