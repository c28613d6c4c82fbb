#include "adif/logbook_export.hpp"

#include <algorithm>

#include "console/text_format.hpp"

namespace velkrin::adif {

converted_qso convert_qso(const logbook_qso& entry, const mode_table& user_modes) {
  const qso_record& qso = entry.qso;
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
  text("NAME", qso.prenom);
  record.push_back({"FREQ", *freq});
  if (const auto band = band_of(qso.frequence)) record.push_back({"BAND", std::string(*band)});
  record.push_back({"MODE", mode->mode});
  if (!mode->submode.empty()) record.push_back({"SUBMODE", mode->submode});
  std::string place = qso.lieu;
  std::replace(place.begin(), place.end(), '_', ' ');
  text("MY_CITY", place);
  if (!entry.owner.empty()) text("STATION_CALLSIGN", entry.owner, true);
  return converted;
}

export_result export_logbook(std::string_view logbook_text, const export_settings& settings) {
  const logbook_contents contents = read_logbook(logbook_text);
  std::vector<line_report> reports = contents.unreadable;
  export_result result;
  result.reported = reports.size();

  std::vector<adif_record> records;
  for (const auto& entry : contents.qsos) {
    converted_qso converted = convert_qso(entry, settings.user_modes);
    if (!converted.error.empty()) {
      reports.push_back({entry.line, std::move(converted.error)});
      ++result.reported;
      continue;
    }
    for (const auto field : converted.replaced) {
      reports.push_back({entry.line, "attention : caractere non ASCII remplace par \"?\" dans " +
                                         std::string(field)});
    }
    records.push_back(std::move(converted.record));
  }

  std::stable_sort(reports.begin(), reports.end(),
                   [](const auto& a, const auto& b) { return a.line < b.line; });
  for (const auto& report : reports) {
    result.messages.push_back("ligne " + std::to_string(report.line) + " : " + report.reason);
  }
  result.exported = records.size();
  const std::string& eol = settings.line_end.empty() ? contents.eol : settings.line_end;
  result.adif = format_adif(settings.description, settings.created, records, eol);
  return result;
}

}  // namespace velkrin::adif
