// libFuzzer target for the decoder of WSJT-X and JTDX datagrams: whatever
// arrives on the socket must give a value, never a crash or an overread.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "wsjtx/message.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view datagram(reinterpret_cast<const char*>(data), size);
  const auto decoded = velkrin::wsjtx::decode(datagram);
  if (const auto* adif = std::get_if<velkrin::wsjtx::logged_adif>(&decoded)) {
    if (adif->adif.size() > size) std::abort();
  }
  if (const auto* qso = std::get_if<velkrin::wsjtx::qso_logged>(&decoded)) {
    if (qso->time_on && qso->time_on->milliseconds >= 86'400'000) std::abort();
  }
  return 0;
}
