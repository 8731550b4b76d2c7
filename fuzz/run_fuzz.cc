// Fuzz target: the whole program on a fuzzed pair of input files, with two
// iterations at most, no pauses and no progress lines. The input is the
// problem file, a line "=====", then the measurement file (no such line: an
// empty measurement file). Both are written to a scratch directory, made
// once per process, and run() works there (it changes the working directory,
// which is changed back for libFuzzer's relative paths). Besides not crashing:
// the exit code is one that README.md documents for a run without signals, and
// neither an internal error nor a usage error, since the command line is
// fixed and the inputs are small. The time of an iteration grows with dim²,
// so systems of more than 12 components are left to the reader targets:
// they take no other paths here, and would slow the search down a
// hundredfold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

#include "api/exit_codes.h"
#include "app/run.h"
#include "fuzz_check.h"
#include "input/problem_file.h"

namespace identify::fuzz {
namespace {

// Discards everything written to it.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

constexpr std::int32_t kMaxDim = 12;

// Whether the problem file reads as a system too large to run here.
bool too_large(std::string_view problem) {
  try {
    return parse_problem(read_number_list(std::string(problem), true,
                                          "input.txt", nullptr))
               .dim > kMaxDim;
  } catch (const InputError&) {
    return false;
  }
}

}  // namespace
}  // namespace identify::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace identify;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  constexpr std::string_view kSplit = "\n=====\n";
  const std::size_t split = bytes.find(kSplit);
  if (fuzz::too_large(bytes.substr(0, split))) return 0;
  const std::string& dir = fuzz::scratch_dir("identify-fuzz");
  fuzz::write_file(dir + "/input.txt", bytes.substr(0, split));
  fuzz::write_file(dir + "/input_data.txt",
                   split == std::string_view::npos
                       ? std::string_view()
                       : bytes.substr(split + kSplit.size()));
  const char* argv[] = {"identify", "-C",         dir.c_str(), "--max-iter",
                        "2",        "--no-pause", "-q"};
  fuzz::NullBuffer null;
  std::ostream out(&null);
  std::ostream err(&null);
  const std::filesystem::path home = std::filesystem::current_path();
  const int code = run(static_cast<int>(std::size(argv)), argv, out, err);
  std::filesystem::current_path(home);
  fuzz::check(code == kExitSuccess ||
                  (code >= kExitInputError && code <= kExitLibraryFailure),
              "a documented exit code, neither internal nor usage");
  return 0;
}
