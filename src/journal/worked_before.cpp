// velkrin-journal indicatif: whether a station was worked before, when, on
// which bands and modes, and the QSOs with it; with the country file, its
// DXCC entity and what of that entity the whole logbook has worked. When the
// logbook has details, whether the station and its entity are confirmed,
// and by what.
#include <string>
#include <unordered_map>
#include <vector>

#include "console/visible_text.hpp"
#include "countries/worked_entities.hpp"
#include "journal/commands.hpp"
#include "journal/qso_confirmations.hpp"
#include "journal/qso_entity.hpp"
#include "journal/reading.hpp"

namespace velkrin::journal {
namespace {

std::string two_digits(int n) { return {char('0' + n / 10 % 10), char('0' + n % 10)}; }

// "40m, 20m et 10m".
std::string spoken_list(const std::vector<std::string>& words) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += i + 1 == words.size() ? " et " : ", ";
    text += words[i];
  }
  return text;
}

// What the logbook has worked of the station's entity.
struct entity_worked {
  std::size_t qsos = 0;
  band_mode_grid bands;  // its bands, in frequency order (modes unused)
  unsigned groups = 0;   // one bit per countries::mode_group
  countries::confirmation_set confirmations = 0;
};

// Whether the station's QSOs are confirmed, and by what.
std::string station_confirmation(countries::confirmation_set confirmations,
                                 std::size_t confirmed_qsos, std::size_t qsos) {
  if (confirmations == 0) return "Pas encore confirme.\n";
  return "Confirme par " + confirmation_sources(confirmations) + " : " +
         std::to_string(confirmed_qsos) + " QSO sur " + std::to_string(qsos) + ".\n";
}

// Whether the entity is confirmed, by what, and whether that counts for
// the DXCC (eQSL does not).
std::string entity_confirmation(countries::confirmation_set confirmations) {
  if (confirmations == 0) return "Pays pas encore confirme.\n";
  return "Pays confirme par " + confirmation_sources(confirmations) +
         (countries::confirms(countries::award::dxcc, confirmations)
              ? std::string()
              : std::string(" : ne compte pas pour le DXCC")) +
         ".\n";
}

// The lines about the station's entity: which it is, then whether a QSO
// with it would be a new entity, or the bands and mode groups already
// worked with it (any other would be new), and with `with_confirmations`
// whether it is confirmed.
std::string entity_lines(const qso_entity& target, const entity_worked& worked, bool from_details,
                         bool with_confirmations, const countries::country_data& data) {
  std::string text = "Pays : ";
  if (target.entity == nullptr) {
    text += target.maritime ? "/MM ou /AM : aucune entite DXCC.\n"
                            : "entite inconnue du fichier des pays.\n";
    return text;
  }
  append_visible(text, describe_entity(target, data));
  if (target.uncertain) text += " (incertain)";
  if (from_details) text += " (d'apres les details de ses QSO)";
  text += ".\n";
  if (worked.qsos == 0) return text + "Nouveau pays : aucun QSO avec ce pays dans le journal.\n";
  text += "Pays deja contacte : " + std::to_string(worked.qsos) + " QSO";
  std::vector<std::string> bands;
  for (const std::size_t b : worked.bands.ordered_bands()) {
    if (worked.bands.bands()[b].name != kNoBand) bands.push_back(worked.bands.bands()[b].name);
  }
  std::vector<std::string> groups;
  for (const countries::mode_group group :
       {countries::mode_group::cw, countries::mode_group::phone, countries::mode_group::data}) {
    if (worked.groups & (1u << static_cast<unsigned>(group))) {
      groups.emplace_back(countries::mode_group_name(group));
    }
  }
  if (!bands.empty()) text += ", sur " + spoken_list(bands);
  if (!groups.empty()) text += ", en " + spoken_list(groups);
  text += " ; une autre bande ou un autre mode serait nouveau pour ce pays.\n";
  if (with_confirmations) text += entity_confirmation(worked.confirmations);
  return text;
}

}  // namespace

