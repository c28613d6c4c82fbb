// velkrin-adif --importe: the QSOs of an ADIF file appended to the logbook,
// all or nothing, and velkrin-adif --ecoute: the QSOs that WSJT-X and JTDX
// log, appended one by one as they come.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "adif/adif_import.hpp"
#include "adif/command_line.hpp"
#include "countries/country_source.hpp"
#include "logbook/qso_rules.hpp"
#include "platform/platform.hpp"

namespace velkrin::adif {

// The QSOs of one run, checked against the logbook and against each other by
// the duplicate rule, with what the summary says about them.
class import_batch {
 public:
  import_batch(import_settings settings, mode_table user_modes);

  // The owner's call sign in the logbook's last header, once it is read.
  void set_owner(std::string owner) { settings_.owner = std::move(owner); }

  // A QSO already in the logbook.
  void know(const qso_record& qso);

  enum class outcome { added, duplicate, reported };
  // Converts one record; an added QSO goes into `qso` and its details (no
  // fields when it has none, see details_of) into `details`, a reported
  // one's reason (with the record's label) into `message`.
  outcome take(const adif_read_record& record, qso_record& qso, details_record& details,
               std::string& message);

  std::size_t added() const { return added_; }
  std::size_t duplicates() const { return duplicates_; }
  std::size_t reported() const { return reported_; }
  // "Champs non repris ... : NAME (2), ..." (see imported_qso::dropped)
  // or nothing when none.
  std::string dropped_summary() const;

  const import_settings& settings() const { return settings_; }

 private:
  import_settings settings_;
  mode_table user_modes_;
  duplicate_index known_;
  std::size_t added_ = 0;
  std::size_t duplicates_ = 0;
  std::size_t reported_ = 0;
  std::vector<std::pair<std::string, std::size_t>> dropped_;  // in first-seen order
  std::unordered_map<std::string, std::size_t> dropped_at_;
};

// The classes of --classe as a class-to-mode table, added to the user's
// --mode, so that the duplicate rule reads an imported class as the mode it
// came from.
mode_table modes_with_classes(const mode_table& user_modes, const class_table& classes);

int run_import(const command_options& options, std::ostream& out, std::ostream& err);

// Takes the exclusive lock of an existing logbook, through its links,
// saying on `err` when another instance keeps it waiting; the end of the
// French sentence "Le journal X ..." when it cannot ("n'existe pas ...").
std::optional<std::string> lock_existing_logbook(const std::string& logbook_path,
                                                 platform::locked_file& logbook, std::ostream& err);

// `countries` is the country data that tells a new entity, band or mode;
// nullptr when no country file was found, `why_none` then saying why.
int run_listen(const command_options& options, const countries::country_source* countries,
               const std::string& why_none, std::ostream& out, std::ostream& err);

// "[ADRESSE:]PORT" as an IPv4 address and a port; false when malformed.
bool parse_endpoint(std::string_view text, std::uint32_t& address, std::uint16_t& port);

// "ADRESSE[/BITS]" (192.168.1.20, 192.168.1.0/24); false when malformed.
bool parse_address_range(std::string_view text, address_range& range);

// Whether the listener takes a datagram that `sender` sent to `destination`,
// listening on `listened`: on a multicast group, only what was sent to that
// group; on any address but a loopback one (127.x.x.x, which only this
// machine can reach), only what comes from one of `own` addresses (this
// machine's) or from an `accepted` range.
bool sender_accepted(std::uint32_t listened, std::uint32_t sender, std::uint32_t destination,
                     const std::vector<std::uint32_t>& own,
                     const std::vector<address_range>& accepted);

// The beginning of a file that is ADIF, not a logbook: it holds an <EOH> or
// <EOR> marker, or begins with a field.
bool looks_like_adif(std::string_view start);

}  // namespace velkrin::adif
