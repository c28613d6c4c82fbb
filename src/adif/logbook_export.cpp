#include "adif/logbook_export.hpp"

#include <algorithm>

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

}  // namespace

converted_qso convert_qso(const qso_record& qso, std::string_view owner,
                          const mode_table& user_modes) {
  converted_qso converted;
  const auto fail = [&](std::string reason) {
    converted.error = std::move(reason);
    converted.record.clear();
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
  const auto mode = mode_of(qso.mode, qso.frequence, user_modes);
  if (!mode) {
    const std::string typed = to_ascii(to_upper(qso.mode)).text;
    return fail("classe d'emission \"" + typed + "\" inconnue : indiquer son mode avec --mode " +
                typed + "=MODE[/SOUS_MODE]");
  }

  adif_record& record = converted.record;
  record.reserve(14);  // every field it may get, in one allocation
  const auto text = [&](std::string_view name, std::string_view value, bool upper = false) {
    ascii_text ascii = to_ascii(value);
    if (ascii.replaced) converted.replaced.push_back(name);
    record.push_back({name, upper ? to_upper(ascii.text) : std::move(ascii.text)});
  };
  record.push_back({"QSO_DATE", adif_date(*date)});
  record.push_back({"TIME_ON", *time_on});
  // An end before the start: the QSO went on past midnight UTC.
  if (qso.fin < qso.debut) record.push_back({"QSO_DATE_OFF", adif_date(next_day(*date))});
  record.push_back({"TIME_OFF", *time_off});
  text("CALL", qso.indicatif, true);
  if (!qso.prenom.empty()) text("NAME", qso.prenom);
  record.push_back({"FREQ", *freq});
  if (const auto band = band_of(qso.frequence)) record.push_back({"BAND", std::string(*band)});
  record.push_back({"MODE", mode->mode});
  if (!mode->submode.empty()) record.push_back({"SUBMODE", mode->submode});
  std::string place = qso.lieu;
  std::replace(place.begin(), place.end(), '_', ' ');
  // A locator typed as the place is where the station was, not a city.
  if (!place.empty()) text(is_maidenhead_locator(place) ? "MY_GRIDSQUARE" : "MY_CITY", place);
  if (!owner.empty()) text("STATION_CALLSIGN", owner, true);
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
    if (settings.from || settings.to) {
      const auto date = parse_date(item.qso.date);
      if (date &&
          ((settings.from && *date < *settings.from) || (settings.to && *date > *settings.to))) {
        continue;
      }
    }
    const header_block* header = logbook.header();
    const converted_qso converted =
        convert_qso(item.qso, header ? header->header.indicatif : "", settings.user_modes);
    if (!converted.error.empty()) {
      report(item.line, converted.error);
      ++result.reported;
      continue;
    }
    for (const auto field : converted.replaced) {
      report(item.line,
             "attention : caractere non ASCII remplace par \"?\" dans " + std::string(field));
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
