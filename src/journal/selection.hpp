// Which QSOs a command looks at, and what their values mean once read: the
// filters of liste, stats and csv (--indicatif, --du, --au, --bande, --mode,
// --lieu), the cheap test on a line's bytes that lets the reader skip lines
// that cannot match, and the date, band and mode of a QSO, worked out once
// per distinct value rather than once per line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logbook/qso_rules.hpp"
#include "logbook/records.hpp"

namespace velkrin::journal {

// `text` against `pattern`, ASCII letters in either case, "*" for any run of
// characters and "?" for one (a UTF-8 character counts as one).
bool wildcard_match(std::string_view pattern, std::string_view text);

// A place as --lieu compares it: ASCII letters in upper case, the accented
// Latin letters as their base letter ("é" and "É" as "E", "œ" as "OE"),
// combining accents left out, and each run of blanks, "_" and "-" as one "_"
// ("Saint-Étienne", "saint etienne" and "SAINT_ETIENNE" all give
// "SAINT_ETIENNE"). Other characters are kept.
std::string fold_place(std::string_view text);

// True when `text` holds `upper_needle` (ASCII upper case) in any case.
bool contains_any_case(std::string_view text, std::string_view upper_needle);

// The longest run of `pattern` without a wildcard, in upper case: a text
// that matches the pattern holds it.
std::string literal_part(std::string_view pattern);

// The quick test for logbook_reader::set_line_filter: keeps the lines that
// hold `upper_needle` in any case, and those that do not look like QSO lines
// at all (no " kHz"), so that a damaged line is still read and reported.
bool may_hold(std::string_view line, std::string_view upper_needle);

// "hh:mm" for an hhmm time; the number as typed when it is no time.
std::string clock_time(std::int32_t hhmm);

// What a QSO's values mean.
struct qso_facts {
  std::optional<calendar_date> date;
  std::optional<std::string_view> band;            // empty outside every band
  const std::optional<adif_mode>* mode = nullptr;  // never null once filled
};

// Works the facts out, remembering the last date and each class of emission
// seen (a logbook holds few of them), so that a line costs no allocation.
class fact_finder {
 public:
  explicit fact_finder(const mode_table& user_modes) : user_modes_(user_modes) {
    classes_.reserve(kMaxKnownClasses);  // what mode_of returns stays in place
  }
  void find(const qso_values& qso, qso_facts& facts);
  const std::optional<adif_mode>& mode_of(std::string_view emission_class, std::int32_t khz,
                                          std::optional<std::string_view> band);

 private:
  static constexpr std::size_t kMaxKnownClasses = 256;
  struct known_class {
    std::string typed;
    std::uint64_t first_bytes = 0;  // of `typed`, see mode_of
    bool upper_sideband = false;
    std::optional<adif_mode> mode;
  };
  const mode_table& user_modes_;
  std::string last_date_;
  std::optional<calendar_date> last_parsed_;
  bool have_date_ = false;
  std::vector<known_class> classes_;
  std::optional<adif_mode> spare_;  // when too many classes are known
};

// The name a mode is shown and counted under: the submode when there is
// one, else the mode; the class as typed, in upper case, when it has none.
std::string mode_name(const qso_values& qso, const qso_facts& facts);

struct filters {
  std::optional<std::string> call;   // --indicatif
  std::optional<std::string> place;  // --lieu, through fold_place()
  std::optional<calendar_date> from;
  std::optional<calendar_date> to;
  std::optional<std::string_view> band;  // an ADIF band name
  std::vector<std::string> modes;        // upper case; any of them
  // Those of `modes` that are no ADIF mode nor a known class: classes that
  // the logbook must hold, else the word is reported as unknown.
  std::vector<std::string> classes_to_find;
  std::optional<std::size_t> last;  // --derniers

  bool any() const { return call || place || from || to || band || !modes.empty() || last; }
  bool matches(const qso_values& qso, const qso_facts& facts) const;

 private:
  // The last place folded, for the next QSO that has the same.
  mutable std::string last_place_;
  mutable std::string last_folded_;
  mutable bool folded_valid_ = false;
};

}  // namespace velkrin::journal
