// libFuzzer target for the ADIF reader: any bytes, fed in pieces whose size
// the input's first byte chooses. The reader must not crash, must keep each
// record within its bound, and must read the same records whatever the
// pieces (it streams: where a piece ends must change nothing) and whether
// each record is new or the last one reused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "adif/adif_reader.hpp"

namespace {

using velkrin::adif::adif_read_record;
using velkrin::adif::adif_reader;

enum class into { new_records, one_reused_record };

std::vector<adif_read_record> read_in_pieces(std::string_view text, std::size_t piece, into how) {
  adif_reader reader;
  std::vector<adif_read_record> records;
  adif_read_record reused;
  const auto take = [&] {
    if (how == into::one_reused_record) {
      while (reader.next(reused)) records.push_back(reused);
      return;
    }
    while (auto record = reader.next()) records.push_back(std::move(*record));
  };
  for (std::size_t at = 0; at < text.size(); at += piece) {
    reader.feed(text.substr(at, piece));
    take();
  }
  reader.finish();
  take();
  return records;
}

bool same(const adif_read_record& a, const adif_read_record& b) {
  if (a.ordinal != b.ordinal || a.offset != b.offset || a.line != b.line ||
      a.complete != b.complete || a.characters_counted != b.characters_counted ||
      a.problem != b.problem || a.unreadable != b.unreadable ||
      a.fields.size() != b.fields.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.fields.size(); ++i) {
    if (a.fields[i].name != b.fields[i].name || a.fields[i].value != b.fields[i].value) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 64;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const auto whole = read_in_pieces(text, text.size() + 1, into::new_records);
  const auto pieces = read_in_pieces(text, piece, into::one_reused_record);
  if (whole.size() != pieces.size()) std::abort();
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (!same(whole[i], pieces[i])) std::abort();
    std::size_t kept = 0;
    for (const auto& field : whole[i].fields) kept += field.name.size() + field.value.size();
    if (whole[i].ordinal != i + 1 || kept > velkrin::adif::kMaxRecordBytes ||
        whole[i].offset >= text.size() || (i > 0 && whole[i].offset <= whole[i - 1].offset)) {
      std::abort();
    }
    if (!whole[i].complete && i + 1 != whole.size()) std::abort();
  }
  return 0;
}
