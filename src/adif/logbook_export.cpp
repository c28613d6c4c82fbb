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

// A field name that ADIF text can hold: printable ASCII.
bool is_ascii_name(std::string_view name) {
  return std::all_of(name.begin(), name.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

// The details' values of the fields that a column of the line also gives.
struct kept_columns {
  const std::string* time_on = nullptr;
  const std::string* date_off = nullptr;
  const std::string* time_off = nullptr;
  const std::string* name = nullptr;
  const std::string* freq = nullptr;
  const std::string* mode = nullptr;
  const std::string* submode = nullptr;
  const std::string* city = nullptr;
  const std::string* grid = nullptr;
  const std::string* station = nullptr;
};

// The details fields that the merge places: those a column of the line
// gives (and the key fields whose value it keeps), and where their values go.
struct merged_field {
  std::string_view name;
  const std::string* kept_columns::*kept;
};

const merged_field* merged_field_named(std::string_view name) {
  static constexpr merged_field kFour[] = {
      {"NAME", &kept_columns::name}, {"FREQ", &kept_columns::freq}, {"MODE", &kept_columns::mode}};
  static constexpr merged_field kSeven[] = {{"TIME_ON", &kept_columns::time_on},
                                            {"SUBMODE", &kept_columns::submode},
                                            {"MY_CITY", &kept_columns::city}};
  static constexpr merged_field kTimeOff{"TIME_OFF", &kept_columns::time_off};
  static constexpr merged_field kDateOff{"QSO_DATE_OFF", &kept_columns::date_off};
  static constexpr merged_field kGrid{"MY_GRIDSQUARE", &kept_columns::grid};
  static constexpr merged_field kStation{"STATION_CALLSIGN", &kept_columns::station};
  // By length first: this runs twice for every details field.
  const auto among = [name](const auto& fields) -> const merged_field* {
    for (const merged_field& field : fields) {
      if (name == field.name) return &field;
    }
    return nullptr;
  };
  const auto one = [name](const merged_field& field) {
    return name == field.name ? &field : nullptr;
  };
  switch (name.size()) {
    case 4:
      return among(kFour);
    case 7:
      return among(kSeven);
    case 8:
      return one(kTimeOff);
    case 12:
      return one(kDateOff);
    case 13:
      return one(kGrid);
    case 16:
      return one(kStation);
    default:
      return nullptr;
  }
}

// The first of each name holds, as details_record::find gives it.
kept_columns kept_columns_of(const details_record* details) {
  kept_columns kept;
  if (details == nullptr) return kept;
  for (const auto& field : details->fields) {
    if (const merged_field* merged = merged_field_named(field.name)) {
      if (kept.*merged->kept == nullptr) kept.*merged->kept = &field.value;
    }
  }
  return kept;
}

}  // namespace

converted_qso convert_qso(const qso_record& qso, std::string_view owner,
                          const mode_table& user_modes, const details_record* details) {
  converted_qso converted;
  convert_qso(qso, owner, user_modes, details, converted);
  return converted;
}

void convert_qso(const qso_record& qso, std::string_view owner, const mode_table& user_modes,
                 const details_record* details, converted_qso& converted,
                 const entity_fields* entity) {
  adif_record& record = converted.record;
  converted.error.clear();
  converted.replaced.clear();
  converted.left_out.clear();
  const auto fail = [&](std::string reason) {
    converted.error = std::move(reason);
    record.clear();
  };

  const auto date = parse_date(qso.date);
  if (!date) {
    return fail("date \"" + to_ascii(qso.date).text + "\" invalide (JJ-MM-AAAA, a partir de 1930)");
  }
  if (!is_valid_time(qso.debut)) {
    return fail("heure de debut " + decimal(qso.debut) + " invalide (hhmm, 0 a 2359)");
  }
  if (!is_valid_time(qso.fin)) {
    return fail("heure de fin " + decimal(qso.fin) + " invalide (hhmm, 0 a 2359)");
  }
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
  if (qso.frequence <= 0) {
    return fail("frequence " + decimal(qso.frequence) + " kHz invalide (positive attendue)");
  }
  // The details' values of the fields a column gives, found in one pass.
  const kept_columns kept = kept_columns_of(details);
  const std::optional<adif_mode> mode =
      kept.mode != nullptr ? std::nullopt : mode_of(qso.mode, qso.frequence, user_modes);
  if (!mode && kept.mode == nullptr) {
    const std::string typed = to_ascii(to_upper(qso.mode)).text;
    return fail("classe d'emission \"" + typed + "\" inconnue : indiquer son mode avec --mode " +
                typed + "=MODE[/SOUS_MODE]");
  }

  // The record's fields reuse the strings of the previous QSO's.
  std::size_t used = 0;
  const auto field = [&](std::string_view name) -> std::string& {
    if (used == record.size()) record.emplace_back();
    adif_field& added = record[used++];
    added.name = name;
    added.value.clear();
    return added.value;
  };
  const auto text = [&](std::string_view name, std::string_view value, bool upper = false) {
    std::string& ascii = field(name);
    if (append_ascii(value, ascii)) converted.replaced.push_back(name);
    if (upper) {
      for (char& c : ascii) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      }
    }
  };
  const auto time = [&](std::string_view name, std::int32_t hhmm, const std::string* precise) {
    char minute[4] = {static_cast<char>('0' + hhmm / 1000),
                      static_cast<char>('0' + hhmm / 100 % 10),
                      static_cast<char>('0' + hhmm / 10 % 10), static_cast<char>('0' + hhmm % 10)};
    const std::string_view hhmm_text(minute, sizeof minute);
    // Kept to the second while it still falls in the line's minute.
    const bool at_minute =
        precise != nullptr && precise->size() == 6 && precise->starts_with(hhmm_text) &&
        std::all_of(precise->begin(), precise->end(), [](char c) { return c >= '0' && c <= '9'; });
    text(name, at_minute ? std::string_view(*precise) : hhmm_text);
  };
  // The line's column as the import wrote it from `value`.
  const auto reads_as = [](const std::string* value, std::string_view column) {
    return value != nullptr && reads_as_word(*value, column.empty() ? "-" : column);
  };

  append_adif_date(*date, field("QSO_DATE"));
  time("TIME_ON", qso.debut, kept.time_on);
  // An end before the start: the QSO went on past midnight UTC.
  if (qso.fin < qso.debut) {
    append_adif_date(next_day(*date), field("QSO_DATE_OFF"));
  } else if (kept.date_off != nullptr) {
    text("QSO_DATE_OFF", *kept.date_off);
  }
  time("TIME_OFF", qso.fin, kept.time_off);
  text("CALL", qso.indicatif, true);
  if (reads_as(kept.name, qso.prenom)) {
    text("NAME", *kept.name);
  } else if (!qso.prenom.empty()) {
    text("NAME", qso.prenom);
  }
  if (kept.freq != nullptr && khz_of_mhz(*kept.freq) == qso.frequence) {
    text("FREQ", *kept.freq);
  } else {
    append_frequency_mhz(qso.frequence, field("FREQ"));
  }
  if (const auto band = band_of(qso.frequence)) field("BAND").assign(*band);
  if (kept.mode != nullptr) {
    text("MODE", *kept.mode);
    if (kept.submode != nullptr) text("SUBMODE", *kept.submode);
  } else {
    field("MODE").assign(mode->mode);
    if (!mode->submode.empty()) field("SUBMODE").assign(mode->submode);
  }
  bool grid_given = false;
  if (reads_as(kept.city, qso.lieu)) {
    text("MY_CITY", *kept.city);
  } else if (reads_as(kept.grid, qso.lieu)) {
    text("MY_GRIDSQUARE", *kept.grid);
    grid_given = true;
  } else if (!qso.lieu.empty()) {
    // A locator typed as the place is where the station was, not a city.
    // A locator has no "_", so the place's blanks need not come back first.
    grid_given = is_maidenhead_locator(qso.lieu);
    std::string& place = field(grid_given ? "MY_GRIDSQUARE" : "MY_CITY");
    if (append_ascii(qso.lieu, place)) converted.replaced.push_back(record[used - 1].name);
    // Folding never gives "_", so every "_" here was a blank of the place.
    std::replace(place.begin(), place.end(), '_', ' ');
  }
  if (kept.station != nullptr) {
    text("STATION_CALLSIGN", *kept.station);
  } else if (!owner.empty()) {
    text("STATION_CALLSIGN", owner, true);
  }
  if (details != nullptr) {
    for (const auto& detail : details->fields) {
      const merged_field* merged = merged_field_named(detail.name);
      if ((merged != nullptr && (grid_given || merged->kept != &kept_columns::grid)) ||
          is_key_field(detail.name)) {
        continue;
      }
      if (!is_ascii_name(detail.name)) {
        converted.left_out.push_back(detail.name);
        continue;
      }
      text(detail.name, detail.value);
    }
  }
  record.resize(used);
  if (entity != nullptr) add_entity_fields(*entity, details, converted);
}

