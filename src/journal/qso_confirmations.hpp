// A QSO's confirmations as its details record holds them: the paper card,
// LoTW and eQSL, each sent and received with its dates. The one reader of
// these fields for the commands that show or count confirmations (liste,
// csv, indicatif, pays, diplomes), and the short forms liste and indicatif
// show. Internal to the commands' files.
#pragma once

#include <string>
#include <string_view>

#include "countries/awards.hpp"
#include "logbook/details_file.hpp"

namespace velkrin::journal {

// One way of confirming a QSO, as ADIF writes it: the statuses (Y, N, R, Q,
// I, V) and the days (YYYYMMDD); empty when the field is absent.
struct confirmation_channel {
  std::string_view sent;
  std::string_view sent_date;
  std::string_view received;
  std::string_view received_date;
};

// Views into the details record read, valid while it is.
struct confirmation_state {
  confirmation_channel card;           // QSL_SENT, QSL_SDATE, QSL_RCVD, QSL_RDATE
  confirmation_channel lotw;           // LOTW_QSL_SENT, LOTW_QSLSDATE, LOTW_QSL_RCVD, LOTW_QSLRDATE
  confirmation_channel eqsl;           // EQSL_QSL_SENT, EQSL_QSLSDATE, EQSL_QSL_RCVD, EQSL_QSLRDATE
  std::string_view card_received_via;  // QSL_RCVD_VIA

  // Keeps `value` when `name` (upper case) is one of the fields above;
  // false when it is none of them.
  bool take(std::string_view name, std::string_view value);
  // The confirmations received, by countries::confirmations_of()'s rules: a
  // card received electronically (QSL_RCVD_VIA E) is no paper card.
  countries::confirmation_set received() const;
};

// The state of a QSO; all empty for nullptr (no details).
confirmation_state confirmation_state_of(const details_record* details);

// Three marks, card, LoTW and eQSL in that order: "C", "L", "E" received,
// "c", "l", "e" sent (status Y) and not received, "!" to send (status R,
// asked for by the other station, or Q, queued), "-" nothing. Empty when
// all three are "-".
std::string confirmation_marks(const confirmation_state& state);

// "carte", "carte et LoTW", "carte, LoTW et eQSL": the sources of a set, in
// that order; empty for none.
std::string confirmation_sources(countries::confirmation_set set);

}  // namespace velkrin::journal
