// The last resort of each program's main: an exception that no layer below
// expected (memory running out, say) is said in French, and the program ends
// with its failure status instead of being aborted by the C++ runtime.
#pragma once

#include <exception>
#include <new>
#include <ostream>

namespace velkrin {

// Runs `body` and returns its status. Whatever it throws is reported on
// `err` (after what was written to `out`) and gives `failure_status`.
template <typename Body>
int run_guarded(Body&& body, std::ostream& out, std::ostream& err, int failure_status) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    out.flush();
    err << "Erreur : memoire insuffisante, le programme s'arrete.\n";
  } catch (const std::exception& e) {
    out.flush();
    err << "Erreur inattendue, le programme s'arrete : " << e.what() << "\n";
  } catch (...) {
    out.flush();
    err << "Erreur inattendue, le programme s'arrete.\n";
  }
  err.flush();
  return failure_status;
}

}  // namespace velkrin
