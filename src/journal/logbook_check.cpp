// velkrin-journal verifie: every line of the logbook and every record of its
// details file checked, problems and notes said by line number. With the
// country file, notes for calls of no known entity and for frequencies
// outside the owner's allocations; with the supercheck list, notes for calls
// that look mistyped.
#include <algorithm>
#include <vector>

#include "console/visible_text.hpp"
#include "countries/allocations.hpp"
#include "journal/commands.hpp"
#include "journal/qso_checks.hpp"
#include "journal/qso_entity.hpp"
#include "journal/reading.hpp"
#include "logbook/line_format.hpp"

namespace velkrin::journal {
namespace {

// What verifie found in the details file.
struct details_check {
  std::size_t problems = 0;
  std::size_t notes = 0;
};

// "F4ABC, 05-02-2020 09:05, 40m, J3E": a details key as the logbook reads.
std::string describe_key(const details_key& key) {
  std::string text = key.call + ", " + key.date.substr(6, 2) + "-" + key.date.substr(4, 2) + "-" +
                     key.date.substr(0, 4) + " " + key.time.substr(0, 2) + ":" +
                     key.time.substr(2, 2) + ", ";
  text.append(key.band.empty() ? std::string("hors bande") : key.band);
  return text + ", " + key.emission_class;
}

// "12 et 40", "12, 40 et 77".
std::string line_list(const std::vector<std::size_t>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += i + 1 == lines.size() ? " et " : ", ";
    text += std::to_string(lines[i]);
  }
  return text;
}

// verifie's part about the details file, once the logbook is read: a file
// left unread (another logbook's, or unreadable) and unreadable records are
// problems; lines that share a key (`line_keys`, sorted here) and records
// that match no line are notes.
details_check check_details(const command_context& c, const std::optional<logbook_header>& first,
                            std::vector<std::pair<std::uint64_t, std::size_t>>& line_keys) {
  details_check found;
  std::string text;
  const auto write = [&](std::string_view where, std::string_view what) {
    text.assign(where).append(" : ");
    append_visible(text, what);
    text += '\n';
    c.out.write(text);
  };
  details_reader& details = *c.details;
  // The records are read once, by for_each: the header alone says whose they are.
  const details_state state = details.check_owner(first ? &*first : nullptr);
  if (state == details_state::absent) return found;
  if (state != details_state::ready) {
    const std::string said = details_notice(details, c.options.logbook);
    std::string_view notice = said;
    constexpr std::string_view kWarning = "Attention : ";
    if (notice.starts_with(kWarning)) notice.remove_prefix(kWarning.size());
    write("details", trim_right(notice));
    ++found.problems;
    return found;
  }
  std::sort(line_keys.begin(), line_keys.end());
  std::vector<std::vector<std::size_t>> sharing;
  for (std::size_t i = 0; i < line_keys.size();) {
    std::size_t end = i + 1;
    while (end < line_keys.size() && line_keys[end].first == line_keys[i].first) ++end;
    if (end - i > 1) {
      sharing.emplace_back();
      for (std::size_t k = i; k < end; ++k) sharing.back().push_back(line_keys[k].second);
    }
    i = end;
  }
  std::sort(sharing.begin(), sharing.end());
  for (const auto& lines : sharing) {
    write("lignes " + line_list(lines),
          "note : meme indicatif, date, debut, bande et classe : ces lignes partagent leurs "
          "details");
    ++found.notes;
  }
  const platform::status read = details.for_each([&](const details_reader::visit& seen) {
    const std::string where = "details ligne " + std::to_string(seen.line);
    if (seen.problem != nullptr) {
      write(where, seen.problem->reason);
      ++found.problems;
      return;
    }
    const auto key = seen.record->key();
    if (!key) return;  // for_each reports those as problems
    const std::uint64_t digest = key_digest(*key);
    const auto at = std::lower_bound(line_keys.begin(), line_keys.end(),
                                     std::pair<std::uint64_t, std::size_t>{digest, 0});
    if (at != line_keys.end() && at->first == digest) return;
    write(where, "note : details sans QSO (" + describe_key(*key) +
                     ") : aucune ligne du journal n'a cette cle (indicatif, date, debut, bande "
                     "ou classe modifies a la main ? corrige fait suivre les details)");
    ++found.notes;
  });
  if (!read.ok()) {
    write("details", "le fichier de details \"" + details.path() +
                         "\" n'a pas pu etre lu jusqu'au bout (" + read.cause() + ")");
    ++found.problems;
  }
  return found;
}

// The calls of the logbook as logged (upper case, portable parts kept), with
// their number of QSOs and the line of their first: memory per distinct
// call (a slot of 32 bytes, at most half full, and the call's bytes), not
// per QSO. A flat table, probed once per QSO: a node-based map would chase
// pointers on every line. The calls logged once and one character from a
// call logged several times that the supercheck list holds are then told by
// their line.
class call_tally {
 public:
  void add(std::string_view call, std::size_t line) {
    if (call.size() > kLongestCall) return;
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char ch : call) {
      hash = (hash ^ static_cast<unsigned char>(upper(ch))) * 0x100000001b3ull;
    }
    if ((used_ + 1) * 2 > slots_.size()) grow();
    slot& here = slots_[find(hash, call)];
    if (here.qsos == 0) {
      here = {hash, text_.size(), line, 0, static_cast<std::uint32_t>(call.size())};
      for (const char ch : call) text_ += upper(ch);
      ++used_;
    }
    ++here.qsos;
  }

