#include "logbook/line_format.hpp"

#include <algorithm>

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

constexpr std::string_view kWhiteSpace = " \t\r\v\f";
constexpr std::string_view kHeaderDateTitle = "Date de debut du Journal :";

// Splits the next line off `text`, with its line end; false when no line
// end remains.
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

std::string_view trim_left(std::string_view text) {
  const auto first = text.find_first_not_of(kWhiteSpace);
  return first == std::string_view::npos ? std::string_view{} : text.substr(first);
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

std::string_view trim_right(std::string_view text) {
  // A plain loop: every line read goes through here, most with a run of
  // blanks at the end.
  std::size_t size = text.size();
  const auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
  };
  while (size > 0 && blank(text[size - 1])) --size;
  return text.substr(0, size);
}

bool is_header_line(std::size_t index, std::string_view line) {
  line = trim_right(line);
  switch (index) {
    case 0:
    case 3:
    case 5:
      return is_rule(line);
    case 1:
      return line.starts_with(kHeaderOwnerTitle);
    case 2:
      return line == kHeaderTimeNote;
    case 4:
      return line == trim_right(kHeaderTitles);
    default:
      return false;
  }
}

logbook_header parse_owner_line(std::string_view line) {
  line = trim_right(line);
  const std::string_view rest = line.substr(std::min(kHeaderOwnerTitle.size(), line.size()));
  std::string_view owner = rest;
  std::string_view date;
  if (const auto title = rest.find(kHeaderDateTitle); title != std::string_view::npos) {
    owner = rest.substr(0, title);
    date = rest.substr(title + kHeaderDateTitle.size());
  }
  // Each value is followed by " ." in the line.
  const auto value = [](std::string_view text) {
    text = trim_right(trim_left(text));
    if (text.ends_with('.')) text.remove_suffix(1);
    return std::string(trim_right(text));
  };
  return {value(owner), value(date)};
}

std::optional<found_header> find_header(std::string_view text) {
  found_header found;
  if (text.starts_with(kUtf8Bom)) found.bom = kUtf8Bom.size();
  std::string_view rest = text.substr(found.bom);
  for (std::size_t i = 0; i < kHeaderLineCount; ++i) {
    std::string_view line;
    std::string_view eol;
    if (!next_line(rest, line, eol)) {
      // The sixth line may end the text without a line end.
      if (i + 1 < kHeaderLineCount || rest.empty()) return std::nullopt;
      line = rest;
      rest = {};
    }
    if (!is_header_line(i, line)) return std::nullopt;
    if (i == 0) found.eol = eol;
  }
  found.length = text.size() - rest.size();
  return found;
}

std::optional<std::string> first_line_end(std::string_view text) {
  std::string_view line;
  std::string_view eol;
  if (!next_line(text, line, eol)) return std::nullopt;
  return std::string(eol);
}

}  // namespace velkrin
