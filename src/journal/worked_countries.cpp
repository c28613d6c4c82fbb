// velkrin-journal pays: the DXCC entities worked, with their bands, mode
// groups, first QSO and confirmation, or as an entity by band grid; the
// QSOs that count for no entity are counted apart.
#include <algorithm>
#include <ostream>

#include "console/visible_text.hpp"
#include "countries/worked_entities.hpp"
#include "journal/commands.hpp"
#include "journal/qso_countries.hpp"
#include "journal/reading.hpp"

namespace velkrin::journal {
namespace {

using countries::award;
using countries::confirmation;

struct entity_tally {
  bool worked = false;
  std::uint64_t bands = 0;            // bits by position in kBandOrder
  std::uint64_t confirmed_bands = 0;  // confirmed for DXCC on that band
  std::uint8_t groups = 0;            // bits by countries::mode_group
  countries::confirmation_set received = 0;
  std::uint64_t first = kNoMoment;
};

// What counts apart.
struct apart_counts {
  std::size_t no_entity = 0;
  std::size_t deleted = 0;
  std::vector<int> deleted_numbers;  // sorted, distinct
  std::size_t unknown_number = 0;
  std::size_t unresolved = 0;
  std::size_t uncertain = 0;
};

// "oui (carte, LoTW)", "non (eQSL seul)"...
std::string confirmation_text(countries::confirmation_set received) {
  const bool card = (received & bit(confirmation::card)) != 0;
  const bool lotw = (received & bit(confirmation::lotw)) != 0;
  if (card && lotw) return "oui (carte, LoTW)";
  if (card) return "oui (carte)";
  if (lotw) return "oui (LoTW)";
  if ((received & bit(confirmation::eqsl)) != 0) return "non (eQSL seul)";
  return "non";
}

std::string band_list(std::uint64_t bands) {
  std::string text;
  for (std::size_t i = 0; i < kBandOrder.size(); ++i) {
    if ((bands >> i & 1) == 0) continue;
    if (!text.empty()) text += ' ';
    text.append(kBandOrder[i]);
  }
  return text;
}

std::string group_list(std::uint8_t groups) {
  std::string text;
  for (const auto group :
       {countries::mode_group::cw, countries::mode_group::phone, countries::mode_group::data}) {
    if ((groups >> static_cast<unsigned>(group) & 1) == 0) continue;
    if (!text.empty()) text += ' ';
    text.append(countries::mode_group_name(group));
  }
  return text;
}

void write_rows(const command_context& c, const country_finder& finder,
                const std::vector<entity_tally>& tallies) {
  text_table table({{"Prefixe"},
                    {"Entite"},
                    {"DXCC", true},
                    {"Continent"},
                    {"Bandes"},
                    {"Modes"},
                    {"Premier QSO"},
                    {"Confirmee"}},
                   c.out);
  std::vector<std::string> cells;
  for (std::size_t i = 0; i < tallies.size(); ++i) {
    const entity_tally& tally = tallies[i];
    if (!tally.worked) continue;
    const countries::country_entity& entity = *finder.entities()[i];
    cells = {visible(entity.prefix),      visible(entity.name),
             std::to_string(entity.dxcc), visible(entity.continent),
             band_list(tally.bands),      group_list(tally.groups),
             moment_day(tally.first),     confirmation_text(tally.received)};
    table.add(std::vector<std::string_view>(cells.begin(), cells.end()));
  }
  table.finish();
}

// The entity by band grid: C confirmed for DXCC on that band, W worked.
void write_grid(const command_context& c, const country_finder& finder,
                const std::vector<entity_tally>& tallies) {
  std::uint64_t used = 0;
  for (const entity_tally& tally : tallies) used |= tally.bands;
  std::vector<column> columns{{"Prefixe"}, {"Entite"}};
  std::vector<std::size_t> bands;
  for (std::size_t b = 0; b < kBandOrder.size(); ++b) {
    if ((used >> b & 1) == 0) continue;
    bands.push_back(b);
    columns.push_back({kBandOrder[b], true});
  }
  text_table table(columns, c.out);
  std::vector<std::size_t> worked(bands.size(), 0);
  std::vector<std::size_t> confirmed(bands.size(), 0);
  std::vector<std::string> cells;
  for (std::size_t i = 0; i < tallies.size(); ++i) {
    const entity_tally& tally = tallies[i];
    if (!tally.worked) continue;
    const countries::country_entity& entity = *finder.entities()[i];
    cells = {visible(entity.prefix), visible(entity.name)};
    for (std::size_t k = 0; k < bands.size(); ++k) {
      const std::uint64_t mask = std::uint64_t{1} << bands[k];
      const bool is_worked = (tally.bands & mask) != 0;
      const bool is_confirmed = (tally.confirmed_bands & mask) != 0;
      worked[k] += is_worked ? 1 : 0;
      confirmed[k] += is_confirmed ? 1 : 0;
      cells.push_back(is_confirmed ? "C" : is_worked ? "W" : ".");
    }
    table.add(std::vector<std::string_view>(cells.begin(), cells.end()));
  }
  for (const auto& [title, counts] :
       {std::pair{"contactees", &worked}, {"confirmees", &confirmed}}) {
    cells = {"", title};
    for (const std::size_t count : *counts) cells.push_back(std::to_string(count));
    table.add(std::vector<std::string_view>(cells.begin(), cells.end()));
  }
  table.finish();
}

std::string apart_text(const apart_counts& apart) {
  // "N QSO ... : compte(s) a part.", the reason on a line of its own.
  std::string text;
  const auto line = [&](std::size_t count, std::string_view what, std::string_view after) {
    if (count == 0) return;
    text += counted(count, "QSO", "QSO") + " " + std::string(what) + " : compte" +
            (count > 1 ? "s" : "") + " a part" + std::string(after) + ".\n";
  };
  line(apart.no_entity, "sans entite DXCC (/MM, /AM, ou DXCC=0 dans les details)", "");
  std::string numbers;
  for (const int number : apart.deleted_numbers) {
    numbers += (numbers.empty() ? "" : ", ") + std::to_string(number);
  }
  line(apart.deleted, "avec une entite supprimee dans les details (DXCC=" + numbers + ")", "");
  line(apart.unknown_number, "avec un numero DXCC inconnu du fichier des pays", "");
  line(apart.unresolved, "dont l'indicatif ne donne aucun pays",
       " ;\n  velkrin-journal verifie les montre");
  if (apart.uncertain > 0) {
    text += counted(apart.uncertain, "QSO", "QSO") + " rattache" +
            (apart.uncertain > 1 ? "s" : "") +
            " a la France par ses prefixes TO ou TX, qu'emploie aussi l'outre-mer :\n"
            "  a verifier (velkrin-journal complete LIGNE DXCC=NUMERO).\n";
  }
  return text;
}

}  // namespace

int worked_countries(const command_context& c) {
  const countries::country_source* source = country_data_for(c, true);
  if (source == nullptr) return kExitFailure;
  if (c.options.country_source) {
    std::string text = "Fichier des pays : " + visible(source->path) + "\nVersion : ";
    text += source->data.version.empty() ? std::string("inconnue (le fichier n'en donne pas)")
                                         : countries::version_date(source->data.version);
    c.out.write(text + "\n");
    return finish_output(c, kExitSuccess);
  }

  country_finder finder(source->data);
  std::vector<entity_tally> tallies(finder.entities().size());
  apart_counts apart;
  fact_finder facts_finder(c.options.user_modes);
  band_positions positions;
  const std::optional<adif_mode>* last_mode = nullptr;
  std::optional<countries::mode_group> last_group;
  std::uint64_t newest = 0;
  const bool read = read_selected(
      c, facts_finder,
      [&](const qso_values& qso, const qso_facts& facts, std::size_t, std::string_view,
          const details_record* details) {
        const std::uint64_t moment = qso_moment(facts, qso.debut);
        if (moment != kNoMoment) newest = std::max(newest, moment);
        const award_fields fields = award_fields_of(details);
        const qso_country country = finder.find(qso.indicatif, fields);
        switch (country.where) {
          case placement::no_entity:
            ++apart.no_entity;
            return;
          case placement::deleted_entity:
            ++apart.deleted;
            if (!std::binary_search(apart.deleted_numbers.begin(), apart.deleted_numbers.end(),
                                    country.dxcc)) {
              apart.deleted_numbers.insert(
                  std::upper_bound(apart.deleted_numbers.begin(), apart.deleted_numbers.end(),
                                   country.dxcc),
                  country.dxcc);
            }
            return;
          case placement::unknown_number:
            ++apart.unknown_number;
            return;
          case placement::unresolved:
            ++apart.unresolved;
            return;
          case placement::entity:
            break;
        }
        if (country.uncertain) ++apart.uncertain;
        entity_tally& tally = tallies[country.entity];
        tally.worked = true;
        tally.first = std::min(tally.first, moment);
        const std::size_t band = positions.of(facts.band);
        const std::uint64_t band_bit = band < 64 ? std::uint64_t{1} << band : 0;
        tally.bands |= band_bit;
        if (facts.mode != last_mode) {
          last_mode = facts.mode;
          last_group = *facts.mode ? countries::mode_group_of((*facts.mode)->mode) : std::nullopt;
        }
        if (last_group)
          tally.groups |= static_cast<std::uint8_t>(1u << static_cast<unsigned>(*last_group));
        tally.received |=
            fields.confirmations & static_cast<countries::confirmation_set>(
                                       countries::accepted(award::dxcc) | bit(confirmation::eqsl));
        if (countries::confirms(award::dxcc, fields.confirmations))
          tally.confirmed_bands |= band_bit;
      });
  if (!read) return kExitFailure;
  if (newest != 0) note_stale_country_data(c, std::to_string(newest / 10000));

  if (c.options.by_band) {
    write_grid(c, finder, tallies);
  } else {
    write_rows(c, finder, tallies);
  }
  std::size_t worked = 0;
  std::size_t confirmed = 0;
  for (const entity_tally& tally : tallies) {
    worked += tally.worked ? 1 : 0;
    confirmed += countries::confirms(award::dxcc, tally.received) ? 1 : 0;
  }
  c.out.write("\n" + counted(worked, "entite DXCC contactee", "entites DXCC contactees") + ", " +
              counted(confirmed, "confirmee", "confirmees") + " (" +
              std::string(countries::accepted_text(award::dxcc)) +
              " ; eQSL ne compte pas pour le DXCC).\n" + apart_text(apart));
  return finish_output(c, kExitSuccess);
}

}  // namespace velkrin::journal
