// libFuzzer target over the details file's reader and the appender's repair
// of a torn end: any bytes are the details file of a small logbook. Besides
// the sanitizers, it checks what they promise: a record found is the one of
// the key asked for, and a record appended after the appender has cut a torn
// end is read back whole.
#include <unistd.h>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "adif/adif_reader.hpp"
#include "logbook/details_file.hpp"
#include "logbook/line_format.hpp"
#include "logbook/logbook_file.hpp"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

void write(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// True when `text` holds an <EOR> or <EOH>, in any case and with blanks
// inside its brackets, as the ADIF reader takes them.
bool holds_marker(std::string_view text) {
  for (std::size_t open = text.find('<'); open != std::string_view::npos;
       open = text.find('<', open + 1)) {
    const std::size_t close = text.find('>', open + 1);
    if (close == std::string_view::npos) return false;
    std::string inside(velkrin::adif::trim_blanks(text.substr(open + 1, close - open - 1)));
    for (char& c : inside) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (inside == "EOR" || inside == "EOH") return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velkrin;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const char* tmp = std::getenv("TMPDIR");
  const std::string logbook = std::string(tmp ? tmp : "/tmp") + "/velkrin-details-fuzz-" +
                              std::to_string(::getpid()) + ".txt";
  const logbook_header owner{"F4ABC", "01-02-2026"};
  const qso_record qso{"02-02-2026", 1200, 1200, "G4ABC", "-", 14074, "FT8", "JN18"};
  write(logbook, format_header(owner) + format_qso_line(qso));
  // Half the inputs get the header of the logbook, so that records are read.
  const bool headed = size > 0 && data[0] % 2 == 0;
  write(details_path_for(logbook),
        (headed ? format_details_header(owner, "\n") : std::string()) + std::string(text));

  {
    details_reader details;
    details.open(logbook);
    if (details.load(&owner) == details_state::ready) {
      const auto key = details_key_of(qso);
      if (const details_record* found = details.find(*key)) check(found->key() == *key);
      (void)details.for_each([](const details_reader::visit& seen) {
        check((seen.record == nullptr) != (seen.problem == nullptr));
        if (seen.record != nullptr) check(seen.record->key().has_value());
      });
    }
  }
  // A file as the writers leave it, whole records then one cut short by a
  // kill (the input as a comment, which no writer lets hold a marker): a
  // record appended after the repair is read back whole, and so is the one
  // before.
  if (!holds_marker(text)) {
    const details_record first = details_for(qso, {{"COMMENT", std::string(text)}});
    const qso_record added{"03-02-2026", 1300, 1300, "ZZ9ZZ", "-", 7074, "FT8", "JN18"};
    const details_record record = details_for(added, {{"RST_SENT", "-10"}});
    const std::string torn = format_details_record(record, "\n");
    write(details_path_for(logbook), format_details_header(owner, "\n") +
                                         format_details_record(first, "\n") +
                                         torn.substr(0, size % torn.size()));
    bool appended = false;
    {
      details_appender appender;  // holds the file's lock until it goes
      appended = appender.open(logbook, owner).ok() && !appender.other_logbook() &&
                 appender.append(torn).ok();
    }
    check(appended);
    details_reader details;
    details.open(logbook);
    check(details.load(&owner) == details_state::ready);
    const details_record* found = details.find(*details_key_of(added));
    check(found != nullptr && *found == record);
    found = details.find(*details_key_of(qso));
    check(found != nullptr && *found == first);
  }
  ::unlink(details_path_for(logbook).c_str());
  ::unlink(logbook.c_str());
  return 0;
}
