// velkrin-journal liste: the QSOs that the filters select, one row each.
#include "journal/commands.hpp"
#include "journal/reading.hpp"

namespace velkrin::journal {

int list_qsos(const command_context& c) {
  fact_finder finder(c.options.user_modes);
  // Made at the first QSO, when the details file is known: the reports and
  // the confirmations get a column each when the logbook has details.
  std::optional<qso_rows> table;
  const auto rows = [&]() -> qso_rows& {
    if (!table) {
      table.emplace(c.out, c.options.short_table, false,
                    c.details != nullptr && c.details->state() == details_state::ready);
    }
    return *table;
  };
  const std::string needle =
      c.options.selection.call ? literal_part(*c.options.selection.call) : std::string();
  const bool read = read_selected(
      c, finder,
      [&](const qso_values& qso, const qso_facts& facts, std::size_t line, std::string_view,
          const details_record* details) { rows().add(qso, facts, line, {}, details); },
      needle);
  if (!read) return kExitFailure;
  rows().finish();
  return finish_output(c, kExitSuccess);
}

}  // namespace velkrin::journal
