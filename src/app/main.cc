// Entry point: everything is in the library; see driver/run.h.
#include <iostream>

#include "app/run.h"

int main(int argc, char** argv) {
  return identify::run(argc, argv, std::cout, std::cerr);
}
