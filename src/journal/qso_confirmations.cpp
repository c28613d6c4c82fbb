#include "journal/qso_confirmations.hpp"

#include <array>

namespace velkrin::journal {
namespace {

bool is_letter(std::string_view value, char upper) {
  return value.size() == 1 && (value[0] == upper || value[0] == upper - 'A' + 'a');
}

char mark_of(const confirmation_channel& channel, bool received, char letter) {
  if (received) return letter;
  if (is_letter(channel.sent, 'Y')) return static_cast<char>(letter - 'A' + 'a');
  if (is_letter(channel.sent, 'R') || is_letter(channel.sent, 'Q')) return '!';
  return '-';
}

}  // namespace

bool confirmation_state::take(std::string_view name, std::string_view value) {
  // Every one of them begins with Q, L or E and is 8 to 13 characters long.
  if (name.size() < 8 || name.size() > 13) return false;
  if (name[0] != 'Q' && name[0] != 'L' && name[0] != 'E') return false;
  const std::array<std::pair<std::string_view, std::string_view*>, 13> kFields = {{
      {"QSL_SENT", &card.sent},
      {"QSL_SDATE", &card.sent_date},
      {"QSL_RCVD", &card.received},
      {"QSL_RDATE", &card.received_date},
      {"QSL_RCVD_VIA", &card_received_via},
      {"LOTW_QSL_SENT", &lotw.sent},
      {"LOTW_QSLSDATE", &lotw.sent_date},
      {"LOTW_QSL_RCVD", &lotw.received},
      {"LOTW_QSLRDATE", &lotw.received_date},
      {"EQSL_QSL_SENT", &eqsl.sent},
      {"EQSL_QSLSDATE", &eqsl.sent_date},
      {"EQSL_QSL_RCVD", &eqsl.received},
      {"EQSL_QSLRDATE", &eqsl.received_date},
  }};
  for (const auto& [known, into] : kFields) {
    if (known == name) {
      *into = value;
      return true;
    }
  }
  return false;
}

countries::confirmation_set confirmation_state::received() const {
  return countries::confirmations_of(card.received, card_received_via, lotw.received,
                                     eqsl.received);
}

confirmation_state confirmation_state_of(const details_record* details) {
  confirmation_state state;
  if (details == nullptr) return state;
  for (const details_field& field : details->fields) state.take(field.name, field.value);
  return state;
}

std::string confirmation_marks(const confirmation_state& state) {
  const countries::confirmation_set received = state.received();
  using countries::bit;
  using countries::confirmation;
  std::string marks{mark_of(state.card, (received & bit(confirmation::card)) != 0, 'C'),
                    mark_of(state.lotw, (received & bit(confirmation::lotw)) != 0, 'L'),
                    mark_of(state.eqsl, (received & bit(confirmation::eqsl)) != 0, 'E')};
  if (marks == "---") marks.clear();
  return marks;
}

std::string confirmation_sources(countries::confirmation_set set) {
  using countries::bit;
  using countries::confirmation;
  constexpr std::pair<confirmation, std::string_view> kWords[] = {
      {confirmation::card, "carte"}, {confirmation::lotw, "LoTW"}, {confirmation::eqsl, "eQSL"}};
  std::string text;
  std::size_t left = 0;
  for (const auto& [source, word] : kWords) left += (set & bit(source)) != 0;
  for (const auto& [source, word] : kWords) {
    if ((set & bit(source)) == 0) continue;
    if (!text.empty()) text += left == 1 ? " et " : ", ";
    text += word;
    --left;
  }
  return text;
}

}  // namespace velkrin::journal
