// velkrin-adif --marque-envoye SERVICE FICHIER: the QSOs of a file sent to a
// service marked as sent in their details, exactly those, each only if it
// still reads in the logbook as the file holds it. The file is read first
// (some 70 bytes kept a record), then, under the logbook's exclusive lock,
// the logbook once, and the details file rewritten whole through a copy
// renamed into place. Only the QSOs whose call, date and start a record
// holds are converted and have their details read.
#include <algorithm>
#include <array>
#include <chrono>
#include <ostream>
#include <tuple>

#include "adif/adif_import.hpp"
#include "adif/conversions.hpp"
#include "adif/details_update.hpp"
#include "adif/logbook_export.hpp"
#include "adif/logbook_import.hpp"
#include "adif/uploads.hpp"
#include "logbook/logbook_reader.hpp"
#include "platform/platform.hpp"

namespace velkrin::adif {
namespace {

constexpr std::size_t kReadPieceBytes = 64 * 1024;

// One record of the file sent.
struct sent_record {
  enum class state : std::uint8_t { unmatched, marked, changed, withheld };
  std::uint64_t key = 0;
  std::uint64_t digest = 0;
  std::uint64_t line = 0;
  std::uint32_t ordinal = 0;
  state is = state::unmatched;
  std::string call;             // short enough to stay in the string itself, mostly
  std::array<char, 12> when{};  // QSO_DATE then TIME_ON's hours and minutes
};

// "W1ABC le 05-01-2026 a 14:30" of ADIF's date and time.
std::string shown_qso(std::string_view call, std::string_view date, std::string_view time) {
  std::string text(call);
  if (date.size() == 8) {
    text += " le " + std::string(date.substr(6, 2)) + "-" + std::string(date.substr(4, 2)) + "-" +
            std::string(date.substr(0, 4));
  }
  if (time.size() >= 4) {
    text += " a " + std::string(time.substr(0, 2)) + ":" + std::string(time.substr(2, 2));
  }
  return text;
}

}  // namespace

int mark_sent_file(const command_options& options, upload_service service,
                   const std::string& file_path,
                   const std::function<bool(const adif_read_record&)>& withheld,
                   std::ostream& err) {
  const std::string& logbook_path = options.logbook;
  const upload_fields& names = fields_of(service);
  if (!platform::path_exists(logbook_path)) {
    err << "Erreur : le journal de bord \"" << logbook_path
        << "\" n'existe pas ; creez-le avec le menu 4 de velkrin.\n";
    return kExitFailure;
  }
  if (platform::same_file(file_path, logbook_path)) {
    err << "Erreur : \"" << file_path << "\" est le journal lui-meme.\n";
    return kExitFailure;
  }

  // The records of the file, before anything is locked.
  std::vector<sent_record> records;
  std::size_t reported = 0;
  {
    platform::shared_file file;
    const auto unreadable = [&](const std::string& cause) {
      err << "Erreur : le fichier \"" << file_path << "\" n'a pas pu etre lu (" << cause
          << ") ; aucun QSO n'a ete marque.\n";
      return kExitFailure;
    };
    if (const platform::status s = file.open(file_path); !s.ok()) return unreadable(s.cause());
    adif_reader reader;
    std::size_t seen = 0;
    const auto take_records = [&] {
      adif_read_record record;
      while (reader.next(record)) {
        ++seen;
        const auto field = [&record](std::string_view name) {
          const std::string* found = record.find(name);
          return found != nullptr ? std::string_view(*found) : std::string_view();
        };
        const std::string_view call = field("CALL");
        const std::string_view date = field("QSO_DATE");
        const std::string_view time = field("TIME_ON");
        std::optional<std::string> problem = cut_short_reason(record);
        if (!problem && (call.empty() || date.empty() || time.size() < 4)) {
          problem = "sans CALL, QSO_DATE ou TIME_ON";
        }
        if (problem) {
          err << record_label(record) << " : " << *problem << ", non marque\n";
          ++reported;
          continue;
        }
        sent_record& sent = records.emplace_back();
        sent.key = sent_qso_key(record);
        sent.digest = sent_digest(service, record.fields);
        sent.line = record.line;
        sent.ordinal = static_cast<std::uint32_t>(record.ordinal);
        sent.call = call;
        std::copy_n(date.begin(), std::min<std::size_t>(date.size(), 8), sent.when.begin());
        std::copy_n(time.begin(), 4, sent.when.begin() + 8);
        if (withheld && withheld(record)) sent.is = sent_record::state::withheld;
      }
    };
    std::vector<char> piece(kReadPieceBytes);
    for (;;) {
      std::size_t got = 0;
      if (const platform::status s = file.read(piece.data(), piece.size(), got); !s.ok()) {
        return unreadable(s.cause());
      }
      if (got == 0) break;
      reader.feed({piece.data(), got});
      take_records();
    }
    reader.finish();
    take_records();
    if (seen == 0 && !reader.header_seen()) {
      err << "Erreur : \"" << file_path
          << "\" n'est pas un fichier ADIF (ni en-tete ni enregistrement) ; aucun QSO n'a ete "
             "marque.\n";
      return kExitFailure;
    }
  }
  // By key, then digest: the records that a QSO may be.
  std::vector<std::uint32_t> order(records.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  const auto before_in_order = [&records](std::uint32_t a, std::uint32_t b) {
    return std::tie(records[a].key, records[a].digest, a) <
           std::tie(records[b].key, records[b].digest, b);
  };
  std::sort(order.begin(), order.end(), before_in_order);

  platform::locked_file logbook;
  if (const auto failure = lock_existing_logbook(logbook_path, logbook, err)) {
    err << "Erreur : le journal de bord \"" << logbook_path << "\" " << *failure << ".\n";
    return kExitFailure;
  }
  const auto unlocked = [&](int status) {
    (void)logbook.close();
    return status;
  };
  details_reader details;
  const std::optional<logbook_header> first =
      prepare_details_update(logbook, logbook_path, details, "aucun QSO n'a ete marque", err);
  if (!first) return unlocked(kExitFailure);

  // Each QSO converted as the export converts it: the record the file holds
  // for it, unchanged since, is marked.
  const std::string today = utc_timestamp(std::chrono::system_clock::now()).substr(0, 8);
  details_update update(
      details,
      [&](details_record& record, std::uint32_t index) {
        return mark_sent(service, records[index].digest, today, record);
      },
      "\n");
  std::size_t marked = 0;
  std::size_t already = 0;
  std::optional<std::string> failure;
  {
    locked_source source(logbook);
    logbook_reader lines(source);
    lines.read_values_only();
    const bool has_details = details.state() == details_state::ready;
    qso_record qso;
    converted_qso converted;
    std::string call, date, time;
    logbook_item item;
    while (!failure && lines.next(item)) {
      if (item.what != logbook_item::kind::qso) continue;
      update.set_line_end(lines.line_end());
      // Only a QSO whose call, date and start the file holds is converted:
      // the export writes them from the line as it stands.
      const auto day = parse_date(item.values.date);
      if (!day || !is_valid_time(item.values.debut)) continue;
      call = to_upper(item.values.indicatif);
      date.clear();
      append_adif_date(*day, date);
      time = std::to_string(10000 + item.values.debut).substr(1);
      const std::uint64_t key = sent_qso_key(call, date, time);
      const auto from = std::partition_point(order.begin(), order.end(),
                                             [&](std::uint32_t i) { return records[i].key < key; });
      if (from == order.end() || records[*from].key != key) continue;
      const auto details_key = details_key_of(item.values);
      if (!details_key) continue;  // a QSO with a date and a start has one
      const details_record* found = has_details ? details.find(*details_key) : nullptr;
      item.values.copy_to(qso);
      const header_block* header = lines.header();
      convert_qso(qso, header ? header->header.indicatif : "", options.user_modes, found,
                  converted);
      if (!converted.error.empty()) continue;
      const std::uint64_t digest = sent_digest(service, converted.record);
      auto to = from;
      while (to != order.end() && records[*to].key == key) ++to;
      const auto same = std::find_if(from, to, [&](std::uint32_t i) {
        return records[i].digest == digest && records[i].is == sent_record::state::unmatched;
      });
      if (same == to) {
        for (auto it = from; it != to; ++it) {
          if (records[*it].is == sent_record::state::unmatched) {
            records[*it].is = sent_record::state::changed;
          }
        }
        continue;
      }
      records[*same].is = sent_record::state::marked;
      details_record after = found != nullptr ? *found : details_for(item.values, {});
      if (!mark_sent(service, digest, today, after)) {
        ++already;
        continue;
      }
      ++marked;
      failure = update.add(*details_key, found != nullptr, after, *same);
    }
    if (lines.failure()) {
      err << "Erreur : le journal de bord \"" << logbook_path << "\" n'a pas pu etre lu ("
          << *lines.failure() << ").\n";
      return unlocked(kExitFailure);
    }
  }
  if (failure) {
    err << "Erreur : " << *failure << " ; aucun QSO n'a ete marque.\n";
    return unlocked(kExitFailure);
  }
  if (!update.empty()) {
    if (const platform::status s = update.write(logbook_path, *first, {}); !s.ok()) {
      (void)logbook.close();
      err << "Erreur : le fichier de details \"" << details_path_for(logbook_path)
          << "\" n'a pas pu etre ecrit (" << s.reason()
          << ") ; aucun QSO n'a ete marque, il est inchange.\n";
      return kExitFailure;
    }
  }
  (void)logbook.close();

  std::size_t left = 0;
  std::size_t withheld_count = 0;
  for (const sent_record& record : records) {
    if (record.is == sent_record::state::marked) continue;
    if (record.is == sent_record::state::withheld) {
      ++withheld_count;
      continue;
    }
    ++left;
    err << "enregistrement " << record.ordinal << " (ligne " << record.line
        << ") : " << shown_qso(record.call, {record.when.data(), 8}, {record.when.data() + 8, 4})
        << (record.is == sent_record::state::changed
                ? " : modifie dans le journal depuis l'export, non marque (il sera du prochain "
                  "--nouveaux)\n"
                : " : absent du journal, non marque\n");
  }
  const auto s = [](std::size_t count) { return count > 1 ? "s" : ""; };
  err << names.name << " : " << marked << " QSO marque" << s(marked) << " envoye" << s(marked)
      << " le " << today.substr(6, 2) << "-" << today.substr(4, 2) << "-" << today.substr(0, 4)
      << ", " << already << " deja marque" << s(already) << ", " << left << " non marque"
      << s(left);
  if (withheld_count > 0) {
    err << ", " << withheld_count << " refuse" << s(withheld_count) << " par " << names.name;
  }
  if (reported > 0) {
    err << ", " << reported << " enregistrement" << s(reported) << " signale" << s(reported);
  }
  err << ".\n";
  return left == 0 && reported == 0 ? kExitAllExported : kExitLinesReported;
}

int run_mark_sent(const command_options& options, std::ostream&, std::ostream& err) {
  return mark_sent_file(options, *upload_service_named(options.upload_service), options.adif_file,
                        {}, err);
}

}  // namespace velkrin::adif
