// velkrin-journal diplomes: where the common awards stand, worked and
// confirmed by the confirmations each accepts (countries/awards.hpp), with
// what is missing from the finite lists; --diplome shows one in full.
#include <algorithm>
#include <array>
#include <map>

#include "console/visible_text.hpp"
#include "countries/departments.hpp"
#include "journal/commands.hpp"
#include "journal/qso_countries.hpp"
#include "journal/reading.hpp"

namespace velkrin::journal {
namespace {

using countries::award;

constexpr std::size_t kZones = 40;
constexpr std::size_t kLineWidth = 78;
// The lines of French QSOs without a department named in the summary; all
// of them with --diplome DDFM.
constexpr std::size_t kLinesShown = 10;
// Locator squares count from 6 m up, as VHF awards do.
constexpr std::size_t kFirstLocatorBand = 14;
static_assert(kBandOrder[kFirstLocatorBand] == "6m");

struct item_tally {
  bool worked = false;
  bool confirmed = false;
  first_qso first;

  void add(award which, countries::confirmation_set received, std::uint64_t moment,
           std::size_t line, std::string_view call) {
    worked = true;
    confirmed = confirmed || countries::confirms(which, received);
    first.offer(moment, line, call);
  }
};

// An award's items, named, in their order.
struct named_item {
  std::string name;
  const item_tally* tally;
};

struct award_words {
  std::string_view heading;  // "DXCC (entites)"
  bool feminine;             // "contactees" or "contactes"
};

award_words words_of(award which) {
  switch (which) {
    case award::dxcc:
      return {"DXCC (entites)", true};
    case award::waz:
      return {"WAZ (zones CQ)", true};
    case award::wac:
      return {"WAC (continents)", false};
    case award::ddfm:
      return {"DDFM (departements)", false};
    case award::locators:
      return {"LOCATORS (carres, de 6 m en montant)", false};
  }
  return {"", false};
}

std::string agreed(std::string_view word, bool feminine, bool many) {
  return std::string(word) + (feminine ? "e" : "") + (many ? "s" : "");
}

// "  manquantes : 01 02 03", wrapped at kLineWidth.
std::string wrapped(std::string_view title, const std::vector<std::string>& items) {
  if (items.empty()) return {};
  std::string text = "  " + std::string(title) + " :";
  std::size_t width = text.size();
  for (const std::string& item : items) {
    if (width + 1 + item.size() > kLineWidth) {
      text += "\n   ";
      width = 3;
    }
    text += " " + item;
    width += 1 + item.size();
  }
  return text + "\n";
}

class award_tallies {
 public:
  explicit award_tallies(const country_finder& finder)
      : finder_(finder), entities_(finder.entities().size()) {}

  void add(const qso_values& qso, const qso_facts& facts, std::size_t line,
           const award_fields& fields, const qso_country& country, std::size_t band) {
    const std::uint64_t moment = qso_moment(facts, qso.debut);
    const countries::confirmation_set received = fields.confirmations;
    const std::string_view call = qso.indicatif;
    if (country.where == placement::entity) {
      entities_[country.entity].add(award::dxcc, received, moment, line, call);
    } else if (country.where != placement::no_entity) {
      ++apart_;
    }
    if (country.where == placement::no_entity) return;
    if (country.cq >= 1 && country.cq <= static_cast<int>(kZones)) {
      zones_[static_cast<std::size_t>(country.cq) - 1].add(award::waz, received, moment, line,
                                                           call);
    }
    const auto continents = countries::wac_continents();
    for (std::size_t k = 0; k < continents.size(); ++k) {
      if (continents[k] == country.continent) {
        continents_[k].add(award::wac, received, moment, line, call);
      }
    }
    if (country.where == placement::entity && countries::carries_departments(country.dxcc)) {
      add_department(fields.state, country.dxcc, received, moment, line, call);
    }
    if (band >= kFirstLocatorBand && band < kBandOrder.size()) {
      add_squares(fields, band, received, moment, line, call);
    }
  }

  std::string summary() const;
  std::string in_full(const command_context& c, award which) const;

 private:
  void add_department(std::string_view state, int dxcc, countries::confirmation_set received,
                      std::uint64_t moment, std::size_t line, std::string_view call) {
    const auto code = countries::department_of(dxcc, state);
    if (!code) {
      without_department_.push_back(line);
      return;
    }
    const auto list = countries::ddfm_departments();
    for (std::size_t k = 0; k < list.size(); ++k) {
      if (list[k].code == *code) departments_[k].add(award::ddfm, received, moment, line, call);
    }
  }

