#include "logbook/line_format.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#include "console/text_format.hpp"
#include "logbook/eight_bytes.hpp"

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

// What stands between the columns of the QSO line.
constexpr std::string_view kAfterDate = "   ";
constexpr std::string_view kAfterDebut = "    ";
constexpr std::string_view kAfterFin = "      ";
constexpr std::string_view kAfterIndicatif = "   ";
constexpr std::string_view kAfterPrenom = " ";
constexpr std::string_view kUnit = " kHz   ";  // after the frequency
constexpr std::string_view kAfterMode = "    ";

// Where each column of the QSO line begins.
constexpr std::size_t kDebutColumn = kDateWidth + kAfterDate.size();
constexpr std::size_t kFinColumn = kDebutColumn + kDebutWidth + kAfterDebut.size();
constexpr std::size_t kIndicatifColumn = kFinColumn + kFinWidth + kAfterFin.size();
constexpr std::size_t kPrenomColumn = kIndicatifColumn + kIndicatifWidth + kAfterIndicatif.size();
constexpr std::size_t kFrequenceColumn = kPrenomColumn + kPrenomWidth + kAfterPrenom.size();
constexpr std::size_t kUnitColumn = kFrequenceColumn + kFrequenceWidth;
constexpr std::size_t kModeColumn = kUnitColumn + kUnit.size();
static_assert(kModeColumn % 8 == 0, "the fixed columns are read eight bytes at a time");

struct value_column {
  std::size_t start;
  std::size_t width;
};
// The columns read by split_by_columns, in the order of the words.
constexpr std::array<value_column, 6> kFixedColumns{{{0, kDateWidth},
                                                     {kDebutColumn, kDebutWidth},
                                                     {kFinColumn, kFinWidth},
                                                     {kIndicatifColumn, kIndicatifWidth},
                                                     {kPrenomColumn, kPrenomWidth},
                                                     {kFrequenceColumn, kFrequenceWidth}}};

// The bytes before the class, one bit each, in 64-bit words.
constexpr std::size_t kFixedWords = (kModeColumn + 63) / 64;
using column_bits = std::array<std::uint64_t, kFixedWords>;

// The bits of the separators' bytes: every byte before the unit that
// belongs to no value.
constexpr column_bits kSeparatorBits = [] {
  column_bits bits{};
  for (std::size_t i = 0; i < kUnitColumn; ++i) bits[i / 64] |= std::uint64_t{1} << (i % 64);
  for (const value_column& column : kFixedColumns) {
    for (std::size_t i = column.start; i < column.start + column.width; ++i) {
      bits[i / 64] &= ~(std::uint64_t{1} << (i % 64));
    }
  }
  return bits;
}();

// Marks in `word_bits` the bytes above ' ' of the eight at `at`, and in
// `below_space` the bytes below it (a tab, a control byte).
inline void mark_eight(std::string_view line, std::size_t at, column_bits& word_bits,
                       std::uint64_t& below_space) {
  if constexpr (std::endian::native == std::endian::little) {
    const std::uint64_t eight = eight_bytes(line, at);
    below_space |= ~bytes_at_least(eight, 0x20) & kHighBits;
    // The eight high bits gathered into one byte, the first byte's lowest.
    const std::uint64_t gathered =
        ((bytes_at_least(eight, 0x21) >> 7) * 0x0102040810204080ull) >> 56;
    word_bits[at / 64] |= gathered << (at % 64);
  } else {
    for (std::size_t i = at; i < at + 8; ++i) {
      const auto byte = static_cast<unsigned char>(line[i]);
      below_space |= byte < 0x20;
      word_bits[i / 64] |= std::uint64_t{byte > 0x20} << (i % 64);
    }
  }
}

// The bytes above ' ' before the class; false when one lies below ' '.
template <std::size_t... Eight>
bool mark_word_bytes(std::string_view line, column_bits& word_bits, std::index_sequence<Eight...>) {
  word_bits = {};
  std::uint64_t below_space = 0;
  (mark_eight(line, Eight * 8, word_bits, below_space), ...);
  return below_space == 0;
}

// The word of fixed column `Index`: one run of bytes above ' ' in the column.
template <std::size_t Index>
bool read_column(std::string_view line, const column_bits& word_bits,
                 std::string_view (&words)[kQsoWordCount]) {
  constexpr value_column kColumn = kFixedColumns[Index];
  static_assert(kColumn.width < 64);
  constexpr std::size_t kWord = kColumn.start / 64;
  constexpr std::size_t kShift = kColumn.start % 64;
  std::uint64_t run = word_bits[kWord] >> kShift;
  if constexpr (kShift != 0 && kWord + 1 < kFixedWords)
    run |= word_bits[kWord + 1] << (64 - kShift);
  run &= (std::uint64_t{1} << kColumn.width) - 1;
  if (run == 0) return false;
  const int first = std::countr_zero(run);
  const std::uint64_t shifted = run >> first;
  if ((shifted & (shifted + 1)) != 0) return false;
  words[Index] = line.substr(kColumn.start + static_cast<std::size_t>(first),
                             static_cast<std::size_t>(std::countr_zero(shifted + 1)));
  return true;
}