  // "ligne N : note : ..." for each likely typo, in line order.
  std::vector<std::pair<std::size_t, std::string>> typos(
      const countries::supercheck_list& list) const {
    std::vector<countries::call_count> counts;
    counts.reserve(used_);
    for (const slot& each : slots_) {
      if (each.qsos > 0) counts.push_back({call_of(each), each.qsos});
    }
    std::vector<std::pair<std::size_t, std::string>> notes;
    for (const countries::likely_typo& typo : countries::likely_typos(counts, list)) {
      std::string text = typo.call + " n'est pas dans la liste des indicatifs actifs (" +
                         std::string(countries::kSupercheckFileName) + ") ; ";
      for (std::size_t i = 0; i < typo.near.size(); ++i) {
        if (i > 0) text += i + 1 == typo.near.size() ? " et " : ", ";
        text += typo.near[i] + ", contacte " + std::to_string(seen(typo.near[i]).qsos) + " fois,";
      }
      text += typo.near.size() > 1 ? " different d'un caractere" : " differe d'un caractere";
      notes.emplace_back(seen(typo.call).line, std::move(text));
    }
    std::sort(notes.begin(), notes.end());
    return notes;
  }

 private:
  // Far longer than any call of the list: a longer call is no character
  // from one, and is not counted.
  static constexpr std::size_t kLongestCall = 32;
  struct slot {
    std::uint64_t hash = 0;
    std::size_t offset = 0;  // of the call in text_
    std::size_t line = 0;    // of its first QSO
    std::uint32_t qsos = 0;  // 0 for a free slot
    std::uint32_t length = 0;
  };
  static char upper(char ch) { return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 32) : ch; }
  static bool same_call(std::string_view stored, std::string_view call) {
    return stored.size() == call.size() && std::equal(stored.begin(), stored.end(), call.begin(),
                                                      [](char a, char b) { return a == upper(b); });
  }
  // The slot from the hash's high bits after a multiplication (FNV-1a's low
  // bits differ little between calls that differ in their last letters).
  std::size_t first_slot(std::uint64_t hash) const {
    return static_cast<std::size_t>((hash * 0x9E3779B97F4A7C15ull) >> 32) & (slots_.size() - 1);
  }
  std::string_view call_of(const slot& each) const {
    return std::string_view(text_).substr(each.offset, each.length);
  }
  // The slot of that call (`call` in any case), or the free one where it goes.
  std::size_t find(std::uint64_t hash, std::string_view call) const {
    for (std::size_t at = first_slot(hash);; at = (at + 1) & (slots_.size() - 1)) {
      const slot& here = slots_[at];
      if (here.qsos == 0 || (here.hash == hash && same_call(call_of(here), call))) return at;
    }
  }
  const slot& seen(std::string_view upper_call) const {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char ch : upper_call)
      hash = (hash ^ static_cast<unsigned char>(ch)) * 0x100000001b3ull;
    return slots_[find(hash, upper_call)];
  }
  void grow() {
    std::vector<slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 1024 : old.size() * 2, slot{});
    for (const slot& moved : old) {
      if (moved.qsos == 0) continue;
      std::size_t at = first_slot(moved.hash);
      while (slots_[at].qsos != 0) at = (at + 1) & (slots_.size() - 1);
      slots_[at] = moved;
    }
  }

  std::vector<slot> slots_;
  std::size_t used_ = 0;
  std::string text_;  // the calls, upper case, end to end
};

