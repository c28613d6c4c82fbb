#include "adif/logbook_import.hpp"

#include <optional>
#include <ostream>
#include <sstream>
#include <vector>

#include "adif/logbook_scan.hpp"
#include "console/visible_text.hpp"
#include "logbook/line_format.hpp"
#include "logbook/logbook_file.hpp"
#include "platform/platform.hpp"

namespace velkrin::adif {
namespace {

// The pieces in which the ADIF file is read and the logbook copied.
constexpr std::size_t kReadPieceBytes = 64 * 1024;
constexpr std::size_t kCopyPieceBytes = 1024 * 1024;
// The details records held before they are written.
constexpr std::size_t kDetailsPieceBytes = 1024 * 1024;

// The logbook's bytes, then `added`, into a new file that takes its place.
platform::status replace_with_added(platform::locked_file& logbook, std::string_view added) {
  std::uint64_t size = 0;
  if (platform::status s = logbook.size(size); !s.ok()) return s;
  platform::replacement_file replacement;
  if (platform::status s = replacement.create_beside(logbook); !s.ok()) return s;
  std::vector<char> piece(kCopyPieceBytes);
  for (std::uint64_t offset = 0; offset < size;) {
    std::size_t got = 0;
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), size - offset));
    if (platform::status s = logbook.read_at(offset, piece.data(), wanted, got); !s.ok()) return s;
    if (got == 0) break;
    if (platform::status s = replacement.write({piece.data(), got}); !s.ok()) return s;
    offset += got;
  }
  if (platform::status s = replacement.write(added); !s.ok()) return s;
  return replacement.commit(logbook);
}

// The details records of an import, appended to the logbook's details file
// in pieces as they come, under the logbook's lock and before its lines, so
// that memory stays bounded however many QSOs come in. Should the lines then
// fail, undo() cuts a details file that was there back to its size; one that
// the import made stays, with records that harm nothing and that the next
// import of the same QSOs takes again.
class details_writer {
 public:
  details_writer(const std::string& logbook_path, const logbook_header& first)
      : logbook_path_(logbook_path), first_(first) {}

  // Adds one record's text; writes the pieces held once they are large.
  platform::status add(std::string_view record) {
    held_ += record;
    return held_.size() >= kDetailsPieceBytes ? write() : platform::status::success();
  }
  // Writes what is held.
  platform::status write() {
    if (held_.empty()) return platform::status::success();
    bool made = false;
    if (!appender_) {
      made = !platform::path_exists(details_path_for(logbook_path_));
      appender_.emplace();
      platform::status s = appender_->open(logbook_path_, first_);
      if (s.ok() && appender_->other_logbook()) {
        s = platform::status::failure("", "il appartient a un autre journal");
      }
      if (!s.ok()) return s;
    }
    platform::status s = appender_->append(held_);
    held_.clear();
    // A file made whole with the first piece is opened again for the next.
    if (made) appender_.reset();
    return s;
  }
  void undo() {
    if (appender_) appender_->undo();
  }

 private:
  const std::string& logbook_path_;
  const logbook_header& first_;
  std::optional<details_appender> appender_;
  std::string held_;
};

}  // namespace

mode_table modes_with_classes(const mode_table& user_modes, const class_table& classes) {
  mode_table modes = user_modes;
  for (const auto& [mode, emission_class] : classes) {
    const std::string key = to_upper(emission_class);
    if (modes.contains(key)) continue;
    if (const auto adif = parse_adif_mode(mode)) modes[key] = *adif;
  }
  return modes;
}

import_batch::import_batch(import_settings settings, mode_table user_modes)
    : settings_(std::move(settings)), user_modes_(std::move(user_modes)) {}

void import_batch::know(const qso_record& qso) {
  if (const auto key = duplicate_key_of(qso, user_modes_)) known_.add_before_lookups(*key);
}

import_batch::outcome import_batch::take(const adif_read_record& record, qso_record& qso,
                                         details_record& details, std::string& message) {
  if (const auto cut_short = cut_short_reason(record)) {
    ++reported_;
    message = record_label(record) + " : " + *cut_short + ", non importe";
    return outcome::reported;
  }
  imported_qso converted = import_record(record, settings_);
  if (!converted.qso) {
    ++reported_;
    message = record_label(record) + " : " + converted.reason;
    return outcome::reported;
  }
  if (const auto key = duplicate_key_of(*converted.qso, user_modes_)) {
    if (known_.contains_near(*key)) {
      ++duplicates_;
      return outcome::duplicate;
    }
    known_.add(*key);
  }
  for (auto& name : converted.dropped) {
    const auto [at, inserted] = dropped_at_.try_emplace(name, dropped_.size());
    if (inserted) dropped_.emplace_back(std::move(name), 0);
    ++dropped_[at->second].second;
  }
  ++added_;
  details = details_of(record, *converted.qso, settings_.owner);
  qso = std::move(*converted.qso);
  return outcome::added;
}

