#include "adif/logbook_reader.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>

#include "logbook/line_format.hpp"

namespace velkrin::adif {
namespace {

constexpr std::string_view kWhiteSpace = " \t\r\v\f";
constexpr std::string_view kUtf8Bom = "\xef\xbb\xbf";
constexpr std::string_view kUnitWord = "kHz";
constexpr std::size_t kUnitIndex = 6;
constexpr std::size_t kQsoWordCount = 9;

// What "echo" without text prints under Windows, in English and in French,
// the accent in the console code page (CP850), in CP1252 or in UTF-8.
constexpr std::array<std::string_view, 4> kEchoLines{
    "ECHO is on.", "ECHO est activ\x82.", "ECHO est activ\xe9.", "ECHO est activ\xc3\xa9."};

std::string_view trim_right(std::string_view text) {
  const auto last = text.find_last_not_of(kWhiteSpace);
  return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

std::string_view trim(std::string_view text) {
  text = trim_right(text);
  const auto first = text.find_first_not_of(kWhiteSpace);
  return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

std::vector<std::string_view> split_words(std::string_view line) {
  std::vector<std::string_view> words;
  for (auto start = line.find_first_not_of(kWhiteSpace); start != std::string_view::npos;) {
    const auto end = line.find_first_of(kWhiteSpace, start);
    words.push_back(line.substr(start, end - start));
    start = line.find_first_not_of(kWhiteSpace, end);
  }
  return words;
}

// The call sign of a header's second line.
std::optional<std::string> owner_of(std::string_view line) {
  if (!line.starts_with(kHeaderOwnerLabel)) return std::nullopt;
  const auto end = line.find(kHeaderDateLabel, kHeaderOwnerLabel.size());
  if (end == std::string_view::npos) return std::nullopt;
  return std::string(trim(line.substr(kHeaderOwnerLabel.size(), end - kHeaderOwnerLabel.size())));
}

bool is_skipped(std::string_view line) {
  const bool rule =
      line.size() == kHeaderRuleWidth && line.find_first_not_of('-') == std::string_view::npos;
  const bool echo = std::find(kEchoLines.begin(), kEchoLines.end(), line) != kEchoLines.end();
  return line.empty() || rule || echo || line == kHeaderTimeNote ||
         line == trim_right(kHeaderTitles);
}

bool parse_number(std::string_view word, std::int32_t& value) {
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  return error == std::errc{} && end == word.data() + word.size();
}

// The reason the words are no QSO, or nothing when `qso` was filled.
std::optional<std::string> parse_qso(const std::vector<std::string_view>& words, qso_record& qso) {
  if (words.size() != kQsoWordCount || words[kUnitIndex] != kUnitWord) {
    return "ligne non reconnue (attendu : date, debut, fin, indicatif, prenom, frequence, kHz, "
           "classe, lieu)";
  }
  const auto number = [&](std::size_t index, std::string_view name, std::int32_t& value) {
    return parse_number(words[index], value)
               ? std::nullopt
               : std::optional<std::string>(std::string(name) + " \"" + std::string(words[index]) +
                                            "\" n'est pas un nombre entier");
  };
  if (auto error = number(1, "debut", qso.debut)) return error;
  if (auto error = number(2, "fin", qso.fin)) return error;
  if (auto error = number(5, "frequence", qso.frequence)) return error;
  qso.date = words[0];
  qso.indicatif = words[3];
  qso.prenom = words[4];
  qso.mode = words[7];
  qso.lieu = words[8];
  return std::nullopt;
}

}  // namespace

logbook_contents read_logbook(std::string_view text) {
  logbook_contents contents;
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  if (const auto eol = first_line_end(text)) contents.eol = *eol;

  std::string owner;
  for (std::size_t number = 1; !text.empty(); ++number) {
    const auto newline = text.find('\n');
    const std::string_view line = trim_right(text.substr(0, newline));
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);

    if (auto header_owner = owner_of(line)) {
      owner = std::move(*header_owner);
      continue;
    }
    if (is_skipped(line)) continue;
    logbook_qso entry;
    entry.line = number;
    entry.owner = owner;
    if (auto error = parse_qso(split_words(line), entry.qso)) {
      contents.unreadable.push_back({number, std::move(*error)});
    } else {
      contents.qsos.push_back(std::move(entry));
    }
  }
  return contents;
}

}  // namespace velkrin::adif
