// Builds the datagrams of WSJT-X and JTDX field by field, big-endian, as
// their network protocol lays them out; for the tests of the decoder and of
// the live log.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velkrin::wsjtx::testing {

class datagram {
 public:
  datagram& u8(std::uint8_t v) { return put(v, 1); }
  datagram& u32(std::uint32_t v) { return put(v, 4); }
  datagram& u64(std::uint64_t v) { return put(v, 8); }
  datagram& utf8(std::string_view text) {
    u32(static_cast<std::uint32_t>(text.size()));
    bytes_ += text;
    return *this;
  }
  // A QDateTime in UTC, or with an offset from UTC in seconds (time kind 2).
  datagram& date_time(std::int64_t julian_day, std::uint32_t ms, int offset = 0) {
    u64(static_cast<std::uint64_t>(julian_day)).u32(ms).u8(offset == 0 ? 1 : 2);
    if (offset != 0) u32(static_cast<std::uint32_t>(offset));
    return *this;
  }
  // Magic number, schema, type and id.
  datagram& header(std::uint32_t type, std::uint32_t schema = 3, std::string_view id = "WSJT-X") {
    return u32(0xadbccbda).u32(schema).u32(type).utf8(id);
  }
  const std::string& bytes() const { return bytes_; }

 private:
  datagram& put(std::uint64_t v, int size) {
    for (int i = size - 1; i >= 0; --i) bytes_ += static_cast<char>((v >> (8 * i)) & 0xff);
    return *this;
  }
  std::string bytes_;
};

// 2026-02-01 is Julian day 2461073.
inline constexpr std::int64_t kJulianDay20260201 = 2461073;

// A type 5 "QSO Logged" with F4ABC on 14.074 MHz FT8, on at 09:05:15 and off
// at 09:06:30 UTC on 2026-02-01, logged by F5XYZ in JN18.
inline datagram qso_logged_f4abc(bool with_later_fields = true) {
  datagram d;
  d.header(5)
      .date_time(kJulianDay20260201, 32'790'000)
      .utf8("F4ABC")
      .utf8("JN03")
      .u64(14'074'000)
      .utf8("FT8")
      .utf8("-10")
      .utf8("-12")
      .utf8("50")
      .utf8("")
      .utf8("")
      .date_time(kJulianDay20260201, 32'715'000);
  if (with_later_fields) d.utf8("").utf8("F5XYZ").utf8("JN18").utf8("").utf8("").utf8("");
  return d;
}

}  // namespace velkrin::wsjtx::testing
