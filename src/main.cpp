// Velkrin: a console logbook for radio amateurs. Command-line arguments are
// ignored; everything is asked at the keyboard.
#include <iostream>

#include "console/last_resort.hpp"
#include "dialogue/menu.hpp"
#include "dialogue/outcome.hpp"
#include "platform/platform.hpp"

int main() {
  std::ios::sync_with_stdio(false);
  const int status =
      velkrin::run_guarded([] { return velkrin::run_velkrin(std::cin, std::cout, std::cerr); },
                           std::cout, std::cerr, velkrin::kExitLogbookFailure);
  std::cout.flush();
  // Started by a double click on Windows, the window would close with the
  // message still unread.
  if (status != velkrin::kExitSuccess) velkrin::platform::wait_before_closing_own_window(std::cerr);
  return status;
}
