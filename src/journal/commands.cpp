#include "journal/commands.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <ostream>

#include "console/visible_text.hpp"
#include "journal/qso_checks.hpp"
#include "logbook/line_format.hpp"

namespace velkrin::journal {
namespace {

constexpr std::string_view kNoBand = "-";
constexpr std::size_t kBarWidth = 40;

std::string plural(std::size_t count, std::string_view word) {
  return std::to_string(count) + " " + std::string(word) + (count > 1 ? "s" : "");
}

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

void report_failure(const command_context& c, const std::string& reason) {
  c.err << unreadable_logbook_message(c.options.logbook, reason);
}

// Reads the logbook and hands `take` each QSO that the filters select (with
// --derniers, the last N of them, at the end). Unreadable lines are
// reported on `err`. False when the logbook could not be read (said on err).
bool read_selected(const command_context& c, fact_finder& finder, const qso_handler& take,
                   const std::string& quick_needle = {}) {
  const filters& selection = c.options.selection;
  std::vector<kept_qso> ring;
  std::size_t next_slot = 0;
  std::optional<std::string> read_failure;
  // A class of --mode is looked for in every line, none skipped.
  const std::vector<std::string>& classes = selection.classes_to_find;
  std::vector<bool> class_found(classes.size(), false);
  const auto opened = c.open([&](logbook_reader& reader) {
    if (!quick_needle.empty() && classes.empty()) {
      reader.set_line_filter(
          [&quick_needle](std::string_view line) { return may_hold(line, quick_needle); });
    }
    reader.read_values_only();
    logbook_item item;
    qso_facts facts;
    while (reader.next(item)) {
      if (item.what == logbook_item::kind::unreadable) {
        c.err << "ligne " << item.line << " : " << item.reason << "\n";
        continue;
      }
      if (item.what != logbook_item::kind::qso) continue;
      if (!classes.empty()) {
        const std::string typed = to_upper(item.values.mode);
        for (std::size_t k = 0; k < classes.size(); ++k) {
          if (classes[k] == typed) class_found[k] = true;
        }
      }
      finder.find(item.values, facts);
      if (!selection.matches(item.values, facts)) continue;
      const header_block* header = reader.header();
      const std::string_view owner = header ? std::string_view(header->header.indicatif) : "";
      if (!selection.last) {
        take(item.values, facts, item.line, owner, item.details);
        continue;
      }
      if (*selection.last == 0) continue;
      std::optional<details_record> details;
      if (item.details != nullptr) details = *item.details;
      if (ring.size() < *selection.last) {
        ring.push_back({item.values.record(), item.line, std::string(owner), std::move(details)});
      } else {
        kept_qso& slot = ring[next_slot];
        item.values.copy_to(slot.qso);
        slot.line = item.line;
        slot.owner = owner;
        slot.details = std::move(details);
        next_slot = (next_slot + 1) % ring.size();
      }
    }
    read_failure = reader.failure();
  });
  if (opened) {
    report_failure(c, *opened);
    return false;
  }
  if (read_failure) {
    report_failure(c, *read_failure);
    return false;
  }
  for (std::size_t k = 0; k < classes.size(); ++k) {
    if (!class_found[k]) {
      c.err << "Erreur : --mode \"" << classes[k]
            << "\" n'est ni un mode ADIF (SSB, CW, FT8...) ni une classe d'emission du "
               "journal.\n";
      return false;
    }
  }
  qso_facts facts;
  for (std::size_t i = 0; i < ring.size(); ++i) {
    const kept_qso& kept = ring[(next_slot + i) % ring.size()];
    finder.find(kept.qso, facts);
    take(kept.qso, facts, kept.line, kept.owner, kept.details ? &*kept.details : nullptr);
  }
  return true;
}

// The rows of liste, indicatif and doublons.
class qso_rows {
 public:
  // With `with_reports`, a column shows each QSO's reports from its details.
  qso_rows(output& out, bool short_table, bool with_group = false, bool with_reports = false)
      : short_(short_table),
        group_(with_group),
        reports_(with_reports),
        table_(columns(), out, minimum_widths()) {}

