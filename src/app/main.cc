// Entry point: everything is in the library; see app/run.h. The console text
// goes through a stream buffer of its own on descriptor 1, which remembers
// why a write failed (a closed pipe, a full disk) so the run can say so.
#include <unistd.h>

#include <iostream>

#include "app/run.h"
#include "output/fd_stream.h"

int main(int argc, char** argv) {
  identify::FdStreamBuf console(STDOUT_FILENO);
  std::ostream out(&console);
  return identify::run(argc, argv, out, std::cerr);
}
