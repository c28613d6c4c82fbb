#include "adif/confirmations.hpp"

#include <algorithm>
#include <array>
#include <charconv>

#include "adif/adif_import.hpp"
#include "console/text_format.hpp"

namespace velkrin::adif {
namespace {

constexpr std::string_view kLotwTitle = "ARRL LOGBOOK OF THE WORLD STATUS REPORT";
constexpr std::string_view kEqslAccount = "EQSLS FOR ";
// The fields a LoTW confirmation fills when the QSO has none.
constexpr std::array<std::string_view, 6> kLotwFills{"DXCC",       "CQZ",   "ITUZ",
                                                     "GRIDSQUARE", "STATE", "CNTY"};

std::string_view value_of(const adif_read_record& record, std::string_view name) {
  const std::string* value = record.find(name);
  return value == nullptr ? std::string_view() : trim_blanks(*value);
}

std::optional<int> number(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < 0) {
    return std::nullopt;
  }
  return value;
}

void pack(std::string& packed, std::string_view name, std::string_view value) {
  packed.append(name).push_back('\0');
  packed.append(value).push_back('\0');
}

// "20260201" gives "2026-02-01"; anything else gives nothing.
std::string iso_day(std::string_view adif_date) {
  if (adif_date.size() != 8 || !number(adif_date)) return {};
  return std::string(adif_date.substr(0, 4)) + "-" + std::string(adif_date.substr(4, 2)) + "-" +
         std::string(adif_date.substr(6, 2));
}

bool confirmed_flag(std::string_view value) {
  const std::string flag = to_upper(trim_blanks(value));
  return flag == "Y" || flag == "V";
}

}  // namespace

std::string_view service_name(qsl_service service) {
  return service == qsl_service::lotw ? "LoTW" : "eQSL";
}

std::optional<qsl_service> service_named(std::string_view name) {
  const std::string upper = to_upper(name);
  if (upper == "LOTW") return qsl_service::lotw;
  if (upper == "EQSL") return qsl_service::eqsl;
  return std::nullopt;
}

report_origin origin_of_report(std::string_view start) {
  report_origin origin;
  const std::string upper = to_upper(start);
  const std::size_t eoh = upper.find("<EOH>");
  const std::string_view header =
      std::string_view(upper).substr(0, eoh == std::string::npos ? 0 : eoh);
  const bool lotw =
      trim_blanks(header).starts_with(kLotwTitle) || upper.find("<APP_LOTW_") != std::string::npos;
  const bool eqsl = header.find("EQSL") != std::string_view::npos ||
                    upper.find("<APP_EQSL_") != std::string::npos;
  origin.says_both = lotw && eqsl;
  if (lotw != eqsl) origin.service = lotw ? qsl_service::lotw : qsl_service::eqsl;
  if (const std::size_t at = header.find(kEqslAccount); at != std::string_view::npos) {
    const std::string_view rest = header.substr(at + kEqslAccount.size());
    origin.account = std::string(rest.substr(0, rest.find_first_of(" \t\r\n<")));
  }
  return origin;
}

mode_family family_of_mode(std::string_view adif_mode) {
  const std::string mode = to_upper(trim_blanks(adif_mode));
  if (mode.empty()) return mode_family::unknown;
  if (mode == "CW") return mode_family::cw;
  if (mode == "SSB" || mode == "AM" || mode == "FM" || mode == "DIGITALVOICE" || mode == "PHONE") {
    return mode_family::phone;
  }
  if (mode == "ATV" || mode == "SSTV" || mode == "FAX" || mode == "IMAGE") {
    return mode_family::image;
  }
  return mode_family::data;
}

std::string_view family_name(mode_family family) {
  switch (family) {
    case mode_family::cw:
      return "CW";
    case mode_family::phone:
      return "PHONE";
    case mode_family::image:
      return "IMAGE";
    case mode_family::data:
      return "DATA";
    case mode_family::unknown:
      break;
  }
  return "?";
}