  void add(const qso_values& qso, const qso_facts& facts, std::size_t line,
           std::string_view group = {}, const details_record* details = nullptr) {
    cells_.clear();
    if (group_) cells_.emplace_back(group);
    debut_ = clock_time(qso.debut);
    fin_ = clock_time(qso.fin);
    khz_ = std::to_string(qso.frequence);
    mode_ = mode_name(qso, facts);
    if (const std::string typed = to_upper(qso.mode); typed != mode_) {
      mode_.append(" (").append(typed).append(")");
    }
    if (needs_showing(mode_)) mode_ = visible(mode_);
    line_ = std::to_string(line);
    cells_.push_back(visible(qso.date, scratch_[1]));
    cells_.push_back(debut_);
    cells_.push_back(fin_);
    cells_.push_back(visible(qso.indicatif, scratch_[2]));
    if (!short_) cells_.push_back(visible(qso.prenom, scratch_[3]));
    cells_.push_back(khz_);
    cells_.push_back(facts.band.value_or(kNoBand));
    cells_.push_back(mode_);
    if (reports_) {
      reports_text_.clear();
      const std::string* sent = details ? details->find("RST_SENT") : nullptr;
      const std::string* received = details ? details->find("RST_RCVD") : nullptr;
      if (sent != nullptr || received != nullptr) {
        append_visible(reports_text_, sent ? std::string_view(*sent) : "-");
        reports_text_ += '/';
        append_visible(reports_text_, received ? std::string_view(*received) : "-");
      }
      cells_.push_back(reports_text_);
    }
    if (!short_) cells_.push_back(visible(qso.lieu, scratch_[4]));
    cells_.push_back(line_);
    table_.add(cells_);
  }
  void finish() { table_.finish(); }
  std::size_t rows() const { return table_.rows(); }

 private:
  std::vector<column> columns() const {
    std::vector<column> list;
    if (group_) list.push_back({"Groupe", true});
    list.insert(list.end(), {{"Date"}, {"Debut"}, {"Fin"}, {"Indicatif"}});
    if (!short_) list.push_back({"Prenom"});
    list.insert(list.end(), {{"kHz", true}, {"Bande"}, {"Mode"}});
    if (reports_) list.push_back({kReportsTitle});
    if (!short_) list.push_back({"Lieu"});
    list.push_back({"Ligne", true});
    return list;
  }
  // The widths the logbook's own columns have, for rows written before all
  // are seen.
  std::vector<std::size_t> minimum_widths() const {
    std::vector<std::size_t> list;
    if (group_) list.push_back(6);
    list.insert(list.end(), {10, 5, 5, 9});
    if (!short_) list.push_back(15);
    list.insert(list.end(), {6, 5, 9});
    if (reports_) list.push_back(kReportsTitle.size());
    if (!short_) list.push_back(25);
    list.push_back(7);
    return list;
  }

  // "59/57": sent, then received, "-" for one missing.
  static constexpr std::string_view kReportsTitle = "Reports";
  bool short_;
  bool group_;
  bool reports_;
  text_table table_;
  std::vector<std::string_view> cells_;
  std::string debut_, fin_, khz_, mode_, line_, reports_text_;
  std::string scratch_[5];
};

// A bar of "#" for `count` out of `largest`, at least one for any count.
std::string bar(std::size_t count, std::size_t largest) {
  if (count == 0 || largest == 0) return "";
  return std::string(std::max<std::size_t>(1, (count * kBarWidth + largest / 2) / largest), '#');
}

// The order of the bands in the ADIF table, by their lowest frequency seen.
struct band_count {
  std::string name;
  std::int32_t lowest_khz = 0;
  std::size_t count = 0;
};

// `a == b` for the short names of bands and modes, without a call to
// compare them: every line looks its band and mode up.
bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

std::size_t band_slot(std::vector<band_count>& bands, std::string_view name, std::int32_t khz) {
  for (std::size_t i = 0; i < bands.size(); ++i) {
    if (same_name(bands[i].name, name)) {
      bands[i].lowest_khz = std::min(bands[i].lowest_khz, khz);
      return i;
    }
  }
  bands.push_back({std::string(name), khz, 0});
  return bands.size() - 1;
}

std::size_t name_slot(std::vector<std::pair<std::string, std::size_t>>& names,
                      std::string_view name) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (same_name(names[i].first, name)) return i;
  }
  names.emplace_back(std::string(name), 0);
  return names.size() - 1;
}

