#include "adif/logbook_export.hpp"

#include <algorithm>

#include "adif/adif_import.hpp"
#include "adif/conversions.hpp"
#include "console/text_format.hpp"

namespace velkrin::adif {
namespace {

// The text is handed to its sink in pieces of about this size.
constexpr std::size_t kOutputPieceBytes = 64 * 1024;

// The reason a typed value cannot go into a field, or nothing.
std::optional<std::string> text_problem(std::string_view name, std::string_view value) {
  if (has_control_characters(value)) {
    return "caractere de controle dans " + std::string(name) +
           " (une touche flechee tapee a l'invite ?)";
  }
  return std::nullopt;
}

// The details fields that a column of the line gives, merged above.
bool is_column_field(std::string_view name) {
  return name == "NAME" || name == "FREQ" || name == "TIME_OFF" || name == "QSO_DATE_OFF" ||
         name == "MY_CITY" || name == "STATION_CALLSIGN";
}

// A field name that ADIF text can hold: printable ASCII.
bool is_ascii_name(std::string_view name) {
  return std::all_of(name.begin(), name.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

}  // namespace

converted_qso convert_qso(const qso_record& qso, std::string_view owner,
                          const mode_table& user_modes, const details_record* details) {
  converted_qso converted;
  const auto fail = [&](std::string reason) {
    converted.error = std::move(reason);
    converted.record.clear();
    converted.replaced.clear();
    converted.left_out.clear();
    return converted;
  };

  const auto date = parse_date(qso.date);
  if (!date) {
    return fail("date \"" + to_ascii(qso.date).text + "\" invalide (JJ-MM-AAAA, a partir de 1930)");
  }
  const auto time_on = adif_time(qso.debut);
  if (!time_on) return fail("heure de debut " + decimal(qso.debut) + " invalide (hhmm, 0 a 2359)");
  const auto time_off = adif_time(qso.fin);
  if (!time_off) return fail("heure de fin " + decimal(qso.fin) + " invalide (hhmm, 0 a 2359)");
  for (const auto& [name, value] :
       {std::pair<std::string_view, std::string_view>{"CALL", qso.indicatif},
        {"NAME", qso.prenom},
        {"MY_CITY", qso.lieu},
        {"STATION_CALLSIGN", owner}}) {
    if (auto problem = text_problem(name, value)) return fail(std::move(*problem));
  }
  if (!is_call_sign_form(qso.indicatif)) {
    return fail("indicatif \"" + to_ascii(qso.indicatif).text + "\" invalide (" +
                std::string(kCallSignFormRule) + ")");
  }
  const auto freq = frequency_mhz(qso.frequence);
  if (!freq) {
    return fail("frequence " + decimal(qso.frequence) + " kHz invalide (positive attendue)");
  }
  // The details' value of a field, when the line's column still reads as
  // the import wrote it from that value.
  const auto kept = [details](std::string_view name,
                              const auto& still_reads) -> const std::string* {
    const std::string* value = details == nullptr ? nullptr : details->find(name);
    return value != nullptr && still_reads(*value) ? value : nullptr;
  };
  const auto at_minute = [](std::string_view hhmm) {
    return [hhmm](std::string_view value) {
      return value.size() == 6 && value.starts_with(hhmm) &&
             std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
  };
  const auto as_word = [](std::string_view column) {
    return [column](std::string_view value) {
      return logbook_word(value) == (column.empty() ? std::string_view("-") : column);
    };
  };
  const std::string* kept_mode = kept("MODE", [](std::string_view) { return true; });
  const auto mode = mode_of(qso.mode, qso.frequence, user_modes);
  if (!mode && kept_mode == nullptr) {
    const std::string typed = to_ascii(to_upper(qso.mode)).text;
    return fail("classe d'emission \"" + typed + "\" inconnue : indiquer son mode avec --mode " +
                typed + "=MODE[/SOUS_MODE]");
  }

  adif_record& record = converted.record;
  record.reserve(14 + (details == nullptr ? 0 : details->fields.size()));
  const auto text = [&](std::string_view name, std::string_view value, bool upper = false) {
    ascii_text ascii = to_ascii(value);
    if (ascii.replaced) converted.replaced.push_back(name);
    record.push_back({name, upper ? to_upper(ascii.text) : std::move(ascii.text)});
  };
  record.push_back({"QSO_DATE", adif_date(*date)});
  const std::string* precise_on = kept("TIME_ON", at_minute(*time_on));
  text("TIME_ON", precise_on ? *precise_on : *time_on);
  // An end before the start: the QSO went on past midnight UTC.
  if (qso.fin < qso.debut) {
    record.push_back({"QSO_DATE_OFF", adif_date(next_day(*date))});
  } else if (const std::string* date_off = kept("QSO_DATE_OFF", [](auto) { return true; })) {
    text("QSO_DATE_OFF", *date_off);
  }
  const std::string* precise_off = kept("TIME_OFF", at_minute(*time_off));
  text("TIME_OFF", precise_off ? *precise_off : *time_off);
  text("CALL", qso.indicatif, true);
  if (const std::string* name = kept("NAME", as_word(qso.prenom))) {
    text("NAME", *name);
  } else if (!qso.prenom.empty()) {
    text("NAME", qso.prenom);
  }
  const std::string* precise_freq =
      kept("FREQ", [&](std::string_view value) { return khz_of_mhz(value) == qso.frequence; });
  text("FREQ", precise_freq ? *precise_freq : *freq);
  if (const auto band = band_of(qso.frequence)) record.push_back({"BAND", std::string(*band)});
  if (kept_mode != nullptr) {
    text("MODE", *kept_mode);
    if (const std::string* submode = details->find("SUBMODE")) text("SUBMODE", *submode);
  } else {
    record.push_back({"MODE", mode->mode});
    if (!mode->submode.empty()) record.push_back({"SUBMODE", mode->submode});
  }
  std::string place = qso.lieu;
  std::replace(place.begin(), place.end(), '_', ' ');
  bool grid_given = false;
  if (const std::string* city = kept("MY_CITY", as_word(qso.lieu))) {
    text("MY_CITY", *city);
  } else if (const std::string* grid = kept("MY_GRIDSQUARE", as_word(qso.lieu))) {
    text("MY_GRIDSQUARE", *grid);
    grid_given = true;
  } else if (!place.empty()) {
    // A locator typed as the place is where the station was, not a city.
    grid_given = is_maidenhead_locator(place);
    text(grid_given ? "MY_GRIDSQUARE" : "MY_CITY", place);
  }
  if (const std::string* station = kept("STATION_CALLSIGN", [](auto) { return true; })) {
    text("STATION_CALLSIGN", *station);
  } else if (!owner.empty()) {
    text("STATION_CALLSIGN", owner, true);
  }
  if (details == nullptr) return converted;
  for (const auto& field : details->fields) {
    if (is_key_field(field.name) || is_column_field(field.name) ||
        (grid_given && field.name == "MY_GRIDSQUARE")) {
      continue;
    }
    if (!is_ascii_name(field.name)) {
      converted.left_out.push_back(field.name);
      continue;
    }
    text(field.name, field.value);
  }
  return converted;
}

export_result export_logbook(logbook_reader& logbook, const export_settings& settings,
                             const text_sink& adif, const message_sink& messages) {
  export_result result;
  std::string text;
  const auto flush = [&] {
    if (text.empty() || result.write_failure) return;
    if (const platform::status s = adif(text); !s.ok()) result.write_failure = s.cause();
    text.clear();
  };
  const auto report = [&](std::size_t line, std::string_view reason) {
    messages("ligne " + std::to_string(line) + " : " + std::string(reason));
  };

  // The header waits for the first line, whose line end the file takes.
  bool notice_given = false;
  logbook_item item;
  bool have_item = logbook.next(item);
  const std::string eol = settings.line_end.empty() ? logbook.line_end() : settings.line_end;
  text = format_adif_header(settings.description, settings.created, eol);

  for (; have_item && !result.write_failure; have_item = logbook.next(item)) {
    if (item.what == logbook_item::kind::header) continue;
    if (item.what == logbook_item::kind::unreadable) {
      report(item.line, item.reason);
      ++result.reported;
      continue;
    }
    if (!notice_given && settings.details_notice) {
      notice_given = true;
      if (const std::string notice = settings.details_notice(); !notice.empty()) messages(notice);
    }
    if (settings.from || settings.to) {
      const auto date = parse_date(item.qso.date);
      if (date &&
          ((settings.from && *date < *settings.from) || (settings.to && *date > *settings.to))) {
        continue;
      }
    }
    const header_block* header = logbook.header();
    const converted_qso converted = convert_qso(item.qso, header ? header->header.indicatif : "",
                                                settings.user_modes, item.details);
    if (!converted.error.empty()) {
      report(item.line, converted.error);
      ++result.reported;
      continue;
    }
    for (const auto field : converted.replaced) {
      report(item.line,
             "attention : caractere non ASCII remplace par \"?\" dans " + std::string(field));
    }
    for (const auto field : converted.left_out) {
      report(item.line, "attention : champ des details \"" + std::string(field) +
                            "\" non exporte (nom non ASCII)");
    }
    append_adif_record(converted.record, eol, text);
    ++result.exported;
    if (text.size() >= kOutputPieceBytes) flush();
  }
  result.read_failure = logbook.failure();
  if (!result.read_failure) flush();
  return result;
}

}  // namespace velkrin::adif
