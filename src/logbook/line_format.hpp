// The byte layout of the logbook file: a six-line header block, then one
// fixed-width line per QSO. Pure functions; `eol` is the line end of the file
// being written ("\n", or "\r\n" for a logbook kept under Windows).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "logbook/records.hpp"

namespace velkrin {

inline constexpr std::string_view kLogbookFileName = "journal_de_bord.txt";
inline constexpr std::size_t kHeaderLineCount = 6;
inline constexpr std::size_t kHeaderRuleWidth = 96;
inline constexpr std::string_view kHeaderOwnerLabel = "Journal de Bord de : ";
inline constexpr std::string_view kHeaderDateLabel = " .   Date de debut du Journal : ";
inline constexpr std::string_view kHeaderLineEnding = " .";
inline constexpr std::string_view kHeaderTimeNote = "En Heure Universelle (UTC)";
inline constexpr std::string_view kHeaderTitles =
    "Date      ;  Debut;  Fin  ;    Indicatif;  Prenom        ; Frequence;   Mode;  Lieu "
    "d'emission; ";

// The six header lines, each ended by `eol` (495 bytes with "\n" while both
// values hold at most 12 characters).
std::string format_header(const logbook_header& header, std::string_view eol = "\n");

// One QSO line ended by `eol`: 104 characters and the line end while every
// value fits its column; a wider value shifts the rest, nothing is cut.
std::string format_qso_line(const qso_record& qso, std::string_view eol = "\n");

// The words of a QSO line: date, debut, fin, indicatif, prenom, frequence,
// the unit "kHz", class, place.
inline constexpr std::size_t kQsoWordCount = 9;

// The words of a QSO line (its trailing blanks cut) split on blanks (space,
// tab, CR, VT, FF); false unless they are nine, the seventh "kHz".
bool split_on_blanks(std::string_view line, std::string_view (&words)[kQsoWordCount]);

// Reads a QSO line (its trailing blanks cut) by the columns format_qso_line
// writes, without looking for blanks: true when each of the first six values
// fills its column as one word, every separator holds spaces only and the
// unit reads "kHz" in its place, then the class and the place follow as two
// words (either may be wider than its column). The words are then exactly
// those that splitting the line on blanks gives. False for any other line
// (a tab or a control byte among the first columns, a value that shifts the
// unit, an empty column), which must be split on blanks.
bool split_by_columns(std::string_view line, std::string_view (&words)[kQsoWordCount]);

// The start of a header's second line, whatever follows it.
inline constexpr std::string_view kHeaderOwnerTitle = "Journal de Bord de :";
inline constexpr std::string_view kUtf8Bom = "\xef\xbb\xbf";

// `text` without its trailing blanks, tabs, CR, VT and FF.
std::string_view trim_right(std::string_view text);

// True when `line`, its trailing blanks cut, can be line `index` (0 to 5) of
// a header block: rows of dashes at 0, 3 and 5, the owner's line at 1 (it
// begins with kHeaderOwnerTitle), the time note at 2 and the titles at 4.
bool is_header_line(std::size_t index, std::string_view line);

// The owner's call sign and the start date written in a header's second
// line, trimmed.
logbook_header parse_owner_line(std::string_view line);

// A header is looked for at the start of a file, and rewritten there in place
// when the new one has its length, only within its first kHeaderSearchBytes:
// a reader that reads those under the lock never sees a header half
// rewritten.
inline constexpr std::size_t kHeaderSearchBytes = 4096;

// A header block found at the start of a file.
struct found_header {
  std::size_t bom = 0;     // bytes of a UTF-8 byte-order mark before it
  std::size_t length = 0;  // bytes up to and including its sixth line end
  std::string eol;         // the line end of its first line
};

// Recognises a header block at the start of `text`: six lines that pass
// is_header_line, after an optional UTF-8 byte-order mark, in either
// line-end convention (the sixth may also end the text). Five such lines are
// no header.
std::optional<found_header> find_header(std::string_view text);

// The line end of the first line of `text`: "\r\n" when that line ends in
// CRLF, "\n" when it ends in LF, nothing when `text` holds no line end.
std::optional<std::string> first_line_end(std::string_view text);

}  // namespace velkrin
