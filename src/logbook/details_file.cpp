#include "logbook/details_file.hpp"

#include <algorithm>
#include <array>

#include "adif/adif_reader.hpp"
#include "adif/adif_writer.hpp"
#include "console/text_format.hpp"
#include "console/visible_text.hpp"
#include "logbook/qso_rules.hpp"

namespace velkrin {
namespace {

constexpr std::string_view kTextSuffix = ".txt";
// The pieces in which the file is read, and the most a record is read in
// one step when it is looked up again.
constexpr std::size_t kPieceBytes = 64 * 1024;
constexpr std::size_t kMaxHeaderBytes = 256 * 1024;  // looked for <EOH> in
constexpr std::size_t kLookupStepBytes = 64 * 1024;

constexpr std::array<std::string_view, 7> kKeyFields{"CALL", "QSO_DATE", "TIME_ON",  "BAND",
                                                     "MODE", "SUBMODE",  kClassField};

bool all_digits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view trimmed(std::string_view text) { return adif::trim_blanks(text); }

// The "<EOH>" that ends a header, in any case; npos when there is none.
std::size_t end_of_header(std::string_view text) {
  for (std::size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
    if (to_upper(text.substr(at, 5)) == "<EOH>") return at;
  }
  return std::string_view::npos;
}

// The fields of a header, up to its "<EOH>": "<NAME:length>value" read by
// its declared length; anything else is skipped as the header's free text.
std::vector<details_field> header_fields(std::string_view header) {
  std::vector<details_field> fields;
  std::size_t at = 0;
  while ((at = header.find('<', at)) != std::string_view::npos) {
    const std::size_t close = header.find('>', at);
    if (close == std::string_view::npos) break;
    const std::string_view tag = header.substr(at + 1, close - at - 1);
    const std::size_t colon = tag.find(':');
    ++at;
    if (colon == std::string_view::npos) continue;
    std::string_view digits = tag.substr(colon + 1);
    digits = digits.substr(0, digits.find(':'));  // a type indicator follows
    if (digits.empty() || digits.size() > 6 || !all_digits(digits)) continue;
    const std::size_t length = std::stoul(std::string(digits));
    if (close + 1 + length > header.size()) break;
    fields.push_back(
        {to_upper(trimmed(tag.substr(0, colon))), std::string(header.substr(close + 1, length))});
    at = close + 1 + length;
  }
  return fields;
}

std::uint64_t fnv1a(std::uint64_t hash, std::string_view text) {
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

details_record record_of(adif::adif_read_record&& read) {
  details_record record;
  record.fields.reserve(read.fields.size());
  for (auto& field : read.fields) {
    record.fields.push_back({std::move(field.name), std::move(field.value)});
  }
  return record;
}

}  // namespace

std::string details_path_for(std::string_view logbook_path) {
  if (logbook_path.ends_with(kTextSuffix)) logbook_path.remove_suffix(kTextSuffix.size());
  return std::string(logbook_path) + std::string(kDetailsSuffix);
}

std::optional<details_key> details_key_of(const qso_values& qso) {
  const auto date = parse_date(qso.date);
  if (!date || !is_valid_time(qso.debut)) return std::nullopt;
  details_key key;
  key.call = to_upper(qso.indicatif);
  key.date = zero_fill(date->year, 4) + zero_fill(date->month, 2) + zero_fill(date->day, 2);
  key.time = zero_fill(qso.debut, 4);
  if (const auto band = band_of(qso.frequence)) key.band = *band;
  key.emission_class = qso.mode;
  return key;
}

std::uint64_t key_digest(const details_key& key) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const std::string* part :
       {&key.call, &key.date, &key.time, &key.band, &key.emission_class}) {
    hash = fnv1a(hash, *part);
    hash = fnv1a(hash, std::string_view("\0", 1));  // parts stay apart
  }
  return hash;
}

bool is_key_field(std::string_view name) {
  return std::find(kKeyFields.begin(), kKeyFields.end(), name) != kKeyFields.end();
}

const std::string* details_record::find(std::string_view name) const {
  for (const auto& field : fields) {
    if (field.name == name) return &field.value;
  }
  return nullptr;
}