// A band by mode grid of counts, bands in frequency order, modes by count.
class band_mode_grid {
 public:
  void add(std::string_view band, std::int32_t khz, std::string_view mode) {
    const std::size_t b = band_slot(bands_, band, khz);
    const std::size_t m = name_slot(modes_, mode);
    ++bands_[b].count;
    ++modes_[m].second;
    if (cells_.size() <= b) cells_.resize(b + 1);
    if (cells_[b].size() <= m) cells_[b].resize(m + 1, 0);
    ++cells_[b][m];
  }
  const std::vector<band_count>& bands() const { return bands_; }
  const std::vector<std::pair<std::string, std::size_t>>& modes() const { return modes_; }

  // The grid as a table; `empty` stands in a cell with no QSO.
  void write(output& out, std::string_view empty) const {
    const auto band_order = ordered_bands();
    const auto mode_order = ordered_modes();
    std::vector<column> columns{{"Bande"}};
    std::vector<std::string> titles;
    for (const std::size_t m : mode_order) titles.push_back(visible(modes_[m].first));
    for (const std::string& title : titles) columns.push_back({title, true});
    text_table table(columns, out);
    std::vector<std::string> texts;
    for (const std::size_t b : band_order) {
      texts.assign(1, bands_[b].name == kNoBand ? std::string("hors bande") : bands_[b].name);
      for (const std::size_t m : mode_order) {
        const std::size_t count = m < cells_[b].size() ? cells_[b][m] : 0;
        texts.push_back(count == 0 ? std::string(empty) : std::to_string(count));
      }
      table.add(std::vector<std::string_view>(texts.begin(), texts.end()));
    }
    table.finish();
  }

  std::vector<std::size_t> ordered_bands() const {
    std::vector<std::size_t> order(bands_.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      const bool a_none = bands_[a].name == kNoBand;
      const bool b_none = bands_[b].name == kNoBand;
      if (a_none != b_none) return b_none;
      return bands_[a].lowest_khz < bands_[b].lowest_khz;
    });
    return order;
  }
  std::vector<std::size_t> ordered_modes() const {
    std::vector<std::size_t> order(modes_.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return modes_[a].second > modes_[b].second;
    });
    return order;
  }

 private:
  std::vector<band_count> bands_;
  std::vector<std::pair<std::string, std::size_t>> modes_;
  std::vector<std::vector<std::size_t>> cells_;
};

// The stations seen, as 64-bit hashes of their base calls in an open
// addressing table: 8 bytes a station, whatever their number. The table
// outgrows the processor's caches with the stations of a big logbook, so
// hashes are placed a batch at a time, their slots fetched ahead together
// rather than waited for one after the other.
class station_set {
 public:
  void add(std::string_view base) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : base) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    if (hash == 0) hash = 1;  // 0 marks a free slot
    pending_[pending_count_++] = hash;
    if (pending_count_ == pending_.size()) place_pending();
  }
  std::size_t size() {
    place_pending();
    return count_;
  }

 private:
  // The slot from the hash's high bits after a multiplication: FNV-1a's
  // low bits differ little between call signs that differ in their last
  // letters, which made long runs of probes.
  static std::size_t first_slot(std::uint64_t hash, std::size_t mask) {
    return static_cast<std::size_t>((hash * 0x9E3779B97F4A7C15ull) >> 32) & mask;
  }
  static bool place(std::vector<std::uint64_t>& slots, std::uint64_t hash) {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = first_slot(hash, mask);; i = (i + 1) & mask) {
      if (slots[i] == hash) return false;
      if (slots[i] == 0) {
        slots[i] = hash;
        return true;
      }
    }
  }
  void place_pending() {
    while ((count_ + pending_count_) * 2 > slots_.size()) grow();
#if defined(__GNUC__)
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = 0; i < pending_count_; ++i) {
      __builtin_prefetch(&slots_[first_slot(pending_[i], mask)]);
    }
#endif
    for (std::size_t i = 0; i < pending_count_; ++i) {
      if (place(slots_, pending_[i])) ++count_;
    }
    pending_count_ = 0;
  }
  void grow() {
    std::vector<std::uint64_t> bigger(slots_.empty() ? 1024 : slots_.size() * 2, 0);
    for (const std::uint64_t hash : slots_) {
      if (hash != 0) place(bigger, hash);
    }
    slots_.swap(bigger);
  }
  std::vector<std::uint64_t> slots_;
  std::size_t count_ = 0;
  std::array<std::uint64_t, 16> pending_{};
  std::size_t pending_count_ = 0;
};