std::optional<std::int64_t> minute_of(std::string_view date, std::string_view time) {
  date = trim_blanks(date);
  time = trim_blanks(time);
  if (date.size() != 8 || !number(date) || (time.size() != 4 && time.size() != 6)) {
    return std::nullopt;
  }
  const auto day =
      parse_date(std::string(date.substr(6, 2)) + "-" + std::string(date.substr(4, 2)) + "-" +
                 std::string(date.substr(0, 4)));
  const auto hhmm = number(time.substr(0, 4));
  if (!day || !hhmm || !is_valid_time(*hhmm)) return std::nullopt;
  if (time.size() == 6) {
    const auto seconds = number(time.substr(4));
    if (!seconds || *seconds > 59) return std::nullopt;
  }
  return day_number(*day) * 1440 + (*hhmm / 100) * 60 + *hhmm % 100;
}

std::optional<std::int64_t> minute_of_qso(const qso_values& qso) {
  const auto day = parse_date(qso.date);
  if (!day || !is_valid_time(qso.debut)) return std::nullopt;
  return day_number(*day) * 1440 + (qso.debut / 100) * 60 + qso.debut % 100;
}

std::string day_and_time(std::int64_t minute) {
  // Days since 1970 back to a calendar date (the civil-from-days algorithm).
  const std::int64_t z = minute / 1440 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  const std::int64_t in_day = minute % 1440;
  return zero_fill(static_cast<std::int32_t>(day), 2) + "-" +
         zero_fill(static_cast<std::int32_t>(month), 2) + "-" +
         zero_fill(static_cast<std::int32_t>(year), 4) + " a " +
         zero_fill(static_cast<std::int32_t>(in_day / 60), 2) + ":" +
         zero_fill(static_cast<std::int32_t>(in_day % 60), 2);
}

std::string newest_of(const std::string& a, const std::string& b) { return a < b ? b : a; }

std::string newest_field(qsl_service service) {
  return service == qsl_service::lotw ? "APP_VELKRIN_LOTW_LAST_QSL" : "APP_VELKRIN_EQSL_LAST_QSL";
}

read_confirmation confirmation_of(const adif_read_record& record, qsl_service service,
                                  std::string_view account, std::string_view today) {
  read_confirmation read;
  const auto problem = [&read](std::string text) {
    read.problem = std::move(text);
    return read;
  };
  const bool lotw = service == qsl_service::lotw;
  const std::string_view received = value_of(record, lotw ? "QSL_RCVD" : "EQSL_QSL_RCVD");
  // LoTW lists QSOs it holds without a confirmation unless asked for
  // confirmations only; an eQSL inbox holds only cards received.
  if (lotw && !confirmed_flag(received)) {
    read.not_confirmed = true;
    return read;
  }
  if (!lotw && !received.empty() && !confirmed_flag(received)) {
    read.not_confirmed = true;
    return read;
  }
  confirmation confirmed;
  confirmed.call = to_upper(value_of(record, "CALL"));
  if (confirmed.call.empty()) return problem("champ manquant : CALL");
  const auto minute = minute_of(value_of(record, "QSO_DATE"), value_of(record, "TIME_ON"));
  if (!minute) return problem("date ou heure de debut illisible (QSO_DATE, TIME_ON)");
  confirmed.minute = *minute;
  if (const auto band = band_named(value_of(record, "BAND"))) {
    confirmed.band = *band;
  } else if (const auto khz = khz_of_mhz(value_of(record, "FREQ"))) {
    if (const auto by_frequency = band_of(*khz)) confirmed.band = *by_frequency;
  }
  if (confirmed.band.empty()) return problem("bande inconnue (BAND, FREQ)");
  const std::string_view group = value_of(record, "APP_LOTW_MODEGROUP");
  confirmed.family = family_of_mode(group.empty() ? value_of(record, "MODE") : group);
  if (confirmed.family == mode_family::unknown) return problem("champ manquant : MODE");
  read.station = to_upper(lotw ? value_of(record, "STATION_CALLSIGN") : account);
  if (lotw && read.station.empty()) read.station = to_upper(value_of(record, "APP_LOTW_OWNCALL"));
  confirmed.ordinal = static_cast<std::uint32_t>(record.ordinal);
  confirmed.line = record.line;

  if (lotw) {
    const std::string_view date = value_of(record, "QSLRDATE");
    pack(read.fields, "LOTW_QSL_RCVD", "Y");
    pack(read.fields, "LOTW_QSLRDATE", iso_day(date).empty() ? "" : date);
    for (const std::string_view name : kLotwFills) {
      const std::string_view value = value_of(record, name);
      if (!value.empty()) pack(read.fields, name, value);
    }
    read.newest = std::string(value_of(record, "APP_LOTW_RXQSL"));
    if (read.newest.empty()) read.newest = iso_day(date);
  } else {
    std::string_view date = value_of(record, "EQSL_QSLRDATE");
    if (iso_day(date).empty()) date = value_of(record, "QSLRDATE");
    if (iso_day(date).empty()) date = today;
    pack(read.fields, "EQSL_QSL_RCVD", "Y");
    pack(read.fields, "EQSL_QSLRDATE", date);
    // The card is the other station's: the report it sent is the one the
    // operator received.
    const std::string_view sent = value_of(record, "RST_SENT");
    if (!sent.empty()) pack(read.fields, "RST_RCVD", sent);
    read.newest = iso_day(date);
  }
  read.confirmed = std::move(confirmed);
  return read;
}