void details_record::set(std::string_view name, std::string value) {
  const auto found = std::find_if(fields.begin(), fields.end(), [name](const details_field& field) {
    return field.name == name;
  });
  if (value.empty()) {
    if (found != fields.end()) fields.erase(found);
  } else if (found != fields.end()) {
    found->value = std::move(value);
  } else {
    fields.push_back({std::string(name), std::move(value)});
  }
}

namespace {

// The key that a record's fields give, whatever holds them.
template <typename Fields>
std::optional<details_key> key_of_fields(const Fields& fields) {
  const auto find = [&fields](std::string_view name) -> const std::string* {
    for (const auto& field : fields) {
      if (field.name == name) return &field.value;
    }
    return nullptr;
  };
  const std::string* call = find("CALL");
  const std::string* date = find("QSO_DATE");
  const std::string* time = find("TIME_ON");
  const std::string* emission_class = find(kClassField);
  if (call == nullptr || date == nullptr || time == nullptr || emission_class == nullptr) {
    return std::nullopt;
  }
  const std::string_view date_text = trimmed(*date);
  const std::string_view time_text = trimmed(*time);
  if (date_text.size() != 8 || !all_digits(date_text) || time_text.size() < 4 ||
      !all_digits(time_text)) {
    return std::nullopt;
  }
  details_key key;
  key.call = to_upper(trimmed(*call));
  key.date = date_text;
  key.time = time_text.substr(0, 4);
  if (const std::string* band = find("BAND")) {
    const auto named = band_named(trimmed(*band));
    key.band = named ? std::string(*named) : std::string(trimmed(*band));
  }
  key.emission_class = trimmed(*emission_class);
  return key;
}

// True for the name of a key field, as written in any case.
bool is_key_field_name(std::string_view name) {
  return std::any_of(kKeyFields.begin(), kKeyFields.end(), [name](std::string_view key) {
    return std::equal(name.begin(), name.end(), key.begin(), key.end(), [](char a, char b) {
      return (a >= 'a' && a <= 'z' ? static_cast<char>(a - 'a' + 'A') : a) == b;
    });
  });
}

// The fields of a record read, moved into `record` by swapping storage:
// the reader fills the strings it gets back for its next record.
void take_fields(adif::adif_read_record& read, details_record& record) {
  record.fields.resize(read.fields.size());
  for (std::size_t i = 0; i < read.fields.size(); ++i) {
    record.fields[i].name.swap(read.fields[i].name);
    record.fields[i].value.swap(read.fields[i].value);
  }
}

}  // namespace

std::optional<details_key> details_record::key() const { return key_of_fields(fields); }

bool details_record::has_more_than_key() const {
  return std::any_of(fields.begin(), fields.end(),
                     [](const details_field& field) { return !is_key_field(field.name); });
}

details_record details_for(const qso_values& qso, const std::vector<details_field>& fields) {
  details_record record;
  const auto key = details_key_of(qso);
  if (!key) return record;
  const auto given = [&fields](std::string_view name) -> const std::string* {
    for (const auto& field : fields) {
      if (field.name == name && !trimmed(field.value).empty()) return &field.value;
    }
    return nullptr;
  };
  record.fields.push_back({"CALL", key->call});
  record.fields.push_back({"QSO_DATE", key->date});
  const std::string* time_on = given("TIME_ON");
  const bool precise = time_on != nullptr && trimmed(*time_on).size() > 4 &&
                       all_digits(trimmed(*time_on)) && trimmed(*time_on).starts_with(key->time);
  record.fields.push_back({"TIME_ON", precise ? std::string(trimmed(*time_on)) : key->time});
  if (!key->band.empty()) record.fields.push_back({"BAND", key->band});
  const std::string* mode = given("MODE");
  const std::string* submode = given("SUBMODE");
  if (mode != nullptr) {
    record.fields.push_back({"MODE", to_upper(trimmed(*mode))});
    if (submode != nullptr) record.fields.push_back({"SUBMODE", to_upper(trimmed(*submode))});
  } else if (const auto adif = mode_of(qso.mode, qso.frequence, {})) {
    record.fields.push_back({"MODE", adif->mode});
    if (!adif->submode.empty()) record.fields.push_back({"SUBMODE", adif->submode});
  }
  record.fields.push_back({std::string(kClassField), key->emission_class});
  for (const auto& field : fields) {
    // A value holding <EOR> (a comment sent by a program, say) would end the
    // record where it stands and lose the fields after it: it is left out.
    if (!is_key_field(field.name) && !field.value.empty() && !adif::holds_record_end(field.value)) {
      record.fields.push_back(field);
    }
  }
  return record;
}