// When a QSO took place, for first and last: minutes since 1970, or none.
std::optional<std::int64_t> minute_of(const qso_facts& facts, std::int32_t debut) {
  if (!facts.date) return std::nullopt;
  return day_number(*facts.date) * 1440 +
         (is_valid_time(debut) ? debut / 100 * 60 + debut % 100 : 0);
}

std::string describe(const kept_qso& qso) {
  std::string scratch;
  return std::string(visible(qso.qso.date, scratch)) + " " + clock_time(qso.qso.debut) + " " +
         std::string(visible(qso.qso.indicatif, scratch)) + " (ligne " + std::to_string(qso.line) +
         ")";
}

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

}  // namespace

// ---------------------------------------------------------------------------

int finish_output(const command_context& c, int status) {
  if (!c.out.flush()) {
    c.err << "Erreur : la sortie standard n'a pas pu etre ecrite (" << *c.out.failure() << ").\n";
    return kExitFailure;
  }
  return status;
}

int list_qsos(const command_context& c) {
  fact_finder finder(c.options.user_modes);
  // Made at the first QSO, when the details file is known: the reports get
  // a column when the logbook has details.
  std::optional<qso_rows> table;
  const auto rows = [&]() -> qso_rows& {
    if (!table) {
      table.emplace(c.out, c.options.short_table, false,
                    c.details != nullptr && c.details->state() == details_state::ready);
    }
    return *table;
  };
  const std::string needle =
      c.options.selection.call ? literal_part(*c.options.selection.call) : std::string();
  const bool read = read_selected(
      c, finder,
      [&](const qso_values& qso, const qso_facts& facts, std::size_t line, std::string_view,
          const details_record* details) { rows().add(qso, facts, line, {}, details); },
      needle);
  if (!read) return kExitFailure;
  rows().finish();
  return finish_output(c, kExitSuccess);
}

int worked_before(const command_context& c) {
  fact_finder finder(c.options.user_modes);
  const std::string station = base_call(c.options.call);
  std::vector<kept_qso> found;
  band_mode_grid grid;
  std::optional<calendar_date> first;
  std::optional<calendar_date> last;
  const bool read = read_selected(
      c, finder,
      [&](const qso_values& qso, const qso_facts& facts, std::size_t line, std::string_view,
          const details_record*) {
        if (!contains_any_case(qso.indicatif, station) || base_call(qso.indicatif) != station) {
          return;
        }
        found.push_back({qso.record(), line, {}, {}});
        grid.add(facts.band.value_or(kNoBand), qso.frequence, mode_name(qso, facts));
        if (facts.date && (!first || *facts.date < *first)) first = facts.date;
        if (facts.date && (!last || *facts.date > *last)) last = facts.date;
      },
      station);
  if (!read) return kExitFailure;
  std::string scratch;
  const std::string shown(visible(station, scratch));
  if (found.empty()) {
    c.out.write(shown + " : jamais contacte (aucun QSO dans le journal).\n");
    return finish_output(c, kExitAnswer);
  }
  const auto day = [](const calendar_date& date) {
    const auto two = [](int n) { return std::string{char('0' + n / 10), char('0' + n % 10)}; };
    return two(date.day) + "-" + two(date.month) + "-" + std::to_string(date.year);
  };
  std::string summary = shown + " : " + std::to_string(found.size()) + " QSO";
  if (first) summary += ", du " + day(*first) + " au " + day(*last);
  c.out.write(summary + ".\n\n");
  grid.write(c.out, ".");
  c.out.write("\n");
  qso_rows rows(c.out, c.options.short_table);
  qso_facts facts;
  for (const kept_qso& kept : found) {
    finder.find(kept.qso, facts);
    rows.add(kept.qso, facts, kept.line);
  }
  rows.finish();
  return finish_output(c, kExitSuccess);
}

