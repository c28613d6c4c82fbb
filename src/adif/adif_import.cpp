#include "adif/adif_import.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <limits>

#include "adif/conversions.hpp"
#include "console/text_format.hpp"
#include "console/visible_text.hpp"
#include "logbook/qso_rules.hpp"
#include "logbook/text_encoding.hpp"

namespace velkrin::adif {
namespace {

constexpr std::string_view kAbsent = "-";

constexpr std::array<std::string_view, 5> kRequiredFields{"QSO_DATE", "TIME_ON", "CALL", "FREQ",
                                                          "MODE"};

// The value of a field, trimmed; empty when the record lacks it.
std::string_view value_of(const adif_read_record& record, std::string_view name) {
  const std::string* value = record.find(name);
  return value == nullptr ? std::string_view() : trim_blanks(*value);
}

// A value in UTF-8, as it came when it is UTF-8, else from Windows-1252.
std::string utf8_of(std::string_view value) {
  std::string utf8;
  if (is_valid_utf8(value)) {
    utf8.assign(value);
  } else {
    to_utf8(value, line_encoding::cp1252, utf8);
  }
  return utf8;
}

// A value made one word of UTF-8: blanks and control characters (C0, DEL
// and C1) become "_"; nothing gives "-".
std::string word(std::string_view value) {
  value = trim_blanks(value);
  if (value.empty()) return std::string(kAbsent);
  const std::string utf8 = utf8_of(value);
  std::string text;
  text.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    const bool c1 = byte == 0xC2 && i + 1 < utf8.size() &&
                    static_cast<unsigned char>(utf8[i + 1]) < 0xA0;  // U+0080 to U+009F
    if (c1) ++i;
    text += byte <= 0x20 || byte == 0x7F || c1 ? '_' : utf8[i];
  }
  return text;
}

std::optional<int> digits(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || text.front() == '-' || text.front() == '+' || error != std::errc{} ||
      end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// "20260201" gives "01-02-2026".
std::optional<std::string> logbook_date(std::string_view adif) {
  if (adif.size() != 8 || !digits(adif)) return std::nullopt;
  std::string date = std::string(adif.substr(6, 2)) + "-" + std::string(adif.substr(4, 2)) + "-" +
                     std::string(adif.substr(0, 4));
  if (!parse_date(date)) return std::nullopt;
  return date;
}

// "0905" or "090515" gives 905; the seconds are dropped.
std::optional<std::int32_t> logbook_time(std::string_view adif) {
  if (adif.size() != 4 && adif.size() != 6) return std::nullopt;
  const auto hhmm = digits(adif.substr(0, 4));
  if (!hhmm || !is_valid_time(*hhmm)) return std::nullopt;
  if (adif.size() == 6) {
    const auto seconds = digits(adif.substr(4));
    if (!seconds || *seconds > 59) return std::nullopt;
  }
  return *hhmm;
}

// Two decimal numbers of equal value ("14.0740" and "14.074"); false when
// either is not a plain decimal.
bool same_decimal(std::string_view a, std::string_view b) {
  const auto normal = [](std::string_view text) -> std::optional<std::string> {
    const auto point = text.find_first_of(".,");
    std::string_view whole = text.substr(0, point);
    std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    const auto is_digits = [](std::string_view part) {
      return std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if ((whole.empty() && fraction.empty()) || !is_digits(whole) || !is_digits(fraction)) {
      return std::nullopt;
    }
    while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
    return std::string(whole) + "." + std::string(fraction);
  };
  const auto first = normal(a);
  return first && first == normal(b);
}

// True when the line of `qso`, under a header of `owner`, gives back the
// field `name` with exactly this value (trimmed, UTF-8), so that the
// details need not keep it.
bool line_gives_back(std::string_view name, std::string_view value, const qso_record& qso,
                     std::string_view owner, bool place_from_grid) {
  if (name == "NAME") return value == qso.prenom;
  if (name == "FREQ") {
    const auto mhz = frequency_mhz(qso.frequence);
    return mhz && same_decimal(value, *mhz);
  }
  // With its seconds, TIME_ON stays in the details' key (details_for).
  if (name == "TIME_ON" || name == "TIME_OFF") return value.size() <= 4;
  if (name == "QSO_DATE_OFF") {
    const auto date = parse_date(qso.date);
    return date && qso.fin < qso.debut && value == adif_date(next_day(*date));
  }
  if (name == "MY_CITY") {
    std::string place = qso.lieu;
    std::replace(place.begin(), place.end(), '_', ' ');
    return value == qso.lieu && !is_maidenhead_locator(place);
  }
  // A locator as the place is exported as MY_GRIDSQUARE.
  if (name == "MY_GRIDSQUARE") {
    return place_from_grid && value == qso.lieu && is_maidenhead_locator(value);
  }
  if (name == "STATION_CALLSIGN") return to_upper(value) == to_upper(trim_blanks(owner));
  return false;
}

// False for a field that the details cannot keep: one given again in its
// record (only the first value counts, as for the line), or one whose name
// is not ASCII (the export, which is ASCII, could not give it back).
bool keepable(const adif_read_record& record, std::size_t index) {
  const std::string& name = record.fields[index].name;
  const auto before = record.fields.begin() + static_cast<std::ptrdiff_t>(index);
  return std::all_of(name.begin(), name.end(), [](char c) { return c > 0x20 && c < 0x7F; }) &&
         std::none_of(record.fields.begin(), before,
                      [&name](const read_field& field) { return field.name == name; });
}

std::string joined(const std::vector<std::string_view>& names) {
  std::string text;
  for (const auto name : names) text += (text.empty() ? "" : ", ") + std::string(name);
  return text;
}

}  // namespace

std::optional<std::int32_t> khz_of_mhz(std::string_view mhz) {
  mhz = trim_blanks(mhz);
  const auto point = mhz.find_first_of(".,");
  const std::string_view whole = mhz.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : mhz.substr(point + 1);
  if (whole.empty() && fraction.empty()) return std::nullopt;
  std::int64_t khz = 0;
  if (!whole.empty()) {
    if (whole.size() > 7) return std::nullopt;
    const auto units = digits(whole);
    if (!units) return std::nullopt;
    khz = std::int64_t{*units} * 1000;
  }
  for (std::size_t i = 0; i < fraction.size(); ++i) {
    const char c = fraction[i];
    if (c < '0' || c > '9') return std::nullopt;
    if (i < 3) khz += (c - '0') * (i == 0 ? 100 : i == 1 ? 10 : 1);
    if (i == 3 && c >= '5') ++khz;
  }
  if (khz <= 0 || khz > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(khz);
}

std::string class_of(std::string_view mode, std::string_view submode, const class_table& classes) {
  std::string m = to_upper(trim_blanks(mode));
  std::string s = to_upper(trim_blanks(submode));
  if (!s.empty()) {
    if (const auto found = classes.find(s); found != classes.end()) return found->second;
  }
  if (const auto found = classes.find(m); found != classes.end()) return found->second;
  // A submode written as the mode ("FT4", "USB"), as some programs do.
  if (const auto known = parse_adif_mode(m); s.empty() && known && !known->submode.empty()) {
    m = known->mode;
    s = known->submode;
  }
  if (const auto typed = typed_class_of(m)) return std::string(*typed);
  if (s.empty()) return word(m);
  const adif_mode wanted{m, s};
  if (parse_adif_mode(s) == wanted) return word(s);
  if (parse_adif_mode(m + "/" + s) == wanted) return m + "/" + s;
  return word(s);
}

std::optional<std::string> add_class(std::string_view mapping, class_table& classes) {
  const auto equals = mapping.find('=');
  const std::string_view mode = trim_blanks(mapping.substr(0, equals));
  const std::string_view emission_class = equals == std::string_view::npos
                                              ? std::string_view()
                                              : trim_blanks(mapping.substr(equals + 1));
  if (mode.empty() || emission_class.empty() ||
      emission_class.find_first_of(" \t") != std::string_view::npos) {
    return "--classe attend MODE=CLASSE, pas \"" + std::string(mapping) + "\"";
  }
  classes[to_upper(mode)] = std::string(emission_class);
  return std::nullopt;
}

std::string record_label(const adif_read_record& record) {
  return "enregistrement " + std::to_string(record.ordinal) + " (ligne " +
         std::to_string(record.line) + ")";
}

std::optional<std::string> cut_short_reason(const adif_read_record& record) {
  if (record.complete) return std::nullopt;
  return "pas de <EOR>, l'enregistrement s'arrete avant sa fin";
}

imported_qso import_record(const adif_read_record& record, const import_settings& settings) {
  imported_qso result;
  if (!record.unreadable.empty()) {
    result.reason = record.unreadable + ", non importe";
    return result;
  }
  std::vector<std::string_view> missing;
  for (const auto name : kRequiredFields) {
    if (value_of(record, name).empty()) missing.push_back(name);
  }
  if (!missing.empty()) {
    result.reason = (missing.size() > 1 ? "champs manquants : " : "champ manquant : ") +
                    joined(missing) + ", non importe";
    return result;
  }
  const auto date = logbook_date(value_of(record, "QSO_DATE"));
  const auto start = logbook_time(value_of(record, "TIME_ON"));
  const std::string_view end_text = value_of(record, "TIME_OFF");
  const auto end = end_text.empty() ? start : logbook_time(end_text);
  const auto khz = khz_of_mhz(value_of(record, "FREQ"));
  const auto invalid = [&](std::string_view name, std::string_view value) {
    result.reason = std::string(name) + " invalide (\"" + std::string(value) + "\"), non importe";
    return result;
  };
  if (!date) return invalid("QSO_DATE", value_of(record, "QSO_DATE"));
  if (!start) return invalid("TIME_ON", value_of(record, "TIME_ON"));
  if (!end) return invalid("TIME_OFF", end_text);
  if (!khz) return invalid("FREQ", value_of(record, "FREQ"));

  // What the export and the check would refuse is not written.
  if (const std::string_view call = value_of(record, "CALL"); !is_call_sign_form(call)) {
    result.reason = "CALL invalide (\"" + visible(call) + "\" ; " + std::string(kCallSignFormRule) +
                    "), non importe";
    return result;
  }

  std::string_view station = value_of(record, "STATION_CALLSIGN");
  if (station.empty()) station = value_of(record, "OPERATOR");
  if (!station.empty() && !settings.other_station &&
      !is_owner_station(station, trim_blanks(settings.owner))) {
    result.reason = "indicatif de la station " + std::string(station) + ", pas celui du journal (" +
                    settings.owner + "), non importe ; --autre-indicatif pour l'importer";
    return result;
  }

  std::string_view place = value_of(record, "MY_CITY");
  if (place.empty()) place = value_of(record, "MY_GRIDSQUARE");
  if (place.empty()) place = settings.default_place;
  if (place.empty()) {
    result.reason =
        "pas de lieu d'emission (ni MY_CITY ni MY_GRIDSQUARE), non importe ; "
        "--lieu-par-defaut LIEU pour l'importer";
    return result;
  }

  qso_record qso;
  qso.date = *date;
  qso.debut = *start;
  qso.fin = *end;
  qso.indicatif = word(value_of(record, "CALL"));
  qso.prenom = word(value_of(record, "NAME"));
  qso.frequence = *khz;
  qso.mode = class_of(value_of(record, "MODE"), value_of(record, "SUBMODE"), settings.classes);
  qso.lieu = word(place);
  result.qso = std::move(qso);

  for (std::size_t i = 0; i < record.fields.size(); ++i) {
    if (!trim_blanks(record.fields[i].value).empty() && !keepable(record, i)) {
      result.dropped.push_back(record.fields[i].name);
    }
  }
  return result;
}

std::string logbook_word(std::string_view value) { return word(value); }

bool reads_as_word(std::string_view value, std::string_view word) {
  const std::string_view trimmed = trim_blanks(value);
  if (trimmed.empty() || std::any_of(trimmed.begin(), trimmed.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x80;
      })) {
    return logbook_word(value) == word;
  }
  // ASCII is UTF-8 as it is, and its only control characters are C0 and DEL.
  return trimmed.size() == word.size() &&
         std::equal(trimmed.begin(), trimmed.end(), word.begin(), [](char c, char w) {
           return (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F ? '_' : c) == w;
         });
}

details_record details_of(const adif_read_record& record, const qso_record& qso,
                          std::string_view owner) {
  std::vector<details_field> fields;
  fields.reserve(record.fields.size());
  const bool place_from_grid = value_of(record, "MY_CITY").empty();
  for (std::size_t i = 0; i < record.fields.size(); ++i) {
    const read_field& field = record.fields[i];
    const std::string_view trimmed = trim_blanks(field.value);
    if (trimmed.empty() || !keepable(record, i)) continue;
    std::string value = utf8_of(trimmed);
    if (line_gives_back(field.name, value, qso, owner, place_from_grid)) continue;
    fields.push_back({field.name, std::move(value)});
  }
  details_record details = details_for(qso, fields);
  // The key fields say more than the line when TIME_ON has its seconds, or
  // when MODE and SUBMODE are not what the class gives back.
  const std::string* time_on = details.find("TIME_ON");
  const std::string* mode = details.find("MODE");
  const std::string* submode = details.find("SUBMODE");
  const auto typed = mode_of(qso.mode, qso.frequence, {});
  const bool more = details.has_more_than_key() || (time_on != nullptr && time_on->size() > 4) ||
                    !typed || mode == nullptr || *mode != typed->mode ||
                    (submode == nullptr ? std::string() : *submode) != typed->submode;
  if (!more) details.fields.clear();
  return details;
}

}  // namespace velkrin::adif
