// One ADIF record made a logbook QSO, exactly as velkrin would have stored
// it had it been typed. Pure functions; a record that cannot become a QSO
// comes back with the reason, in French.
//
// Every value is one word, as a typed answer is: blanks inside become "_",
// a value the record lacks is written "-" (which the readers take for an
// empty one), text that is not UTF-8 is taken for Windows-1252 and written
// in UTF-8. Nothing is cut: a wide value pushes the rest of the line.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adif/adif_reader.hpp"
#include "logbook/details_file.hpp"
#include "logbook/records.hpp"

namespace velkrin::adif {

// --classe MODE=CLASSE: the class written for an ADIF mode or submode, keys
// in upper case.
using class_table = std::map<std::string, std::string, std::less<>>;

struct import_settings {
  std::string owner;           // the owner's call sign in the logbook's last header
  class_table classes;         // --classe
  std::string default_place;   // --lieu-par-defaut; empty for none
  bool other_station = false;  // --autre-indicatif
};

struct imported_qso {
  std::optional<qso_record> qso;  // empty when the record is not imported
  std::string reason;             // why not, in French
  // Fields that the details cannot keep, in record order: one given again
  // in the record (only a field's first value counts, for the line as for
  // the details), or one whose name is not ASCII.
  std::vector<std::string> dropped;
};

imported_qso import_record(const adif_read_record& record, const import_settings& settings);

// A value as a line holds it: one word of UTF-8 (text that is not UTF-8 is
// taken for Windows-1252), blanks and control characters made "_", nothing
// made "-".
std::string logbook_word(std::string_view value);
// True when logbook_word(value) is `word`; without a string of its own when
// the value is ASCII.
bool reads_as_word(std::string_view value, std::string_view word);

// The details that the QSO `qso`, which import_record made of `record`,
// keeps beside its line: every field of the record as it came (trimmed of
// ADIF blanks, in UTF-8; empty ones and those of `dropped` left out),
// except what the line and the header of `owner` give back exactly: NAME
// equal to the first name, FREQ equal in value to the line's kHz, TIME_ON
// and TIME_OFF without seconds, QSO_DATE_OFF that an end before the start
// gives, MY_CITY that is the place (and no locator), MY_GRIDSQUARE that is
// the place (a locator, no MY_CITY), STATION_CALLSIGN that is the owner's
// call sign. OPERATOR, which the export does not write, is always kept. No
// fields at all when the record says no more than the line: no field beyond
// the key, TIME_ON without seconds, MODE and SUBMODE that the line's class
// gives back.
details_record details_of(const adif_read_record& record, const qso_record& qso,
                          std::string_view owner);

// The class of emission written for an ADIF mode and submode (upper case or
// not): --classe first (the submode, then the mode), then the classes an
// operator types for SSB, CW, AM, FM and RTTY, then the submode, else the
// mode, written so that the export gives back the same mode and submode.
std::string class_of(std::string_view mode, std::string_view submode, const class_table& classes);

// Adds one "MODE=CLASSE" (the argument of --classe); the French reason when
// it is malformed.
std::optional<std::string> add_class(std::string_view mapping, class_table& classes);

// The kHz of an ADIF frequency in MHz ("14.0745" gives 14075), rounded to
// the nearest; empty unless it is a decimal number above 0 that fits.
std::optional<std::int32_t> khz_of_mhz(std::string_view mhz);

// The message that names one record in the summary: "enregistrement 3
// (ligne 12)".
std::string record_label(const adif_read_record& record);

// Why a record that its input cut short (no <EOR>) is not taken, in the same
// words for an ADIF file and a datagram; nothing for a whole record.
std::optional<std::string> cut_short_reason(const adif_read_record& record);

}  // namespace velkrin::adif
