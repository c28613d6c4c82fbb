// The datagrams that WSJT-X and JTDX send to logging programs ("UDP Server"
// in their settings). Qt's QDataStream framing, big-endian: the magic number
// 0xadbccbda, the schema (2 or 3), the message type and the sender's id, then
// the fields of that type. Only the two that carry a logged QSO are decoded:
// type 5 ("QSO Logged", binary fields) and type 12 ("Logged ADIF", the same
// QSO as ADIF text); any other type is recognised and left alone.
//
// Pure: bytes in, a value out. A datagram that cannot be decoded gives a
// `decode_error` with the reason in French; nothing here throws.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace velkrin::wsjtx {

inline constexpr std::uint32_t kMagic = 0xadbccbda;
inline constexpr std::uint32_t kTypeHeartbeat = 0;
inline constexpr std::uint32_t kTypeQsoLogged = 5;
inline constexpr std::uint32_t kTypeLoggedAdif = 12;

// A QDateTime, made UTC: days since 1970-01-01 and milliseconds since
// midnight. Empty for Qt's null date or time.
struct utc_time {
  std::int64_t days = 0;
  std::uint32_t milliseconds = 0;
  friend bool operator==(const utc_time&, const utc_time&) = default;
};

struct qso_logged {
  std::string id;
  std::optional<utc_time> time_off;
  std::string dx_call;
  std::string dx_grid;
  std::uint64_t tx_frequency_hz = 0;
  std::string mode;
  std::string report_sent;
  std::string report_received;
  std::string tx_power;
  std::string comments;
  std::string name;
  std::optional<utc_time> time_on;
  // Fields that later versions added; empty when the sender has none.
  std::string operator_call;
  std::string my_call;
  std::string my_grid;
  std::string exchange_sent;
  std::string exchange_received;
  std::string propagation_mode;
};

struct logged_adif {
  std::string id;
  std::string adif;  // one record, usually after a short header
};

// Any other message type, recognised and to be ignored.
struct other_message {
  std::uint32_t type = 0;
  std::string id;
};

struct decode_error {
  std::string reason;
};

using message = std::variant<qso_logged, logged_adif, other_message, decode_error>;

message decode(std::string_view datagram);

}  // namespace velkrin::wsjtx
