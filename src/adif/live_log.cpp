// velkrin-adif --ecoute: the QSOs that WSJT-X and JTDX log, received as UDP
// datagrams and appended one at a time, each as a typed QSO is (same lock,
// same flush), so that velkrin may stay open on the same logbook.
#include "adif/live_log.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <ostream>
#include <vector>

#include "adif/conversions.hpp"
#include "adif/entity_fields.hpp"
#include "adif/logbook_import.hpp"
#include "console/text_format.hpp"
#include "console/visible_text.hpp"
#include "countries/worked_entities.hpp"
#include "logbook/logbook_file.hpp"
#include "logbook/logbook_reader.hpp"
#include "platform/platform.hpp"
#include "wsjtx/message.hpp"

namespace velkrin::adif {
namespace {

// How long one wait for a datagram lasts before Ctrl-C is looked at again.
constexpr int kWaitMs = 250;
// How old the list of this machine's addresses may be when a datagram from
// an address not in it comes.
constexpr std::chrono::seconds kAddressesMaxAge{5};

std::optional<std::uint32_t> number(std::string_view text, std::uint32_t max) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

std::string dotted(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xff) + "." +
         std::to_string((address >> 8) & 0xff) + "." + std::to_string(address & 0xff);
}

// "YYYYMMDD" and "HHMMSS" of a time in UTC.
std::pair<std::string, std::string> adif_date_time(const wsjtx::utc_time& time) {
  const std::chrono::year_month_day day{std::chrono::sys_days{std::chrono::days{time.days}}};
  const auto seconds = static_cast<std::int32_t>(time.milliseconds / 1000);
  return {
      zero_fill(static_cast<int>(day.year()), 4) +
          zero_fill(static_cast<std::int32_t>(unsigned{day.month()}), 2) +
          zero_fill(static_cast<std::int32_t>(unsigned{day.day()}), 2),
      zero_fill(seconds / 3600, 2) + zero_fill(seconds / 60 % 60, 2) + zero_fill(seconds % 60, 2)};
}

// A "QSO Logged" message as the ADIF record that "Logged ADIF" carries for
// the same QSO, so that both convert the same way.
adif_read_record record_of(const wsjtx::qso_logged& qso) {
  adif_read_record record;
  record.ordinal = 1;
  record.line = 1;
  const auto add = [&record](std::string_view name, std::string value) {
    if (!value.empty()) record.fields.push_back({std::string(name), std::move(value)});
  };
  add("CALL", qso.dx_call);
  add("GRIDSQUARE", qso.dx_grid);
  if (const auto mode = parse_adif_mode(qso.mode)) {
    add("MODE", mode->mode);
    add("SUBMODE", mode->submode);
  } else {
    add("MODE", qso.mode);
  }
  if (qso.time_on) {
    auto [date, time] = adif_date_time(*qso.time_on);
    add("QSO_DATE", std::move(date));
    add("TIME_ON", std::move(time));
  }
  if (qso.time_off) {
    auto [date, time] = adif_date_time(*qso.time_off);
    add("QSO_DATE_OFF", std::move(date));
    add("TIME_OFF", std::move(time));
  }
  if (qso.tx_frequency_hz > 0) {
    add("FREQ", std::to_string(qso.tx_frequency_hz / 1'000'000) + "." +
                    zero_fill(static_cast<std::int32_t>(qso.tx_frequency_hz % 1'000'000), 6));
  }
  add("RST_SENT", qso.report_sent);
  add("RST_RCVD", qso.report_received);
  add("TX_PWR", qso.tx_power);
  add("COMMENT", qso.comments);
  add("NAME", qso.name);
  add("OPERATOR", qso.operator_call);
  add("STATION_CALLSIGN", qso.my_call);
  add("MY_GRIDSQUARE", qso.my_grid);
  add("STX_STRING", qso.exchange_sent);
  add("SRX_STRING", qso.exchange_received);
  add("PROP_MODE", qso.propagation_mode);
  return record;
}

// "F4ABC le 01-02-2026 a 0905, 14074 kHz, FT8".
std::string described(const qso_record& qso) {
  return qso.indicatif + " le " + qso.date + " a " + zero_fill(qso.debut, 4) + ", " +
         std::to_string(qso.frequence) + " kHz, " + qso.mode;
}

// What the listener knows of the logbook between two QSOs: the owner's call
// sign in its last header, the QSOs it holds, by the duplicate rule, and,
// with `entities`, the entities worked on each band and mode group.
class logbook_index : public logbook_follower {
 public:
  logbook_index(mode_table modes, entity_lookup* entities)
      : modes_(std::move(modes)), entities_(entities) {}

