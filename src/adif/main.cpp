// velkrin-adif: exports Velkrin's logbook to an ADIF file.
#include <iostream>
#include <string>
#include <vector>

#include "adif/command_line.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return velkrin::adif::run_velkrin_adif(args, std::cout, std::cerr);
}