  void add_squares(const award_fields& fields, std::size_t band,
                   countries::confirmation_set received, std::uint64_t moment, std::size_t line,
                   std::string_view call) {
    // A station on the edge of squares counts for each of them.
    std::string_view grids = fields.vucc_grids.empty() ? fields.gridsquare : fields.vucc_grids;
    while (!grids.empty()) {
      const std::size_t comma = grids.find(',');
      std::string_view one = grids.substr(0, comma);
      grids = comma == std::string_view::npos ? std::string_view() : grids.substr(comma + 1);
      while (!one.empty() && one.front() == ' ') one.remove_prefix(1);
      while (!one.empty() && one.back() == ' ') one.remove_suffix(1);
      if (const auto square = countries::grid_square_of(one)) {
        squares_[band][*square].add(award::locators, received, moment, line, call);
      }
    }
  }

  std::vector<named_item> items(award which) const;
  std::string count_line(award which, const std::vector<named_item>& list, std::size_t total) const;
  std::string without_department_text(std::size_t shown) const;

  const country_finder& finder_;
  std::vector<item_tally> entities_;
  std::array<item_tally, kZones> zones_{};
  std::array<item_tally, 6> continents_{};
  std::array<item_tally, 96> departments_{};
  std::map<std::size_t, std::map<std::string, item_tally>> squares_;  // by band position
  std::vector<std::size_t> without_department_;                       // lines
  std::size_t apart_ = 0;
};

std::vector<named_item> award_tallies::items(award which) const {
  std::vector<named_item> list;
  switch (which) {
    case award::dxcc:
      for (std::size_t i = 0; i < entities_.size(); ++i) {
        list.push_back({visible(finder_.entities()[i]->prefix), &entities_[i]});
      }
      break;
    case award::waz:
      for (std::size_t k = 0; k < kZones; ++k) list.push_back({std::to_string(k + 1), &zones_[k]});
      break;
    case award::wac:
      for (std::size_t k = 0; k < continents_.size(); ++k) {
        list.push_back({std::string(countries::wac_continents()[k]), &continents_[k]});
      }
      break;
    case award::ddfm:
      for (std::size_t k = 0; k < departments_.size(); ++k) {
        list.push_back({std::string(countries::ddfm_departments()[k].code), &departments_[k]});
      }
      break;
    case award::locators:
      break;
  }
  return list;
}

std::string award_tallies::count_line(award which, const std::vector<named_item>& list,
                                      std::size_t total) const {
  const award_words words = words_of(which);
  std::size_t worked = 0;
  std::size_t confirmed = 0;
  for (const named_item& item : list) {
    worked += item.tally->worked ? 1 : 0;
    confirmed += item.tally->confirmed ? 1 : 0;
  }
  return std::string(words.heading) + " : " + std::to_string(worked) + " " +
         agreed("contacte", words.feminine, worked > 1) + ", " + std::to_string(confirmed) + " " +
         agreed("confirme", words.feminine, confirmed > 1) + ", sur " + std::to_string(total) +
         "\n";
}

std::string award_tallies::without_department_text(std::size_t shown) const {
  if (without_department_.empty()) return {};
  std::string text = "  " + counted(without_department_.size(), "QSO", "QSO") +
                     " avec la France ou la Corse sans departement (STATE) : ligne" +
                     (without_department_.size() > 1 ? "s" : "");
  for (std::size_t k = 0; k < without_department_.size() && k < shown; ++k) {
    text += (k == 0 ? " " : ", ") + std::to_string(without_department_[k]);
  }
  if (without_department_.size() > shown) text += "...";
  return text + "\n    (velkrin-journal complete LIGNE STATE=NN y met le departement)\n";
}

std::string award_tallies::summary() const {
  std::string text;
  for (const award which : countries::kAwards) {
    if (which == award::locators) continue;
    const std::vector<named_item> list = items(which);
    text += count_line(which, list, list.size());
    if (which == award::dxcc) {
      if (apart_ > 0) {
        text += "  " + counted(apart_, "QSO", "QSO") + " sans entite actuelle connue, compte" +
                (apart_ > 1 ? "s" : "") + " a part (velkrin-journal pays)\n";
      }
      continue;  // its missing entities: with --diplome DXCC
    }
    const bool feminine = words_of(which).feminine;
    std::vector<std::string> missing;
    std::vector<std::string> unconfirmed;
    for (const named_item& item : list) {
      if (!item.tally->worked) missing.push_back(item.name);
      if (item.tally->worked && !item.tally->confirmed) unconfirmed.push_back(item.name);
    }
    text += wrapped(agreed("manquant", feminine, true), missing);
    text += wrapped("a confirmer", unconfirmed);
    if (which == award::ddfm) text += without_department_text(kLinesShown);
  }
  text += std::string(words_of(award::locators).heading) + " :";
  if (squares_.empty()) text += " aucun carre contacte";
  text += "\n";
  for (const auto& [band, squares] : squares_) {
    std::size_t confirmed = 0;
    for (const auto& [square, tally] : squares) confirmed += tally.confirmed ? 1 : 0;
    text += "  " + std::string(kBandOrder[band]) + " : " + std::to_string(squares.size()) + " " +
            agreed("contacte", false, squares.size() > 1) + ", " + std::to_string(confirmed) + " " +
            agreed("confirme", false, confirmed > 1) + "\n";
  }
  text += "\nConfirmations comptees :";
  for (const award which : countries::kAwards) {
    text += std::string(which == award::dxcc ? " " : " ; ") +
            std::string(countries::award_name(which)) + " " +
            std::string(countries::accepted_text(which));
  }
  return text + ". eQSL ne compte pour aucun.\n";
}

std::string award_tallies::in_full(const command_context& c, award which) const {
  const award_words words = words_of(which);
  const auto state = [&](const item_tally& tally) {
    return tally.confirmed ? agreed("confirme", words.feminine, false)
           : tally.worked  ? agreed("contacte", words.feminine, false)
                           : agreed("manquant", words.feminine, false);
  };
  std::vector<column> columns;
  switch (which) {
    case award::dxcc:
      columns = {{"Prefixe"}, {"Entite"}, {"DXCC", true}};
      break;
    case award::waz:
      columns = {{"Zone", true}};
      break;
    case award::wac:
      columns = {{"Continent"}};
      break;
    case award::ddfm:
      columns = {{"Dept"}, {"Nom"}};
      break;
    case award::locators:
      columns = {{"Bande"}, {"Carre"}};
      break;
  }
  columns.insert(columns.end(), {{"Etat"}, {"Premier QSO"}, {"Indicatif"}, {"Ligne", true}});
  text_table table(columns, c.out);
  std::vector<std::string> cells;
  const auto add_row = [&](std::vector<std::string> named, const item_tally& tally) {
    cells = std::move(named);
    cells.push_back(state(tally));
    cells.push_back(tally.worked ? moment_day(tally.first.moment) : "-");
    cells.push_back(tally.worked ? visible(tally.first.call) : "-");
    cells.push_back(tally.worked ? std::to_string(tally.first.line) : "-");
    table.add(std::vector<std::string_view>(cells.begin(), cells.end()));
  };
  const std::vector<named_item> list = items(which);
  for (std::size_t k = 0; k < list.size(); ++k) {
    switch (which) {
      case award::dxcc: {
        const countries::country_entity& entity = *finder_.entities()[k];
        add_row({list[k].name, visible(entity.name), std::to_string(entity.dxcc)}, *list[k].tally);
        break;
      }
      case award::ddfm:
        add_row({list[k].name, std::string(countries::ddfm_departments()[k].name)}, *list[k].tally);
        break;
      default:
        add_row({list[k].name}, *list[k].tally);
        break;
    }
  }
  std::size_t squares = 0;
  for (const auto& [band, by_square] : squares_) {
    if (which != award::locators) break;
    for (const auto& [square, tally] : by_square) {
      add_row({std::string(kBandOrder[band]), square}, tally);
      ++squares;
    }
  }
  table.finish();
  std::string text = "\n";
  if (which == award::locators) {
    text += std::string(words.heading) + " : " +
            counted(squares, "carre contacte", "carres contactes") + ", bande par bande\n";
  } else {
    text += count_line(which, list, list.size());
  }
  if (which == award::ddfm) text += without_department_text(without_department_.size());
  return text + "Confirmations comptees : " + std::string(countries::accepted_text(which)) + ".\n";
}

}  // namespace

int award_progress(const command_context& c) {
  const countries::country_source* source = country_data_for(c, true);
  if (source == nullptr) return kExitFailure;
  country_finder finder(source->data);
  award_tallies tallies(finder);
  fact_finder facts_finder(c.options.user_modes);
  band_positions positions;
  std::uint64_t newest = 0;
  const bool read =
      read_selected(c, facts_finder,
                    [&](const qso_values& qso, const qso_facts& facts, std::size_t line,
                        std::string_view, const details_record* details) {
                      const std::uint64_t moment = qso_moment(facts, qso.debut);
                      if (moment != kNoMoment) newest = std::max(newest, moment);
                      const award_fields fields = award_fields_of(details);
                      tallies.add(qso, facts, line, fields, finder.find(qso.indicatif, fields),
                                  positions.of(facts.band));
                    });
  if (!read) return kExitFailure;
  if (newest != 0) note_stale_country_data(c, std::to_string(newest / 10000));
  c.out.write(c.options.award ? tallies.in_full(c, *c.options.award) : tallies.summary());
  return finish_output(c, kExitSuccess);
}

}  // namespace velkrin::journal
