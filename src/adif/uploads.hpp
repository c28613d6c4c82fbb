// Uploads to LoTW, eQSL, Club Log and QRZ: which QSOs are new to a service,
// and what marks one as sent. A QSO sent is remembered in its details with
// the service's own ADIF fields (sent flag and date) and a digest of the
// fields the service keeps, as they were sent: a QSO changed since then
// becomes new again. Pure functions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adif/adif_reader.hpp"
#include "adif/adif_writer.hpp"
#include "logbook/details_file.hpp"

namespace velkrin::adif {

enum class upload_service : std::uint8_t { lotw, eqsl, clublog, qrz };

struct upload_fields {
  std::string_view argument;  // "lotw", as --nouveaux and --marque-envoye take it
  std::string_view name;      // "LoTW", for messages
  std::string_view sent;      // the sent flag: LOTW_QSL_SENT
  std::string_view date;      // its date: LOTW_QSLSDATE
  std::string_view digest;    // APP_VELKRIN_LOTW_DIGEST
};
const upload_fields& fields_of(upload_service service);
// The service of an argument, in any case.
std::optional<upload_service> upload_service_named(std::string_view argument);

// The digest of what `service` keeps of a QSO's record as exported (without
// the country fields that a country file adds): LoTW and eQSL keep what
// they match a QSO on; Club Log and QRZ keep every field but the
// confirmations' and uploads' own and the country fields (both find the
// country themselves). Field order does not count; names count in any case.
template <typename Fields>
std::uint64_t sent_digest(upload_service service, const Fields& record);
// 16 hexadecimal digits.
std::string digest_text(std::uint64_t digest);

// True when the QSO whose details are `details` (nullptr when it has none)
// and whose record has digest `digest` is to be sent: never sent; sent but
// changed since; or queued or asked for again (R, Q, or Club Log's M). A
// QSO marked N or I (do not send), or sent before its digest was kept (by
// another program), is not.
bool is_to_send(upload_service service, const details_record* details, std::uint64_t digest);

// Why `service` would refuse a QSO of that record, in French; empty when
// it would not: LoTW and eQSL take no QSO without a band.
std::string upload_refusal(upload_service service, const adif_record& record);

// Marks `record` as sent to `service` on `today` ("AAAAMMJJ") with that
// digest; false when it already says so.
bool mark_sent(upload_service service, std::uint64_t digest, std::string_view today,
               details_record& record);

// What identifies a QSO in a file sent and in the logbook alike: its call
// (in any case), its date (YYYYMMDD) and its start to the minute.
std::uint64_t sent_qso_key(std::string_view call, std::string_view date, std::string_view time);
// The same of a record read back from a file sent.
std::uint64_t sent_qso_key(const adif_read_record& record);

// One field's share of a digest: the name in upper case, then the value.
void mix_field(std::uint64_t& hash, std::string_view name, std::string_view value);
bool kept_by(upload_service service, std::string_view upper_name);

template <typename Fields>
std::uint64_t sent_digest(upload_service service, const Fields& record) {
  // Each field's share is hashed alone and the shares summed, so that their
  // order does not count.
  std::uint64_t sum = 0;
  std::string upper;
  for (const auto& field : record) {
    upper.assign(field.name);
    for (char& c : upper) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    if (!kept_by(service, upper)) continue;
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    mix_field(hash, upper, field.value);
    sum += hash;
  }
  return sum;
}

}  // namespace velkrin::adif
