// velkrin-journal stats: counts of the selected QSOs by year, band and mode,
// or by DXCC entity or continent (--par), distinct stations, first and last
// QSO.
#include <algorithm>
#include <array>
#include <map>

#include "console/visible_text.hpp"
#include "journal/commands.hpp"
#include "journal/qso_entity.hpp"
#include "journal/reading.hpp"

namespace velkrin::journal {
namespace {

constexpr std::size_t kBarWidth = 40;

// A bar of "#" for `count` out of `largest`, at least one for any count.
std::string bar(std::size_t count, std::size_t largest) {
  if (count == 0 || largest == 0) return "";
  return std::string(std::max<std::size_t>(1, (count * kBarWidth + largest / 2) / largest), '#');
}

// The stations seen, as 64-bit hashes of their base calls in an open
// addressing table: 8 bytes a station, whatever their number. The table
// outgrows the processor's caches with the stations of a big logbook, so
// hashes are placed a batch at a time, their slots fetched ahead together
// rather than waited for one after the other.
class station_set {
 public:
  void add(std::string_view base) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : base) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    if (hash == 0) hash = 1;  // 0 marks a free slot
    pending_[pending_count_++] = hash;
    if (pending_count_ == pending_.size()) place_pending();
  }
  std::size_t size() {
    place_pending();
    return count_;
  }

 private:
  // The slot from the hash's high bits after a multiplication: FNV-1a's
  // low bits differ little between call signs that differ in their last
  // letters, which made long runs of probes.
  static std::size_t first_slot(std::uint64_t hash, std::size_t mask) {
    return static_cast<std::size_t>((hash * 0x9E3779B97F4A7C15ull) >> 32) & mask;
  }
  static bool place(std::vector<std::uint64_t>& slots, std::uint64_t hash) {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = first_slot(hash, mask);; i = (i + 1) & mask) {
      if (slots[i] == hash) return false;
      if (slots[i] == 0) {
        slots[i] = hash;
        return true;
      }
    }
  }
  void place_pending() {
    while ((count_ + pending_count_) * 2 > slots_.size()) grow();
#if defined(__GNUC__)
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = 0; i < pending_count_; ++i) {
      __builtin_prefetch(&slots_[first_slot(pending_[i], mask)]);
    }
#endif
    for (std::size_t i = 0; i < pending_count_; ++i) {
      if (place(slots_, pending_[i])) ++count_;
    }
    pending_count_ = 0;
  }
  void grow() {
    std::vector<std::uint64_t> bigger(slots_.empty() ? 1024 : slots_.size() * 2, 0);
    for (const std::uint64_t hash : slots_) {
      if (hash != 0) place(bigger, hash);
    }
    slots_.swap(bigger);
  }
  std::vector<std::uint64_t> slots_;
  std::size_t count_ = 0;
  std::array<std::uint64_t, 16> pending_{};
  std::size_t pending_count_ = 0;
};

// When a QSO took place, for first and last: minutes since 1970, or none.
std::optional<std::int64_t> minute_of(const qso_facts& facts, std::int32_t debut) {
  if (!facts.date) return std::nullopt;
  return day_number(*facts.date) * 1440 +
         (is_valid_time(debut) ? debut / 100 * 60 + debut % 100 : 0);
}

// The QSOs by entity (--par pays) or continent (--par continent).
class entity_counts {
 public:
  entity_counts(const countries::country_data& data, grouping by) : finder_(data), by_(by) {}

  void add(std::string_view call, const details_record* details) {
    const qso_entity found = finder_.of_qso(call, details);
    if (by_ == grouping::continent) {
      ++continents_[continent_slot(found.continent)];
    } else if (found.dxcc > 0) {
      const auto at = static_cast<std::size_t>(found.dxcc);
      if (entities_.size() <= at) entities_.resize(at + 1, 0);
      ++entities_[at];
    } else if (found.maritime || details_dxcc_zero(details)) {
      ++no_entity_;
    } else {
      ++unknown_;
    }
  }