std::string format_details_header(const logbook_header& logbook, std::string_view eol) {
  std::string text = "Details des QSO du journal de bord de " + logbook.indicatif +
                     " (Velkrin) : champs ADIF en UTF-8, longueurs en octets";
  text.append(eol);
  text.append(adif::format_field("ADIF_VER", adif::kAdifVersion)).append(eol);
  text.append(adif::format_field("PROGRAMID", adif::kProgramId)).append(eol);
  text.append(adif::format_field("PROGRAMVERSION", adif::program_version())).append(eol);
  text.append(adif::format_field(kOwnerField, logbook.indicatif)).append(eol);
  text.append(adif::format_field(kStartDateField, logbook.date_debut)).append(eol);
  text.append("<EOH>").append(eol);
  return text;
}

std::string format_details_record(const details_record& record, std::string_view eol) {
  std::string text;
  for (const auto& field : record.fields) text += adif::format_field(field.name, field.value);
  text.append("<EOR>").append(eol);
  return text;
}

details_owner owner_in_header(std::string_view start) {
  details_owner owner;
  const std::size_t eoh = end_of_header(start);
  for (const auto& field :
       header_fields(start.substr(0, eoh == std::string_view::npos ? 0 : eoh))) {
    if (field.name == kOwnerField) owner.indicatif = field.value;
    if (field.name == kStartDateField) owner.date_debut = field.value;
  }
  return owner;
}

bool owner_matches(const details_owner& owner, const logbook_header* first) {
  return first != nullptr && to_upper(trimmed(owner.indicatif)) == to_upper(first->indicatif) &&
         trimmed(owner.date_debut) == first->date_debut;
}

// ---------------------------------------------------------------------------

void details_reader::open(const std::string& logbook_path) {
  path_ = details_path_for(logbook_path);
  state_ = details_state::absent;
  loaded_ = false;
  owner_checked_ = false;
  header_fields_.clear();
  torn_from_.reset();
  failure_.reset();
  entries_.clear();
  by_digest_.clear();
  next_ = 0;
  window_.clear();
  sequence_.reset();
  file_.close();
  if (!platform::path_exists(path_)) return;
  if (const platform::status s = file_.open(path_); !s.ok()) {
    state_ = details_state::unreadable;
    failure_ = s.reason();
    return;
  }
  // Writers hold the logbook's lock, not this one: the size is what counts.
  size_ = file_.size_when_locked();
  file_.unlock();
  state_ = details_state::ready;
}

details_state details_reader::check_owner(const logbook_header* first) {
  if (owner_checked_ || state_ != details_state::ready) return state_;
  owner_checked_ = true;
  // The header, up to its <EOH>: the file's first piece holds it.
  std::string start(static_cast<std::size_t>(std::min<std::uint64_t>(size_, kMaxHeaderBytes)),
                    '\0');
  std::size_t filled = 0;
  while (filled < start.size()) {
    std::size_t got = 0;
    if (const platform::status s =
            file_.read_at(filled, start.data() + filled, start.size() - filled, got);
        !s.ok()) {
      state_ = details_state::unreadable;
      failure_ = s.reason();
      return state_;
    }
    if (got == 0) break;
    filled += got;
  }
  start.resize(filled);
  owner_ = owner_in_header(start);
  const std::size_t eoh = end_of_header(start);
  header_fields_ =
      velkrin::header_fields(std::string_view(start).substr(0, eoh == std::string::npos ? 0 : eoh));
  if (!owner_matches(owner_, first)) state_ = details_state::other_logbook;
  return state_;
}

