// Velkrin: a console logbook for radio amateurs. Command-line arguments are
// ignored; everything is asked at the keyboard.
#include <iostream>

#include "dialogue/menu.hpp"

int main() {
  std::ios::sync_with_stdio(false);
  const int status = velkrin::run_velkrin(std::cin, std::cout, std::cerr);
  std::cout.flush();
  return status;
}