  void restart() override {
    known_ = duplicate_index{};
    owner_.reset();
    first_.reset();
    whole_read_ = true;
    worked_ = countries::worked_entities{};
    newest_.reset();
  }
  void header(const logbook_header& header) override {
    owner_ = header.indicatif;
    if (!first_) first_ = header;
  }
  void qso(const qso_record& qso) override {
    // The call's place in the table of entities comes from memory while the
    // duplicate key is made.
    if (entities_ != nullptr) entities_->prefetch(qso.indicatif);
    if (const auto key = duplicate_key_of(qso, modes_)) {
      // A whole logbook is sorted once, at the first look-up after it.
      if (whole_read_) {
        known_.add_before_lookups(*key);
      } else {
        known_.add(*key);
      }
    }
    if (entities_ != nullptr) count_entity(qso);
  }

  bool holds(const qso_record& qso) {
    whole_read_ = false;
    const auto key = duplicate_key_of(qso, modes_);
    return key && known_.contains_near(*key);
  }
  const std::optional<std::string>& owner() const { return owner_; }
  // The logbook's first header, which its details file names.
  const std::optional<logbook_header>& first() const { return first_; }
  // The date of the newest QSO read, when entities are counted.
  const std::optional<calendar_date>& newest() const { return newest_; }

  // " ; nouveau pays ! (Corsica)", or a new band or mode for the entity of
  // `qso`, by the QSOs read so far; empty when it is none of them, or
  // entities are not counted.
  std::string news(const qso_record& qso) const {
    if (entities_ == nullptr) return {};
    const entity_fields& fields = entities_->fields(qso.indicatif, nullptr);
    if (fields.uncertain) {
      return " ; pays a verifier (indicatif TO/TX rattache a la France par defaut)";
    }
    const std::optional<int> dxcc = dxcc_of(fields);
    if (!dxcc) return {};
    const countries::novelty told = worked_.would_be(*dxcc, band_of_qso(qso), group_of(qso));
    std::string text;
    if (told.new_entity) {
      text = "nouveau pays !";
    } else {
      if (told.new_band) text = "nouvelle bande pour ce pays";
      if (told.new_mode)
        text += (text.empty() ? "" : ", ") + std::string("nouveau mode pour ce pays");
    }
    if (text.empty()) return {};
    const std::string& name = fields.values[1];
    return " ; " + text + (name.empty() ? "" : " (" + name + ")");
  }

 private:
  // The DXCC entity that counts for the award: none for /MM and /AM, and
  // none for a call that only France's generic TO or TX prefixes give.
  static std::optional<int> dxcc_of(const entity_fields& fields) {
    const std::string& dxcc = fields.values[0];
    int number = 0;
    std::from_chars(dxcc.data(), dxcc.data() + dxcc.size(), number);
    if (fields.uncertain || number <= 0) return std::nullopt;
    return number;
  }
  static std::string_view band_of_qso(const qso_record& qso) {
    return band_of(qso.frequence).value_or("");
  }
  std::optional<countries::mode_group> group_of(const qso_record& qso) const {
    const std::optional<adif_mode> mode = mode_of(qso.mode, qso.frequence, modes_);
    return mode ? countries::mode_group_of(mode->mode) : std::nullopt;
  }
  void count_entity(const qso_record& qso) {
    if (const auto date = parse_date(qso.date); date && (!newest_ || *date > *newest_)) {
      newest_ = date;
    }
    if (const std::optional<int> dxcc = dxcc_of(entities_->fields(qso.indicatif, nullptr))) {
      worked_.add(*dxcc, band_of_qso(qso), group_of(qso));
    }
  }

  mode_table modes_;
  duplicate_index known_;
  std::optional<std::string> owner_;
  std::optional<logbook_header> first_;
  bool whole_read_ = true;
  entity_lookup* entities_;
  countries::worked_entities worked_;
  std::optional<calendar_date> newest_;
};

}  // namespace

