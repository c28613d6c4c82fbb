// velkrin-adif --confirmations. The report's start says which service wrote
// it; then, under the logbook's exclusive lock: the logbook's first header,
// the details file indexed, the report read, the logbook read twice
// (candidates, then the matched QSOs' details and the QSO nearest to each
// confirmation left over), and the details file rewritten whole through a
// copy renamed into place. Memory grows with the report's confirmations
// and the details file's records (20 bytes each), not with the logbook.
#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "adif/adif_import.hpp"
#include "adif/adif_writer.hpp"
#include "adif/confirmations.hpp"
#include "adif/details_update.hpp"
#include "adif/logbook_import.hpp"
#include "console/visible_text.hpp"
#include "logbook/logbook_file.hpp"
#include "logbook/logbook_reader.hpp"
#include "platform/platform.hpp"

namespace velkrin::adif {
namespace {

constexpr std::size_t kReadPieceBytes = 64 * 1024;
// How much of the report's start tells which service wrote it.
constexpr std::size_t kOriginBytes = 64 * 1024;

std::uint64_t group_of(std::string_view call, std::string_view band, mode_family family) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  const auto mix = [&hash](std::string_view text) {
    for (const char c : text) {
      hash ^= static_cast<unsigned char>(c);
      hash *= 0x100000001b3ULL;
    }
    hash ^= 0xff;
    hash *= 0x100000001b3ULL;
  };
  mix(call);
  mix(band);
  mix(family_name(family));
  return hash == 0 ? 1 : hash;  // 0 marks an empty slot
}

// "W1ABC le 05-01-2026 a 14:30, 20m, PHONE".
std::string described(const confirmation& confirmed) {
  return confirmed.call + " le " + day_and_time(confirmed.minute) + ", " +
         std::string(confirmed.band) + ", " + std::string(family_name(confirmed.family));
}

// "ligne 9 : W1ABD le 05-01-2026 a 14:31, 20m, J3E".
std::string described(const qso_values& qso, std::size_t line, std::int64_t minute) {
  const auto band = band_of(qso.frequence);
  return "ligne " + std::to_string(line) + " : " + std::string(qso.indicatif) + " le " +
         day_and_time(minute) + ", " + std::string(band ? *band : "hors bande") + ", " +
         std::string(qso.mode);
}

// The fields of `after` that `before` lacks or holds otherwise.
std::string changes_between(const details_record& before, const details_record& after) {
  std::string text;
  for (const auto& field : after.fields) {
    const std::string* old = before.find(field.name);
    if (old != nullptr && *old == field.value) continue;
    text += (text.empty() ? "" : ", ") + field.name + "=" + field.value;
  }
  return text;
}

// The QSO nearest to a confirmation that matched none.
struct nearest_qso {
  int tier = 3;  // 0 same call same day, 1 one character apart same day, 2 same call
  std::int64_t gap = 0;
  std::string shown;
};

}  // namespace