int find_duplicates(const command_context& c) {
  struct keyed_line {
    duplicate_key key;
    std::size_t line;
  };
  std::vector<keyed_line> keys;
  std::optional<std::string> read_failure;
  const auto first_pass = c.open([&](logbook_reader& reader) {
    logbook_item item;
    while (reader.next(item)) {
      if (item.what != logbook_item::kind::qso) continue;
      if (const auto key = duplicate_key_of(item.qso, c.options.user_modes)) {
        keys.push_back({*key, item.line});
      }
    }
    read_failure = reader.failure();
  });
  if (first_pass || read_failure) {
    report_failure(c, first_pass ? *first_pass : *read_failure);
    return kExitFailure;
  }
  std::sort(keys.begin(), keys.end(), [](const keyed_line& a, const keyed_line& b) {
    return a.key != b.key ? a.key < b.key : a.line < b.line;
  });
  // Sorted by station then minute, a chain of pairs within the window is a
  // run of neighbours.
  struct member {
    std::size_t line;
    std::size_t group;
    duplicate_key key;
  };
  std::vector<member> members;
  std::vector<std::size_t> group_first_line;
  for (std::size_t i = 0; i + 1 < keys.size();) {
    std::size_t end = i + 1;
    while (end < keys.size() && within_duplicate_window(keys[end - 1].key, keys[end].key)) ++end;
    if (end - i > 1) {
      std::size_t lowest = keys[i].line;
      for (std::size_t k = i; k < end; ++k) {
        members.push_back({keys[k].line, group_first_line.size(), keys[k].key});
        lowest = std::min(lowest, keys[k].line);
      }
      group_first_line.push_back(lowest);
    }
    i = end;
  }
  keys.clear();
  keys.shrink_to_fit();
  if (members.empty()) {
    c.out.write("Aucun doublon.\n");
    return finish_output(c, kExitSuccess);
  }
  // Groups are numbered in the order of their first line.
  std::vector<std::size_t> order(group_first_line.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return group_first_line[a] < group_first_line[b];
  });
  std::vector<std::size_t> number(order.size());
  for (std::size_t i = 0; i < order.size(); ++i) number[order[i]] = i + 1;
  for (member& m : members) m.group = number[m.group];
  std::sort(members.begin(), members.end(),
            [](const member& a, const member& b) { return a.line < b.line; });

  // The second pass keeps the duplicated lines, then they are written group
  // after group. Each must still be the QSO the first pass saw on its line:
  // a header given by menu 4 in between moves every line, and the rows shown
  // would be other QSOs.
  std::vector<std::pair<std::size_t, kept_qso>> rows;  // group, QSO
  std::size_t next = 0;
  bool moved = false;
  const auto second_pass = c.open([&](logbook_reader& reader) {
    logbook_item item;
    while (next < members.size() && reader.next(item)) {
      if (item.what != logbook_item::kind::qso || item.line != members[next].line) continue;
      if (duplicate_key_of(item.qso, c.options.user_modes) != members[next].key) break;
      rows.push_back({members[next].group, {item.qso, item.line, {}, {}}});
      ++next;
    }
    read_failure = reader.failure();
    moved = !read_failure && next < members.size();
  });
  if (second_pass || read_failure) {
    report_failure(c, second_pass ? *second_pass : *read_failure);
    return kExitFailure;
  }
  if (moved) {
    report_failure(c, "il a change pendant la lecture ; relancez la commande");
    return kExitFailure;
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  fact_finder finder(c.options.user_modes);
  qso_rows table(c.out, false, true);
  qso_facts facts;
  std::string group;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    finder.find(rows[i].second.qso, facts);
    group = i == 0 || rows[i - 1].first != rows[i].first ? std::to_string(rows[i].first) : "";
    table.add(rows[i].second.qso, facts, rows[i].second.line, group);
  }
  table.finish();
  c.out.write("\n" + plural(order.size(), "groupe") + " de doublons (" +
              std::to_string(rows.size()) + " QSO).\n");
  return finish_output(c, kExitAnswer);
}

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

  fact_finder finder(c.options.user_modes);
  std::optional<std::string> read_failure;
  std::size_t line = 0;
  const auto column_problem = [&](qso_column, const std::string& what) { problem(line, what); };
  // The key of every line, when the logbook has details: which lines share
  // one, and which records match no line.
  bool with_details = false;
  std::vector<std::pair<std::uint64_t, std::size_t>> line_keys;  // digest, line
  std::optional<logbook_header> first_header;
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
      find_value_problems(qso, facts, column_problem);
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

