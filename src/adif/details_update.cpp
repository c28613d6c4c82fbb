#include "adif/details_update.hpp"

#include <algorithm>
#include <ostream>

#include "adif/adif_reader.hpp"
#include "logbook/details_rewrite.hpp"
#include "logbook/logbook_reader.hpp"
#include "logbook/qso_rules.hpp"

namespace velkrin::adif {
namespace {

// The record that `text` holds (one record, as the details file has it).
details_record record_in(std::string_view text) {
  adif_reader reader;
  reader.feed(text);
  reader.finish();
  details_record record;
  if (auto read = reader.next()) {
    for (auto& field : read->fields) record.fields.push_back({field.name, field.value});
  }
  return record;
}

// What the first "<EOR>" of a record's bytes leaves after it.
std::string_view after_record_end(std::string_view bytes) {
  const std::string upper = to_upper(bytes);
  const std::size_t at = upper.find("<EOR>");
  if (at == std::string::npos) return bytes.ends_with("\r\n") ? "\r\n" : "\n";
  return bytes.substr(at + 5);
}

}  // namespace

details_update::details_update(details_reader& details, apply_change apply, std::string line_end)
    : details_(details), apply_(std::move(apply)), line_end_(std::move(line_end)) {}

std::optional<std::string> details_update::add(const details_key& key, bool existing,
                                               const details_record& after, std::uint32_t change) {
  plan added;
  added.digest = key_digest(key);
  added.change = change;
  if (existing) {
    if (!details_.found_range()) {
      return "le fichier de details \"" + details_.path() +
             "\" a un enregistrement trop long pour etre recrit";
    }
    added.begin = details_.found_range()->first;
    added.end = details_.found_range()->second;
  } else {
    added.added = static_cast<std::uint32_t>(added_texts_.size());
    added_texts_.push_back(format_details_record(after, line_end_));
  }
  plans_.push_back(added);
  return std::nullopt;
}

void details_update::merge_same_keys() {
  std::vector<std::uint32_t> order(plans_.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [this](std::uint32_t a, std::uint32_t b) {
    return std::pair(plans_[a].digest, a) < std::pair(plans_[b].digest, b);
  });
  std::vector<bool> dropped(plans_.size(), false);
  for (std::size_t i = 1, head = 0; i < order.size(); ++i) {
    if (plans_[order[i]].digest != plans_[order[head]].digest) {
      head = i;
      continue;
    }
    plan& kept = plans_[order[head]];
    const plan& other = plans_[order[i]];
    dropped[order[i]] = true;
    if (kept.end != 0) {
      more_.emplace_back(order[head], other.change);
    } else {
      details_record record = record_in(added_texts_[kept.added]);
      apply_(record, other.change);
      added_texts_[kept.added] = format_details_record(record, line_end_);
      added_texts_[other.added].clear();
    }
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < plans_.size(); ++i) {
    if (dropped[i]) continue;
    for (auto& [at, change] : more_) {
      if (at == i) at = kept;
    }
    plans_[kept++] = plans_[i];
  }
  plans_.resize(kept);
  std::sort(more_.begin(), more_.end());
}

platform::status details_update::write(const std::string& logbook_path, const logbook_header& first,
                                       std::vector<details_field> header_fields) {
  merge_same_keys();
  details_rewrite rewrite;
  rewrite.logbook_path = logbook_path;
  rewrite.first = first;
  rewrite.line_end = line_end_;
  if (details_.state() == details_state::ready) rewrite.read_size = details_.size();
  rewrite.torn_from = details_.torn_from();
  rewrite.header_fields = std::move(header_fields);
  std::vector<std::size_t> replaced;
  for (std::size_t i = 0; i < plans_.size(); ++i) {
    if (plans_[i].end != 0) replaced.push_back(i);
  }
  std::sort(replaced.begin(), replaced.end(),
            [this](std::size_t a, std::size_t b) { return plans_[a].begin < plans_[b].begin; });
  for (const std::size_t i : replaced)
    rewrite.replaced.emplace_back(plans_[i].begin, plans_[i].end);
  rewrite.replacement = [&](std::size_t index, std::string_view old_bytes) {
    const std::size_t at = replaced[index];
    details_record record = record_in(old_bytes);
    apply_(record, plans_[at].change);
    for (auto it = std::lower_bound(more_.begin(), more_.end(), std::pair(at, std::uint32_t{0}));
         it != more_.end() && it->first == at; ++it) {
      apply_(record, it->second);
    }
    return format_details_record(record, "") + std::string(after_record_end(old_bytes));
  };
  std::size_t next_added = 0;
  rewrite.next_added = [&](std::string& text, platform::status&) {
    while (next_added < added_texts_.size() && added_texts_[next_added].empty()) ++next_added;
    if (next_added == added_texts_.size()) return false;
    text = std::move(added_texts_[next_added++]);
    return true;
  };
  details_.close();
  return rewrite_details_file(rewrite);
}

std::optional<logbook_header> prepare_details_update(platform::locked_file& logbook,
                                                     const std::string& logbook_path,
                                                     details_reader& details,
                                                     std::string_view nothing_done,
                                                     std::ostream& err) {
  std::optional<logbook_header> first;
  {
    locked_source source(logbook);
    logbook_reader lines(source);
    lines.read_values_only();
    logbook_item item;
    while (!first && lines.next(item)) {
      if (item.what == logbook_item::kind::header && lines.header()) {
        first = lines.header()->header;
      }
    }
    if (lines.failure()) {
      err << "Erreur : le journal de bord \"" << logbook_path << "\" n'a pas pu etre lu ("
          << *lines.failure() << ").\n";
      return std::nullopt;
    }
  }
  if (!first) {
    err << "Erreur : le journal de bord \"" << logbook_path
        << "\" n'a pas d'en-tete ; donnez-lui en un avec le menu 4 de velkrin.\n";
    return std::nullopt;
  }
  details.open(logbook_path);
  switch (details.load(&*first)) {
    case details_state::other_logbook:
      err << details_notice(details, logbook_path) << "Erreur : " << nothing_done
          << " ; rien n'a ete ecrit.\n";
      return std::nullopt;
    case details_state::unreadable:
      err << "Erreur : le fichier de details \"" << details.path() << "\" n'a pas pu etre lu ("
          << details.failure().value_or("") << ") ; rien n'a ete ecrit.\n";
      return std::nullopt;
    case details_state::absent:
    case details_state::ready:
      break;
  }
  return first;
}

}  // namespace velkrin::adif