class live_log::listener {
 public:
  listener(const command_options& options, const countries::country_source* countries,
           std::ostream& out, std::ostream& err)
      : options_(options),
        out_(out),
        err_(err),
        countries_(countries),
        entities_(countries != nullptr ? std::optional<entity_lookup>(countries->data)
                                       : std::nullopt),
        index_(modes_with_classes(options.user_modes, options.classes),
               entities_ ? &*entities_ : nullptr) {}

  // Reads the whole logbook, before the first datagram.
  std::optional<logbook_error> start() {
    return follow_logbook(logbook_file{options_.logbook}, index_);
  }
  const std::optional<std::string>& owner() const { return index_.owner(); }
  // Why no QSO can be written with its details, once start() has read the
  // logbook: its details file names another logbook or cannot be read.
  // Empty when they can.
  std::string details_refusal() const {
    details_reader details;
    details.open(options_.logbook);
    const logbook_header* first = index_.first() ? &*index_.first() : nullptr;
    switch (details.load(first)) {
      case details_state::other_logbook:
        return details_notice(details, options_.logbook);
      case details_state::unreadable:
        return "Erreur : le fichier de details \"" + visible(details.path()) +
               "\" n'a pas pu etre lu (" + details.failure().value_or("") + ").\n";
      case details_state::absent:
      case details_state::ready:
        break;
    }
    return {};
  }
  // True once a QSO could not be written.
  bool lost_a_qso() const { return lost_a_qso_; }

  std::string stale_data_note() {
    if (stale_told_ || countries_ == nullptr || !index_.newest()) return {};
    std::string note = countries::stale_data_note(*countries_, adif_date(*index_.newest()));
    stale_told_ = !note.empty();
    return note;
  }

  void take(const std::string& datagram) {
    const wsjtx::message message = wsjtx::decode(datagram);
    if (const auto* error = std::get_if<wsjtx::decode_error>(&message)) {
      err_ << "Datagramme ignore : " << error->reason << ".\n";
    } else if (const auto* qso = std::get_if<wsjtx::qso_logged>(&message)) {
      record(record_of(*qso));
    } else if (const auto* adif = std::get_if<wsjtx::logged_adif>(&message)) {
      adif_reader reader;
      reader.feed(adif->adif);
      reader.finish();
      std::size_t left = 0;
      while (auto found = reader.next()) {
        // Ctrl-C is honoured between two records; the others are counted.
        if (platform::interrupt_requested()) {
          ++left;
        } else {
          record(*found);
        }
      }
      if (left > 0) {
        const char* s = left > 1 ? "s" : "";
        err_ << "Interrompu : " << left << " enregistrement" << s << " de ce datagramme non inscrit"
             << s << ".\n";
      }
    }
    err_.flush();
  }

 private:
  void record(const adif_read_record& record) {
    if (const auto cut_short = cut_short_reason(record)) {
      say("QSO non inscrit : " + *cut_short);
      return;
    }
    // The station is checked once the owner is read, below.
    import_settings settings{"", options_.classes, options_.default_place, true};
    const imported_qso converted = import_record(record, settings);
    if (!converted.qso) {
      say("QSO non inscrit : " + converted.reason);
      return;
    }
    const qso_record& qso = *converted.qso;
    std::string refusal;
    bool duplicate = false;
    std::string news;
    // Decided under the logbook's lock, once every QSO written before is read.
    const auto accept = [&] {
      if (index_.owner() && !options_.other_station) {
        settings.owner = *index_.owner();
        settings.other_station = false;
        const imported_qso checked = import_record(record, settings);
        if (!checked.qso) {
          refusal = checked.reason;
          return false;
        }
      }
      duplicate = index_.holds(qso);
      if (!duplicate) news = index_.news(qso);
      return !duplicate;
    };
    // Against the owner read so far: the details keep STATION_CALLSIGN
    // unless it is exactly the owner's.
    const details_record details = details_of(record, qso, index_.owner().value_or(""));
    const checked_append done =
        append_qso_checked(logbook_file{options_.logbook}, qso, index_, accept,
                           details.fields.empty() ? nullptr : &details);
    if (done.error) {
      lost_a_qso_ = true;
      err_ << write_failure_message(*done.error, options_.logbook) << "\n"
           << unrecorded_qso_message(qso) << "\n";
      say("QSO non inscrit : " + described(qso));
      return;
    }
    if (!refusal.empty()) {
      say("QSO non inscrit : " + refusal);
      return;
    }
    if (duplicate) {
      say("QSO deja dans le journal, ignore : " + described(qso));
      return;
    }
    if (done.started_new_logbook) {
      err_ << "Attention : le journal de bord \"" << visible(options_.logbook)
           << "\" n'existait plus ; le QSO est inscrit dans un nouveau fichier, sans en-tete "
              "(menu 4 de velkrin pour lui en donner un).\n";
    }
    say("QSO inscrit : " + described(qso) + news);
    if (const std::string note = stale_data_note(); !note.empty()) err_ << note;
  }

