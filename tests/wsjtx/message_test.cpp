#include "wsjtx/message.hpp"

#include <gtest/gtest.h>

#include "wsjtx/datagram_builder.hpp"

namespace velkrin::wsjtx {
namespace {

using testing::datagram;
using testing::kJulianDay20260201;
constexpr std::int64_t kDays20260201 = 20485;  // since 1970-01-01

TEST(WsjtxMessageTest, DecodesQsoLoggedWithAndWithoutTheLaterFields) {
  for (const bool later : {true, false}) {
    const message decoded = decode(testing::qso_logged_f4abc(later).bytes());
    ASSERT_TRUE(std::holds_alternative<qso_logged>(decoded)) << later;
    const auto& qso = std::get<qso_logged>(decoded);
    EXPECT_EQ(qso.id, "WSJT-X");
    EXPECT_EQ(qso.dx_call, "F4ABC");
    EXPECT_EQ(qso.tx_frequency_hz, 14'074'000u);
    EXPECT_EQ(qso.mode, "FT8");
    EXPECT_EQ(qso.time_on, (utc_time{kDays20260201, 32'715'000}));
    EXPECT_EQ(qso.time_off, (utc_time{kDays20260201, 32'790'000}));
    EXPECT_EQ(qso.my_call, later ? "F5XYZ" : "");
    EXPECT_EQ(qso.my_grid, later ? "JN18" : "");
  }
}

TEST(WsjtxMessageTest, SortsEveryDatagram) {
  const auto offset_time = [] {
    datagram d;  // 01:00 at UTC+2 is 23:00 UTC the day before
    d.header(5).date_time(kJulianDay20260201, 3'600'000, 7200);
    return d;
  };
  const struct {
    std::string_view name;
    std::string bytes;
    std::string expected;  // the alternative, and the error's reason
  } cases[] = {
      {"logged ADIF", datagram().header(12, 2).utf8("<call:5>F4ABC<eor>").bytes(),
       "adif <call:5>F4ABC<eor>"},
      {"heartbeat", datagram().header(0).u32(3).utf8("2.7.0").utf8("abc").bytes(), "other 0"},
      {"unknown type", datagram().header(99).bytes(), "other 99"},
      {"wrong magic", datagram().u32(0xdeadbeef).u32(3).u32(5).utf8("x").bytes(),
       "error ce n'est pas un message de WSJT-X ou JTDX"},
      {"empty", "", "error ce n'est pas un message de WSJT-X ou JTDX"},
      {"schema 1", datagram().header(12, 1).bytes(), "error schema 1 non pris en charge"},
      {"id longer than the datagram", datagram().u32(0xadbccbda).u32(3).u32(0).u32(40).bytes(),
       "error en-tete illisible : texte plus long que le datagramme"},
      {"ADIF cut short", datagram().header(12).u32(100).bytes(),
       "error Logged ADIF illisible : texte plus long que le datagramme"},
      {"QSO Logged cut short", offset_time().bytes(),
       "error QSO Logged illisible : datagramme trop court"},
      {"time zone", datagram().header(5).u64(kJulianDay20260201).u32(0).u8(3).bytes(),
       "error QSO Logged illisible : heure donnee dans un fuseau horaire"},
  };
  for (const auto& c : cases) {
    const message decoded = decode(c.bytes);
    std::string shown;
    if (const auto* adif = std::get_if<logged_adif>(&decoded)) shown = "adif " + adif->adif;
    if (const auto* other = std::get_if<other_message>(&decoded)) {
      shown = "other " + std::to_string(other->type);
    }
    if (const auto* error = std::get_if<decode_error>(&decoded)) shown = "error " + error->reason;
    EXPECT_EQ(shown, c.expected) << c.name;
  }
}

TEST(WsjtxMessageTest, MakesOffsetTimesUtcAndCutDatagramsErrors) {
  datagram d;
  d.header(5).date_time(kJulianDay20260201, 3'600'000, 7200);
  const std::size_t utc_prefix =
      datagram().header(5).date_time(kJulianDay20260201, 0).bytes().size();
  const std::string rest = testing::qso_logged_f4abc().bytes().substr(utc_prefix);
  const message decoded = decode(d.bytes() + rest);
  ASSERT_TRUE(std::holds_alternative<qso_logged>(decoded));
  EXPECT_EQ(std::get<qso_logged>(decoded).time_off, (utc_time{kDays20260201 - 1, 82'800'000}));

  // Every cut of a whole QSO Logged is an error, except at the end of a
  // field that a later version added.
  const std::string whole = testing::qso_logged_f4abc().bytes();
  const std::size_t older = testing::qso_logged_f4abc(false).bytes().size();
  for (std::size_t size = 0; size < whole.size(); ++size) {
    // After "", "F5XYZ", "JN18", "", "": fields of 4, 9, 8, 4 and 4 bytes.
    const std::size_t ends[] = {0, 4, 13, 21, 25, 29};
    bool at_field_end = false;
    for (const std::size_t end : ends) at_field_end = at_field_end || size == older + end;
    EXPECT_EQ(std::holds_alternative<decode_error>(decode(whole.substr(0, size))), !at_field_end)
        << size;
  }
}

}  // namespace
}  // namespace velkrin::wsjtx
