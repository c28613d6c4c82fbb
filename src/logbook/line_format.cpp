#include "logbook/line_format.hpp"

#include "console/text_format.hpp"

namespace velkrin {
namespace {

// Column widths of the QSO line.
constexpr std::size_t kDateWidth = 10;
constexpr std::size_t kDebutWidth = 4;
constexpr std::size_t kFinWidth = 4;
constexpr std::size_t kIndicatifWidth = 9;
constexpr std::size_t kPrenomWidth = 15;
constexpr std::size_t kFrequenceWidth = 6;
constexpr std::size_t kModeWidth = 3;
constexpr std::size_t kLieuWidth = 25;
constexpr std::size_t kHeaderValueWidth = 12;

// Splits the next line off `text`; false when no line end remains.
bool next_line(std::string_view& text, std::string_view& line, std::string_view& eol) {
  const auto newline = text.find('\n');
  if (newline == std::string_view::npos) return false;
  line = text.substr(0, newline);
  eol = "\n";
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
    eol = "\r\n";
  }
  text.remove_prefix(newline + 1);
  return true;
}

bool is_rule(std::string_view line) {
  return line.size() == kHeaderRuleWidth && line.find_first_not_of('-') == std::string_view::npos;
}

bool is_owner_line(std::string_view line) {
  if (!line.starts_with(kHeaderOwnerLabel) || !line.ends_with(kHeaderLineEnding)) return false;
  const auto middle = line.find(kHeaderDateLabel, kHeaderOwnerLabel.size());
  return middle != std::string_view::npos &&
         middle + kHeaderDateLabel.size() <= line.size() - kHeaderLineEnding.size();
}

}  // namespace

std::string format_header(const logbook_header& header, std::string_view eol) {
  const std::string rule(kHeaderRuleWidth, '-');
  std::string block;
  block.reserve(3 * (kHeaderRuleWidth + eol.size()) + 256);
  block.append(rule).append(eol);
  block.append(kHeaderOwnerLabel)
      .append(pad_right(header.indicatif, kHeaderValueWidth))
      .append(kHeaderDateLabel)
      .append(pad_right(header.date_debut, kHeaderValueWidth))
      .append(kHeaderLineEnding)
      .append(eol);
  block.append(kHeaderTimeNote).append(eol);
  block.append(rule).append(eol);
  block.append(kHeaderTitles).append(eol);
  block.append(rule).append(eol);
  return block;
}

std::string format_qso_line(const qso_record& qso, std::string_view eol) {
  std::string line;
  line.reserve(128);
  line.append(pad_right(qso.date, kDateWidth))
      .append("   ")
      .append(pad_left(decimal(qso.debut), kDebutWidth))
      .append("    ")
      .append(pad_right(decimal(qso.fin), kFinWidth))
      .append("      ")
      .append(pad_right(qso.indicatif, kIndicatifWidth))
      .append("   ")
      .append(pad_right(qso.prenom, kPrenomWidth))
      .append(" ")
      .append(pad_left(decimal(qso.frequence), kFrequenceWidth))
      .append(" kHz   ")
      .append(pad_right(qso.mode, kModeWidth))
      .append("    ")
      .append(pad_right(qso.lieu, kLieuWidth))
      .append(eol);
  return line;
}

std::optional<found_header> find_header(std::string_view text) {
  const std::string_view start = text;
  std::string_view lines[kHeaderLineCount];
  std::string_view first_eol;
  for (std::size_t i = 0; i < kHeaderLineCount; ++i) {
    std::string_view eol;
    if (!next_line(text, lines[i], eol)) return std::nullopt;
    if (i == 0) first_eol = eol;
  }
  if (!is_rule(lines[0]) || !is_owner_line(lines[1]) || lines[2] != kHeaderTimeNote ||
      !is_rule(lines[3]) || lines[4] != kHeaderTitles || !is_rule(lines[5])) {
    return std::nullopt;
  }
  return found_header{start.size() - text.size(), std::string(first_eol)};
}

std::optional<std::string> first_line_end(std::string_view text) {
  std::string_view line;
  std::string_view eol;
  if (!next_line(text, line, eol)) return std::nullopt;
  return std::string(eol);
}

}  // namespace velkrin
