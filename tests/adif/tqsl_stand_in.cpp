// A stand-in for TQSL, LoTW's signer, for the tests: it answers as TQSL does
// for the outcomes that would need a real LoTW certificate (all signed, some
// QSOs already uploaded or out of the certificate's dates, none new...),
// and serves as the small program that the tests of platform::run_program
// start. Standard C++ only, so that it builds for Windows too. Built by the
// tests' CMake; never installed.
//
// A test drives it through its environment (which the program under test
// passes on to it):
//   VELKRIN_TQSL_STAND_IN_STATUS       its exit status (default 0)
//   VELKRIN_TQSL_STAND_IN_OUTPUT       text it writes to standard error
//   VELKRIN_TQSL_STAND_IN_OUTPUT_FILE  a file whose bytes it writes to
//                                      standard error after that (one of
//                                      TQSL's recorded outputs, say:
//                                      tests/adif/data/tqsl/)
//   VELKRIN_TQSL_STAND_IN_ARGUMENTS    a file where it writes its arguments,
//                                      one per line
//   VELKRIN_TQSL_STAND_IN_KEEP         a file where it copies the file named
//                                      by its last argument (the ADIF file
//                                      it was given to sign)
//   VELKRIN_TQSL_STAND_IN_ECHO         when set, it first copies its standard
//                                      input to its standard output
//   VELKRIN_TQSL_STAND_IN_SLEEP_MS     how long it waits before it ends
// It writes to standard error exactly the bytes given, so a test gives the
// whole of TQSL's output, "Final Status: ..." line included.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>

namespace {

const char* setting(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

void copy_file(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary);
  out << in.rdbuf();
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(true);
  if (setting("VELKRIN_TQSL_STAND_IN_ECHO") != nullptr) {
    std::cin >> std::noskipws;
    std::cout << std::string(std::istreambuf_iterator<char>(std::cin), {});
    std::cout.flush();
  }
  if (const char* path = setting("VELKRIN_TQSL_STAND_IN_ARGUMENTS")) {
    std::ofstream arguments(path, std::ios::binary);
    for (int i = 1; i < argc; ++i) arguments << argv[i] << '\n';
  }
  if (const char* path = setting("VELKRIN_TQSL_STAND_IN_KEEP"); path != nullptr && argc > 1) {
    copy_file(argv[argc - 1], path);
  }
  if (const char* text = setting("VELKRIN_TQSL_STAND_IN_OUTPUT")) std::cerr << text;
  if (const char* path = setting("VELKRIN_TQSL_STAND_IN_OUTPUT_FILE")) {
    std::ifstream recorded(path, std::ios::binary);
    std::cerr << recorded.rdbuf();
  }
  std::cerr.flush();
  if (const char* pause = setting("VELKRIN_TQSL_STAND_IN_SLEEP_MS")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(pause)));
  }
  const char* status = setting("VELKRIN_TQSL_STAND_IN_STATUS");
  return status != nullptr ? std::atoi(status) : 0;
}
