// velkrin-journal qsl: the paper side of confirmations. It records in a QSO's
// details that its card was sent, received or asked for (the ADIF fields
// QSL_SENT, QSL_SDATE, QSL_SENT_VIA, QSL_RCVD, QSL_RDATE, QSL_RCVD_VIA), one
// QSO by its line or the QSOs with a call on a day; and lists what is to do:
// the cards asked for and not sent, the cards sent and not received.
#include <algorithm>
#include <chrono>
#include <ostream>

#include "console/text_format.hpp"
#include "console/visible_text.hpp"
#include "journal/reading.hpp"
#include "logbook/logbook_file.hpp"

namespace velkrin::journal {
namespace {

// "20260205" for a day; today (UTC) when none was given.
std::string adif_day(const std::optional<calendar_date>& given) {
  if (given) {
    return zero_fill(given->year, 4) + zero_fill(given->month, 2) + zero_fill(given->day, 2);
  }
  const std::chrono::year_month_day today{
      std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now())};
  return zero_fill(static_cast<int>(today.year()), 4) +
         zero_fill(static_cast<int>(static_cast<unsigned>(today.month())), 2) +
         zero_fill(static_cast<int>(static_cast<unsigned>(today.day())), 2);
}

// "05-02-2026" for "20260205"; any other value as visible() shows it.
std::string shown_day(std::string_view adif) {
  if (adif.size() != 8 || adif.find_first_not_of("0123456789") != std::string_view::npos) {
    return visible(adif);
  }
  return std::string(adif.substr(6, 2)) + "-" + std::string(adif.substr(4, 2)) + "-" +
         std::string(adif.substr(0, 4));
}

bool confirmed(const std::string* status) {
  return status != nullptr &&
         (*status == "Y" || *status == "y" || *status == "V" || *status == "v");
}

// The change a marking makes on a QSO's details.
void mark(const journal_options& options, const std::string& day, details_record& details) {
  switch (options.qsl_what) {
    case qsl_action::sent:
      details.set("QSL_SENT", "Y");
      details.set("QSL_SDATE", day);
      if (options.qsl_via) details.set("QSL_SENT_VIA", std::string(1, *options.qsl_via));
      break;
    case qsl_action::received:
      details.set("QSL_RCVD", "Y");
      details.set("QSL_RDATE", day);
      if (options.qsl_via) details.set("QSL_RCVD_VIA", std::string(1, *options.qsl_via));
      break;
    case qsl_action::requested:
      // A card already sent stays sent.
      if (const std::string* sent = details.find("QSL_SENT"); sent == nullptr || *sent != "Y") {
        details.set("QSL_SENT", "R");
      }
      if (options.qsl_via) details.set("QSL_SENT_VIA", std::string(1, *options.qsl_via));
      break;
    default:
      break;
  }
}

std::string_view action_done(qsl_action action) {
  switch (action) {
    case qsl_action::sent:
      return "carte envoyee";
    case qsl_action::received:
      return "carte recue";
    case qsl_action::requested:
      return "carte demandee";
    default:
      return "";
  }
}

// The QSO a selection by call and day asks for.
bool is_wanted(const journal_options& options, const qso_values& qso) {
  const std::optional<calendar_date> day = parse_date(qso.date);
  return to_upper(qso.indicatif) == to_upper(options.qsl_call) && day && *day == *options.qsl_day;
}

// Marks the QSO of one line (with a selection by call and day, only while
// the line still holds such a QSO: another run may have moved the lines
// meanwhile). Says what it did on out.
int mark_line(const command_context& c, std::size_t line, const std::string& day) {
  qso_edit edit;
  edit.kind = qso_edit_kind::complete;
  edit.line = line;
  if (c.options.qso_line != 0) edit.expected_line = c.options.expected_line;
  edit.change = [&](qso_record& qso, details_record& details) -> std::optional<std::string> {
    if (c.options.qso_line == 0 && !is_wanted(c.options, qso_values(qso))) {
      return "la ligne " + std::to_string(line) +
             " a change depuis sa lecture (un autre programme a modifie le journal) ; "
             "relancez la commande";
    }
    if (details.fields.empty()) details = details_for(qso, {});
    if (details.fields.empty()) {
      return "la ligne " + std::to_string(line) +
             " n'a pas de date ou d'heure de debut valide ; corrigez-la d'abord avec "
             "velkrin-journal corrige";
    }
    mark(c.options, day, details);
    return std::nullopt;
  };
  const std::optional<qso_edit_result> edited = edit_locked_logbook(c, edit);
  if (!edited) return kExitFailure;
  const qso_edit_result& result = *edited;
  if (result.refusal) {
    c.err << "Refuse : " << *result.refusal << "\n";
    return kExitAnswer;
  }
  const bool unchanged = result.details_before.fields == result.details_after.fields;
  c.out.write("Ligne " + std::to_string(line) + " : " + visible(result.line_before) + "\n  " +
              (unchanged ? "deja note : " : "") + std::string(action_done(c.options.qsl_what)) +
              (c.options.qsl_what == qsl_action::requested ? "" : " le " + shown_day(day)) + "\n");
  return kExitSuccess;
}

int mark_selected(const command_context& c, const std::string& day) {
  if (c.options.qso_line != 0) {
    const int status = mark_line(c, c.options.qso_line, day);
    return finish_output(c, status);
  }
  std::vector<std::size_t> found;
  std::optional<std::string> read_failure;
  const auto opened = c.open([&](logbook_reader& reader) {
    reader.read_values_only();
    logbook_item item;
    while (reader.next(item)) {
      if (item.what == logbook_item::kind::qso && is_wanted(c.options, item.values)) {
        found.push_back(item.line);
      }
    }
    read_failure = reader.failure();
  });
  if (opened || read_failure) {
    report_failure(c, opened ? *opened : *read_failure);
    return kExitFailure;
  }
  if (found.empty()) {
    c.err << "Aucun QSO avec " << c.options.qsl_call << " le " << c.options.qsl_day_typed
          << " dans le journal.\n";
    return kExitAnswer;
  }
  int status = kExitSuccess;
  for (const std::size_t line : found) {
    const int marked = mark_line(c, line, day);
    if (marked != kExitSuccess) status = std::max(status, marked);
    if (marked == kExitFailure) break;
  }
  return finish_output(c, status);
}

// A card to send or awaited, for the lists.
struct card_row {
  std::string sort_key;
  std::size_t line = 0;
  std::string call, date, time, band, mode, report, sent;
};

int list_cards(const command_context& c) {
  const bool to_send = c.options.qsl_what == qsl_action::to_send;
  const countries::country_source* countries_data = to_send ? country_data_for(c, false) : nullptr;
  if (country_data_failed(c, false)) return kExitFailure;
  std::optional<countries::call_resolver> resolver;
  if (countries_data != nullptr) resolver.emplace(countries_data->data);
  std::vector<card_row> rows;
  fact_finder finder(c.options.user_modes);
  std::optional<std::string> read_failure;
  const auto opened = c.open([&](logbook_reader& reader) {
    if (c.details != nullptr) reader.attach_details(*c.details);
    logbook_item item;
    qso_facts facts;
    while (reader.next(item)) {
      if (item.what != logbook_item::kind::qso || item.details == nullptr) continue;
      const details_record& details = *item.details;
      const std::string* sent = details.find("QSL_SENT");
      if (to_send ? (sent == nullptr || *sent != "R")
                  : (sent == nullptr || *sent != "Y" || confirmed(details.find("QSL_RCVD")))) {
        continue;
      }
      finder.find(item.values, facts);
      card_row row;
      row.line = item.line;
      row.call = visible(item.values.indicatif);
      row.date = std::string(item.values.date);
      row.time = clock_time(item.values.debut);
      row.band = facts.band ? std::string(*facts.band) : std::string(kNoBand);
      row.mode = visible(mode_name(item.values, facts));
      const std::string* report = details.find("RST_SENT");
      row.report = report != nullptr ? visible(*report) : "-";
      const std::string* sent_day = details.find("QSL_SDATE");
      row.sent = sent_day != nullptr ? shown_day(*sent_day) : "-";
      const std::string day = sortable_day(item.values.date);
      if (to_send) {
        // The bureau sorts by the country's prefix, then by call.
        std::string prefix;
        if (resolver) {
          if (const auto where = resolver->resolve(to_upper(item.values.indicatif));
              where && where->entity != nullptr) {
            prefix = where->entity->prefix;
          }
        }
        row.sort_key =
            (prefix.empty() ? "~" : prefix) + " " + to_upper(item.values.indicatif) + " " + day;
      } else {
        row.sort_key = (sent_day != nullptr ? *sent_day : std::string()) + " " + day;
      }
      rows.push_back(std::move(row));
    }
    read_failure = reader.failure();
  });
  if (opened || read_failure) {
    report_failure(c, opened ? *opened : *read_failure);
    return kExitFailure;
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const card_row& a, const card_row& b) { return a.sort_key < b.sort_key; });
  std::vector<column> columns = {{"Indicatif"}, {"Date"},   {"UTC"},        {"Bande"},
                                 {"Mode"},      {"Report"}, {"Ligne", true}};
  if (!to_send) columns.insert(columns.begin() + 6, column{"Envoyee le"});
  text_table table(columns, c.out);
  for (const card_row& row : rows) {
    const std::string line = std::to_string(row.line);
    std::vector<std::string_view> cells = {row.call, row.date,   row.time, row.band,
                                           row.mode, row.report, line};
    if (!to_send) cells.insert(cells.begin() + 6, row.sent);
    table.add(cells);
  }
  table.finish();
  c.out.write("\n" + plural(rows.size(), "carte") +
              (to_send ? " a envoyer (demandees, pas encore envoyees).\n"
                       : " attendue" + std::string(rows.size() > 1 ? "s" : "") +
                             " (envoyees, pas encore recues).\n"));
  return finish_output(c, kExitSuccess);
}

}  // namespace

int record_qsl(const command_context& c) {
  if (c.options.qsl_what == qsl_action::to_send || c.options.qsl_what == qsl_action::awaited) {
    return list_cards(c);
  }
  return mark_selected(c, adif_day(c.options.qsl_date));
}

}  // namespace velkrin::journal