details_state details_reader::load(const logbook_header* first) {
  if (loaded_ || check_owner(first) != details_state::ready) return state_;
  loaded_ = true;
  adif::adif_reader reader;
  reader.keep_fields(is_key_field_name);  // the index needs the key alone
  pending_ = false;
  entries_.reserve(static_cast<std::size_t>(size_ / 256));  // about a record's size
  adif::adif_read_record record;
  const auto index_records = [this, &reader, &record] {
    while (reader.next(record)) {
      std::optional<std::uint64_t> digest;
      if (record.complete && record.unreadable.empty()) {
        if (const auto key = key_of_fields(record.fields)) digest = key_digest(*key);
      }
      if (!record.complete) torn_from_ = record.offset;
      add_to_index(digest, record.offset);
    }
  };
  if (const platform::status s = read_through(reader, index_records); !s.ok()) {
    state_ = details_state::unreadable;
    failure_ = s.reason();
    entries_.clear();
    return state_;
  }
  add_to_index(std::nullopt, size_);
  // Sorted by digest, then by position: among records of one digest, the
  // last in the file comes last.
  {
    std::vector<std::pair<std::uint64_t, std::uint32_t>> sorted(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      sorted[i] = {entries_[i].digest, static_cast<std::uint32_t>(i)};
    }
    std::sort(sorted.begin(), sorted.end());
    by_digest_.resize(sorted.size());
    for (std::size_t i = 0; i < sorted.size(); ++i) by_digest_[i] = sorted[i].second;
  }
  for (std::size_t i = 1; i < by_digest_.size(); ++i) {
    if (entries_[by_digest_[i]].digest == entries_[by_digest_[i - 1]].digest) {
      entries_[by_digest_[i - 1]].superseded = 1;
    }
  }
  entries_.shrink_to_fit();
  return state_;
}

void details_reader::add_to_index(std::optional<std::uint64_t> digest, std::uint64_t offset) {
  if (pending_ && pending_digest_) {
    const std::uint64_t length = offset - pending_offset_;
    entry added;
    added.digest = *pending_digest_;
    added.offset = pending_offset_;
    added.length = length < (std::uint64_t{1} << 23) ? length : 0;
    entries_.push_back(added);
  }
  pending_ = true;
  pending_digest_ = digest;
  pending_offset_ = offset;
}

const details_record* details_reader::find_alone(const logbook_header* first,
                                                 const details_key& key) {
  if (check_owner(first) != details_state::ready) return nullptr;
  if (loaded_) return find(key);
  adif::adif_reader reader;
  reader.keep_fields(is_key_field_name);
  adif::adif_read_record record;
  std::optional<std::uint64_t> last;  // the last record of the key
  const auto look = [&] {
    while (reader.next(record)) {
      if (record.complete && record.unreadable.empty() && key_of_fields(record.fields) == key) {
        last = record.offset;
      }
    }
  };
  // A failed read finds what it read up to there, as find() would not.
  (void)read_through(reader, look);
  if (!last) return nullptr;
  entry at;
  at.offset = *last;
  return read_record(at, key);
}

std::optional<std::vector<std::pair<std::uint64_t, std::uint64_t>>> details_reader::ranges_of(
    const details_key& key) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
  if (state_ != details_state::ready || !loaded_) return ranges;
  const std::uint64_t digest = key_digest(key);
  const auto less = [this](std::uint32_t a, std::uint64_t d) { return entries_[a].digest < d; };
  for (auto it = std::lower_bound(by_digest_.begin(), by_digest_.end(), digest, less);
       it != by_digest_.end() && entries_[*it].digest == digest; ++it) {
    const entry& at = entries_[*it];
    if (read_record(at, key) == nullptr) continue;
    if (at.length == 0) return std::nullopt;
    ranges.emplace_back(at.offset, at.offset + at.length);
  }
  std::sort(ranges.begin(), ranges.end());
  return ranges;
}

void details_reader::note_found(const entry& at) {
  found_range_.reset();
  if (at.length != 0) found_range_.emplace(at.offset, at.offset + at.length);
}

const details_record* details_reader::find(const details_key& key) {
  if (state_ != details_state::ready || !loaded_ || entries_.empty()) return nullptr;
  const std::uint64_t digest = key_digest(key);
  if (next_ < entries_.size() && entries_[next_].digest == digest && !entries_[next_].superseded) {
    if (const details_record* found = read_record(entries_[next_], key)) {
      note_found(entries_[next_]);
      ++next_;
      return found;
    }
  }
  const auto less = [this](std::uint32_t a, std::uint64_t d) { return entries_[a].digest < d; };
  auto it = std::lower_bound(by_digest_.begin(), by_digest_.end(), digest, less);
  auto end = it;
  while (end != by_digest_.end() && entries_[*end].digest == digest) ++end;
  // The last record of the key holds; other keys of the same digest are skipped.
  while (end != it) {
    --end;
    if (const details_record* found = read_record(entries_[*end], key)) {
      note_found(entries_[*end]);
      next_ = *end + 1;
      return found;
    }
  }
  return nullptr;
}

