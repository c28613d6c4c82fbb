// libFuzzer target over the logbook reader and the ADIF export built on it:
// any bytes are read as a logbook file. Besides the sanitizers, it checks
// what the reader promises: lines in increasing order, values in valid UTF-8
// without blanks, a header found where the header rewrite finds one, and an
// export that is ASCII.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "adif/logbook_export.hpp"
#include "logbook/line_format.hpp"
#include "logbook/logbook_reader.hpp"
#include "logbook/text_encoding.hpp"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

bool is_word(std::string_view value) {
  return velkrin::is_valid_utf8(value) &&
         value.find_first_of(" \t\r\n\v\f") == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velkrin;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  text_source source(text);
  logbook_reader reader(source);
  std::size_t last_line = 0;
  bool first = true;
  for (logbook_item item; reader.next(item); first = false) {
    check(item.line > last_line);
    last_line = item.line;
    // The header rewrite looks at the first 4 KiB.
    if (first && find_header(text.substr(0, 4096)))
      check(item.what == logbook_item::kind::header && item.line == 1);
    if (item.what == logbook_item::kind::qso) {
      for (const std::string* value : {&item.qso.date, &item.qso.indicatif, &item.qso.prenom,
                                       &item.qso.mode, &item.qso.lieu}) {
        check(is_word(*value));
      }
      check(reader.header() == nullptr ||
            velkrin::is_valid_utf8(reader.header()->header.indicatif));
    }
  }

  text_source again(text);
  logbook_reader export_reader(again);
  adif::export_settings settings;
  settings.description = "fuzz";
  settings.created = "20260101 000000";
  std::string adif;
  adif::export_logbook(
      export_reader, settings,
      [&](std::string_view piece) {
        adif += piece;
        return platform::status::success();
      },
      [](std::string_view) {});
  for (const char c : adif) check(c == '\r' || c == '\n' || (c >= 0x20 && c < 0x7F));
  return 0;
}