void add_entity_fields(const entity_fields& entity, const details_record* details,
                       converted_qso& converted) {
  if (!converted.error.empty()) return;
  for (std::size_t k = 0; k < entity_fields::kNames.size(); ++k) {
    const std::string_view name = entity_fields::kNames[k];
    // A value of the details always stays.
    if (entity.values[k].empty() || (details != nullptr && details->find(name) != nullptr)) {
      continue;
    }
    adif_field& field = converted.record.emplace_back();
    field.name = name;
    if (append_ascii(entity.values[k], field.value)) converted.replaced.push_back(name);
  }
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
  converted_qso converted;  // its buffers serve every QSO
  std::string refusal;
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
    // The call's entity is looked up once the QSO is converted, by which
    // time its place in the table is on its way from memory.
    if (settings.entities != nullptr) settings.entities->prefetch(item.qso.indicatif);
    convert_qso(item.qso, header ? header->header.indicatif : "", settings.user_modes, item.details,
                converted);
    if (settings.keep && converted.error.empty() &&
        !settings.keep(item.details, converted.record, refusal)) {
      if (!refusal.empty()) {
        report(item.line, refusal);
        ++result.reported;
        refusal.clear();
      }
      continue;
    }
    const entity_fields* entity = nullptr;
    if (settings.entities != nullptr && converted.error.empty()) {
      entity = &settings.entities->fields(
          item.qso.indicatif, item.details != nullptr ? item.details->find("DXCC") : nullptr);
      add_entity_fields(*entity, item.details, converted);
    }
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
    if (entity != nullptr) {
      if (entity->uncertain) ++result.uncertain_entities;
      // QSO_DATE comes first, as YYYYMMDD, which compares as text.
      const std::string& date = converted.record.front().value;
      if (date > result.newest) result.newest = date;
    }
    if (text.size() >= kOutputPieceBytes) flush();
  }
  result.read_failure = logbook.failure();
  if (!result.read_failure) flush();
  return result;
}

}  // namespace velkrin::adif
