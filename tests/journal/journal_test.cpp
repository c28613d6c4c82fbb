// velkrin-journal in-process: each command on a logbook held in a string.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "journal/commands.hpp"
#include "journal/selection.hpp"
#include "logbook/line_format.hpp"

namespace velkrin::journal {
namespace {

std::string qso(const std::string& date, int debut, int fin, const std::string& call, int khz,
                const std::string& mode, const std::string& name = "Jean",
                const std::string& place = "Paris_15") {
  return format_qso_line({date, debut, fin, call, name, khz, mode, place});
}

const std::string kHeader = format_header({"F5XYZ", "01-01-2020"});

struct result {
  int status;
  std::string out;
  std::string err;
};

// Runs a command, given as on the command line, over `logbook` (over
// `changed` from the second reading on, when given).
result run(const std::vector<std::string>& args, const std::string& logbook,
           const std::string* changed = nullptr) {
  const parsed_options parsed = parse_options(args);
  EXPECT_EQ(parsed.error, "");
  int readings = 0;
  const logbook_opener open = [&](const std::function<void(logbook_reader&)>& read) {
    text_source source(changed != nullptr && readings++ > 0 ? *changed : logbook);
    logbook_reader reader(source);
    read(reader);
    return std::optional<std::string>();
  };
  std::string text;
  output out([&text](std::string_view piece) {
    text.append(piece);
    return platform::status::success();
  });
  std::ostringstream err;
  const command_context context{parsed.options, open, out, err};
  int status = kExitFailure;
  switch (parsed.options.what) {
    case command::liste:
      status = list_qsos(context);
      break;
    case command::indicatif:
      status = worked_before(context);
      break;
    case command::doublons:
      status = find_duplicates(context);
      break;
    case command::verifie:
      status = check_logbook(context);
      break;
    case command::stats:
      status = logbook_statistics(context);
      break;
    case command::csv:
      status = export_csv(context);
      break;
    case command::fiche:
      status = show_qso(context);
      break;
    case command::pays:  // they read a country file: see worked_countries_test.cpp
    case command::diplomes:
      ADD_FAILURE() << "a command that resolves calls without country data";
      break;
    case command::complete:  // they write files: see details_test.cpp
    case command::corrige:
    case command::supprime:
    case command::qsl:
      ADD_FAILURE() << "a writing command on a logbook held in a string";
      break;
  }
  return {status, text, err.str()};
}

// The "ligne" CSV column (the line numbers) of the selected QSOs, before the
// four columns of details (empty here).
std::string selected_lines(std::vector<std::string> args, const std::string& logbook) {
  args.insert(args.begin(), "csv");
  std::istringstream rows(run(args, logbook).out);
  std::string row, lines;
  std::getline(rows, row);  // titles
  while (std::getline(rows, row)) {
    // The 14th column, "ligne"; no field of these logbooks holds a comma.
    std::size_t start = 0;
    for (int column = 1; column < 14; ++column) start = row.find(',', start) + 1;
    lines += (lines.empty() ? "" : " ") + row.substr(start, row.find(',', start) - start);
  }
  return lines;
}

TEST(Journal, WildcardsAndBaseCalls) {
  const struct {
    std::string_view pattern, text;
    bool match;
  } cases[] = {{"F4*", "f4abc/p", true}, {"*/P", "F4ABC/P", true},   {"*/P", "F4ABC/M", false},
               {"F?ABC", "F4ABC", true}, {"F?ABC", "F44ABC", false}, {"Andr?", "André", true},
               {"*", "", true},          {"F4ABC", "F4ABCD", false}, {"a*b*c", "aXbYbZc", true}};
  for (const auto& c : cases) EXPECT_EQ(wildcard_match(c.pattern, c.text), c.match) << c.pattern;

  for (const auto& [typed, base] :
       std::vector<std::pair<std::string, std::string>>{{"VP2E/F4ABC/P", "F4ABC"},
                                                        {"F4ABC/QRP", "F4ABC"},
                                                        {"3D2/F4ABC", "F4ABC"},
                                                        {"K1ABC/VE3", "K1ABC"},
                                                        {"ea8/f4abc", "F4ABC"},
                                                        {"F4ABC/M", "F4ABC"}}) {
    EXPECT_EQ(base_call(typed), base) << typed;
    EXPECT_TRUE(contains_any_case(typed, base)) << typed;  // what the quick filter relies on
  }
  EXPECT_EQ(literal_part("*F4AB?/P"), "F4AB");
  EXPECT_TRUE(may_hold("une note sans frequence", "F4ABC"));  // read, so reported
  EXPECT_FALSE(may_hold(qso("01-01-2020", 900, 905, "DL1XYZ", 7055, "J3E"), "F4ABC"));
}

TEST(Journal, FiltersSelectTheRightLines) {
  // Lines 7 to 12.
  const std::string logbook = kHeader + qso("01-01-2020", 900, 905, "F4ABC", 7055, "J3E") +
                              qso("02-01-2020", 900, 905, "F4ABC/P", 14200, "A1A", "Jo", "Lyon") +
                              qso("03-01-2020", 900, 905, "DL1XYZ", 14074, "FT8") +
                              qso("04-01-2020", 900, 905, "G4AAA", 144300, "F3E") +
                              qso("05-01-2020", 900, 905, "EA8/F4ABC", 7020, "a1a") +
                              qso("06-01-2020", 900, 905, "K1ABC", 28400, "USB");
  const struct {
    std::vector<std::string> args;
    std::string lines;
  } cases[] = {{{}, "7 8 9 10 11 12"},
               {{"--indicatif", "f4*"}, "7 8"},
               {{"--indicatif", "*/P"}, "8"},
               {{"--indicatif", "*F4ABC*"}, "7 8 11"},
               {{"--du", "03-01-2020", "--au", "4/1/2020"}, "9 10"},
               {{"--bande", "20M"}, "8 9"},
               {{"--mode", "CW"}, "8 11"},
               {{"--mode", "ssb"}, "7 12"},
               {{"--mode", "usb"}, "12"},
               {{"--mode", "A1A", "--bande", "40m"}, "11"},
               {{"--lieu", "ly*"}, "8"},
               {{"--derniers", "2"}, "11 12"},
               {{"--indicatif", "*F4ABC*", "--derniers", "2"}, "8 11"},
               {{"--mode", "FT8=MFSK/FT4", "--mode", "FT4"}, "9"}};
  for (const auto& c : cases) EXPECT_EQ(selected_lines(c.args, logbook), c.lines) << c.args.size();
}

TEST(Journal, PlacesMatchWhateverTheirCaseAccentsAndSeparators) {
  const std::string logbook =
      kHeader + qso("01-01-2020", 900, 905, "F4ABC", 7055, "J3E", "Jo", "Besançon") +  // 7
      qso("01-01-2020", 901, 905, "F4ABC", 7055, "J3E", "Jo", "Besancon") +            // 8
      qso("01-01-2020", 902, 905, "F4ABC", 7055, "J3E", "Jo", "Saint-Étienne") +       // 9
      qso("01-01-2020", 903, 905, "F4ABC", 7055, "J3E", "Jo", "Saint_Etienne") +       // 10
      qso("01-01-2020", 904, 905, "F4ABC", 7055, "J3E", "Jo", "L'Haÿ-les-Roses") +     // 11
      qso("01-01-2020", 905, 905, "F4ABC", 7055, "J3E", "Jo", "Sainte\xcc\x81");       // 12
  const struct {
    std::string pattern;
    std::string lines;
  } cases[] = {{"BESANÇON", "7 8"},       {"besancon", "7 8"},       {"Besançon", "7 8"},
               {"saint-étienne", "9 10"}, {"SAINT ETIENNE", "9 10"}, {"Saint_Etienne", "9 10"},
               {"saint*", "9 10 12"},     {"*-LES-*", "11"},         {"l'hay les roses", "11"},
               {"SAINTÉ", "12"},          {"saint?etienne", "9 10"}, {"besan", ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(selected_lines({"--lieu", c.pattern}, logbook), c.lines) << c.pattern;
  }
}

TEST(Journal, ListIsAlignedOnCharactersAndReportsUnreadableLines) {
  const std::string logbook = kHeader + qso("01-01-2020", 905, 930, "F4ABC", 7055, "J3E", "André") +
                              "pas une ligne de QSO\n" +
                              qso("02-01-2020", 2359, 3, "DL1XYZ", 14074, "FT8", "-", "Zürich");
  const result listed = run({"liste"}, logbook);
  EXPECT_EQ(listed.status, kExitSuccess);
  EXPECT_EQ(listed.err,
            "ligne 8 : ligne non reconnue (attendu : date, debut, fin, indicatif, "
            "prenom, frequence, kHz, classe, lieu)\n");
  EXPECT_EQ(listed.out,
            "Date        Debut  Fin    Indicatif  Prenom              kHz  Bande  Mode       "
            "Lieu                         Ligne\n"
            "01-01-2020  09:05  09:30  F4ABC      André              7055  40m    LSB (J3E)  "
            "Paris_15                         7\n"
            "02-01-2020  23:59  00:03  DL1XYZ                       14074  20m    FT8        "
            "Zürich                           9\n");
  const result short_list = run({"liste", "--court"}, logbook);
  EXPECT_EQ(short_list.out.substr(0, short_list.out.find('\n')),
            "Date        Debut  Fin    Indicatif     kHz  Bande  Mode         Ligne");
}

TEST(Journal, WorkedBeforeCountsEveryFormOfTheStation) {
  const std::string logbook = kHeader + qso("01-01-2020", 900, 905, "F4ABC/P", 7055, "J3E") +
                              qso("02-01-2020", 900, 905, "DL1XYZ", 14074, "FT8") +
                              qso("03-05-2021", 900, 905, "ea8/f4abc", 14010, "A1A") +
                              qso("04-05-2021", 900, 905, "F4ABCD", 14010, "A1A");
  const result found = run({"indicatif", "f4abc"}, logbook);
  EXPECT_EQ(found.status, kExitSuccess);
  EXPECT_TRUE(
      found.out.starts_with("F4ABC : 2 QSO, du 01-01-2020 au 03-05-2021.\n\n"
                            "Bande  LSB  CW\n"
                            "40m      1   .\n"
                            "20m      .   1\n\n"))
      << found.out;
  EXPECT_NE(found.out.find("ea8/f4abc"), std::string::npos);
  EXPECT_EQ(found.out.find("F4ABCD"), std::string::npos);
  const result never = run({"indicatif", "F5ZZZ/P"}, logbook);
  EXPECT_EQ(never.status, kExitAnswer);
  EXPECT_EQ(never.out, "F5ZZZ : jamais contacte (aucun QSO dans le journal).\n");
}

TEST(Journal, DuplicatesAreChainedIntoGroups) {
  const std::string logbook =
      kHeader + qso("01-01-2020", 2359, 5, "F4ABC", 7055, "J3E") +  // 7
      qso("02-01-2020", 1, 5, "F4ABC/P", 7060, "LSB") +             // 8: across midnight
      qso("02-01-2020", 3, 5, "f4abc", 7070, "J3E") +               // 9: chained to 8
      qso("02-01-2020", 4, 5, "F4ABC", 14070, "J3E") +              // other band
      qso("02-01-2020", 900, 905, "DL1XYZ", 14074, "FT8") +         // 11
      qso("02-01-2020", 906, 905, "DL1XYZ", 14074, "FT8") +         // 3 minutes later
      qso("02-01-2020", 1000, 905, "G4AAA", 14074, "FT8") +         // 13
      qso("03-01-2020", 1000, 905, "G4AAA", 14074, "A1A") +         // other day and mode
      qso("02-01-2020", 1002, 905, "G4AAA/P", 14075, "FT8");        // 15, far in the file
  const result found = run({"doublons"}, logbook);
  EXPECT_EQ(found.status, kExitAnswer);
  std::istringstream rows(found.out);
  std::string row, groups;
  std::getline(rows, row);
  while (std::getline(rows, row) && !row.empty()) {
    groups += row.substr(0, 6) + ":" + row.substr(row.rfind(' ') + 1) + " ";
  }
  EXPECT_EQ(groups, "     1:7       :8       :9      2:13       :15 ");
  EXPECT_TRUE(found.out.ends_with("\n2 groupes de doublons (5 QSO).\n"));
  EXPECT_EQ(run({"doublons"}, kHeader + qso("01-01-2020", 900, 905, "F4ABC", 7055, "J3E")).out,
            "Aucun doublon.\n");
  // A header given by menu 4 between the two readings moves every line: the
  // QSOs then found on the lines noted are others, and are not shown as such.
  const std::string with_header = kHeader + logbook;
  const result moved = run({"doublons"}, logbook, &with_header);
  EXPECT_EQ(moved.status, kExitFailure);
  EXPECT_EQ(moved.out, "");
  EXPECT_NE(moved.err.find("il a change pendant la lecture"), std::string::npos) << moved.err;
}

TEST(Journal, CheckReportsProblemsAndNotes) {
  const std::string logbook =
      qso("01-01-2019", 900, 905, "F4AAA", 7055, "J3E") +           // 1: no owner
      kHeader +                                                     // 2 to 7
      qso("1-1-2020", 2400, 960, "F4ABC", 7055, "J3E") +            // 8
      qso("02-01-2020", 2350, 10, "-F5ABC-", 0, "J2B") +            // 9
      qso("03-01-2020", 900, 905, "F5XY\x1b[DZ", 7055000, "J3E") +  // 10
      qso("01-06-2019", 900, 905, "G4AAA", 7055, "J3E") +           // 11: before the start
      qso("02-06-2019", 900, 905, "G4AAB", 7055, "J3E") +           // 12
      format_header({"F4NEW", "01-01-2024"}) +                      // 13
      qso("01-01-2024", 900, 905, "G4AAC", 7055, "J3E") +           // 19
      qso("01-01-2024", 901, 905, "G4AAD", 7055, "BLU") +           // 20: a French class
      qso("01-01-2024", 902, 905, "G4AAE", 14400, "J3E") +          // 21: no band as MHz
      qso("01-01-2024", 903, 905, "G4AAF", 14, "J3E");              // 22
  const result checked = run({"verifie"}, logbook);
  EXPECT_EQ(checked.status, kExitAnswer);
  EXPECT_EQ(checked.out,
            "ligne 1 : QSO au-dessus du premier en-tete : sans proprietaire, son export n'aurait "
            "pas d'indicatif de station\n"
            "ligne 8 : date \"1-1-2020\" invalide (JJ-MM-AAAA, une date du calendrier a partir de "
            "1930)\n"
            "ligne 8 : heure de debut 2400 invalide (hhmm, 0 a 2359)\n"
            "ligne 8 : heure de fin 960 invalide (hhmm, 0 a 2359)\n"
            "ligne 9 : indicatif \"-F5ABC-\" invalide (lettres, chiffres et /, au moins une lettre "
            "et un chiffre, 3 caracteres ou plus)\n"
            "ligne 9 : frequence 0 kHz invalide (positive attendue)\n"
            "ligne 9 : classe d'emission \"J2B\" inconnue : indiquer son mode avec --mode "
            "J2B=MODE[/SOUS_MODE]\n"
            "ligne 9 : note : fin avant le debut (passe minuit ?)\n"
            "ligne 10 : caractere de controle dans l'indicatif \"F5XY^[[DZ\" (une touche flechee "
            "tapee a l'invite ?)\n"
            "ligne 10 : frequence 7055000 kHz hors des bandes amateur (kHz attendus, pas Hz ?)\n"
            "lignes 11 a 12 : note : QSO dates d'avant le debut du journal de F5XYZ (01-01-2020, "
            "ligne 2) (un en-tete refait par le menu 4 ?) ; l'export leur donne ce proprietaire\n"
            "ligne 13 : note : nouvel en-tete, le proprietaire devient F4NEW a partir d'ici (deux "
            "journaux mis bout a bout ?)\n"
            "ligne 21 : frequence 14400 kHz hors des bandes amateur\n"
            "ligne 22 : frequence 14 kHz hors des bandes amateur (kHz attendus, pas MHz ?)\n"
            "11 problemes, 3 notes, 10 QSO lus.\n");
  // The same --mode mappings as the export.
  const result mapped = run({"verifie", "--mode", "J2B=PSK/PSK31"},
                            kHeader + qso("01-01-2020", 900, 905, "F4ABC", 14070, "J2B"));
  EXPECT_EQ(mapped.status, kExitSuccess);
  EXPECT_EQ(mapped.out, "Aucun probleme, 0 note, 1 QSO lu.\n");
}

TEST(Journal, StatisticsDrawBarsScaledToTheLargest) {
  std::string logbook = kHeader;
  for (int i = 0; i < 4; ++i) logbook += qso("01-01-2020", 900 + i, 905, "F4ABC/P", 7055, "J3E");
  logbook += qso("01-01-2021", 900, 905, "EA8/F4ABC", 14074, "FT8");
  logbook += qso("01-01-2021", 1000, 905, "DL1XYZ", 14074, "FT8");
  const result stats = run({"stats"}, logbook);
  EXPECT_EQ(stats.status, kExitSuccess);
  EXPECT_TRUE(
      stats.out.starts_with("6 QSO, 2 stations differentes.\n"
                            "Premier QSO : 01-01-2020 09:00 F4ABC/P (ligne 7)\n"
                            "Dernier QSO : 01-01-2021 10:00 DL1XYZ (ligne 12)\n\n"
                            "Par annee :\n"
                            "2020  4  " +
                            std::string(40, '#') +
                            "\n"
                            "2021  2  " +
                            std::string(20, '#') + "\n"))
      << stats.out;
  EXPECT_NE(
      stats.out.find("Bandes et modes :\nBande  LSB  FT8\n40m      4    .\n20m      .    2\n"),
      std::string::npos)
      << stats.out;
}

TEST(Journal, CsvQuotesAndProtectsSpreadsheetCells) {
  const struct {
    std::string_view value;
    char separator;
    bool spreadsheet;
    std::string_view field;
  } cases[] = {{"Paris", ',', false, "Paris"},
               {"a,b", ',', false, "\"a,b\""},
               {"dit \"Jo\"", ',', false, "\"dit \"\"Jo\"\"\""},
               {"a,b", ';', true, "a,b"},
               {"=1+2", ';', true, "'=1+2"},
               {"-F5ABC-", ';', true, "'-F5ABC-"},
               {"@x;y", ';', true, "\"'@x;y\""},
               {"=1+2", ',', false, "=1+2"}};
  for (const auto& c : cases) {
    std::string line;
    append_csv_field(c.value, c.separator, c.spreadsheet, line);
    EXPECT_EQ(line, c.field) << c.value;
  }
  const std::string logbook =
      kHeader + qso("05-02-2020", 905, 930, "f4abc", 7055, "J3E", "Jo", "Saint_Etienne");
  EXPECT_EQ(run({"csv"}, logbook).out,
            "date,debut,fin,indicatif,prenom,khz,mhz,bande,mode,sous_mode,classe,lieu,"
            "proprietaire,ligne,report_envoye,report_recu,locator,commentaire,qsl_envoyee,"
            "qsl_envoyee_le,qsl_recue,qsl_recue_le,lotw_envoye,lotw_envoye_le,lotw_recu,"
            "lotw_recu_le,eqsl_envoye,eqsl_envoye_le,eqsl_recu,eqsl_recu_le\n"
            "2020-02-05,09:05,09:30,F4ABC,Jo,7055,7.055,40m,SSB,LSB,J3E,Saint Etienne,F5XYZ,7,,,,"
            ",,,,,,,,,,,,\n");
  const std::string excel = run({"csv", "--excel"}, logbook).out;
  EXPECT_TRUE(
      excel.starts_with("\xef\xbb\xbf"
                        "date;debut;"));
  EXPECT_TRUE(
      excel.ends_with("\r\n05/02/2020;09:05;09:30;F4ABC;Jo;7055;7,055;40m;SSB;LSB;J3E;"
                      "Saint Etienne;F5XYZ;7;;;;;;;;;;;;;;;;\r\n"));
}

TEST(Journal, UsageErrors) {
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"indicatif"}, "indicatif attend l'indicatif cherche (velkrin-journal indicatif F4ABC)"},
      {{"verifie", "--du", "01-01-2020"},
       "l'option --du ne s'applique qu'a liste, stats, csv, pays et diplomes"},
      {{"stats", "--court"}, "l'option --court ne s'applique qu'a liste et indicatif"},
      {{"liste", "-o", "x.csv"}, "l'option -o ne s'applique qu'a csv"},
      {{"liste", "--bande", "21m"}, "--bande attend une bande ADIF (20m, 70cm...), pas \"21m\""},
      {{"liste", "--derniers", "0"}, "--derniers attend un nombre de QSO, pas \"0\""},
      {{"liste", "--du", "31-02-2020"}, "--du attend une date JJ-MM-AAAA, pas \"31-02-2020\""},
      {{"liste", "--mode", "J2B=XYZ"}, "mode ADIF inconnu dans --mode J2B=XYZ"},
      {{"a.txt", "b.txt"}, "un seul journal a la fois"},
      {{"liste", "--lieu"}, "l'option --lieu attend une valeur"},
      {{"csv", "--au", "5-1-2020", "--du", "10-01-2020"},
       "--du 10-01-2020 tombe apres --au 5-1-2020 : aucun jour ne peut etre choisi"},
      {{"--couleur"}, "option inconnue --couleur"}};
  for (const auto& c : cases) {
    EXPECT_EQ(parse_options(c.args).error, c.error) << c.args[0];
    std::ostringstream out, err;
    EXPECT_EQ(run_velkrin_journal(c.args, out, err), kExitFailure);
    EXPECT_EQ(err.str(), "Erreur : " + c.error +
                             ".\nUsage : velkrin-journal COMMANDE [options] [JOURNAL]\n"
                             "Aide : velkrin-journal --help\n");
  }
  // Found wrong only once the logbook is read, or no option at all.
  const std::string logbook = kHeader + qso("01-01-2020", 900, 905, "F4ABC", 7055, "BLU") +
                              qso("01-01-2020", 1000, 905, "F4ABD", 14200, "BLI");
  const result unknown = run({"stats", "--mode", "XYZ"}, logbook);
  EXPECT_EQ(unknown.status, kExitFailure);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err,
            "Erreur : --mode \"XYZ\" n'est ni un mode ADIF (SSB, CW, FT8...) ni une classe "
            "d'emission du journal.\n");
  EXPECT_EQ(selected_lines({"--mode", "blu"}, logbook), "7");
  EXPECT_EQ(selected_lines({"--mode", "SSB"}, logbook), "7 8");
  EXPECT_EQ(selected_lines({"--mode", "LSB"}, logbook), "7 8");  // BLI is lower sideband
  std::ostringstream out, err;
  EXPECT_EQ(run_velkrin_journal({"listes"}, out, err), kExitFailure);
  // Every command is named, from the first.
  EXPECT_TRUE(
      err.str().starts_with("Erreur : commande inconnue \"listes\" (et aucun journal de ce "
                            "nom) ; les commandes : liste, indicatif, doublons, "))
      << err.str();
  EXPECT_TRUE(err.str().ends_with(
      ".\nUsage : velkrin-journal COMMANDE [options] [JOURNAL]\nAide : velkrin-journal --help\n"))
      << err.str();

  const parsed_options alone = parse_options({"archives/journal.txt"});
  EXPECT_EQ(alone.options.what, command::liste);
  EXPECT_EQ(alone.options.logbook, "archives/journal.txt");
  EXPECT_EQ(parse_options({}).options.logbook, "journal_de_bord.txt");
}

}  // namespace
}  // namespace velkrin::journal
