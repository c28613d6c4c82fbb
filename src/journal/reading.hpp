// What the reading commands of velkrin-journal share, each used by more than
// one of them: reading the QSOs that the filters select, the table of QSO
// rows, the band by mode grid of counts, and the words they say about a
// logbook that cannot be read. Internal to the commands' files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "journal/commands.hpp"
#include "journal/selection.hpp"
#include "journal/text_table.hpp"
#include "logbook/logbook_file.hpp"

namespace velkrin::journal {

constexpr std::string_view kNoBand = "-";

std::string plural(std::size_t count, std::string_view word);

// A QSO kept for later: by --derniers, by indicatif, by doublons.
struct kept_qso {
  qso_record qso;
  std::size_t line = 0;
  std::string owner;
  std::optional<details_record> details;  // by --derniers, when the reader gives them
};

// `details` are the QSO's when the command reads them and it has some.
using qso_handler = std::function<void(const qso_values&, const qso_facts&, std::size_t line,
                                       std::string_view owner, const details_record* details)>;

void report_failure(const command_context& c, const std::string& reason);

// Runs `edit` on the logbook under its lock, saying on err when another
// program keeps it waiting; a failure to write is said on err and gives
// nothing. A refusal is the caller's to say.
std::optional<qso_edit_result> edit_locked_logbook(const command_context& c, const qso_edit& edit);

// The country data of a command that resolves call signs, loaded on first
// use; nullptr after saying why on err: as an error (the command then ends
// with kExitFailure) when --fichier-pays named the file or when `required`,
// as a note otherwise (the command goes on without entities). Says it once.
const countries::country_source* country_data_for(const command_context& c, bool required);
// True when country_data_for() found nothing and said so as an error.
bool country_data_failed(const command_context& c, bool required);

// "20230502" for the logbook's "02-05-2023": dates that compare as text.
std::string sortable_day(std::string_view date);

// Once per run, on err, the note that the country data is more than a year
// older than `newest_day` (YYYYMMDD), the newest QSO the command resolved.
void note_stale_country_data(const command_context& c, std::string_view newest_day);

// Reads the logbook and hands `take` each QSO that the filters select (with
// --derniers, the last N of them, at the end). Unreadable lines are
// reported on `err`. False when the logbook could not be read (said on err).
bool read_selected(const command_context& c, fact_finder& finder, const qso_handler& take,
                   const std::string& quick_needle = {});

// The rows of liste, indicatif and doublons.
class qso_rows {
 public:
  // With `with_details`, two columns show each QSO's reports and its
  // confirmations (confirmation_marks()) from its details.
  qso_rows(output& out, bool short_table, bool with_group = false, bool with_details = false);

  void add(const qso_values& qso, const qso_facts& facts, std::size_t line,
           std::string_view group = {}, const details_record* details = nullptr);
  void finish() { table_.finish(); }
  std::size_t rows() const { return table_.rows(); }

 private:
  std::vector<column> columns() const;
  // The widths the logbook's own columns have, for rows written before all
  // are seen.
  std::vector<std::size_t> minimum_widths() const;

  // "59/57": sent, then received, "-" for one missing.
  static constexpr std::string_view kReportsTitle = "Reports";
  // "CLe": card, LoTW, eQSL.
  static constexpr std::string_view kConfirmationsTitle = "QSL";
  bool short_;
  bool group_;
  bool details_;
  text_table table_;
  std::vector<std::string_view> cells_;
  std::string debut_, fin_, khz_, mode_, line_, reports_text_, marks_;
  std::string scratch_[5];
};

// The order of the bands in the ADIF table, by their lowest frequency seen.
struct band_count {
  std::string name;
  std::int32_t lowest_khz = 0;
  std::size_t count = 0;
};

// A band by mode grid of counts, bands in frequency order, modes by count.
class band_mode_grid {
 public:
  void add(std::string_view band, std::int32_t khz, std::string_view mode);
  const std::vector<band_count>& bands() const { return bands_; }
  const std::vector<std::pair<std::string, std::size_t>>& modes() const { return modes_; }

  // The grid as a table; `empty` stands in a cell with no QSO.
  void write(output& out, std::string_view empty) const;

  std::vector<std::size_t> ordered_bands() const;
  std::vector<std::size_t> ordered_modes() const;

 private:
  std::vector<band_count> bands_;
  std::vector<std::pair<std::string, std::size_t>> modes_;
  std::vector<std::vector<std::size_t>> cells_;
};

}  // namespace velkrin::journal
