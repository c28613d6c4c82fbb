#include "journal/reading.hpp"

#include <algorithm>
#include <ostream>

#include "console/visible_text.hpp"
#include "journal/qso_confirmations.hpp"
#include "logbook/line_format.hpp"

namespace velkrin::journal {
namespace {

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

}  // namespace

std::string plural(std::size_t count, std::string_view word) {
  return std::to_string(count) + " " + std::string(word) + (count > 1 ? "s" : "");
}

const countries::country_source* country_data_for(const command_context& c, bool required) {
  if (c.countries == nullptr) return nullptr;
  const bool told = c.countries->tried();
  const countries::country_source* source = c.countries->get();
  if (source == nullptr && !told) {
    if (required || c.countries->given()) {
      c.err << "Erreur : " << c.countries->problem() << ".\n";
    } else {
      c.err << "Note : " << c.countries->problem() << " ; les pays ne sont pas donnes.\n";
    }
  }
  return source;
}

bool country_data_failed(const command_context& c, bool required) {
  return c.countries != nullptr && c.countries->tried() && c.countries->get() == nullptr &&
         (required || c.countries->given());
}

std::string sortable_day(std::string_view date) {
  if (date.size() != 10) return {};
  return std::string(date.substr(6, 4)) + std::string(date.substr(3, 2)) +
         std::string(date.substr(0, 2));
}

void note_stale_country_data(const command_context& c, std::string_view newest_day) {
  if (c.countries != nullptr) c.err << c.countries->stale_note(newest_day);
}

void report_failure(const command_context& c, const std::string& reason) {
  c.err << unreadable_logbook_message(c.options.logbook, reason);
}

bool read_selected(const command_context& c, fact_finder& finder, const qso_handler& take,
                   const std::string& quick_needle) {
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

qso_rows::qso_rows(output& out, bool short_table, bool with_group, bool with_details)
    : short_(short_table),
      group_(with_group),
      details_(with_details),
      table_(columns(), out, minimum_widths()) {}

void qso_rows::add(const qso_values& qso, const qso_facts& facts, std::size_t line,
                   std::string_view group, const details_record* details) {
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
  if (details_ && !short_) {
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
  if (details_) {
    marks_ = confirmation_marks(confirmation_state_of(details));
    cells_.push_back(marks_);
  }
  if (!short_) cells_.push_back(visible(qso.lieu, scratch_[4]));
  cells_.push_back(line_);
  table_.add(cells_);
}

std::vector<column> qso_rows::columns() const {
  std::vector<column> list;
  if (group_) list.push_back({"Groupe", true});
  list.insert(list.end(), {{"Date"}, {"Debut"}, {"Fin"}, {"Indicatif"}});
  if (!short_) list.push_back({"Prenom"});
  list.insert(list.end(), {{"kHz", true}, {"Bande"}, {"Mode"}});
  // The short table keeps to 80 columns: the confirmations, not the reports.
  if (details_ && !short_) list.push_back({kReportsTitle});
  if (details_) list.push_back({kConfirmationsTitle});
  if (!short_) list.push_back({"Lieu"});
  list.push_back({"Ligne", true});
  return list;
}

std::vector<std::size_t> qso_rows::minimum_widths() const {
  std::vector<std::size_t> list;
  if (group_) list.push_back(6);
  list.insert(list.end(), {10, 5, 5, 9});
  if (!short_) list.push_back(15);
  list.insert(list.end(), {6, 5, 9});
  if (details_ && !short_) list.push_back(kReportsTitle.size());
  if (details_) list.push_back(kConfirmationsTitle.size());
  if (!short_) list.push_back(25);
  list.push_back(7);
  return list;
}

void band_mode_grid::add(std::string_view band, std::int32_t khz, std::string_view mode) {
  const std::size_t b = band_slot(bands_, band, khz);
  const std::size_t m = name_slot(modes_, mode);
  ++bands_[b].count;
  ++modes_[m].second;
  if (cells_.size() <= b) cells_.resize(b + 1);
  if (cells_[b].size() <= m) cells_[b].resize(m + 1, 0);
  ++cells_[b][m];
}

void band_mode_grid::write(output& out, std::string_view empty) const {
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

std::vector<std::size_t> band_mode_grid::ordered_bands() const {
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

std::vector<std::size_t> band_mode_grid::ordered_modes() const {
  std::vector<std::size_t> order(modes_.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return modes_[a].second > modes_[b].second;
  });
  return order;
}

int finish_output(const command_context& c, int status) {
  if (!c.out.flush()) {
    c.err << "Erreur : la sortie standard n'a pas pu etre ecrite (" << *c.out.failure() << ").\n";
    return kExitFailure;
  }
  return status;
}

}  // namespace velkrin::journal