std::string import_batch::dropped_summary() const {
  if (dropped_.empty()) return {};
  std::string text =
      "Champs non repris (donnes deux fois dans un enregistrement, seule la premiere valeur "
      "compte, ou de nom non ASCII) : ";
  for (std::size_t i = 0; i < dropped_.size(); ++i) {
    text += (i ? ", " : "") + dropped_[i].first + " (" + std::to_string(dropped_[i].second) + ")";
  }
  return text + ".";
}

bool looks_like_adif(std::string_view start) {
  const std::string upper = to_upper(start);
  if (upper.find("<EOH>") != std::string::npos || upper.find("<EOR>") != std::string::npos) {
    return true;
  }
  const auto first = start.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && start[first] == '<' &&
         start.find(':', first) < start.find('>', first);
}

std::optional<std::string> lock_existing_logbook(const std::string& logbook_path,
                                                 platform::locked_file& logbook,
                                                 std::ostream& err) {
  std::string target;
  logbook.set_wait_notice([&err, &logbook_path] {
    err << lock_wait_message(visible(logbook_path)) << "\n" << std::flush;
  });
  if (platform::status s = platform::resolve_links(logbook_path, target); !s.ok()) {
    return "n'a pas pu etre lu (" + s.cause() + ")";
  }
  if (platform::status s = logbook.open(target); !s.ok()) {
    return "n'a pas pu etre lu (" + s.cause() + ")";
  }
  if (logbook.created()) {
    logbook.remove_if_created();
    return std::string("n'existe pas ; creez-le avec le menu 4 de velkrin");
  }
  return std::nullopt;
}

