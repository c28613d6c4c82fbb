// The conversions from the logbook's typed values to ADIF 3.1.4 values: dates,
// times, frequencies, bands, modes and ASCII text. Pure functions; a value
// that ADIF cannot hold comes back empty and the caller says why.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace velkrin::adif {

struct calendar_date {
  int year = 0;
  int month = 0;
  int day = 0;
  friend bool operator==(const calendar_date&, const calendar_date&) = default;
};

// A date typed JJ-MM-AAAA ("/" and "." are also taken as separators, the day
// and month may have one digit). Empty unless it is a real calendar date from
// 1930 on, the first year that ADIF dates allow.
std::optional<calendar_date> parse_date(std::string_view typed);

calendar_date next_day(calendar_date date);

// "YYYYMMDD".
std::string adif_date(calendar_date date);

// "HHMM" from an hhmm integer (905 gives "0905"); empty unless the hours are
// 0 to 23 and the minutes 0 to 59.
std::optional<std::string> adif_time(std::int32_t hhmm);

// The exact decimal in MHz, with a point (7055 gives "7.055", 144300 gives
// "144.3"); empty for 0 kHz or less.
std::optional<std::string> frequency_mhz(std::int32_t khz);

// The ADIF band ("40m") whose edges, inclusive, hold the frequency; empty
// outside every band.
std::optional<std::string_view> band_of(std::int32_t khz);

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
// then the built-in classes, then an ADIF mode typed as such. Single sideband
// without a sideband gets USB from 10 MHz up and on 60 m, LSB below.
std::optional<adif_mode> mode_of(std::string_view emission_class, std::int32_t khz,
                                 const mode_table& user_modes);

// Text made ASCII for an ADIF field. The bytes are read as UTF-8 when they
// are valid UTF-8, otherwise in the console code page of a French Windows
// (CP850). Accented letters lose their accents, any other character outside
// printable ASCII becomes "?" and sets `replaced`.
struct ascii_text {
  std::string text;
  bool replaced = false;
};
ascii_text to_ascii(std::string_view bytes);

std::string to_upper(std::string_view text);

}  // namespace velkrin::adif