int logbook_statistics(const command_context& c) {
  fact_finder finder(c.options.user_modes);
  std::map<int, std::size_t> years;  // 0 for a date that is none
  band_mode_grid grid;
  station_set stations;
  std::size_t total = 0;
  std::optional<std::int64_t> first_minute;
  std::optional<std::int64_t> last_minute;
  kept_qso first;
  kept_qso last;
  std::string mode;
  std::size_t* year_count = nullptr;  // in `years`, of the QSO before
  int last_year = 0;
  const bool read = read_selected(c, finder,
                                  [&](const qso_values& qso, const qso_facts& facts,
                                      std::size_t line, std::string_view, const details_record*) {
                                    ++total;
                                    if (const int year = facts.date ? facts.date->year : 0;
                                        !year_count || year != last_year) {
                                      year_count = &years[year];  // std::map keeps it in place
                                      last_year = year;
                                    }
                                    ++*year_count;
                                    mode = mode_name(qso, facts);
                                    grid.add(facts.band.value_or(kNoBand), qso.frequence, mode);
                                    stations.add(base_call(qso.indicatif));
                                    if (const auto minute = minute_of(facts, qso.debut)) {
                                      // Only what describe() shows: in date order every line is the
                                      // new last QSO.
                                      const auto keep = [&](kept_qso& kept) {
                                        kept.qso.date = qso.date;
                                        kept.qso.debut = qso.debut;
                                        kept.qso.indicatif = qso.indicatif;
                                        kept.line = line;
                                      };
                                      if (!first_minute || *minute < *first_minute) {
                                        first_minute = minute;
                                        keep(first);
                                      }
                                      if (!last_minute || *minute >= *last_minute) {
                                        last_minute = minute;
                                        keep(last);
                                      }
                                    }
                                  });
  if (!read) return kExitFailure;

  std::string text = std::to_string(total) + " QSO" +
                     (c.options.selection.any() ? " selectionne" + std::string(total > 1 ? "s" : "")
                                                : std::string()) +
                     ", " + plural(stations.size(), "station") + " differente" +
                     (stations.size() > 1 ? "s" : "") + ".\n";
  if (first_minute) {
    text += "Premier QSO : " + describe(first) + "\nDernier QSO : " + describe(last) + "\n";
  }
  c.out.write(text);
  if (total == 0) return finish_output(c, kExitSuccess);

  // A list of counts with their bars.
  const auto write_counts = [&](std::string_view title,
                                const std::vector<std::pair<std::string, std::size_t>>& counts) {
    std::size_t largest = 0;
    for (const auto& entry : counts) largest = std::max(largest, entry.second);
    c.out.write("\n" + std::string(title) + " :\n");
    text_table table({{""}, {"", true}, {""}}, c.out);
    std::vector<std::string> cells;
    for (const auto& [name, count] : counts) {
      cells = {visible(name), std::to_string(count), bar(count, largest)};
      table.add(std::vector<std::string_view>(cells.begin(), cells.end()));
    }
    table.finish();
  };
  std::vector<std::pair<std::string, std::size_t>> counts;
  for (const auto& [year, count] : years) {
    counts.emplace_back(year == 0 ? "date invalide" : std::to_string(year), count);
  }
  write_counts("Par annee", counts);
  counts.clear();
  for (const std::size_t b : grid.ordered_bands()) {
    const band_count& band = grid.bands()[b];
    counts.emplace_back(band.name == kNoBand ? "hors bande" : band.name, band.count);
  }
  write_counts("Par bande", counts);
  counts.clear();
  for (const std::size_t m : grid.ordered_modes()) counts.push_back(grid.modes()[m]);
  write_counts("Par mode", counts);
  c.out.write("\nBandes et modes :\n");
  grid.write(c.out, ".");
  return finish_output(c, kExitSuccess);
}

void append_csv_field(std::string_view value, char separator, bool spreadsheet, std::string& line) {
  const bool formula = spreadsheet && !value.empty() &&
                       (value.front() == '=' || value.front() == '+' || value.front() == '-' ||
                        value.front() == '@');
  const bool quoted =
      value.find_first_of(std::string{separator, '"', '\r', '\n'}) != std::string_view::npos;
  if (quoted) line += '"';
  if (formula) line += '\'';
  for (const char ch : value) {
    if (ch == '"') line += '"';
    line += ch;
  }
  if (quoted) line += '"';
}

