// velkrin-adif: exports Velkrin's logbook to an ADIF file.
//
// The command handles every name as a UTF-8 string. POSIX hands the arguments
// over as the bytes of the names, as they are. Windows would give `main` its
// arguments in the ANSI code page, which cannot name every file (and mangles
// what it cannot), so there the program starts at wmain (linked with
// -municode) and converts the wide arguments to UTF-8 itself. This and the
// file calls of file_io.cpp are the command's only Windows-specific code.
#include <iostream>
#include <string>
#include <vector>

#include "adif/command_line.hpp"
#include "platform/platform.hpp"

namespace {

int run(const std::vector<std::string>& args) {
  // A console shows the UTF-8 of a name with accents as it is.
  velkrin::platform::prepare_console();
  return velkrin::adif::run_velkrin_adif(args, std::cout, std::cerr);
}

}  // namespace

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {

std::string utf8(const wchar_t* wide) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string text(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), bytes, nullptr, nullptr);
  text.pop_back();  // the terminating null
  return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(utf8(argv[i]));
  return run(args);
}

#else

int main(int argc, char** argv) {
  return run(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
}

#endif
