// velkrin-journal csv: the selected QSOs as CSV, plain or for a spreadsheet
// set up in French.
#include <algorithm>
#include <ostream>

#include "console/visible_text.hpp"
#include "journal/commands.hpp"
#include "journal/qso_confirmations.hpp"
#include "journal/reading.hpp"
#include "logbook/line_format.hpp"

namespace velkrin::journal {
namespace {

// JJ/MM/AAAA, which a spreadsheet set up in French reads as a date.
std::string french_date(const calendar_date& date) {
  std::string text = "00/00/";
  text[0] = static_cast<char>('0' + date.day / 10);
  text[1] = static_cast<char>('0' + date.day % 10);
  text[3] = static_cast<char>('0' + date.month / 10);
  text[4] = static_cast<char>('0' + date.month % 10);
  return text + std::to_string(date.year);
}

// A day of the details (ADIF's YYYYMMDD) in the CSV's form of dates: ISO, or
// JJ/MM/AAAA for a spreadsheet; any other value as it is.
std::string_view csv_day(std::string_view adif, bool excel, std::string& scratch) {
  if (adif.size() != 8 ||
      !std::all_of(adif.begin(), adif.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return adif;
  }
  const std::string_view year = adif.substr(0, 4), month = adif.substr(4, 2),
                         day = adif.substr(6, 2);
  scratch.clear();
  if (excel) {
    scratch.append(day).append("/").append(month).append("/").append(year);
  } else {
    scratch.append(year).append("-").append(month).append("-").append(day);
  }
  return scratch;
}

// A CSV field, with its control characters written as visible() shows them
// (a spreadsheet would take a line end or worse from them), and said on err.
void append_shown_field(const command_context& c, std::string_view column, std::size_t line,
                        std::string_view value, std::string& out) {
  const char separator = c.options.excel ? ';' : ',';
  if (!needs_showing(value)) {
    append_csv_field(value, separator, c.options.excel, out);
    return;
  }
  const std::string shown = visible(value);
  c.err << "ligne " << line << " : caractere de controle dans la colonne " << column << ", ecrit \""
        << shown << "\" dans le CSV\n";
  append_csv_field(shown, separator, c.options.excel, out);
}

}  // namespace

void append_csv_field(std::string_view value, char separator, bool spreadsheet, std::string& line) {
  const bool formula = spreadsheet && !value.empty() &&
                       (value.front() == '=' || value.front() == '+' || value.front() == '-' ||
                        value.front() == '@');
  const bool quoted =
      value.find_first_of(std::string{separator, '"', '\r', '\n'}) != std::string_view::npos;
  if (quoted) line += '"';
  if (formula) line += '\'';
  for (const char ch : value) {
    if (ch == '"') line += '"';
    line += ch;
  }
  if (quoted) line += '"';
}

int export_csv(const command_context& c) {
  const bool excel = c.options.excel;
  const char separator = excel ? ';' : ',';
  const std::string_view eol = excel ? "\r\n" : "\n";
  std::string line = excel ? std::string(kUtf8Bom) : std::string();
  constexpr std::string_view kTitles[] = {
      "date",         "debut",        "fin",           "indicatif",
      "prenom",       "khz",          "mhz",           "bande",
      "mode",         "sous_mode",    "classe",        "lieu",
      "proprietaire", "ligne",        "report_envoye", "report_recu",
      "locator",      "commentaire",  "qsl_envoyee",   "qsl_envoyee_le",
      "qsl_recue",    "qsl_recue_le", "lotw_envoye",   "lotw_envoye_le",
      "lotw_recu",    "lotw_recu_le", "eqsl_envoye",   "eqsl_envoye_le",
      "eqsl_recu",    "eqsl_recu_le"};
  // The details fields of the columns after "ligne", in their order; the
  // confirmations follow, each status as ADIF writes it (Y, N, R, Q, I, V).
  constexpr std::string_view kDetailsColumns[] = {"RST_SENT", "RST_RCVD", "GRIDSQUARE", "COMMENT"};
  for (std::size_t i = 0; i < std::size(kTitles); ++i) {
    if (i > 0) line += separator;
    line.append(kTitles[i]);
  }
  line.append(eol);
  c.out.write(line);

  fact_finder finder(c.options.user_modes);
  std::string value;
  const bool read = read_selected(
      c, finder,
      [&](const qso_values& qso, const qso_facts& facts, std::size_t number, std::string_view owner,
          const details_record* details) {
        line.clear();
        std::size_t column = 0;
        const auto field = [&](std::string_view text) {
          if (column > 0) line += separator;
          append_shown_field(c, kTitles[column++], number, text, line);
        };
        if (facts.date) {
          const auto two = [](int n) {
            return std::string{char('0' + n / 10), char('0' + n % 10)};
          };
          value = excel ? french_date(*facts.date)
                        : std::to_string(facts.date->year) + "-" + two(facts.date->month) + "-" +
                              two(facts.date->day);
          field(value);
        } else {
          field(qso.date);
        }
        field(clock_time(qso.debut));
        field(clock_time(qso.fin));
        field(to_upper(qso.indicatif));
        field(qso.prenom);
        field(std::to_string(qso.frequence));
        value.clear();
        if (qso.frequence > 0) {
          value = std::to_string(qso.frequence / 1000);
          if (const int rest = qso.frequence % 1000; rest != 0) {
            std::string digits = std::to_string(1000 + rest).substr(1);
            while (digits.back() == '0') digits.pop_back();
            value.append(excel ? "," : ".").append(digits);
          }
        }
        field(value);
        field(facts.band.value_or(""));
        const std::optional<adif_mode>& mode = *facts.mode;
        field(mode ? std::string_view(mode->mode) : "");
        field(mode ? std::string_view(mode->submode) : "");
        field(qso.mode);
        value = qso.lieu;
        std::replace(value.begin(), value.end(), '_', ' ');
        field(value);
        field(owner);
        field(std::to_string(number));
        for (const std::string_view name : kDetailsColumns) {
          const std::string* kept = details ? details->find(name) : nullptr;
          field(kept ? std::string_view(*kept) : "");
        }
        const confirmation_state state = confirmation_state_of(details);
        for (const confirmation_channel* channel : {&state.card, &state.lotw, &state.eqsl}) {
          field(channel->sent);
          field(csv_day(channel->sent_date, excel, value));
          field(channel->received);
          field(csv_day(channel->received_date, excel, value));
        }
        line.append(eol);
        c.out.write(line);
      });
  if (!read) return kExitFailure;
  c.out.flush();  // the caller says where a failed write went
  return c.out.failure() ? kExitFailure : kExitSuccess;
}

}  // namespace velkrin::journal
