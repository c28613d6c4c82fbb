// The two records that the logbook holds, their fields named after the
// logbook's French column titles. The menu loop owns one of each for the
// whole run and lends them to the dialogues.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// A QSO's values without copies of its words: views into a qso_record, or
// into the memory of the reader that read the line (then valid until its
// next call). The empty value is an empty view.
struct qso_values {
  qso_values() = default;
  // Implicit, as a string_view from a string: what takes values takes a
  // record too.
  qso_values(const qso_record& qso)
      : date(qso.date),
        debut(qso.debut),
        fin(qso.fin),
        indicatif(qso.indicatif),
        prenom(qso.prenom),
        frequence(qso.frequence),
        mode(qso.mode),
        lieu(qso.lieu) {}

  // The values copied into `qso`, whose strings keep their memory.
  void copy_to(qso_record& qso) const {
    qso.date.assign(date);
    qso.debut = debut;
    qso.fin = fin;
    qso.indicatif.assign(indicatif);
    qso.prenom.assign(prenom);
    qso.frequence = frequence;
    qso.mode.assign(mode);
    qso.lieu.assign(lieu);
  }
  qso_record record() const {
    qso_record qso;
    copy_to(qso);
    return qso;
  }

  std::string_view date;
  std::int32_t debut = 0;
  std::int32_t fin = 0;
  std::string_view indicatif;
  std::string_view prenom;
  std::int32_t frequence = 0;
  std::string_view mode;
  std::string_view lieu;
};

// The logbook's owner and start date, written in its header block.
struct logbook_header {
  std::string indicatif;
  std::string date_debut;  // JJ-MM-AAAA
};

}  // namespace velkrin