int worked_before(const command_context& c) {
  fact_finder finder(c.options.user_modes);
  const std::string station = base_call(c.options.call);
  const countries::country_source* countries = country_data_for(c, false);
  if (country_data_failed(c, false)) return kExitFailure;
  std::optional<entity_finder> entities;
  qso_entity target;
  if (countries != nullptr) {
    entities.emplace(countries->data);
    target = entities->of_call(c.options.call);
  }
  // What was worked of each entity: the station's may only be known at the
  // end, from the DXCC field of its own QSOs' details.
  std::unordered_map<int, entity_worked> worked_by_entity;
  std::optional<qso_entity> from_details;
  std::optional<calendar_date> newest;

  std::vector<kept_qso> found;
  band_mode_grid grid;
  std::optional<calendar_date> first;
  std::optional<calendar_date> last;
  countries::confirmation_set station_confirmations = 0;
  std::size_t confirmed_qsos = 0;
  const auto take = [&](const qso_values& qso, const qso_facts& facts, std::size_t line,
                        std::string_view, const details_record* details) {
    const bool station_qso =
        contains_any_case(qso.indicatif, station) && base_call(qso.indicatif) == station;
    const countries::confirmation_set confirmations =
        details != nullptr ? confirmation_state_of(details).received() : 0;
    if (entities) {
      if (facts.date && (!newest || *facts.date > *newest)) newest = facts.date;
      const qso_entity counted = entities->of_qso(qso.indicatif, details);
      if (station_qso && details != nullptr && details_dxcc(*details)) from_details = counted;
      if (counted.dxcc != 0) {
        entity_worked& worked = worked_by_entity[counted.dxcc];
        ++worked.qsos;
        worked.confirmations |= confirmations;
        if (facts.band) worked.bands.add(*facts.band, qso.frequence, {});
        if (*facts.mode) {
          if (const auto group = countries::mode_group_of((*facts.mode)->mode)) {
            worked.groups |= 1u << static_cast<unsigned>(*group);
          }
        }
      }
    }
    if (!station_qso) return;
    found.push_back({qso.record(), line, {}, {}});
    if (details != nullptr) found.back().details = *details;
    station_confirmations |= confirmations;
    confirmed_qsos += confirmations != 0;
    grid.add(facts.band.value_or(kNoBand), qso.frequence, mode_name(qso, facts));
    if (facts.date && (!first || *facts.date < *first)) first = facts.date;
    if (facts.date && (!last || *facts.date > *last)) last = facts.date;
  };
  // Without the entity, only the lines that hold the call need reading.
  if (!read_selected(c, finder, take, entities ? std::string() : station)) return kExitFailure;
  if (newest) {
    note_stale_country_data(
        c, std::to_string(newest->year * 10000 + newest->month * 100 + newest->day));
  }
  // The details of the station's last QSO that names its DXCC entity win
  // over its call, as everywhere else.
  if (from_details) target = *from_details;
  // The confirmations are said when the details were read.
  const bool with_details = c.details != nullptr && c.details->state() == details_state::ready;
  static const entity_worked kNothing;
  const auto worked = worked_by_entity.find(target.dxcc);
  const std::string about_entity =
      entities ? entity_lines(target, worked == worked_by_entity.end() ? kNothing : worked->second,
                              from_details.has_value(), with_details, countries->data)
               : std::string();

  std::string scratch;
  const std::string shown(visible(station, scratch));
  if (found.empty()) {
    c.out.write(shown + " : jamais contacte (aucun QSO dans le journal).\n" + about_entity);
    return finish_output(c, kExitAnswer);
  }
  const auto day = [](const calendar_date& date) {
    return two_digits(date.day) + "-" + two_digits(date.month) + "-" + std::to_string(date.year);
  };
  std::string summary = shown + " : " + std::to_string(found.size()) + " QSO";
  if (first) summary += ", du " + day(*first) + " au " + day(*last);
  summary += ".\n";
  if (with_details) {
    summary += station_confirmation(station_confirmations, confirmed_qsos, found.size());
  }
  c.out.write(summary + about_entity + "\n");
  grid.write(c.out, ".");
  c.out.write("\n");
  qso_rows rows(c.out, c.options.short_table, false, with_details);
  qso_facts facts;
  for (const kept_qso& kept : found) {
    finder.find(kept.qso, facts);
    rows.add(kept.qso, facts, kept.line, {}, kept.details ? &*kept.details : nullptr);
  }
  rows.finish();
  return finish_output(c, kExitSuccess);
}

}  // namespace velkrin::journal
