// The two records that the logbook holds, their fields named after the
// logbook's French column titles. The menu loop owns one of each for the
// whole run and lends them to the dialogues.
#pragma once

#include <cstdint>
#include <string>

namespace velkrin {

// One contact (QSO). Times are hhmm integers in UTC (905 is 09:05), the
// frequency is in kHz; words are taken as typed.
struct qso_record {
  std::string date;  // JJ-MM-AAAA
  std::int32_t debut = 0;
  std::int32_t fin = 0;
  std::string indicatif;  // the other station's call sign
  std::string prenom;     // the other operator's first name
  std::int32_t frequence = 0;
  std::string mode;  // class of emission
  std::string lieu;  // place of transmission, words joined with '_'
};

// The logbook's owner and start date, written in its header block.
struct logbook_header {
  std::string indicatif;
  std::string date_debut;  // JJ-MM-AAAA
};

}  // namespace velkrin