int run_confirmations(const command_options& options, std::ostream& out, std::ostream& err) {
  const std::string& logbook_path = options.logbook;
  const std::string& report_path = options.adif_file;
  const auto logbook_failure = [&](std::string_view what) {
    err << "Erreur : le journal de bord \"" << logbook_path << "\" " << what << ".\n";
    return kExitFailure;
  };
  const auto refused = [&](std::string_view why) {
    err << "Erreur : " << why << " ; rien n'a ete ecrit.\n";
    return kExitFailure;
  };
  if (!platform::path_exists(logbook_path)) {
    return logbook_failure("n'existe pas ; creez-le avec le menu 4 de velkrin");
  }
  if (platform::same_file(report_path, logbook_path)) {
    err << "Erreur : \"" << report_path << "\" est le journal lui-meme.\n";
    return kExitFailure;
  }
  std::optional<qsl_service> asked;
  if (!options.confirmation_service.empty()) {
    asked = service_named(options.confirmation_service);
    if (!asked) {
      err << "Erreur : --service attend lotw ou eqsl, pas \"" << options.confirmation_service
          << "\".\n";
      return kExitFailure;
    }
  }

  // The report's start says which service wrote it, before anything is locked.
  platform::shared_file report;
  const auto unreadable_report = [&](const std::string& cause) {
    err << "Erreur : le rapport \"" << report_path << "\" n'a pas pu etre lu (" << cause
        << ") ; rien n'a ete ecrit.\n";
    return kExitFailure;
  };
  if (const platform::status s = report.open(report_path); !s.ok()) {
    return unreadable_report(s.cause());
  }
  std::string start;
  std::vector<char> piece(kReadPieceBytes);
  bool report_ended = false;
  while (start.size() < kOriginBytes) {
    std::size_t got = 0;
    if (const platform::status s = report.read(piece.data(), piece.size(), got); !s.ok()) {
      return unreadable_report(s.cause());
    }
    if (got == 0) {
      report_ended = true;
      break;
    }
    start.append(piece.data(), got);
  }
  const report_origin origin = origin_of_report(start);
  if (asked && origin.service && *asked != *origin.service) {
    return refused("\"" + report_path + "\" est un rapport " +
                   std::string(service_name(*origin.service)) + ", pas " +
                   std::string(service_name(*asked)));
  }
  if (!asked && !origin.service) {
    return refused("\"" + report_path + "\" ne dit pas s'il vient de LoTW ou d'eQSL" +
                   (origin.says_both ? " (il nomme les deux)" : "") +
                   " ; precisez-le avec --service lotw ou --service eqsl");
  }
  const qsl_service service = asked ? *asked : *origin.service;
  const std::string today = utc_timestamp(std::chrono::system_clock::now()).substr(0, 8);

  // The logbook, locked from its first reading to the details' rename.
  platform::locked_file logbook;
  if (const auto failure = lock_existing_logbook(logbook_path, logbook, err)) {
    return logbook_failure(*failure);
  }
  std::ostringstream held;  // messages, shown once the logbook is released
  const auto release = [&] {
    (void)logbook.close();
    err << held.str();
    held.str("");
  };
  const auto unlocked = [&](int status) {
    (void)logbook.close();
    return status;
  };

  // Read and indexed before the report is, so that the index's making and
  // the confirmations do not take memory at the same time.
  details_reader details;
  const std::optional<logbook_header> first = prepare_details_update(
      logbook, logbook_path, details, "aucune confirmation n'a ete enregistree", err);
  if (!first) return unlocked(kExitFailure);
  const bool has_details = details.state() == details_state::ready;

  // The report's confirmations, their fields packed one after another.
  std::vector<confirmation> confirmations;
  std::string packed_fields;
  std::set<std::string> stations;
  std::string newest_seen;
  std::size_t not_confirmed = 0;
  std::size_t reported = 0;
  std::size_t records = 0;
  adif_reader reader;
  const auto take_records = [&] {
    adif_read_record record;
    while (reader.next(record)) {
      ++records;
      if (const auto cut_short = cut_short_reason(record)) {
        held << record_label(record) << " : " << *cut_short << ", non pris en compte\n";
        ++reported;
        continue;
      }
      read_confirmation read = confirmation_of(record, service, origin.account, today);
      if (read.not_confirmed) {
        ++not_confirmed;
      } else if (!read.confirmed) {
        held << record_label(record) << " : " << read.problem << ", non pris en compte\n";
        ++reported;
      } else {
        newest_seen = newest_of(newest_seen, read.newest);
        stations.insert(std::move(read.station));
        read.confirmed->fields_at = static_cast<std::uint32_t>(packed_fields.size());
        read.confirmed->fields_size = static_cast<std::uint32_t>(read.fields.size());
        packed_fields += read.fields;
        confirmations.push_back(std::move(*read.confirmed));
      }
    }
  };
  reader.feed(start);
  take_records();
  while (!report_ended) {
    std::size_t got = 0;
    if (const platform::status s = report.read(piece.data(), piece.size(), got); !s.ok()) {
      return unlocked(unreadable_report(s.cause()));
    }
    if (got == 0) break;
    reader.feed({piece.data(), got});
    take_records();
  }
  reader.finish();
  take_records();
  report.close();
  if (records == 0 && !reader.header_seen()) {
    return unlocked(refused("\"" + report_path +
                            "\" n'est pas un fichier ADIF (ni en-tete ni enregistrement)"));
  }
  start = std::string();
  reader = adif_reader();
  packed_fields.shrink_to_fit();
  const auto fields_of = [&packed_fields](const confirmation& c) {
    return std::string_view(packed_fields).substr(c.fields_at, c.fields_size);
  };

  // One QSO listed twice in the report is one confirmation.
  std::size_t repeated_in_report = 0;
  {
    std::vector<std::uint32_t> order(confirmations.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    const auto key = [&](std::uint32_t i) {
      const confirmation& c = confirmations[i];
      return std::tie(c.call, c.minute, c.band, c.family);
    };
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
      return std::pair(key(a), a) < std::pair(key(b), b);
    });
    std::vector<bool> dropped(confirmations.size(), false);
    for (std::size_t i = 1; i < order.size(); ++i) {
      if (key(order[i]) == key(order[i - 1])) dropped[order[i]] = true;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < confirmations.size(); ++i) {
      if (dropped[i]) continue;
      if (kept != i) confirmations[kept] = std::move(confirmations[i]);
      ++kept;
    }
    repeated_in_report = confirmations.size() - kept;
    confirmations.resize(kept);
    confirmations.shrink_to_fit();
  }

  // The confirmations by call, band and mode family, then start, and a set
  // of those groups that most QSOs leave after one look.
  struct keyed {
    std::uint64_t group = 0;
    std::int64_t minute = 0;
    std::uint32_t index = 0;
  };
  std::vector<keyed> by_group(confirmations.size());
  std::size_t slots = 16;
  while (slots < 2 * confirmations.size()) slots *= 2;
  std::vector<std::uint64_t> groups(slots, 0);  // 0: empty
  // One bit per group, small enough to stay in the processor's cache, asked
  // before the set itself.
  std::vector<std::uint64_t> group_bits(slots / 16, 0);
  const auto bit_of = [&group_bits](std::uint64_t group) {
    return std::pair(static_cast<std::size_t>(group >> 40) % (group_bits.size() * 64) / 64,
                     std::uint64_t{1} << (group >> 40) % (group_bits.size() * 64) % 64);
  };
  const auto slot_of = [&groups](std::uint64_t group) {
    std::size_t at = static_cast<std::size_t>(group) & (groups.size() - 1);
    while (groups[at] != 0 && groups[at] != group) at = (at + 1) & (groups.size() - 1);
    return at;
  };
  for (std::uint32_t i = 0; i < confirmations.size(); ++i) {
    const confirmation& c = confirmations[i];
    by_group[i] = {group_of(c.call, c.band, c.family), c.minute, i};
    groups[slot_of(by_group[i].group)] = by_group[i].group;
    const auto [word, bit] = bit_of(by_group[i].group);
    group_bits[word] |= bit;
  }
  const auto before_in_order = [](const keyed& a, const keyed& b) {
    return std::tie(a.group, a.minute, a.index) < std::tie(b.group, b.minute, b.index);
  };
  std::sort(by_group.begin(), by_group.end(), before_in_order);

  // First reading: the owner, and each QSO that a confirmation may match.
  std::optional<std::string> owner;
  std::string line_end;
  std::vector<qso_time> qsos;
  std::vector<candidate> candidates;
  {
    locked_source source(logbook);
    logbook_reader lines(source);
    lines.read_values_only();
    logbook_item item;
    while (lines.next(item)) {
      if (item.what != logbook_item::kind::qso || confirmations.empty()) continue;
      const qso_values& qso = item.values;
      const auto minute = minute_of_qso(qso);
      const auto band = band_of(qso.frequence);
      const auto mode = mode_of(qso.mode, qso.frequence, options.user_modes);
      if (!minute || !band || !mode) continue;
      const std::string call = to_upper(qso.indicatif);
      const mode_family family = family_of_mode(mode->mode);
      const std::uint64_t group = group_of(call, *band, family);
      const auto [word, bit] = bit_of(group);
      if ((group_bits[word] & bit) == 0 || groups[slot_of(group)] != group) continue;
      bool kept = false;
      for (auto it =
               std::lower_bound(by_group.begin(), by_group.end(),
                                keyed{group, *minute - kMatchWindowMinutes, 0}, before_in_order);
           it != by_group.end() && it->group == group &&
           it->minute <= *minute + kMatchWindowMinutes;
           ++it) {
        const confirmation& c = confirmations[it->index];
        if (c.call != call || c.band != *band || c.family != family) continue;
        if (!kept) qsos.push_back({item.line, *minute});
        kept = true;
        candidates.push_back({it->index, static_cast<std::uint32_t>(qsos.size() - 1),
                              c.minute > *minute ? c.minute - *minute : *minute - c.minute});
      }
    }
    if (lines.failure()) {
      return unlocked(logbook_failure("n'a pas pu etre lu (" + *lines.failure() + ")"));
    }
    if (const header_block* header = lines.header()) owner = header->header.indicatif;
    line_end = lines.line_end();
  }
  by_group = {};
  groups = {};
  group_bits = {};
  // The report must be the owner's, from where the logbook is kept.
  for (const std::string& station : stations) {
    if (station.empty()) {
      return unlocked(refused(
          "\"" + report_path + "\" ne dit pas l'indicatif de la station confirmee" +
          (service == qsl_service::eqsl ? " (son en-tete dit \"Received eQSLs for INDICATIF\")"
                                        : " (STATION_CALLSIGN)")));
    }
    if (!is_owner_station(station, owner.value_or(first->indicatif))) {
      return unlocked(
          refused("\"" + report_path + "\" confirme des QSO de " + station + ", pas de " +
                  owner.value_or(first->indicatif) + " (le titulaire du journal)" +
                  (service == qsl_service::lotw
                       ? " ; telechargez le rapport LoTW avec qso_owncall=" + owner.value_or("")
                       : "")));
    }
  }
  const std::vector<std::int64_t> matched =
      match_candidates(std::move(candidates), confirmations.size());

  // Second reading: each matched QSO's details, and the QSO nearest to each
  // confirmation left over.
  std::vector<std::pair<std::size_t, std::uint32_t>> to_record;  // line, confirmation
  std::unordered_map<std::string, std::vector<std::uint32_t>> left_by_call;
  std::unordered_map<std::int64_t, std::vector<std::uint32_t>> left_by_day;
  std::map<std::uint32_t, nearest_qso> nearest;
  for (std::uint32_t i = 0; i < confirmations.size(); ++i) {
    if (matched[i] >= 0) {
      to_record.emplace_back(qsos[static_cast<std::size_t>(matched[i])].line, i);
    } else {
      left_by_call[confirmations[i].call].push_back(i);
      left_by_day[confirmations[i].minute / 1440].push_back(i);
      nearest[i];
    }
  }
  qsos = {};
  std::sort(to_record.begin(), to_record.end());
  details_update update(
      details,
      [&](details_record& record, std::uint32_t c) {
        bool ignored = false;
        return apply_confirmation(record, fields_of(confirmations[c]), ignored);
      },
      line_end);
  std::size_t fresh = 0;
  std::size_t known_before = repeated_in_report;
  std::ostringstream simulated;
  std::optional<std::string> failure;
  {
    locked_source source(logbook);
    logbook_reader lines(source);
    lines.read_values_only();
    logbook_item item;
    auto next = to_record.begin();
    while (!failure && lines.next(item)) {
      if (item.what != logbook_item::kind::qso) continue;
      const qso_values& qso = item.values;
      for (; next != to_record.end() && next->first == item.line && !failure; ++next) {
        const confirmation& c = confirmations[next->second];
        const auto key = details_key_of(qso);
        if (!key) continue;  // a matched QSO has a date and a start
        const details_record* found = has_details ? details.find(*key) : nullptr;
        const details_record before = found != nullptr ? *found : details_for(qso, {});
        details_record after = before;
        bool known = false;
        const bool changed = apply_confirmation(after, fields_of(c), known);
        ++(known ? known_before : fresh);
        if (!changed) continue;
        if (options.simulation) {
          simulated << described(qso, item.line, c.minute) << " : "
                    << changes_between(before, after) << "\n";
        }
        failure = update.add(*key, found != nullptr, after, next->second);
      }
      if (nearest.empty()) continue;
      const auto minute = minute_of_qso(qso);
      if (!minute) continue;
      const auto consider = [&](std::uint32_t i, int tier) {
        const std::int64_t gap = confirmations[i].minute > *minute
                                     ? confirmations[i].minute - *minute
                                     : *minute - confirmations[i].minute;
        nearest_qso& best = nearest[i];
        if (tier < best.tier || (tier == best.tier && gap < best.gap)) {
          best = {tier, gap, described(qso, item.line, *minute)};
        }
      };
      const std::string call = to_upper(qso.indicatif);
      if (const auto same = left_by_call.find(call); same != left_by_call.end()) {
        for (const std::uint32_t i : same->second) {
          consider(i, confirmations[i].minute / 1440 == *minute / 1440 ? 0 : 2);
        }
      }
      if (const auto day = left_by_day.find(*minute / 1440); day != left_by_day.end()) {
        for (const std::uint32_t i : day->second) {
          if (one_character_apart(confirmations[i].call, call)) consider(i, 1);
        }
      }
    }
    if (lines.failure()) {
      return unlocked(logbook_failure("n'a pas pu etre lu (" + *lines.failure() + ")"));
    }
  }
  if (failure) return unlocked(refused(*failure));

  // The newest confirmation known of the service, kept in the details'
  // header for the next download.
  const std::string field = newest_field(service);
  std::string newest_known;
  for (const auto& header_field : details.header_fields()) {
    if (header_field.name == field) newest_known = header_field.value;
  }
  const std::string newest = newest_of(newest_known, newest_seen);
  const bool header_changes = newest != newest_known;

  if (!options.simulation && (!update.empty() || header_changes)) {
    std::vector<details_field> header_fields;
    if (!newest.empty()) header_fields.push_back({field, newest});
    if (const platform::status s = update.write(logbook_path, *first, std::move(header_fields));
        !s.ok()) {
      release();
      err << "Erreur : le fichier de details \"" << details_path_for(logbook_path)
          << "\" n'a pas pu etre ecrit (" << s.reason()
          << ") ; aucune confirmation n'a ete enregistree, il est inchange.\n";
      return kExitFailure;
    }
  }
  release();

  if (options.simulation) {
    if (const platform::status s = platform::write_stream(out, simulated.str()); !s.ok()) {
      err << "Erreur : la sortie standard n'a pas pu etre ecrite (" << s.cause() << ").\n";
      return kExitFailure;
    }
  }
  for (const auto& [i, best] : nearest) {
    const confirmation& c = confirmations[i];
    err << "Sans QSO : enregistrement " << c.ordinal << " (ligne " << c.line
        << ") : " << described(c) << " ; "
        << (best.shown.empty() ? "aucun QSO proche" : "le plus proche : " + best.shown) << "\n";
  }
  if (!nearest.empty()) {
    err << "Un indicatif mal saisi se corrige avec velkrin-journal corrige LIGNE indicatif=..., "
           "puis en relisant ce rapport.\n";
  }
  const auto s = [](std::size_t count) { return count > 1 ? "s" : ""; };
  const std::size_t left = nearest.size();
  err << service_name(service) << " : " << fresh << " confirmation" << s(fresh) << " nouvelle"
      << s(fresh) << ", " << known_before << " deja connue" << s(known_before) << ", " << left
      << " sans QSO";
  if (reported > 0) {
    err << ", " << reported << " enregistrement" << s(reported) << " signale" << s(reported);
  }
  if (not_confirmed > 0) {
    err << ", " << not_confirmed << " QSO non confirme" << s(not_confirmed) << " ignore"
        << s(not_confirmed);
  }
  err << (options.simulation ? " (simulation, rien n'est ecrit).\n" : ".\n");
  if (service == qsl_service::lotw && !newest.empty()) {
    err << "Prochain telechargement LoTW : qso_qslsince=" << newest.substr(0, 10)
        << " (derniere confirmation connue : " << newest << ").\n";
  }
  return left == 0 && reported == 0 ? kExitAllExported : kExitLinesReported;
}

}  // namespace velkrin::adif