const details_record* details_reader::read_record(const entry& wanted, const details_key& key) {
  const std::uint64_t target = wanted.offset;
  // Records read in file order come from one reader; any other starts a new
  // one at the record.
  if (!sequence_ || (sequence_last_ && target <= *sequence_last_) ||
      (!sequence_last_ && target < sequence_base_)) {
    sequence_.emplace();
    sequence_base_ = sequence_fed_ = target;
    sequence_last_.reset();
    sequence_finished_ = false;
  }
  for (;;) {
    if (sequence_->next(sequence_record_)) {
      const std::uint64_t offset = sequence_base_ + sequence_record_.offset;
      sequence_last_ = offset;
      if (offset < target) continue;
      if (offset > target) break;
      if (!sequence_record_.complete || !sequence_record_.unreadable.empty()) return nullptr;
      take_fields(sequence_record_, found_);
      return found_.key() == key ? &found_ : nullptr;
    }
    if (sequence_fed_ >= size_) {
      if (sequence_finished_) break;
      sequence_->finish();
      sequence_finished_ = true;
      continue;
    }
    // A record looked up alone is read alone; a run of them, in pieces.
    const std::uint64_t step =
        sequence_fed_ == sequence_base_ && wanted.length != 0 ? wanted.length : kLookupStepBytes;
    window_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(step, size_ - sequence_fed_)));
    std::size_t got = 0;
    if (!file_.read_at(sequence_fed_, window_.data(), window_.size(), got).ok() || got == 0) {
      break;
    }
    sequence_->feed(std::string_view(window_.data(), got));
    sequence_fed_ += got;
  }
  sequence_.reset();
  return nullptr;
}

platform::status details_reader::for_each(const std::function<void(const visit&)>& each) {
  if (state_ != details_state::ready) return platform::status::success();
  adif::adif_reader reader;
  details_problem problem;
  const auto take = [&] {
    while (auto record = reader.next()) {
      visit seen;
      seen.line = record->line;
      if (!record->complete) {
        problem = {record->line, "enregistrement coupe avant son <EOR> (arret brutal ?)"};
        seen.problem = &problem;
      } else if (!record->unreadable.empty()) {
        problem = {record->line, record->unreadable};
        seen.problem = &problem;
      } else {
        found_ = record_of(std::move(*record));
        if (!found_.key()) {
          problem = {seen.line, "enregistrement sans cle complete (CALL, QSO_DATE, TIME_ON, " +
                                    std::string(kClassField) + ")"};
          seen.problem = &problem;
        } else {
          seen.record = &found_;
        }
      }
      each(seen);
    }
  };
  return read_through(reader, take);
}

platform::status details_reader::read_through(adif::adif_reader& reader,
                                              const std::function<void()>& take) {
  std::vector<char> piece(kPieceBytes);
  for (std::uint64_t offset = 0; offset < size_;) {
    std::size_t got = 0;
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), size_ - offset));
    if (platform::status s = file_.read_at(offset, piece.data(), wanted, got); !s.ok()) return s;
    if (got == 0) break;
    offset += got;
    reader.feed({piece.data(), got});
    take();
  }
  reader.finish();
  take();
  return platform::status::success();
}

std::string details_notice(const details_reader& details, std::string_view logbook_path) {
  const std::string name = visible(details.path());
  switch (details.state()) {
    case details_state::other_logbook:
      return "Attention : le fichier de details \"" + name + "\" appartient a un autre journal (" +
             visible(details.owner().indicatif) + ", commence le " +
             visible(details.owner().date_debut) + ") que \"" + visible(logbook_path) +
             "\" ; il n'est pas lu. Renommez-le avec son journal (journal_2025.txt va avec "
             "journal_2025.details.adi).\n";
    case details_state::unreadable:
      return "Attention : le fichier de details \"" + name + "\" n'a pas pu etre lu (" +
             details.failure().value_or("") + ") ; les QSO sont lus sans leurs details.\n";
    case details_state::absent:
    case details_state::ready:
      break;
  }
  return {};
}

}  // namespace velkrin