std::vector<details_field> confirmation_fields(std::string_view packed) {
  std::vector<details_field> fields;
  for (std::size_t at = 0; at < packed.size();) {
    const std::size_t name_end = packed.find('\0', at);
    const std::size_t value_end = packed.find('\0', name_end + 1);
    fields.push_back({std::string(packed.substr(at, name_end - at)),
                      std::string(packed.substr(name_end + 1, value_end - name_end - 1))});
    at = value_end + 1;
  }
  return fields;
}

bool apply_confirmation(details_record& record, std::string_view packed, bool& known) {
  const std::vector<details_field> fields = confirmation_fields(packed);
  bool changed = false;
  const auto missing = [&record](const std::string& name) {
    const std::string* value = record.find(name);
    return value == nullptr || trim_blanks(*value).empty();
  };
  const auto set = [&](const details_field& field) {
    if (field.value.empty()) return;
    const std::string* value = record.find(field.name);
    if (value != nullptr && *value == field.value) return;
    record.set(field.name, field.value);
    changed = true;
  };
  const std::string* flag = record.find(fields[0].name);
  known = flag != nullptr && confirmed_flag(*flag);
  if (!known) {
    set(fields[0]);
    set(fields[1]);
  } else if (missing(fields[1].name)) {
    set(fields[1]);
  }
  for (std::size_t i = 2; i < fields.size(); ++i) {
    if (missing(fields[i].name)) set(fields[i]);
  }
  return changed;
}

std::vector<std::int64_t> match_candidates(std::vector<candidate> candidates,
                                           std::size_t confirmations) {
  std::sort(candidates.begin(), candidates.end(), [](const candidate& a, const candidate& b) {
    if (a.gap != b.gap) return a.gap < b.gap;
    if (a.confirmation != b.confirmation) return a.confirmation < b.confirmation;
    return a.qso < b.qso;
  });
  std::vector<std::int64_t> matched(confirmations, -1);
  std::vector<bool> taken;
  for (const candidate& pair : candidates) {
    if (pair.qso >= taken.size()) taken.resize(pair.qso + 1, false);
    if (matched[pair.confirmation] >= 0 || taken[pair.qso]) continue;
    matched[pair.confirmation] = pair.qso;
    taken[pair.qso] = true;
  }
  return matched;
}

bool one_character_apart(std::string_view a, std::string_view b) {
  if (a.size() > b.size()) std::swap(a, b);
  if (b.size() - a.size() > 1) return false;
  std::size_t front = 0;
  while (front < a.size() && a[front] == b[front]) ++front;
  if (front == a.size()) return a.size() != b.size();  // one added at the end, or equal
  if (a.size() == b.size()) {
    if (a.substr(front + 1) == b.substr(front + 1)) return true;  // one changed
    return front + 1 < a.size() && a[front] == b[front + 1] && a[front + 1] == b[front] &&
           a.substr(front + 2) == b.substr(front + 2);  // neighbours swapped
  }
  return a.substr(front) == b.substr(front + 1);  // one added
}

}  // namespace velkrin::adif
