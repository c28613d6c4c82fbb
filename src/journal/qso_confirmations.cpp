#include "journal/qso_confirmations.hpp"

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
  // By length first: most fields of a record are none of these.
  std::string_view* into = nullptr;
  switch (name.size()) {
    case 8:
      if (name == "QSL_SENT") {
        into = &card.sent;
      } else if (name == "QSL_RCVD") {
        into = &card.received;
      }
      break;
    case 9:
      if (name == "QSL_SDATE") {
        into = &card.sent_date;
      } else if (name == "QSL_RDATE") {
        into = &card.received_date;
      }
      break;
    case 12:
      if (name == "QSL_RCVD_VIA") into = &card_received_via;
      break;
    case 13: {
      // LOTW_ and EQSL_, then the same eight characters.
      confirmation_channel* channel = name.starts_with("LOTW_")   ? &lotw
                                      : name.starts_with("EQSL_") ? &eqsl
                                                                  : nullptr;
      if (channel == nullptr) break;
      const std::string_view rest = name.substr(5);
      if (rest == "QSL_SENT") {
        into = &channel->sent;
      } else if (rest == "QSLSDATE") {
        into = &channel->sent_date;
      } else if (rest == "QSL_RCVD") {
        into = &channel->received;
      } else if (rest == "QSLRDATE") {
        into = &channel->received_date;
      }
      break;
    }
    default:
      break;
  }
  if (into == nullptr) return false;
  *into = value;
  return true;
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