template <std::size_t... Index>
bool read_columns(std::string_view line, const column_bits& word_bits,
                  std::string_view (&words)[kQsoWordCount], std::index_sequence<Index...>) {
  return (read_column<Index>(line, word_bits, words) && ...);
}

// True when `text` holds no byte at or below ' '.
bool is_one_word(std::string_view text) {
  std::size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    if (bytes_at_least(eight_bytes(text, at), 0x21) != kHighBits) return false;
  }
  for (; at < text.size(); ++at) {
    if (static_cast<unsigned char>(text[at]) <= 0x20) return false;
  }
  return true;
}

constexpr std::string_view kWhiteSpace = " \t\r\v\f";
constexpr std::string_view kUnitWord = "kHz";
constexpr std::size_t kUnitIndex = 6;

// The blanks that separate words, as a table: the test runs for every byte.
constexpr std::array<bool, 256> kBlanks = [] {
  std::array<bool, 256> blanks{};
  for (const unsigned char c : {' ', '\t', '\r', '\v', '\f'}) blanks[c] = true;
  return blanks;
}();

bool is_blank(char c) { return kBlanks[static_cast<unsigned char>(c)]; }

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
      .append(kAfterDate)
      .append(pad_left(decimal(qso.debut), kDebutWidth))
      .append(kAfterDebut)
      .append(pad_right(decimal(qso.fin), kFinWidth))
      .append(kAfterFin)
      .append(pad_right(qso.indicatif, kIndicatifWidth))
      .append(kAfterIndicatif)
      .append(pad_right(qso.prenom, kPrenomWidth))
      .append(kAfterPrenom)
      .append(pad_left(decimal(qso.frequence), kFrequenceWidth))
      .append(kUnit)
      .append(pad_right(qso.mode, kModeWidth))
      .append(kAfterMode)
      .append(pad_right(qso.lieu, kLieuWidth))
      .append(eol);
  return line;
}

bool split_on_blanks(std::string_view line, std::string_view (&words)[kQsoWordCount]) {
  std::size_t count = 0;
  const char* const end = line.data() + line.size();
  for (const char* p = line.data(); p != end;) {
    while (p != end && is_blank(*p)) ++p;
    if (p == end) break;  // blanks at the end of a line that still has them
    const char* const start = p;
    while (p != end && !is_blank(*p)) ++p;
    if (count == kQsoWordCount) return false;
    words[count++] = std::string_view(start, static_cast<std::size_t>(p - start));
  }
  return count == kQsoWordCount && words[kUnitIndex] == kUnitWord;
}

bool split_by_columns(std::string_view line, std::string_view (&words)[kQsoWordCount]) {
  // The class, a blank and the place follow the fixed columns.
  if (line.size() < kModeColumn + 3) return false;
  for (std::size_t i = 0; i < kUnit.size(); ++i) {
    if (line[kUnitColumn + i] != kUnit[i]) return false;
  }
  column_bits word_bits;
  if (!mark_word_bytes(line, word_bits, std::make_index_sequence<kModeColumn / 8>())) return false;
  std::uint64_t in_separators = 0;
  for (std::size_t i = 0; i < kFixedWords; ++i) in_separators |= word_bits[i] & kSeparatorBits[i];
  if (in_separators != 0) return false;
  // Each column holds one run of word bytes, spaces around it.
  if (!read_columns(line, word_bits, words, std::make_index_sequence<kFixedColumns.size()>())) {
    return false;
  }
  words[kUnitIndex] = line.substr(kUnitColumn + 1, kUnitWord.size());
  // The class from its column on, then spaces, then the place to the end.
  std::size_t end = kModeColumn;
  while (end < line.size() && static_cast<unsigned char>(line[end]) > 0x20) ++end;
  std::size_t place = end;
  while (place < line.size() && line[place] == ' ') ++place;
  if (end == kModeColumn || place == end || place == line.size()) return false;
  words[7] = line.substr(kModeColumn, end - kModeColumn);
  words[8] = line.substr(place);
  return is_one_word(words[8]);
}

std::string_view trim_right(std::string_view text) {
  // This runs for every line that the reader reads: the blanks that pad the
  // last column are skipped eight at a time.
  std::size_t size = text.size();
  constexpr std::uint64_t kEightSpaces = 0x2020202020202020ull;
  for (std::uint64_t eight = 0; size >= 8; size -= 8) {
    std::memcpy(&eight, text.data() + size - 8, 8);
    if (eight != kEightSpaces) break;
  }
  while (size > 0 && (text[size - 1] == ' ' || text[size - 1] == '\t' || text[size - 1] == '\r' ||
                      text[size - 1] == '\v' || text[size - 1] == '\f')) {
    --size;
  }
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