  // By entity: name, prefix, DXCC number, count and bar, the most worked
  // first, then the QSOs of no entity and those the file does not know. By
  // continent: name, code, count and bar, the most worked first.
  void write(output& out) const {
    std::vector<row> rows;
    if (by_ == grouping::continent) {
      for (std::size_t k = 0; k < continents_.size(); ++k) {
        if (continents_[k] == 0) continue;
        rows.push_back({std::string(kContinents[k].name), std::string(kContinents[k].code), "",
                        continents_[k]});
      }
    } else {
      for (std::size_t dxcc = 0; dxcc < entities_.size(); ++dxcc) {
        if (entities_[dxcc] == 0) continue;
        const int number = static_cast<int>(dxcc);
        const countries::country_entity* entity = finder_.numbered(number);
        rows.push_back(entity ? row{visible(entity->name), visible(entity->prefix),
                                    std::to_string(number), entities_[dxcc]}
                              : row{"(absente du fichier des pays)", "", std::to_string(number),
                                    entities_[dxcc]});
      }
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const row& a, const row& b) { return a.count > b.count; });
    const std::size_t named = rows.size();
    if (no_entity_ > 0) rows.push_back({"aucune entite DXCC (/MM, /AM)", "", "", no_entity_});
    if (unknown_ > 0) rows.push_back({"inconnue du fichier des pays", "", "", unknown_});

    out.write(by_ == grouping::pays ? "\nPar pays (" + plural(named, "entite") + " DXCC) :\n"
                                    : std::string("\nPar continent :\n"));
    std::size_t largest = 0;
    for (const row& each : rows) largest = std::max(largest, each.count);
    std::vector<column> columns{{""}, {""}};
    if (by_ == grouping::pays) columns.push_back({"", true});
    columns.insert(columns.end(), {{"", true}, {""}});
    text_table table(columns, out);
    std::vector<std::string_view> cells;
    std::string count, drawn;
    for (const row& each : rows) {
      count = std::to_string(each.count);
      drawn = bar(each.count, largest);
      cells = {each.name, each.code};
      if (by_ == grouping::pays) cells.push_back(each.dxcc);
      cells.insert(cells.end(), {count, drawn});
      table.add(cells);
    }
    table.finish();
  }

 private:
  struct row {
    std::string name;
    std::string code;  // prefix or continent
    std::string dxcc;
    std::size_t count = 0;
  };
  struct continent_name {
    std::string_view code;
    std::string_view name;
  };
  // The continents of the country file, and a last slot for none.
  static constexpr std::array<continent_name, 8> kContinents = {{{"EU", "Europe"},
                                                                 {"AS", "Asie"},
                                                                 {"AF", "Afrique"},
                                                                 {"NA", "Amerique du Nord"},
                                                                 {"SA", "Amerique du Sud"},
                                                                 {"OC", "Oceanie"},
                                                                 {"AN", "Antarctique"},
                                                                 {"", "aucun ou inconnu"}}};
  static std::size_t continent_slot(std::string_view code) {
    for (std::size_t k = 0; k + 1 < kContinents.size(); ++k) {
      if (kContinents[k].code == code) return k;
    }
    return kContinents.size() - 1;
  }
  // DXCC 0 in the details: no entity, as for /MM.
  static bool details_dxcc_zero(const details_record* details) {
    return details != nullptr && details_dxcc(*details) == 0;
  }

  entity_finder finder_;
  grouping by_;
  std::vector<std::size_t> entities_;  // by DXCC number
  std::size_t no_entity_ = 0;
  std::size_t unknown_ = 0;
  std::array<std::size_t, kContinents.size()> continents_{};
};

std::string describe(const kept_qso& qso) {
  std::string scratch;
  return std::string(visible(qso.qso.date, scratch)) + " " + clock_time(qso.qso.debut) + " " +
         std::string(visible(qso.qso.indicatif, scratch)) + " (ligne " + std::to_string(qso.line) +
         ")";
}

}  // namespace

