#include "wsjtx/message.hpp"

#include <cstddef>

namespace velkrin::wsjtx {
namespace {

constexpr std::uint32_t kNullLength = 0xffffffff;
constexpr std::uint32_t kNullTime = 0xffffffff;
constexpr std::int64_t kJulianDayOf1970 = 2440588;
// Julian days outside these years are taken for Qt's null date.
constexpr std::int64_t kFirstJulianDay = 1721426;  // year 1
constexpr std::int64_t kLastJulianDay = 5373484;   // year 9999
constexpr std::int64_t kMillisecondsPerDay = 86'400'000;
constexpr std::uint8_t kTimeWithOffset = 2;
constexpr std::uint8_t kTimeInZone = 3;

// Big-endian fields read one after another; the first read past the end,
// or of a malformed field, sets `error` and every later read gives nothing.
class field_reader {
 public:
  explicit field_reader(std::string_view bytes) : bytes_(bytes) {}

  bool at_end() const { return at_ == bytes_.size(); }
  const std::string& error() const { return error_; }
  void fail(std::string reason) {
    if (error_.empty()) error_ = std::move(reason);
    at_ = bytes_.size();
  }

  std::uint64_t unsigned_field(std::size_t size) {
    if (!error_.empty()) return 0;
    if (bytes_.size() - at_ < size) {
      fail("datagramme trop court");
      return 0;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
      value = (value << 8) | static_cast<unsigned char>(bytes_[at_ + i]);
    }
    at_ += size;
    return value;
  }
  std::uint8_t u8() { return static_cast<std::uint8_t>(unsigned_field(1)); }
  std::uint32_t u32() { return static_cast<std::uint32_t>(unsigned_field(4)); }
  std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
  std::uint64_t u64() { return unsigned_field(8); }
  std::int64_t i64() { return static_cast<std::int64_t>(u64()); }

  // A QByteArray of UTF-8: quint32 length (0xffffffff for null), then bytes.
  std::string utf8() {
    const std::uint32_t length = u32();
    if (!error_.empty() || length == kNullLength) return {};
    if (bytes_.size() - at_ < length) {
      fail("texte plus long que le datagramme");
      return {};
    }
    std::string text(bytes_.substr(at_, length));
    at_ += length;
    return text;
  }

  // A QDateTime (QDataStream 5.2 and later) made UTC.
  std::optional<utc_time> date_time() {
    const std::int64_t julian_day = i64();
    const std::uint32_t milliseconds = u32();
    const std::uint8_t time_kind = u8();  // 0 local, 1 UTC, 2 offset, 3 zone
    std::int64_t offset_seconds = 0;
    if (time_kind == kTimeWithOffset) offset_seconds = i32();
    if (time_kind == kTimeInZone) fail("heure donnee dans un fuseau horaire");
    if (!error_.empty() || julian_day < kFirstJulianDay || julian_day > kLastJulianDay ||
        milliseconds == kNullTime || milliseconds >= kMillisecondsPerDay) {
      return std::nullopt;
    }
    // Local time (kind 0) is taken as UTC: these programs send UTC.
    std::int64_t total = (julian_day - kJulianDayOf1970) * kMillisecondsPerDay + milliseconds -
                         offset_seconds * 1000;
    std::int64_t days = total / kMillisecondsPerDay;
    std::int64_t rest = total % kMillisecondsPerDay;
    if (rest < 0) {
      rest += kMillisecondsPerDay;
      --days;
    }
    return utc_time{days, static_cast<std::uint32_t>(rest)};
  }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
  std::string error_;
};

message qso_logged_from(field_reader& in, std::string id) {
  qso_logged qso;
  qso.id = std::move(id);
  qso.time_off = in.date_time();
  qso.dx_call = in.utf8();
  qso.dx_grid = in.utf8();
  qso.tx_frequency_hz = in.u64();
  qso.mode = in.utf8();
  qso.report_sent = in.utf8();
  qso.report_received = in.utf8();
  qso.tx_power = in.utf8();
  qso.comments = in.utf8();
  qso.name = in.utf8();
  qso.time_on = in.date_time();
  // Added by later versions, each at the end: absent fields stay empty.
  for (std::string* field : {&qso.operator_call, &qso.my_call, &qso.my_grid, &qso.exchange_sent,
                             &qso.exchange_received, &qso.propagation_mode}) {
    if (in.at_end()) break;
    *field = in.utf8();
  }
  if (!in.error().empty()) return decode_error{"QSO Logged illisible : " + in.error()};
  return qso;
}

}  // namespace

message decode(std::string_view datagram) {
  field_reader in(datagram);
  const std::uint32_t magic = in.u32();
  const std::uint32_t schema = in.u32();
  if (!in.error().empty() || magic != kMagic) {
    return decode_error{"ce n'est pas un message de WSJT-X ou JTDX"};
  }
  if (schema != 2 && schema != 3) {
    return decode_error{"schema " + std::to_string(schema) + " non pris en charge"};
  }
  const std::uint32_t type = in.u32();
  std::string id = in.utf8();
  if (!in.error().empty()) return decode_error{"en-tete illisible : " + in.error()};
  if (type == kTypeQsoLogged) return qso_logged_from(in, std::move(id));
  if (type == kTypeLoggedAdif) {
    std::string adif = in.utf8();
    if (!in.error().empty()) return decode_error{"Logged ADIF illisible : " + in.error()};
    return logged_adif{std::move(id), std::move(adif)};
  }
  return other_message{type, std::move(id)};
}

}  // namespace velkrin::wsjtx
