// velkrin-journal fiche: everything known about the QSO of one logbook line,
// its columns and then every field of its details.
#include <algorithm>
#include <ostream>

#include "console/visible_text.hpp"
#include "journal/commands.hpp"
#include "logbook/line_format.hpp"

namespace velkrin::journal {
namespace {

struct field_name {
  std::string_view adif;
  std::string_view label;
};

// French labels of the fields a QSO commonly brings, where the ADIF name
// alone says little to an operator. Sorted by ADIF name.
constexpr field_name kLabels[] = {
    {"ADDRESS", "Adresse du correspondant"},
    {"AGE", "Age du correspondant"},
    {"ANT_AZ", "Azimut de l'antenne"},
    {"ANT_EL", "Elevation de l'antenne"},
    {"APP_VELKRIN_CLASS", "Classe d'emission"},
    {"BAND", "Bande"},
    {"BAND_RX", "Bande de reception"},
    {"CALL", "Indicatif du correspondant"},
    {"CLUBLOG_QSO_UPLOAD_DATE", "Date d'envoi a Club Log"},
    {"CLUBLOG_QSO_UPLOAD_STATUS", "Envoye a Club Log"},
    {"CNTY", "Comte du correspondant"},
    {"COMMENT", "Commentaire"},
    {"CONT", "Continent du correspondant"},
    {"CONTEST_ID", "Concours"},
    {"COUNTRY", "Pays du correspondant"},
    {"CQZ", "Zone CQ du correspondant"},
    {"DISTANCE", "Distance (km)"},
    {"DXCC", "Entite DXCC du correspondant"},
    {"EMAIL", "Courriel du correspondant"},
    {"EQSL_QSLRDATE", "Date de confirmation eQSL"},
    {"EQSL_QSLSDATE", "Date d'envoi a eQSL"},
    {"EQSL_QSL_RCVD", "Confirme par eQSL"},
    {"EQSL_QSL_SENT", "Envoye a eQSL"},
    {"FREQ", "Frequence (MHz)"},
    {"FREQ_RX", "Frequence de reception (MHz)"},
    {"GRIDSQUARE", "Locator du correspondant"},
    {"IOTA", "Reference IOTA du correspondant"},
    {"ITUZ", "Zone UIT du correspondant"},
    {"LOTW_QSLRDATE", "Date de confirmation LoTW"},
    {"LOTW_QSLSDATE", "Date d'envoi a LoTW"},
    {"LOTW_QSL_RCVD", "Confirme par LoTW"},
    {"LOTW_QSL_SENT", "Envoye a LoTW"},
    {"MODE", "Mode ADIF"},
    {"MY_ANTENNA", "Mon antenne"},
    {"MY_CITY", "Ma ville"},
    {"MY_GRIDSQUARE", "Mon locator"},
    {"MY_IOTA", "Ma reference IOTA"},
    {"MY_POTA_REF", "Ma reference POTA"},
    {"MY_RIG", "Mon equipement"},
    {"MY_SIG", "Mon programme (SIG)"},
    {"MY_SIG_INFO", "Ma reference (SIG)"},
    {"MY_SOTA_REF", "Ma reference SOTA"},
    {"MY_WWFF_REF", "Ma reference WWFF"},
    {"NAME", "Nom du correspondant"},
    {"NOTES", "Notes"},
    {"OPERATOR", "Operateur"},
    {"POTA_REF", "Reference POTA du correspondant"},
    {"PROP_MODE", "Mode de propagation"},
    {"QRZCOM_QSO_UPLOAD_DATE", "Date d'envoi a QRZ.com"},
    {"QRZCOM_QSO_UPLOAD_STATUS", "Envoye a QRZ.com"},
    {"QSL_RCVD", "Carte QSL recue"},
    {"QSL_RCVD_VIA", "Carte QSL recue par"},
    {"QSL_RDATE", "Date de reception de la carte QSL"},
    {"QSL_SDATE", "Date d'envoi de la carte QSL"},
    {"QSL_SENT", "Carte QSL envoyee"},
    {"QSL_SENT_VIA", "Carte QSL envoyee par"},
    {"QSL_VIA", "Carte QSL via"},
    {"QSO_DATE", "Date du QSO"},
    {"QSO_DATE_OFF", "Date de fin du QSO"},
    {"QTH", "Ville du correspondant"},
    {"RIG", "Equipement du correspondant"},
    {"RST_RCVD", "Report recu"},
    {"RST_SENT", "Report envoye"},
    {"RX_PWR", "Puissance du correspondant (W)"},
    {"SAT_MODE", "Mode du satellite"},
    {"SAT_NAME", "Satellite"},
    {"SIG", "Programme du correspondant (SIG)"},
    {"SIG_INFO", "Reference du correspondant (SIG)"},
    {"SOTA_REF", "Reference SOTA du correspondant"},
    {"SRX", "Numero recu (concours)"},
    {"SRX_STRING", "Echange recu (concours)"},
    {"STATE", "Etat ou province du correspondant"},
    {"STATION_CALLSIGN", "Indicatif de ma station"},
    {"STX", "Numero envoye (concours)"},
    {"STX_STRING", "Echange envoye (concours)"},
    {"SUBMODE", "Sous-mode ADIF"},
    {"TIME_OFF", "Heure de fin (UTC)"},
    {"TIME_ON", "Heure de debut (UTC)"},
    {"TX_PWR", "Puissance (W)"},
    {"WWFF_REF", "Reference WWFF du correspondant"},
};

static_assert(std::is_sorted(std::begin(kLabels), std::end(kLabels),
                             [](const field_name& a, const field_name& b) {
                               return a.adif < b.adif;
                             }),
              "field_label() looks the labels up by halves");

// What fiche found at the line asked for.
struct found_line {
  std::optional<qso_record> qso;
  std::optional<logbook_header> owner;  // the header above the QSO
  std::optional<std::string> unreadable;
  bool in_header = false;
  std::optional<details_record> details;
};

}  // namespace

std::string_view field_label(std::string_view adif_name) {
  const auto found = std::lower_bound(
      std::begin(kLabels), std::end(kLabels), adif_name,
      [](const field_name& entry, std::string_view name) { return entry.adif < name; });
  if (found == std::end(kLabels) || found->adif != adif_name) return {};
  return found->label;
}

int show_qso(const command_context& c) {
  const std::size_t wanted = c.options.qso_line;
  found_line found;
  std::optional<logbook_header> first;
  std::optional<std::string> read_failure;
  const auto opened = c.open([&](logbook_reader& reader) {
    reader.read_values_only();
    logbook_item item;
    // Up to the line, and on to the first header when none came before it:
    // the details belong to the logbook that its first header names.
    bool passed = false;
    while (reader.next(item)) {
      if (item.what == logbook_item::kind::header) {
        if (!first) first = reader.header()->header;
        if (passed) break;
        if (item.line <= wanted && wanted < item.line + kHeaderLineCount) {
          found.in_header = true;
          break;
        }
        continue;
      }
      if (passed || item.line < wanted) continue;
      if (item.line == wanted && item.what == logbook_item::kind::qso) {
        found.qso = item.values.record();
        if (const header_block* header = reader.header()) found.owner = header->header;
      } else if (item.line == wanted) {
        found.unreadable = item.reason;
      }
      passed = true;
      if (first) break;
    }
    read_failure = reader.failure();
    if (found.qso && c.details != nullptr) {
      if (const auto key = details_key_of(*found.qso)) {
        if (const details_record* details =
                c.details->find_alone(first ? &*first : nullptr, *key)) {
          found.details = *details;
        }
      }
    }
  });
  if (opened || read_failure) {
    c.err << unreadable_logbook_message(c.options.logbook, opened ? *opened : *read_failure);
    return kExitFailure;
  }
  const std::string number = std::to_string(wanted);
  if (!found.qso) {
    c.err << "Pas de QSO a la ligne " << number << " : "
          << (found.in_header    ? std::string("elle fait partie d'un en-tete du journal")
              : found.unreadable ? "ligne illisible (" + *found.unreadable + ")"
                                 : std::string("ligne vide, ou au-dela de la fin du journal"))
          << ".\n";
    return kExitAnswer;
  }

  const qso_record& qso = *found.qso;
  std::string text = "Ligne " + number + " du journal \"" + visible(c.options.logbook) + "\"";
  if (found.owner) {
    text += " (journal de " + visible(found.owner->indicatif) + ", commence le " +
            visible(found.owner->date_debut) + ")";
  }
  c.out.write(text + " :\n");
  std::string frequency = std::to_string(qso.frequence) + " kHz";
  const auto band = band_of(qso.frequence);
  frequency += band ? " (" + std::string(*band) + ")" : std::string(" (hors bande)");
  std::string mode = visible(qso.mode);
  if (const auto adif = mode_of(qso.mode, qso.frequence, c.options.user_modes)) {
    mode += " (" + adif->mode + (adif->submode.empty() ? "" : ", " + adif->submode) + ")";
  }
  {
    text_table columns({{""}, {""}}, c.out);
    const std::string rows[][2] = {{"  Date", visible(qso.date)},
                                   {"  Debut", clock_time(qso.debut) + " UTC"},
                                   {"  Fin", clock_time(qso.fin) + " UTC"},
                                   {"  Indicatif", visible(qso.indicatif)},
                                   {"  Prenom", visible(qso.prenom)},
                                   {"  Frequence", frequency},
                                   {"  Mode", mode},
                                   {"  Lieu d'emission", visible(qso.lieu)}};
    for (const auto& row : rows) columns.add({row[0], row[1]});
    columns.finish();
  }

  const std::string file = visible(details_path_for(c.options.logbook));
  const details_state state = c.details ? c.details->state() : details_state::absent;
  if (state == details_state::other_logbook || state == details_state::unreadable) {
    c.out.write("\nDetails non lus : voir le message sur la sortie d'erreur.\n");
  } else if (!details_key_of(qso)) {
    c.out.write(
        "\nAucun detail : sa date ou son heure de debut n'est pas valide, des details ne "
        "pourraient pas le retrouver (corrigez la ligne avec velkrin-journal corrige " +
        number + ").\n");
  } else if (!found.details) {
    c.out.write(
        "\nAucun detail pour ce QSO" +
        (state == details_state::absent ? " (pas de fichier " + file + ")" : std::string()) +
        " ; velkrin-journal complete " + number + " CHAMP=VALEUR en ajoute.\n");
  } else {
    c.out.write("\nDetails (" + file + ") :\n");
    text_table fields({{""}, {""}, {""}}, c.out);
    std::vector<std::string> cells;
    for (const details_field& field : found.details->fields) {
      cells = {"  " + std::string(field_label(field.name)), visible(field.name),
               visible(field.value)};
      fields.add({cells[0], cells[1], cells[2]});
    }
    fields.finish();
  }
  return finish_output(c, kExitSuccess);
}

}  // namespace velkrin::journal
