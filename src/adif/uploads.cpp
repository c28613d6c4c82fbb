#include "adif/uploads.hpp"

#include <algorithm>

#include "logbook/qso_rules.hpp"

namespace velkrin::adif {
namespace {

constexpr std::array<upload_fields, 4> kServices{{
    {"lotw", "LoTW", "LOTW_QSL_SENT", "LOTW_QSLSDATE", "APP_VELKRIN_LOTW_DIGEST"},
    {"eqsl", "eQSL", "EQSL_QSL_SENT", "EQSL_QSLSDATE", "APP_VELKRIN_EQSL_DIGEST"},
    {"clublog", "Club Log", "CLUBLOG_QSO_UPLOAD_STATUS", "CLUBLOG_QSO_UPLOAD_DATE",
     "APP_VELKRIN_CLUBLOG_DIGEST"},
    {"qrz", "QRZ", "QRZCOM_QSO_UPLOAD_STATUS", "QRZCOM_QSO_UPLOAD_DATE", "APP_VELKRIN_QRZ_DIGEST"},
}};

// What LoTW matches a QSO on, with the frequencies it keeps.
constexpr std::array<std::string_view, 11> kLotwFields{"CALL",    "QSO_DATE",  "TIME_ON", "BAND",
                                                       "BAND_RX", "MODE",      "SUBMODE", "FREQ",
                                                       "FREQ_RX", "PROP_MODE", "SAT_NAME"};
// What an eQSL card shows.
constexpr std::array<std::string_view, 10> kEqslFields{
    "CALL",    "QSO_DATE",  "TIME_ON",  "BAND",     "MODE",
    "SUBMODE", "PROP_MODE", "SAT_NAME", "RST_SENT", "QSLMSG"};
// Fields of the bookkeeping of cards and uploads, and the country fields:
// none of them makes a QSO new to Club Log or QRZ.
constexpr std::array<std::string_view, 11> kNotContent{
    "QSL_SENT", "QSL_RCVD", "QSL_SENT_VIA", "QSL_RCVD_VIA", "QSLSDATE", "QSLRDATE",
    "DXCC",     "COUNTRY",  "CQZ",          "ITUZ",         "CONT"};
constexpr std::array<std::string_view, 9> kNotContentPrefixes{
    "APP_", "LOTW_", "EQSL_", "CLUBLOG_", "QRZCOM_", "HRDLOG_", "HAMLOGEU_", "HAMQTH_", "DCL_"};

template <std::size_t N>
bool among(const std::array<std::string_view, N>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

const upload_fields& fields_of(upload_service service) {
  return kServices[static_cast<std::size_t>(service)];
}

std::optional<upload_service> upload_service_named(std::string_view argument) {
  const std::string upper = to_upper(argument);
  for (std::size_t i = 0; i < kServices.size(); ++i) {
    if (to_upper(kServices[i].argument) == upper) return static_cast<upload_service>(i);
  }
  return std::nullopt;
}

void mix_field(std::uint64_t& hash, std::string_view name, std::string_view value) {
  const auto mix = [&hash](std::string_view text) {
    for (const char c : text) {
      hash ^= static_cast<unsigned char>(c);
      hash *= 0x100000001b3ULL;
    }
    hash ^= 0xff;  // ends the text: "AB","C" and "A","BC" differ
    hash *= 0x100000001b3ULL;
  };
  mix(name);
  mix(value);
}

std::uint64_t sent_qso_key(std::string_view call, std::string_view date, std::string_view time) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  mix_field(hash, to_upper(call), date);
  mix_field(hash, time.substr(0, 4), "");
  return hash;
}

std::uint64_t sent_qso_key(const adif_read_record& record) {
  const auto value = [&record](std::string_view name) {
    const std::string* found = record.find(name);
    return found != nullptr ? std::string_view(*found) : std::string_view();
  };
  return sent_qso_key(value("CALL"), value("QSO_DATE"), value("TIME_ON"));
}

bool kept_by(upload_service service, std::string_view upper_name) {
  switch (service) {
    case upload_service::lotw:
      return among(kLotwFields, upper_name);
    case upload_service::eqsl:
      return among(kEqslFields, upper_name);
    case upload_service::clublog:
    case upload_service::qrz:
      break;
  }
  if (among(kNotContent, upper_name)) return false;
  return std::none_of(
      kNotContentPrefixes.begin(), kNotContentPrefixes.end(),
      [upper_name](std::string_view prefix) { return upper_name.starts_with(prefix); });
}

std::string digest_text(std::uint64_t digest) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i, digest >>= 4)
    text[static_cast<std::size_t>(i)] = kDigits[digest & 15];
  return text;
}

bool is_to_send(upload_service service, const details_record* details, std::uint64_t digest) {
  if (details == nullptr) return true;
  const upload_fields& fields = fields_of(service);
  const std::string* sent = details->find(fields.sent);
  if (sent == nullptr || sent->empty()) return true;
  const std::string status = to_upper(*sent);
  if (status == "N" || status == "I") return false;
  if (status != "Y") return true;  // R and Q: to send; M: modified since
  const std::string* kept = details->find(fields.digest);
  return kept != nullptr && *kept != digest_text(digest);
}

std::string upload_refusal(upload_service service, const adif_record& record) {
  if (service != upload_service::lotw && service != upload_service::eqsl) return {};
  const bool banded = std::any_of(record.begin(), record.end(),
                                  [](const adif_field& field) { return field.name == "BAND"; });
  if (banded) return {};
  return "frequence hors des bandes amateur : " + std::string(fields_of(service).name) +
         " refuse un QSO sans bande, non exporte";
}

bool mark_sent(upload_service service, std::uint64_t digest, std::string_view today,
               details_record& record) {
  const upload_fields& fields = fields_of(service);
  const std::string text = digest_text(digest);
  const std::string* sent = record.find(fields.sent);
  const std::string* kept = record.find(fields.digest);
  if (sent != nullptr && to_upper(*sent) == "Y" && kept != nullptr && *kept == text) return false;
  record.set(fields.sent, "Y");
  record.set(fields.date, std::string(today));
  record.set(fields.digest, text);
  return true;
}

}  // namespace velkrin::adif
