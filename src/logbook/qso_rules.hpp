// What a QSO line's values mean, shared by every command that reads the
// logbook: calendar dates, bands, the ADIF mode of a class of emission, the
// station behind a call sign, the form of a call sign, and when two lines are
// the same QSO. Pure functions.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logbook/records.hpp"

namespace velkrin {

struct calendar_date {
  int year = 0;
  int month = 0;
  int day = 0;
  friend bool operator==(const calendar_date&, const calendar_date&) = default;
  friend auto operator<=>(const calendar_date&, const calendar_date&) = default;
};

// A date typed JJ-MM-AAAA ("/" and "." are also taken as separators, the day
// and month may have one digit). Empty unless it is a real calendar date from
// 1930 on, the first year that ADIF dates allow.
std::optional<calendar_date> parse_date(std::string_view typed);

// A date written exactly JJ-MM-AAAA, as the program writes it.
bool is_strict_date(std::string_view typed);

calendar_date next_day(calendar_date date);

// Days since 1 January 1970.
std::int64_t day_number(calendar_date date);

// True for an hhmm time: 0 to 2359, minutes below 60.
bool is_valid_time(std::int32_t hhmm);

// The ADIF band ("40m") whose edges, inclusive, hold the frequency; empty
// outside every band.
std::optional<std::string_view> band_of(std::int32_t khz);

// The ADIF band named `name` in any case ("20M" gives "20m"); empty if none.
std::optional<std::string_view> band_named(std::string_view name);

struct adif_mode {
  std::string mode;
  std::string submode;  // empty when there is none
  friend bool operator==(const adif_mode&, const adif_mode&) = default;
};

// Classes of emission that the user maps with --mode, keys in upper case.
using mode_table = std::map<std::string, adif_mode, std::less<>>;

// An ADIF mode or submode as typed, in any case ("ft8", "FT4" gives MFSK/FT4);
// with a "/", MODE/SUBMODE where MODE is an ADIF mode. Empty otherwise.
std::optional<adif_mode> parse_adif_mode(std::string_view typed);

// The mode of a class of emission, case-insensitive: the user's table first,
// then the built-in classes (with the French BLU, BLI and BLS for single
// sideband), then an ADIF mode typed as such. Single sideband
// without a sideband gets USB from 10 MHz up and on 60 m, LSB below.
std::optional<adif_mode> mode_of(std::string_view emission_class, std::int32_t khz,
                                 const mode_table& user_modes);

// The class an operator types for an ADIF mode, the first of the built-in
// classes that give it (J3E for SSB, A1A for CW, A3E for AM, F3E for FM,
// F1B for RTTY); empty for any other mode.
std::optional<std::string_view> typed_class_of(std::string_view adif_mode);

// Adds one "CLASSE=MODE[/SOUS_MODE]" (the argument of --mode) to the table;
// the French reason when it is malformed.
std::optional<std::string> add_class_mapping(std::string_view mapping, mode_table& modes);

// ASCII letters in upper case; other bytes unchanged.
std::string to_upper(std::string_view text);

// The station behind a call sign, in upper case: the parts between "/" that
// say how or where it operates (P, M, MM, AM, QRP, a single digit...) are
// dropped, and of the rest the longest is the call ("EA8/F4ABC/P" and
// "f4abc" both give F4ABC; "K1ABC/VE3" gives K1ABC); the first on a tie.
std::string base_call(std::string_view call_sign);

// Letters, digits and "/" only, at least one letter and one digit, at least
// three characters, no "/" at either end: the one rule for a call sign that
// the import, the listener, the export and the check all apply.
bool is_call_sign_form(std::string_view call_sign);

// That rule, in French, for the messages that refuse a call sign.
inline constexpr std::string_view kCallSignFormRule =
    "lettres, chiffres et /, au moins une lettre et un chiffre";

// True when `station` is the owner's call `owner` (in any case), alone or
// with suffixes that leave the station in its country ("/P", "/M", "/QRP",
// "/QRPP", "/A", "/LH", "/R"): "F4ABC/P" is F4ABC's. A prefix ("TK/F4ABC")
// or any other suffix ("/MM", "/3", "/KH6") makes another DXCC entity.
bool is_owner_station(std::string_view station, std::string_view owner);

// True for a Maidenhead locator of 4, 6 or 8 characters ("JN18", "jn37ki",
// "JN37KI55"): field letters A to R, square digits, subsquare letters A to
// X, extended square digits, in any case.
bool is_maidenhead_locator(std::string_view place);

// True when the UTF-8 text holds a control character (C0, DEL or C1), which
// a key such as an arrow leaves in a typed answer.
bool has_control_characters(std::string_view text);

// Two lines are the same QSO when they have the same base call, band and
// mode (the ADIF mode, else the class as typed) and start at most two
// minutes apart, counted across midnight between consecutive dates.
inline constexpr std::int64_t kDuplicateWindowMinutes = 2;

struct duplicate_key {
  std::uint64_t station = 0;  // a hash of base call, band and mode
  std::int64_t minute = 0;    // minutes since 1 January 1970
  friend bool operator==(const duplicate_key&, const duplicate_key&) = default;
  friend auto operator<=>(const duplicate_key&, const duplicate_key&) = default;
};

// Empty when the date or the start time is no date or time.
std::optional<duplicate_key> duplicate_key_of(const qso_record& qso, const mode_table& user_modes);

inline bool within_duplicate_window(const duplicate_key& a, const duplicate_key& b) {
  const std::int64_t gap = a.minute > b.minute ? a.minute - b.minute : b.minute - a.minute;
  return a.station == b.station && gap <= kDuplicateWindowMinutes;
}

// The QSOs known so far, 16 bytes each, for "is this one already there?".
class duplicate_index {
 public:
  void add(const duplicate_key& key);
  // Adds a key that comes before every look-up (the QSOs of a whole logbook,
  // read first): kept aside and sorted once at the next look-up or add(),
  // far cheaper for a million keys than add()'s merges.
  void add_before_lookups(const duplicate_key& key) {
    sorted_.push_back(key);
    unsorted_ = true;
  }
  bool contains_near(const duplicate_key& key);
  std::size_t size() const;

 private:
  void sort_added_before();

  // One key of sorted_ in kFenceStride, searched first: small enough to stay
  // in the processor's cache, they leave a look-up few reads of sorted_.
  static constexpr std::size_t kFenceStride = 64;

  bool unsorted_ = false;  // add_before_lookups() left sorted_ out of order
  std::vector<duplicate_key> sorted_;
  std::vector<duplicate_key> fences_;
  // The keys of add(): sorted runs, each at most half as long as the one
  // before, so that a look-up searches few and a key is merged few times,
  // and the logbook's keys in sorted_ are never copied; then the newest,
  // unsorted, that do not make a run yet.
  std::vector<std::vector<duplicate_key>> runs_;
  std::vector<duplicate_key> recent_;
};

}  // namespace velkrin
