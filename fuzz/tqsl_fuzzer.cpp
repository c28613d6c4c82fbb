// libFuzzer target for the reading of what TQSL printed: whatever another
// program writes must give an outcome that marks nothing on a failure, and a
// message that acts on no terminal. The first byte picks the exit status
// (one of TQSL's or any other), the second the QSOs of the file; the rest is
// TQSL's output.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "adif/tqsl.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  using velkrin::adif::tqsl_outcome_kind;
  constexpr std::array<int, 17> kStatuses = {0, 1,  2,  3,  4,  5,   6,  7, 8,
                                             9, 10, 11, 12, 13, 255, -1, 42};
  velkrin::adif::tqsl_run run;
  run.status = kStatuses[data[0] % kStatuses.size()];
  run.timed_out = data[0] >= 0xf0;
  run.output_truncated = (data[0] & 0x40) != 0 && data[0] < 0xf0;
  run.qsos_in_file = data[1];
  run.location = "Maison";
  run.output = std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2);
  const velkrin::adif::tqsl_outcome outcome = velkrin::adif::interpret_tqsl_run(run);
  for (const char c : outcome.message) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\n') || byte == 0x7f) std::abort();
  }
  const bool finished = !run.timed_out && (run.status == 0 || run.status == 8 || run.status == 9);
  if (!finished && (outcome.signed_may_be_marked || outcome.duplicates_may_be_marked)) std::abort();
  if (run.output_truncated && outcome.signed_may_be_marked) std::abort();
  if (outcome.signed_may_be_marked && outcome.kind != tqsl_outcome_kind::uploaded &&
      outcome.kind != tqsl_outcome_kind::some_skipped) {
    std::abort();
  }
  return 0;
}