int run_import(const command_options& options, std::ostream& out, std::ostream& err) {
  const std::string& logbook_path = options.logbook;
  const auto logbook_failure = [&](std::string_view what) {
    err << "Erreur : le journal de bord \"" << logbook_path << "\" " << what << ".\n";
    return kExitFailure;
  };
  if (!platform::path_exists(logbook_path)) {
    return logbook_failure("n'existe pas ; creez-le avec le menu 4 de velkrin");
  }
  if (platform::same_file(options.adif_file, logbook_path)) {
    err << "Erreur : \"" << options.adif_file << "\" est le journal lui-meme.\n";
    return kExitFailure;
  }
  platform::shared_file adif_file;
  if (const platform::status s = adif_file.open(options.adif_file); !s.ok()) {
    err << "Erreur : le fichier ADIF \"" << options.adif_file << "\" n'a pas pu etre lu ("
        << s.cause() << ").\n";
    return kExitFailure;
  }

  // The lock lasts from the reading of the logbook to the new lines' flush:
  // no QSO typed meanwhile in velkrin can be lost or doubled.
  platform::locked_file logbook;
  if (const auto failure = lock_existing_logbook(logbook_path, logbook, err)) {
    return logbook_failure(*failure);
  }

  import_batch batch({"", options.classes, options.default_place, options.other_station},
                     modes_with_classes(options.user_modes, options.classes));
  locked_source source(logbook);
  const logbook_facts facts =
      scan_logbook(source, [&batch](const qso_record& qso) { batch.know(qso); });
  if (facts.failure) return logbook_failure("n'a pas pu etre lu (" + *facts.failure + ")");
  if (!facts.owner) {
    return logbook_failure("n'a pas d'en-tete ; donnez-lui en un avec le menu 4 de velkrin");
  }
  batch.set_owner(*facts.owner);

  // The details go to this logbook's details file only: the details of an
  // archived logbook, left beside a new one, take no record. Read under the
  // lock, it also holds the records that a killed import wrote without
  // their lines, which are reused rather than written twice.
  details_reader details_file;
  details_file.open(logbook_path);
  switch (details_file.load(&*facts.first)) {
    case details_state::other_logbook:
      (void)logbook.close();
      err << details_notice(details_file, logbook_path)
          << "Erreur : aucun QSO n'a ete importe ; le journal est inchange.\n";
      return kExitFailure;
    case details_state::unreadable:
      (void)logbook.close();
      err << "Erreur : le fichier de details \"" << details_file.path() << "\" n'a pas pu etre lu ("
          << details_file.failure().value_or("")
          << ") ; aucun QSO n'a ete importe, le journal est inchange.\n";
      return kExitFailure;
    case details_state::absent:
    case details_state::ready:
      break;
  }

  // Nothing reaches standard output or error while the logbook is locked: a
  // pager that nobody reads would keep velkrin and the listener waiting. The
  // records' messages are held until release() has closed the logbook.
  std::ostringstream held;
  const auto release = [&] {
    (void)logbook.close();
    err << held.str();
    held.str("");
  };
  // Standard output ends its lines as the platform's text output does.
  const std::string line_end = options.simulation ? "\n" : facts.line_end;
  std::string added = facts.ends_with_line_end || options.simulation ? "" : facts.line_end;
  // The details records, written as they come, before the lines they
  // belong to.
  details_writer details_out(logbook_path, *facts.first);
  std::optional<std::string> details_failure;
  std::size_t records = 0;
  adif_reader reader;
  std::vector<char> piece(kReadPieceBytes);
  const auto take_records = [&] {
    qso_record qso;
    details_record details;
    std::string message;
    while (auto record = reader.next()) {
      if (record->characters_counted) {
        held << record_label(*record)
             << " : longueurs comptees en caracteres et non en octets, lu quand meme\n";
      }
      if (record->complete && !record->problem.empty()) {
        held << record_label(*record) << " : " << record->problem << "\n";
      }
      ++records;
      if (batch.take(*record, qso, details, message) == import_batch::outcome::added) {
        added += format_qso_line(qso, line_end);
        if (!details.fields.empty() && !options.simulation && !details_failure) {
          const auto key = details.key();
          const details_record* left = key ? details_file.find(*key) : nullptr;
          if (left == nullptr || !(*left == details)) {
            const platform::status s =
                details_out.add(format_details_record(details, facts.line_end));
            if (!s.ok()) details_failure = s.cause();
          }
        }
      } else if (!message.empty()) {
        held << message << "\n";
        message.clear();
      }
    }
  };
  for (;;) {
    std::size_t got = 0;
    if (const platform::status s = adif_file.read(piece.data(), piece.size(), got); !s.ok()) {
      details_out.undo();
      release();
      err << "Erreur : le fichier ADIF \"" << options.adif_file << "\" n'a pas pu etre lu ("
          << s.cause() << ") ; le journal est inchange.\n";
      return kExitFailure;
    }
    if (got == 0) break;
    reader.feed({piece.data(), got});
    take_records();
  }
  reader.finish();
  take_records();
  if (records == 0 && !reader.header_seen()) {
    release();
    err << "Erreur : \"" << options.adif_file
        << "\" n'est pas un fichier ADIF (ni en-tete ni enregistrement) ; le journal est "
           "inchange.\n";
    return kExitFailure;
  }

  if (options.simulation) {
    release();
    if (const platform::status s = platform::write_stream(out, added); !s.ok()) {
      err << "Erreur : la sortie standard n'a pas pu etre ecrite (" << s.cause() << ").\n";
      return kExitFailure;
    }
  } else if (batch.added() > 0) {
    if (!details_failure) {
      if (const platform::status s = details_out.write(); !s.ok()) details_failure = s.cause();
    }
    if (details_failure) {
      details_out.undo();
      release();
      err << "Erreur : le fichier de details \"" << details_path_for(logbook_path)
          << "\" n'a pas pu etre ecrit (" << *details_failure
          << ") ; aucun QSO n'a ete importe, le journal est inchange.\n";
      return kExitFailure;
    }
    if (const platform::status s = replace_with_added(logbook, added); !s.ok()) {
      details_out.undo();
      release();
      return logbook_failure("n'a pas pu etre ecrit (" + s.cause() +
                             ") ; aucun QSO n'a ete importe, il est inchange");
    }
  }
  // The new lines were flushed before they took the old file's place, and
  // nothing else was written: a failing close of the old file loses nothing,
  // and the import has done what it says below.
  release();
  const std::string dropped = batch.dropped_summary();
  if (!dropped.empty()) err << dropped << "\n";
  const auto s = [](std::size_t count) { return count > 1 ? "s" : ""; };
  err << batch.added() << " QSO "
      << (options.simulation ? "a importer (simulation, journal inchange)"
                             : std::string("importe") + s(batch.added()))
      << ", " << batch.duplicates() << " doublon" << s(batch.duplicates()) << " ignore"
      << s(batch.duplicates()) << ", " << batch.reported() << " enregistrement"
      << s(batch.reported()) << " signale" << s(batch.reported()) << ".\n";
  return batch.reported() == 0 ? kExitAllExported : kExitLinesReported;
}

}  // namespace velkrin::adif