// True when the table holds the frequency.
bool allows(const countries::allocation_table& table, std::int32_t khz) {
  const std::int64_t hz = std::int64_t{khz} * 1000;
  return std::any_of(
      table.segments.begin(), table.segments.end(),
      [hz](const countries::band_segment& s) { return s.low_hz <= hz && hz <= s.high_hz; });
}

}  // namespace

int check_logbook(const command_context& c) {
  std::size_t problems = 0;
  std::size_t notes = 0;
  std::size_t qsos = 0;
  std::string text;
  std::string scratch;
  const auto say = [&](std::size_t line, std::string_view what) {
    text.assign("ligne ").append(std::to_string(line)).append(" : ");
    append_visible(text, what);
    text.append("\n");
    c.out.write(text);
  };
  const auto problem = [&](std::size_t line, const std::string& what) {
    say(line, what);
    ++problems;
  };
  // A run of QSOs dated before their header's start date, said once.
  std::size_t early_first = 0;
  std::size_t early_last = 0;
  std::string early_header;
  const auto end_early_run = [&] {
    if (early_first == 0) return;
    text = (early_first == early_last
                ? "ligne " + std::to_string(early_first)
                : "lignes " + std::to_string(early_first) + " a " + std::to_string(early_last)) +
           " : note : QSO dates d'avant le debut du journal de " + early_header +
           " (un en-tete refait par le menu 4 ?) ; l'export leur donne ce proprietaire\n";
    c.out.write(text);
    ++notes;
    early_first = 0;
  };

  // The country data, when found: the entity of each call and the owner's
  // allocations. The supercheck list, when found: the calls' counts.
  const countries::country_source* countries = country_data_for(c, false);
  if (country_data_failed(c, false)) return kExitFailure;
  std::optional<entity_finder> entities;
  if (countries != nullptr) entities.emplace(countries->data);
  const countries::supercheck_source* supercheck =
      c.countries != nullptr ? c.countries->supercheck() : nullptr;
  if (c.countries != nullptr && !c.countries->supercheck_problem().empty()) {
    c.err << "Note : " << c.countries->supercheck_problem()
          << " ; les indicatifs ne sont pas compares a la liste.\n";
  }
  call_tally calls;
  // The allocations of the current header's owner; nullptr before the first
  // header or without the country data.
  const countries::allocation_table* allocations = nullptr;
  std::optional<calendar_date> newest;

  fact_finder finder(c.options.user_modes);
  std::optional<std::string> read_failure;
  std::size_t line = 0;
  bool call_problem = false;
  const auto column_problem = [&](qso_column column, const std::string& what) {
    if (column == qso_column::indicatif) call_problem = true;
    problem(line, what);
  };
  // The key of every line, when the logbook has details: which lines share
  // one, and which records match no line.
  bool with_details = false;
  std::vector<std::pair<std::uint64_t, std::size_t>> line_keys;  // digest, line
  std::optional<logbook_header> first_header;
  // A call of no entity, unless its details give its DXCC number (the
  // details are then indexed, once, for the few calls this concerns).
  const auto check_entity = [&](const qso_values& qso, std::size_t at) {
    const qso_entity found = entities->of_call(qso.indicatif);
    if (found.entity != nullptr || found.maritime) return;
    if (with_details &&
        c.details->load(first_header ? &*first_header : nullptr) == details_state::ready) {
      const auto key = details_key_of(qso);
      const details_record* details = key ? c.details->find(*key) : nullptr;
      if (details != nullptr && details_dxcc(*details)) return;
    }
    say(at, "note : " + std::string(qso.indicatif) +
                " ne correspond a aucune entite du fichier des pays");
    ++notes;
  };
  // A frequency the owner's location does not grant: in an amateur band
  // elsewhere (allocation_note), or in a band of the ADIF table that no ITU
  // region grants but some countries do (60 m channels, 8 m, 5 m...), which
  // may be an error or a national allocation that the tables cannot know.
  const auto check_allocation = [&](const countries::allocation_table& table, const qso_values& qso,
                                    const qso_facts& facts, std::size_t at) {
    if (!table.checked || qso.frequence <= 0) return;
    if (const auto note = countries::allocation_note(table, qso.frequence)) {
      say(at, "note : " + *note);
      ++notes;
    } else if (facts.band && !countries::in_world_band(qso.frequence) &&
               !allows(table, qso.frequence)) {
      say(at, "note : " + std::to_string(qso.frequence) + " kHz (" + std::string(*facts.band) +
                  ") : hors des allocations de " + std::string(table.name) + " (" +
                  std::string(table.source) +
                  ") et des bandes amateur de toutes les regions de l'IARU ; seuls quelques pays "
                  "attribuent cette bande (licence a verifier)");
      ++notes;
    }
  };
  const auto opened = c.open([&](logbook_reader& reader) {
    // Opened with the logbook, not yet loaded.
    with_details = c.details != nullptr && c.details->state() == details_state::ready;
    reader.read_values_only();
    logbook_item item;
    qso_facts facts;
    std::optional<calendar_date> header_start;
    while (reader.next(item)) {
      if (item.what == logbook_item::kind::unreadable) {
        end_early_run();
        problem(item.line, item.reason);
        continue;
      }
      if (item.what == logbook_item::kind::header) {
        end_early_run();
        const logbook_header& header = reader.header()->header;
        if (!first_header) first_header = header;
        header_start = parse_date(header.date_debut);
        early_header = std::string(visible(header.indicatif, scratch)) + " (" +
                       std::string(visible(header.date_debut, scratch)) + ", ligne " +
                       std::to_string(item.line) + ")";
        if (entities) {
          // An owner of uncertain location (TO, TX) is not checked.
          const qso_entity owner = entities->of_call(header.indicatif);
          allocations = &countries::allocations_for(owner.uncertain ? nullptr : owner.entity,
                                                    to_upper(header.indicatif));
        }
        if (reader.header_count() > 1) {
          say(item.line, "note : nouvel en-tete, le proprietaire devient " +
                             std::string(visible(header.indicatif, scratch)) +
                             " a partir d'ici (deux journaux mis bout a bout ?)");
          ++notes;
        }
        continue;
      }
      ++qsos;
      const qso_values& qso = item.values;
      line = item.line;
      finder.find(qso, facts);
      if (reader.header() == nullptr) {
        problem(line,
                "QSO au-dessus du premier en-tete : sans proprietaire, son export n'aurait "
                "pas d'indicatif de station");
      }
      call_problem = false;
      find_value_problems(qso, facts, column_problem);
      if (supercheck != nullptr && !qso.indicatif.empty()) calls.add(qso.indicatif, line);
      if (entities) {
        if (facts.date && (!newest || *facts.date > *newest)) newest = facts.date;
        if (!call_problem) check_entity(qso, line);
        if (allocations != nullptr && reader.header() != nullptr) {
          check_allocation(*allocations, qso, facts, line);
        }
      }
      if (with_details) {
        if (const auto key = details_key_of(qso)) line_keys.emplace_back(key_digest(*key), line);
      }
      if (is_valid_time(qso.debut) && is_valid_time(qso.fin) && qso.fin < qso.debut) {
        say(line, "note : fin avant le debut (passe minuit ?)");
        ++notes;
      }
      if (header_start && facts.date && *facts.date < *header_start) {
        if (early_first == 0) early_first = line;
        early_last = line;
      } else {
        end_early_run();
      }
    }
    end_early_run();
    read_failure = reader.failure();
  });
  if (opened || read_failure) {
    c.out.flush();
    report_failure(c, opened ? *opened : *read_failure);
    return kExitFailure;
  }
  if (supercheck != nullptr) {
    for (const auto& [at, typo] : calls.typos(supercheck->list)) {
      say(at, "note : " + typo);
      ++notes;
    }
  }
  if (newest) {
    note_stale_country_data(
        c, std::to_string(newest->year * 10000 + newest->month * 100 + newest->day));
  }
  if (c.details != nullptr) {
    const details_check found = check_details(c, first_header, line_keys);
    problems += found.problems;
    notes += found.notes;
  }
  std::string count = problems == 0 ? std::string("Aucun probleme") : plural(problems, "probleme");
  count += ", " + plural(notes, "note") + ", " + std::to_string(qsos) + " QSO lu" +
           (qsos > 1 ? "s" : "") + ".\n";
  c.out.write(count);
  return finish_output(c, problems == 0 ? kExitSuccess : kExitAnswer);
}

}  // namespace velkrin::journal