  void say(const std::string& line) { out_ << line << std::endl; }

  const command_options& options_;
  std::ostream& out_;
  std::ostream& err_;
  const countries::country_source* countries_;
  std::optional<entity_lookup> entities_;
  logbook_index index_;
  bool lost_a_qso_ = false;
  bool stale_told_ = false;
};

live_log::live_log(const command_options& options, const countries::country_source* countries,
                   std::ostream& out, std::ostream& err)
    : listener_(std::make_unique<listener>(options, countries, out, err)) {}
live_log::~live_log() = default;
std::optional<logbook_error> live_log::start() { return listener_->start(); }
const std::optional<std::string>& live_log::owner() const { return listener_->owner(); }
std::string live_log::details_refusal() const { return listener_->details_refusal(); }
std::string live_log::stale_data_note() { return listener_->stale_data_note(); }
void live_log::take(const std::string& datagram) { listener_->take(datagram); }
bool live_log::lost_a_qso() const { return listener_->lost_a_qso(); }

namespace {

// Who may send QSOs, for the message at start.
std::string accepted_senders(std::uint32_t listened, const std::vector<std::uint32_t>& own,
                             const std::vector<address_range>& accepted) {
  if (!platform::is_multicast(listened) && (listened >> 24) == 127) {
    return "seuls les programmes de cette machine peuvent l'atteindre";
  }
  std::string text = "datagrammes acceptes de cette machine (";
  for (std::size_t i = 0; i < own.size(); ++i) text += (i ? ", " : "") + dotted(own[i]);
  text += ")";
  for (const address_range& range : accepted) {
    text += ", de " + dotted(range.address) +
            (range.bits == 32 ? std::string() : "/" + std::to_string(range.bits));
  }
  if (accepted.empty()) text += " ; --accepte ADRESSE pour un autre ordinateur";
  return text;
}

}  // namespace

bool parse_endpoint(std::string_view text, std::uint32_t& address, std::uint16_t& port) {
  address = 0x7f000001;
  const auto colon = text.rfind(':');
  if (colon != std::string_view::npos) {
    const std::string_view host = text.substr(0, colon);
    if (host != "localhost") {
      std::uint32_t parsed = 0;
      std::size_t start = 0;
      for (int part = 0; part < 4; ++part) {
        const std::size_t dot = part < 3 ? host.find('.', start) : host.size();
        if (dot == std::string_view::npos) return false;
        const auto value = number(host.substr(start, dot - start), 255);
        if (!value) return false;
        parsed = (parsed << 8) | *value;
        start = dot + 1;
      }
      address = parsed;
    }
    text = text.substr(colon + 1);
  }
  const auto value = number(text, 65535);
  if (!value || *value == 0) return false;
  port = static_cast<std::uint16_t>(*value);
  return true;
}

bool parse_address_range(std::string_view text, address_range& range) {
  range = {};
  const auto slash = text.find('/');
  if (slash != std::string_view::npos) {
    const auto bits = number(text.substr(slash + 1), 32);
    if (!bits) return false;
    range.bits = static_cast<int>(*bits);
    text = text.substr(0, slash);
  }
  std::uint16_t port = 0;
  // An address is read as the host part of an endpoint.
  if (text.empty() || text == "localhost" || text.find(':') != std::string_view::npos ||
      !parse_endpoint(std::string(text) + ":1", range.address, port)) {
    return false;
  }
  return true;
}

bool sender_accepted(std::uint32_t listened, std::uint32_t sender, std::uint32_t destination,
                     const std::vector<std::uint32_t>& own,
                     const std::vector<address_range>& accepted) {
  const bool group = platform::is_multicast(listened);
  if (group && destination != listened) return false;
  if (!group && (listened >> 24) == 127) return true;
  if (std::find(own.begin(), own.end(), sender) != own.end()) return true;
  return std::any_of(accepted.begin(), accepted.end(), [sender](const address_range& range) {
    const std::uint32_t mask = range.bits == 0 ? 0 : ~std::uint32_t{0} << (32 - range.bits);
    return (sender & mask) == (range.address & mask);
  });
}

