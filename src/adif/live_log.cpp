// velkrin-adif --ecoute: the QSOs that WSJT-X and JTDX log, received as UDP
// datagrams and appended one at a time, each as a typed QSO is (same lock,
// same flush), so that velkrin may stay open on the same logbook.
#include <chrono>
#include <ostream>

#include "adif/logbook_import.hpp"
#include "adif/logbook_scan.hpp"
#include "console/text_format.hpp"
#include "logbook/logbook_file.hpp"
#include "platform/platform.hpp"
#include "wsjtx/message.hpp"

namespace velkrin::adif {
namespace {

// How long one wait for a datagram lasts before Ctrl-C is looked at again.
constexpr int kWaitMs = 250;

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

class live_log {
 public:
  live_log(const command_options& options, std::ostream& out, std::ostream& err)
      : options_(options),
        out_(out),
        err_(err),
        modes_(modes_with_classes(options.user_modes, options.classes)) {}

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
      while (auto found = reader.next()) record(*found);
    }
    err_.flush();
  }

 private:
  void record(const adif_read_record& record) {
    // The station is checked once the owner is read, below.
    import_settings settings{"", options_.classes, options_.default_place, true};
    const imported_qso converted = import_record(record, settings);
    if (!converted.qso) {
      say("QSO non inscrit : " + converted.reason);
      return;
    }
    const qso_record& qso = *converted.qso;
    const auto key = duplicate_key_of(qso, modes_);
    bool duplicate = false;
    std::optional<std::string> owner;
    const bool vanished = !platform::path_exists(options_.logbook);
    if (!vanished) {
      file_source source;
      if (const platform::status s = source.open(options_.logbook); !s.ok()) {
        err_ << unreadable_logbook_message(options_.logbook, s.cause());
      } else {
        const logbook_facts facts = scan_logbook(source, [&](const qso_record& known) {
          if (duplicate || !key) return;
          const auto known_key = duplicate_key_of(known, modes_);
          duplicate = known_key && within_duplicate_window(*known_key, *key);
        });
        owner = facts.owner;
      }
    }
    if (owner && !options_.other_station) {
      settings.owner = *owner;
      settings.other_station = false;
      const imported_qso checked = import_record(record, settings);
      if (!checked.qso) {
        say("QSO non inscrit : " + checked.reason);
        return;
      }
    }
    if (duplicate) {
      say("QSO deja dans le journal, ignore : " + described(qso));
      return;
    }
    if (const auto failure = append_qso(logbook_file{options_.logbook}, qso)) {
      err_ << write_failure_message(*failure) << "\n" << unrecorded_qso_message(qso);
      say("QSO non inscrit : " + described(qso));
      return;
    }
    if (vanished) {
      err_ << "Attention : le journal de bord \"" << options_.logbook
           << "\" n'existait plus ; le QSO est inscrit dans un nouveau fichier, sans en-tete "
              "(menu 4 de velkrin pour lui en donner un).\n";
    }
    say("QSO inscrit : " + described(qso));
  }

  void say(const std::string& line) { out_ << line << std::endl; }

  const command_options& options_;
  std::ostream& out_;
  std::ostream& err_;
  mode_table modes_;
};

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

int run_listen(const command_options& options, std::ostream& out, std::ostream& err) {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  if (!parse_endpoint(options.listen_on, address, port)) {
    err << "Erreur : --ecoute attend [ADRESSE:]PORT (par exemple 127.0.0.1:2237 ou "
           "224.0.0.73:2237), pas \""
        << options.listen_on << "\".\n";
    return kExitFailure;
  }
  const std::string where = dotted(address) + ":" + std::to_string(port);
  if (!platform::path_exists(options.logbook)) {
    err << "Erreur : le journal de bord \"" << options.logbook
        << "\" n'existe pas ; creez-le avec le menu 4 de velkrin.\n";
    return kExitFailure;
  }
  {
    file_source source;
    if (const platform::status s = source.open(options.logbook); !s.ok()) {
      err << unreadable_logbook_message(options.logbook, s.cause());
      return kExitFailure;
    }
    const logbook_facts facts = scan_logbook(source, [](const qso_record&) {});
    if (facts.failure) {
      err << unreadable_logbook_message(options.logbook, *facts.failure);
      return kExitFailure;
    }
    if (!facts.owner) {
      err << "Erreur : le journal de bord \"" << options.logbook
          << "\" n'a pas d'en-tete ; donnez-lui en un avec le menu 4 de velkrin.\n";
      return kExitFailure;
    }
  }
  platform::udp_receiver receiver;
  if (const platform::status s = receiver.bind(address, port); !s.ok()) {
    err << "Erreur : impossible d'ecouter sur " << where << " (" << s.cause() << ").\n";
    return kExitFailure;
  }
  platform::catch_interrupt();
  err << "A l'ecoute de WSJT-X et JTDX sur " << where
      << (platform::is_multicast(address) ? " (groupe multicast)" : "") << ", journal \""
      << options.logbook << "\" ; Ctrl-C pour finir.\n";
  err.flush();
  live_log log(options, out, err);
  std::string datagram;
  while (!platform::interrupt_requested()) {
    bool received = false;
    if (const platform::status s = receiver.receive(datagram, kWaitMs, received); !s.ok()) {
      err << "Erreur : la reception sur " << where << " a echoue (" << s.cause() << ").\n";
      return kExitFailure;
    }
    if (received) log.take(datagram);
  }
  err << "Fin de l'ecoute.\n";
  return kExitAllExported;
}

}  // namespace velkrin::adif
