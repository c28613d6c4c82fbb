// velkrin-journal indicatif: whether a station was worked before, when, on
// which bands and modes, and the QSOs with it.
#include <string>
#include <vector>

#include "console/visible_text.hpp"
#include "journal/commands.hpp"
#include "journal/reading.hpp"

namespace velkrin::journal {

int worked_before(const command_context& c) {
  fact_finder finder(c.options.user_modes);
  const std::string station = base_call(c.options.call);
  std::vector<kept_qso> found;
  band_mode_grid grid;
  std::optional<calendar_date> first;
  std::optional<calendar_date> last;
  const bool read = read_selected(
      c, finder,
      [&](const qso_values& qso, const qso_facts& facts, std::size_t line, std::string_view,
          const details_record*) {
        if (!contains_any_case(qso.indicatif, station) || base_call(qso.indicatif) != station) {
          return;
        }
        found.push_back({qso.record(), line, {}, {}});
        grid.add(facts.band.value_or(kNoBand), qso.frequence, mode_name(qso, facts));
        if (facts.date && (!first || *facts.date < *first)) first = facts.date;
        if (facts.date && (!last || *facts.date > *last)) last = facts.date;
      },
      station);
  if (!read) return kExitFailure;
  std::string scratch;
  const std::string shown(visible(station, scratch));
  if (found.empty()) {
    c.out.write(shown + " : jamais contacte (aucun QSO dans le journal).\n");
    return finish_output(c, kExitAnswer);
  }
  const auto day = [](const calendar_date& date) {
    const auto two = [](int n) { return std::string{char('0' + n / 10), char('0' + n % 10)}; };
    return two(date.day) + "-" + two(date.month) + "-" + std::to_string(date.year);
  };
  std::string summary = shown + " : " + std::to_string(found.size()) + " QSO";
  if (first) summary += ", du " + day(*first) + " au " + day(*last);
  c.out.write(summary + ".\n\n");
  grid.write(c.out, ".");
  c.out.write("\n");
  qso_rows rows(c.out, c.options.short_table);
  qso_facts facts;
  for (const kept_qso& kept : found) {
    finder.find(kept.qso, facts);
    rows.add(kept.qso, facts, kept.line);
  }
  rows.finish();
  return finish_output(c, kExitSuccess);
}

}  // namespace velkrin::journal