int run_listen(const command_options& options, const countries::country_source* countries,
               const std::string& why_none, std::ostream& out, std::ostream& err) {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  if (!parse_endpoint(options.listen_on, address, port)) {
    err << "Erreur : --ecoute attend [ADRESSE:]PORT (par exemple 127.0.0.1:2237 ou "
           "224.0.0.73:2237), pas \""
        << visible(options.listen_on) << "\".\n";
    return kExitFailure;
  }
  const std::string where = dotted(address) + ":" + std::to_string(port);
  if (!platform::path_exists(options.logbook)) {
    err << "Erreur : le journal de bord \"" << visible(options.logbook)
        << "\" n'existe pas ; creez-le avec le menu 4 de velkrin.\n";
    return kExitFailure;
  }
  // One set-up of the signals for the whole run, before any file is
  // written: Ctrl-C then ends the listening cleanly, whatever it writes.
  platform::catch_interrupt();
  live_log log(options, countries, out, err);
  if (const auto failure = log.start()) {
    err << unreadable_logbook_message(options.logbook, failure->reason);
    return kExitFailure;
  }
  if (!log.owner()) {
    err << "Erreur : le journal de bord \"" << visible(options.logbook)
        << "\" n'a pas d'en-tete ; donnez-lui en un avec le menu 4 de velkrin.\n";
    return kExitFailure;
  }
  if (const std::string refusal = log.details_refusal(); !refusal.empty()) {
    err << refusal << "Erreur : l'ecoute n'a pas commence, aucun QSO ne serait inscrit.\n";
    return kExitFailure;
  }
  std::vector<std::uint32_t> own;
  if (const platform::status s = platform::local_addresses(own); !s.ok()) {
    err << "Erreur : " << s.reason() << ".\n";
    return kExitFailure;
  }
  platform::udp_receiver receiver;
  if (const platform::status s = receiver.bind(address, port); !s.ok()) {
    err << "Erreur : impossible d'ecouter sur " << where << " (" << s.cause() << ").\n";
    return kExitFailure;
  }
  err << "A l'ecoute de WSJT-X et JTDX sur " << where
      << (platform::is_multicast(address) ? " (groupe multicast)" : "") << ", journal \""
      << visible(options.logbook) << "\" ; Ctrl-C pour finir.\n"
      << "Emetteurs : " << accepted_senders(address, own, options.accepted) << ".\n";
  if (countries == nullptr) {
    err << "Note : les nouveaux pays, bandes et modes ne sont pas signales : " << why_none << ".\n";
  }
  err << log.stale_data_note();
  err.flush();
  std::string datagram;
  auto addresses_read = std::chrono::steady_clock::now();
  while (!platform::interrupt_requested()) {
    bool received = false;
    platform::datagram_addresses from;
    if (const platform::status s = receiver.receive(datagram, kWaitMs, received, from); !s.ok()) {
      err << "Erreur : la reception sur " << where << " a echoue (" << s.cause() << ").\n";
      return kExitFailure;
    }
    if (!received) continue;
    bool accepted = sender_accepted(address, from.sender, from.destination, own, options.accepted);
    // An address this machine took since the last look (a new DHCP lease):
    // the list is read again, at most so often.
    const auto now = std::chrono::steady_clock::now();
    if (!accepted && from.destination == address && now - addresses_read > kAddressesMaxAge) {
      addresses_read = now;
      if (platform::local_addresses(own).ok()) {
        accepted = sender_accepted(address, from.sender, from.destination, own, options.accepted);
      }
    }
    if (!accepted) {
      err << "Datagramme refuse : envoye par " << dotted(from.sender) << " a "
          << dotted(from.destination) << ", "
          << (from.destination != address && platform::is_multicast(address)
                  ? "pas au groupe " + dotted(address)
                  : std::string("ni cette machine ni une adresse de --accepte"))
          << ".\n";
      err.flush();
      continue;
    }
    log.take(datagram);
  }
  err << "Fin de l'ecoute.\n";
  return log.lost_a_qso() ? kExitFailure : kExitAllExported;
}

}  // namespace velkrin::adif
