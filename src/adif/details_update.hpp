// Changes to the details records of chosen QSOs, gathered while the locked
// logbook is read, then written in one rewrite of its details file (all or
// nothing, through a copy renamed into place). --confirmations and
// --marque-envoye both record this way. Memory grows with the records
// changed (24 bytes each) and the text of the records made new.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "logbook/details_file.hpp"
#include "logbook/records.hpp"
#include "platform/platform.hpp"

namespace velkrin::adif {

class details_update {
 public:
  // Applies the change numbered `change` to `record`; true when it changed.
  // Called again at the rewrite on the record as the file then holds it.
  using apply_change = std::function<bool(details_record& record, std::uint32_t change)>;

  // `details` is the logbook's details file, loaded (or absent); `line_end`
  // ends the records made new.
  details_update(details_reader& details, apply_change apply, std::string line_end);

  // The QSO whose key is `key` takes change `change`, and reads `after` once
  // changed. `existing` says that its record is the one details.find() last
  // returned (it is replaced where it stands); otherwise `after` is added at
  // the end. Returns the reason when the record cannot be rewritten.
  std::optional<std::string> add(const details_key& key, bool existing, const details_record& after,
                                 std::uint32_t change);

  bool empty() const { return plans_.empty(); }
  // The line end of the records made new from now on (the logbook's).
  void set_line_end(std::string_view line_end) { line_end_ = line_end; }

  // Rewrites the details file of `logbook_path` (`first` its logbook's first
  // header) with the changes, and `header_fields` set in its header. Closes
  // the details file first: Windows may refuse to replace an open file.
  [[nodiscard]] platform::status write(const std::string& logbook_path, const logbook_header& first,
                                       std::vector<details_field> header_fields);

 private:
  // What the rewrite does to one record: where it stands, or the index of
  // its text among the new records', and the change it takes.
  struct plan {
    std::uint64_t digest = 0;  // of its key
    std::uint64_t begin = 0;   // its bytes in the details file, [begin, end)
    std::uint64_t end = 0;     // 0 for a new record
    std::uint32_t change = 0;
    std::uint32_t added = 0;  // for a new record, its text's index
  };
  // Two lines of one key (a line written twice) share one details record:
  // the first plan of a key takes the changes of the others.
  void merge_same_keys();

  details_reader& details_;
  apply_change apply_;
  std::string line_end_;
  std::vector<plan> plans_;
  std::vector<std::string> added_texts_;  // the new records, with their line ends
  std::vector<std::pair<std::size_t, std::uint32_t>> more_;  // plan, change
};

// Reads the first header of the locked logbook at `logbook_path`, which its
// details file must name, and loads that file (or finds it absent) for an
// update. On failure says why on `err`, the refusal ending with
// `nothing_done` ("aucune confirmation n'a ete enregistree"), and returns
// nothing.
std::optional<logbook_header> prepare_details_update(platform::locked_file& logbook,
                                                     const std::string& logbook_path,
                                                     details_reader& details,
                                                     std::string_view nothing_done,
                                                     std::ostream& err);

}  // namespace velkrin::adif