// JJ/MM/AAAA, which a spreadsheet set up in French reads as a date.
std::string french_date(const calendar_date& date) {
  std::string text = "00/00/";
  text[0] = static_cast<char>('0' + date.day / 10);
  text[1] = static_cast<char>('0' + date.day % 10);
  text[3] = static_cast<char>('0' + date.month / 10);
  text[4] = static_cast<char>('0' + date.month % 10);
  return text + std::to_string(date.year);
}

// A CSV field, with its control characters written as visible() shows them
// (a spreadsheet would take a line end or worse from them), and said on err.
void append_shown_field(const command_context& c, std::string_view column, std::size_t line,
                        std::string_view value, std::string& out) {
  const char separator = c.options.excel ? ';' : ',';
  if (!needs_showing(value)) {
    append_csv_field(value, separator, c.options.excel, out);
    return;
  }
  const std::string shown = visible(value);
  c.err << "ligne " << line << " : caractere de controle dans la colonne " << column << ", ecrit \""
        << shown << "\" dans le CSV\n";
  append_csv_field(shown, separator, c.options.excel, out);
}

int export_csv(const command_context& c) {
  const bool excel = c.options.excel;
  const char separator = excel ? ';' : ',';
  const std::string_view eol = excel ? "\r\n" : "\n";
  std::string line = excel ? std::string(kUtf8Bom) : std::string();
  constexpr std::string_view kTitles[] = {
      "date",         "debut", "fin",           "indicatif",   "prenom",  "khz",
      "mhz",          "bande", "mode",          "sous_mode",   "classe",  "lieu",
      "proprietaire", "ligne", "report_envoye", "report_recu", "locator", "commentaire"};
  // The details fields of the last columns, in their order.
  constexpr std::string_view kDetailsColumns[] = {"RST_SENT", "RST_RCVD", "GRIDSQUARE", "COMMENT"};
  for (std::size_t i = 0; i < std::size(kTitles); ++i) {
    if (i > 0) line += separator;
    line.append(kTitles[i]);
  }
  line.append(eol);
  c.out.write(line);

  fact_finder finder(c.options.user_modes);
  std::string value;
  const bool read =
      read_selected(c, finder,
                    [&](const qso_values& qso, const qso_facts& facts, std::size_t number,
                        std::string_view owner, const details_record* details) {
                      line.clear();
                      std::size_t column = 0;
                      const auto field = [&](std::string_view text) {
                        if (column > 0) line += separator;
                        append_shown_field(c, kTitles[column++], number, text, line);
                      };
                      if (facts.date) {
                        const auto two = [](int n) {
                          return std::string{char('0' + n / 10), char('0' + n % 10)};
                        };
                        value = excel ? french_date(*facts.date)
                                      : std::to_string(facts.date->year) + "-" +
                                            two(facts.date->month) + "-" + two(facts.date->day);
                        field(value);
                      } else {
                        field(qso.date);
                      }
                      field(clock_time(qso.debut));
                      field(clock_time(qso.fin));
                      field(to_upper(qso.indicatif));
                      field(qso.prenom);
                      field(std::to_string(qso.frequence));
                      value.clear();
                      if (qso.frequence > 0) {
                        value = std::to_string(qso.frequence / 1000);
                        if (const int rest = qso.frequence % 1000; rest != 0) {
                          std::string digits = std::to_string(1000 + rest).substr(1);
                          while (digits.back() == '0') digits.pop_back();
                          value.append(excel ? "," : ".").append(digits);
                        }
                      }
                      field(value);
                      field(facts.band.value_or(""));
                      const std::optional<adif_mode>& mode = *facts.mode;
                      field(mode ? std::string_view(mode->mode) : "");
                      field(mode ? std::string_view(mode->submode) : "");
                      field(qso.mode);
                      value = qso.lieu;
                      std::replace(value.begin(), value.end(), '_', ' ');
                      field(value);
                      field(owner);
                      field(std::to_string(number));
                      for (const std::string_view name : kDetailsColumns) {
                        const std::string* kept = details ? details->find(name) : nullptr;
                        field(kept ? std::string_view(*kept) : "");
                      }
                      line.append(eol);
                      c.out.write(line);
                    });
  if (!read) return kExitFailure;
  c.out.flush();  // the caller says where a failed write went
  return c.out.failure() ? kExitFailure : kExitSuccess;
}

}  // namespace velkrin::journal
