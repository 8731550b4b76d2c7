// Entry point: everything is in the library; see app/run.h. The console text
// goes through a stream buffer of its own on descriptor 1, which remembers
// why a write failed (a closed pipe, a full disk) so the run can say so.
#include <malloc.h>
#include <unistd.h>

#include <iostream>

#include "app/run.h"
#include "output/fd_stream.h"

int main(int argc, char** argv) {
  // Fits of many unknowns allocate and free Jacobians of tens of megabytes
  // once per iteration. glibc would serve each from fresh pages (mmap above
  // its threshold, and a trimmed heap below it), so that every iteration
  // faults every page in again; keep freed memory in the process instead.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  identify::FdStreamBuf console(STDOUT_FILENO);
  std::ostream out(&console);
  return identify::run(argc, argv, out, std::cerr);
}