int logbook_statistics(const command_context& c) {
  std::optional<entity_counts> by_entity;
  if (c.options.by) {
    const countries::country_source* countries = country_data_for(c, true);
    if (countries == nullptr) return kExitFailure;
    by_entity.emplace(countries->data, *c.options.by);
  }
  std::optional<calendar_date> newest;
  fact_finder finder(c.options.user_modes);
  std::map<int, std::size_t> years;  // 0 for a date that is none
  band_mode_grid grid;
  station_set stations;
  std::size_t total = 0;
  std::optional<std::int64_t> first_minute;
  std::optional<std::int64_t> last_minute;
  kept_qso first;
  kept_qso last;
  std::string mode;
  std::size_t* year_count = nullptr;  // in `years`, of the QSO before
  int last_year = 0;
  const bool read = read_selected(
      c, finder,
      [&](const qso_values& qso, const qso_facts& facts, std::size_t line, std::string_view,
          const details_record* details) {
        ++total;
        if (by_entity) {
          by_entity->add(qso.indicatif, details);
          if (facts.date && (!newest || *facts.date > *newest)) {
            newest = facts.date;
          }
        }
        if (const int year = facts.date ? facts.date->year : 0; !year_count || year != last_year) {
          year_count = &years[year];  // std::map keeps it in place
          last_year = year;
        }
        ++*year_count;
        mode = mode_name(qso, facts);
        grid.add(facts.band.value_or(kNoBand), qso.frequence, mode);
        stations.add(base_call(qso.indicatif));
        if (const auto minute = minute_of(facts, qso.debut)) {
          // Only what describe() shows: in date order every line is the
          // new last QSO.
          const auto keep = [&](kept_qso& kept) {
            kept.qso.date = qso.date;
            kept.qso.debut = qso.debut;
            kept.qso.indicatif = qso.indicatif;
            kept.line = line;
          };
          if (!first_minute || *minute < *first_minute) {
            first_minute = minute;
            keep(first);
          }
          if (!last_minute || *minute >= *last_minute) {
            last_minute = minute;
            keep(last);
          }
        }
      });
  if (!read) return kExitFailure;
  if (newest) {
    note_stale_country_data(
        c, std::to_string(newest->year * 10000 + newest->month * 100 + newest->day));
  }

  std::string text = std::to_string(total) + " QSO" +
                     (c.options.selection.any() ? " selectionne" + std::string(total > 1 ? "s" : "")
                                                : std::string()) +
                     ", " + plural(stations.size(), "station") + " differente" +
                     (stations.size() > 1 ? "s" : "") + ".\n";
  if (first_minute) {
    text += "Premier QSO : " + describe(first) + "\nDernier QSO : " + describe(last) + "\n";
  }
  c.out.write(text);
  if (total == 0) return finish_output(c, kExitSuccess);
  if (by_entity) {
    by_entity->write(c.out);
    return finish_output(c, kExitSuccess);
  }

  // A list of counts with their bars.
  const auto write_counts = [&](std::string_view title,
                                const std::vector<std::pair<std::string, std::size_t>>& counts) {
    std::size_t largest = 0;
    for (const auto& entry : counts) largest = std::max(largest, entry.second);
    c.out.write("\n" + std::string(title) + " :\n");
    text_table table({{""}, {"", true}, {""}}, c.out);
    std::vector<std::string> cells;
    for (const auto& [name, count] : counts) {
      cells = {visible(name), std::to_string(count), bar(count, largest)};
      table.add(std::vector<std::string_view>(cells.begin(), cells.end()));
    }
    table.finish();
  };
  std::vector<std::pair<std::string, std::size_t>> counts;
  for (const auto& [year, count] : years) {
    counts.emplace_back(year == 0 ? "date invalide" : std::to_string(year), count);
  }
  write_counts("Par annee", counts);
  counts.clear();
  for (const std::size_t b : grid.ordered_bands()) {
    const band_count& band = grid.bands()[b];
    counts.emplace_back(band.name == kNoBand ? "hors bande" : band.name, band.count);
  }
  write_counts("Par bande", counts);
  counts.clear();
  for (const std::size_t m : grid.ordered_modes()) counts.push_back(grid.modes()[m]);
  write_counts("Par mode", counts);
  c.out.write("\nBandes et modes :\n");
  grid.write(c.out, ".");
  return finish_output(c, kExitSuccess);
}

}  // namespace velkrin::journal
