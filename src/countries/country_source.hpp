// Finding and reading the country file for the commands (velkrin-journal,
// the export and the listener): the one part of the country data that
// touches files, through the platform layer. First found wins:
//   1. the file named by --fichier-pays;
//   2. cty.csv in the logbook's folder, where an operator drops the newer
//      file they downloaded;
//   3. cty.csv beside the program (the Windows ZIP ships one);
//   4. /usr/share/hamradio-files/cty.csv (Debian's hamradio-files; not on
//      Windows).
// The supercheck list (MASTER.SCP) is looked for the same way, without an
// option: in the logbook's folder, beside the program, then in
// /usr/share/hamradio-files/.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "countries/country_file.hpp"
#include "countries/supercheck.hpp"

namespace velkrin::countries {

inline constexpr std::string_view kCountryFileName = "cty.csv";
inline constexpr std::string_view kSystemCountryFile = "/usr/share/hamradio-files/cty.csv";
inline constexpr std::string_view kSupercheckFileName = "MASTER.SCP";
inline constexpr std::string_view kSystemSupercheckFile = "/usr/share/hamradio-files/MASTER.SCP";

// The places looked at, in order. `program_folder` ends with its separator
// (or is empty when unknown).
std::vector<std::string> country_file_candidates(const std::optional<std::string>& given,
                                                 std::string_view logbook,
                                                 std::string_view program_folder);

// The same for the supercheck list, which no option names.
std::vector<std::string> supercheck_candidates(std::string_view logbook,
                                               std::string_view program_folder);

struct country_source {
  std::string path;  // the file read, as it was named
  country_data data;
};

struct supercheck_source {
  std::string path;
  supercheck_list list;
};

// Loads the country file on first use and keeps it for the run.
class country_loader {
 public:
  country_loader(std::optional<std::string> given, std::string logbook)
      : given_(std::move(given)), logbook_(std::move(logbook)) {}

  // The data, or nullptr when no file could be read (problem() says why, in
  // French, as a sentence without its end).
  const country_source* get();
  const std::string& problem() const { return problem_; }
  // True once get() has been called.
  bool tried() const { return tried_; }
  // stale_data_note() for the data loaded, the first time it is not empty;
  // empty afterwards, so that a run says it once.
  std::string stale_note(std::string_view newest_qso);
  // True when the file was named by --fichier-pays: a failure to read it is
  // then an error of every command that would use it, not a note.
  bool given() const { return given_.has_value(); }

  // The supercheck list, loaded on first use and kept: nullptr when none is
  // found (the list is optional; nothing is said) or when the first found
  // cannot be read (supercheck_problem() says why, as problem() does).
  const supercheck_source* supercheck();
  const std::string& supercheck_problem() const { return supercheck_problem_; }

 private:
  std::optional<std::string> given_;
  std::string logbook_;
  bool tried_ = false;
  std::optional<country_source> source_;
  std::string problem_;
  bool stale_said_ = false;
  bool supercheck_tried_ = false;
  std::optional<supercheck_source> supercheck_;
  std::string supercheck_problem_;
};

// The French note, once per run, when the data is more than a year older
// than the newest QSO (YYYYMMDD) it was asked about: stale data sends new
// calls to the wrong entity. Empty when it is not, or when the file gives no
// version.
std::string stale_data_note(const country_source& source, std::string_view newest_qso);

// "02-05-2023" for the version "20230502"; the version itself otherwise.
std::string version_date(std::string_view version);

}  // namespace velkrin::countries
