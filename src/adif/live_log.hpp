// The live log of velkrin-adif --ecoute apart from the network: each
// datagram that WSJT-X or JTDX sends, taken in turn, its QSOs appended to the
// logbook and told on `out` (new entity, band or mode for its entity when a
// country file was read), its problems on `err`. run_listen() receives the
// datagrams; a test hands them over itself.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "adif/command_line.hpp"
#include "countries/country_source.hpp"
#include "logbook/logbook_file.hpp"

namespace velkrin::adif {

class live_log {
 public:
  // `countries` (nullptr when none) must outlive it.
  live_log(const command_options& options, const countries::country_source* countries,
           std::ostream& out, std::ostream& err);
  ~live_log();
  live_log(const live_log&) = delete;
  live_log& operator=(const live_log&) = delete;

  // Reads the whole logbook, before the first datagram: the QSOs it holds,
  // for the duplicate rule, and the entities, bands and modes worked.
  std::optional<logbook_error> start();
  // The owner's call sign in the logbook's last header, once start() read it.
  const std::optional<std::string>& owner() const;
  // Why no QSO can be written with its details, once start() has read the
  // logbook: its details file names another logbook or cannot be read.
  // Empty when they can.
  std::string details_refusal() const;
  // The country file's note when it is over a year older than the newest
  // QSO read so far (see stale_data_note), once per run; empty otherwise.
  std::string stale_data_note();
  // Decodes one datagram and logs the QSOs it carries.
  void take(const std::string& datagram);
  // True once a QSO could not be written.
  bool lost_a_qso() const;

 private:
  class listener;
  std::unique_ptr<listener> listener_;
};

}  // namespace velkrin::adif
