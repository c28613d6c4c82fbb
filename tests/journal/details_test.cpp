// velkrin-journal with the logbook's details file, in-process on real files:
// the reading commands that show and check the details, and the commands
// that change one QSO.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "journal/command_line.hpp"
#include "journal/qso_confirmations.hpp"
#include "logbook/details_file.hpp"
#include "logbook/line_format.hpp"
#include "support/temp_folder.hpp"

namespace velkrin::journal {
namespace {

using testing::read_file;
using testing::write_file;

const logbook_header kOwner{"F5XYZ", "01-01-2020"};
const qso_record kTyped{"05-02-2020", 905, 930, "F4ABC", "Jo", 7055, "J3E", "Paris_15"};
const qso_record kOther{"06-02-2020", 1200, 1210, "DL1XYZ", "Hans", 14074, "FT8", "Lyon"};

std::string line_of(const qso_record& qso) {
  return std::string(trim_right(format_qso_line(qso, "")));
}

class JournalDetails : public ::testing::Test {
 protected:
  struct result {
    int status;
    std::string out;
    std::string err;
  };
  // Lines 1 to 6 the header, then the QSOs from line 7.
  void write_logbook(const std::vector<qso_record>& qsos) {
    std::string text = format_header(kOwner);
    for (const qso_record& qso : qsos) text += format_qso_line(qso);
    write_file(logbook_, text);
  }
  void write_details(const std::string& records, const logbook_header& owner = kOwner) {
    write_file(details_path_for(logbook_), format_details_header(owner, "\n") + records);
  }
  result run(std::vector<std::string> args) {
    args.push_back(logbook_);
    std::ostringstream out, err;
    const int status = run_velkrin_journal(args, out, err);
    return {status, out.str(), err.str()};
  }
  testing::temp_folder folder_;
  const std::string logbook_ = folder_.file("journal_de_bord.txt");
};

std::string record_for(const qso_record& qso, const std::vector<details_field>& fields) {
  return format_details_record(details_for(qso, fields), "\n");
}

TEST_F(JournalDetails, ReadingCommandsShowTheDetails) {
  write_logbook({kTyped, kOther});
  write_details(record_for(kTyped, {{"RST_SENT", "59"},
                                    {"RST_RCVD", "57"},
                                    {"GRIDSQUARE", "JN18"},
                                    {"COMMENT", "beau signal, \x1b[2J"}}));
  const result csv = run({"csv"});
  EXPECT_EQ(csv.status, kExitSuccess) << csv.err;
  EXPECT_NE(csv.out.find(",7,59,57,JN18,\"beau signal, ^[[2J\",,,,,,,,,,,,\n"), std::string::npos)
      << csv.out;
  EXPECT_NE(csv.out.find(",8,,,,,,,,,,,,,,,,\n"), std::string::npos) << csv.out;

  const result listed = run({"liste"});
  EXPECT_NE(listed.out.find("  LSB (J3E)  59/57         Paris_15"), std::string::npos)
      << listed.out;

  const result card = run({"fiche", "7"});
  EXPECT_EQ(card.status, kExitSuccess) << card.err;
  for (const std::string_view shown :
       {"  Indicatif        F4ABC", "  Frequence        7055 kHz (40m)", "  Report envoye  ",
        "  RST_SENT           59\n", "Locator du correspondant", "beau signal, ^[[2J\n"}) {
    EXPECT_NE(card.out.find(shown), std::string::npos) << shown << "\n" << card.out;
  }
  EXPECT_NE(run({"fiche", "8"}).out.find("Aucun detail pour ce QSO"), std::string::npos);
  const std::string details = read_file(details_path_for(logbook_));
  const result over = run({"csv", "--force", "-o", details_path_for(logbook_)});
  EXPECT_EQ(over.status, kExitFailure);
  EXPECT_NE(over.err.find("est le fichier de details du journal"), std::string::npos) << over.err;
  EXPECT_EQ(read_file(details_path_for(logbook_)), details);

  // A details file left beside a new logbook is another logbook's: said once.
  write_details(record_for(kTyped, {{"RST_SENT", "59"}}), {"F5XYZ", "01-01-2019"});
  const result other = run({"csv"});
  EXPECT_EQ(other.status, kExitSuccess);
  EXPECT_NE(other.out.find(",7,,,,,,,,,,,,,,,,\n"), std::string::npos) << other.out;
  EXPECT_EQ(other.err.find("Attention : le fichier de details"), 0u) << other.err;
  EXPECT_EQ(other.err.find("Attention", 1), std::string::npos) << other.err;
}

TEST(QsoConfirmations, MarksSayWhatWasReceivedSentOrIsToSend) {
  const struct {
    std::vector<details_field> fields;
    std::string_view marks;
  } cases[] = {
      {{}, ""},
      {{{"QSL_RCVD", "y"}}, "C--"},
      {{{"QSL_SENT", "Y"}, {"QSL_RCVD", "N"}}, "c--"},
      // A card received electronically is no paper card, as for the awards.
      {{{"QSL_SENT", "R"}, {"QSL_RCVD", "Y"}, {"QSL_RCVD_VIA", "E"}}, "!--"},
      {{{"LOTW_QSL_SENT", "Y"}, {"LOTW_QSL_RCVD", "V"}}, "-L-"},
      {{{"LOTW_QSL_SENT", "q"}}, "-!-"},
      {{{"EQSL_QSL_SENT", "Y"}, {"EQSL_QSL_RCVD", "R"}}, "--e"},
      {{{"QSL_SENT", "I"}, {"LOTW_QSL_SENT", "N"}, {"EQSL_QSL_RCVD", "R"}}, ""},
      {{{"QSL_RCVD", "Y"}, {"LOTW_QSL_SENT", "Y"}, {"EQSL_QSL_RCVD", "Y"}}, "ClE"},
  };
  for (const auto& c : cases) {
    const details_record record{c.fields};
    EXPECT_EQ(confirmation_marks(confirmation_state_of(&record)), c.marks)
        << format_details_record(record, "");
  }
  using countries::bit;
  using countries::confirmation;
  EXPECT_EQ(confirmation_sources(0), "");
  EXPECT_EQ(confirmation_sources(bit(confirmation::lotw)), "LoTW");
  EXPECT_EQ(confirmation_sources(bit(confirmation::card) | bit(confirmation::eqsl)),
            "carte et eQSL");
  EXPECT_EQ(confirmation_sources(bit(confirmation::card) | bit(confirmation::lotw) |
                                 bit(confirmation::eqsl)),
            "carte, LoTW et eQSL");
}

TEST_F(JournalDetails, ListeCsvAndIndicatifShowTheConfirmations) {
  const qso_record kLater{"06-02-2020", 1300, 1305, "DL1XYZ", "Hans", 7074, "FT8", "Lyon"};
  write_logbook({kTyped, kOther, kLater});
  write_details(record_for(kTyped, {{"RST_SENT", "59"},
                                    {"QSL_SENT", "Y"},
                                    {"QSL_SDATE", "20200301"},
                                    {"QSL_RCVD", "Y"},
                                    {"QSL_RDATE", "20200403"},
                                    {"LOTW_QSL_SENT", "Y"},
                                    {"LOTW_QSLSDATE", "20200206"}}) +
                record_for(kOther, {{"EQSL_QSL_RCVD", "Y"}, {"EQSL_QSLRDATE", "10-02-2020"}}));
  EXPECT_EQ(run({"liste", "--court"}).out,
            "Date        Debut  Fin    Indicatif     kHz  Bande  Mode       QSL    Ligne\n"
            "05-02-2020  09:05  09:30  F4ABC        7055  40m    LSB (J3E)  Cl-        7\n"
            "06-02-2020  12:00  12:10  DL1XYZ      14074  20m    FT8        --E        8\n"
            "06-02-2020  13:00  13:05  DL1XYZ       7074  40m    FT8                   9\n");

  const result csv = run({"csv"});
  EXPECT_NE(csv.out.find(",commentaire,qsl_envoyee,qsl_envoyee_le,qsl_recue,qsl_recue_le,"
                         "lotw_envoye,lotw_envoye_le,lotw_recu,lotw_recu_le,eqsl_envoye,"
                         "eqsl_envoye_le,eqsl_recu,eqsl_recu_le\n"),
            std::string::npos)
      << csv.out;
  EXPECT_NE(csv.out.find(",7,59,,,,Y,2020-03-01,Y,2020-04-03,Y,2020-02-06,,,,,,\n"),
            std::string::npos)
      << csv.out;
  // A day that is not ADIF's YYYYMMDD is written as it is.
  EXPECT_NE(csv.out.find(",8,,,,,,,,,,,,,,,Y,10-02-2020\n"), std::string::npos) << csv.out;
  EXPECT_NE(csv.out.find(",9,,,,,,,,,,,,,,,,\n"), std::string::npos) << csv.out;
  EXPECT_NE(run({"csv", "--excel"}).out.find(";Y;01/03/2020;Y;03/04/2020;Y;06/02/2020;"),
            std::string::npos);

  const result card = run({"indicatif", "f4abc/p", "--court"});
  EXPECT_EQ(card.status, kExitSuccess) << card.err;
  EXPECT_NE(card.out.find("F4ABC : 1 QSO, du 05-02-2020 au 05-02-2020.\n"
                          "Confirme par carte : 1 QSO sur 1.\n"),
            std::string::npos)
      << card.out;
  EXPECT_NE(card.out.find("  LSB (J3E)  Cl-        7\n"), std::string::npos) << card.out;
  EXPECT_NE(run({"indicatif", "DL1XYZ"}).out.find("Confirme par eQSL : 1 QSO sur 2.\n"),
            std::string::npos);
  write_details(record_for(kOther, {{"QSL_SENT", "Y"}}));
  EXPECT_NE(run({"indicatif", "DL1XYZ"}).out.find(" au 06-02-2020.\nPas encore confirme.\n"),
            std::string::npos);
}

TEST_F(JournalDetails, FicheSaysWhyALineHoldsNoQso) {
  write_logbook({kTyped});
  const struct {
    std::string line;
    int status;
    std::string said;
  } cases[] = {{"3", kExitAnswer, "Pas de QSO a la ligne 3 : elle fait partie d'un en-tete"},
               {"8", kExitAnswer, "Pas de QSO a la ligne 8 : ligne vide, ou au-dela"},
               {"0", kExitFailure, "fiche attend un numero de ligne du journal"},
               {"7x", kExitFailure, "fiche attend un numero de ligne du journal"}};
  for (const auto& c : cases) {
    const result shown = run({"fiche", c.line});
    EXPECT_EQ(shown.status, c.status) << c.line;
    EXPECT_NE(shown.err.find(c.said), std::string::npos) << c.line << ": " << shown.err;
  }
}

TEST_F(JournalDetails, VerifieReportsTheDetailsFile) {
  qso_record moved = kOther;
  moved.indicatif = "DL1XYY";  // the key the details were written for is gone
  write_logbook({kTyped, moved, kTyped});
  write_details(record_for(kTyped, {{"RST_SENT", "59"}}) +
                record_for(kOther, {{"RST_SENT", "-10"}}) +
                "<CALL:5>F4ABC<RST_SENT:2>59<EOR>\n<CALL:5>F4AB");
  const result checked = run({"verifie"});
  EXPECT_EQ(checked.status, kExitAnswer);
  EXPECT_EQ(checked.out,
            "lignes 7 et 9 : note : meme indicatif, date, debut, bande et classe : ces lignes "
            "partagent leurs details\n"
            "details ligne 9 : note : details sans QSO (DL1XYZ, 06-02-2020 12:00, 20m, FT8) : "
            "aucune ligne du journal n'a cette cle (indicatif, date, debut, bande ou classe "
            "modifies a la main ? corrige fait suivre les details)\n"
            "details ligne 10 : enregistrement sans cle complete (CALL, QSO_DATE, TIME_ON, "
            "APP_VELKRIN_CLASS)\n"
            "details ligne 11 : enregistrement coupe avant son <EOR> (arret brutal ?)\n"
            "2 problemes, 2 notes, 3 QSO lus.\n");
  EXPECT_EQ(checked.err, "");

  write_details("", {"F4OLD", "01-01-2019"});
  const result other = run({"verifie"});
  EXPECT_EQ(other.status, kExitAnswer);
  EXPECT_TRUE(other.out.starts_with("details : le fichier de details \"")) << other.out;
  EXPECT_NE(other.out.find("Renommez-le avec son journal"), std::string::npos) << other.out;
  EXPECT_EQ(other.err, "");  // said once, in the report
  // Nor does complete write to another logbook's details.
  const std::string details = read_file(details_path_for(logbook_));
  const result refused = run({"complete", "7", "RST_SENT=59"});
  EXPECT_EQ(refused.status, kExitAnswer);
  EXPECT_NE(refused.err.find("Renommez-le avec son journal"), std::string::npos) << refused.err;
  EXPECT_EQ(read_file(details_path_for(logbook_)), details);
}

TEST_F(JournalDetails, CompleteGivesATypedQsoItsReports) {
  write_logbook({kTyped, kOther});
  const std::string before = read_file(logbook_);
  const result completed =
      run({"complete", "7", "rst_sent=59", "RST_RCVD=57", "GRIDSQUARE=JN18", "COMMENT=beau"});
  ASSERT_EQ(completed.status, kExitSuccess) << completed.err;
  EXPECT_EQ(completed.out, "Ligne 7 : " + line_of(kTyped) + "\nDetails completes (" +
                               details_path_for(logbook_) +
                               ") :\n"
                               "  RST_SENT (Report envoye) : ajoute \"59\"\n"
                               "  RST_RCVD (Report recu) : ajoute \"57\"\n"
                               "  GRIDSQUARE (Locator du correspondant) : ajoute \"JN18\"\n"
                               "  COMMENT (Commentaire) : ajoute \"beau\"\n");
  EXPECT_EQ(read_file(logbook_), before);  // the line itself is not touched
  EXPECT_NE(run({"csv"}).out.find(",7,59,57,JN18,beau,,,,,,,,,,,,\n"), std::string::npos);
  EXPECT_NE(run({"fiche", "7"}).out.find("RST_RCVD"), std::string::npos);

  const result changed = run({"complete", "7", "RST_RCVD=55", "COMMENT="});
  EXPECT_EQ(changed.status, kExitSuccess) << changed.err;
  EXPECT_NE(changed.out.find("  RST_RCVD (Report recu) : \"57\" remplace par \"55\"\n"
                             "  COMMENT (Commentaire) : \"beau\" retire\n"),
            std::string::npos)
      << changed.out;
}

TEST_F(JournalDetails, RefusedChangesLeaveBothFilesAlone) {
  write_logbook({kTyped, kOther});
  write_details(record_for(kTyped, {{"RST_SENT", "59"}}));
  const std::string logbook = read_file(logbook_);
  const std::string details = read_file(details_path_for(logbook_));
  const struct {
    std::vector<std::string> args;
    int status;
    std::string said;
  } cases[] = {
      {{"complete", "7", "call=F4ABD"}, kExitAnswer, "corrige 7 indicatif=VALEUR"},
      {{"complete", "7", "FREQ=7.0551"}, kExitAnswer, "corrige 7 frequence=VALEUR"},
      {{"complete", "7", "GRIDSQUARE=Paris"}, kExitAnswer, "attend un locator"},
      {{"complete", "7", "COMMENT=a < eor >b"}, kExitAnswer, "contient <EOR>"},
      {{"complete", "7", "RST-SENT=59"}, kExitFailure, "nom de champ ADIF \"RST-SENT\" invalide"},
      {{"complete", "7"}, kExitFailure, "complete attend au moins un CHAMP=VALEUR"},
      {{"corrige", "7", "couleur=bleu"}, kExitFailure, "corrige ne connait pas la colonne"},
      {{"corrige", "7", "frequence=7.055"}, kExitAnswer, "un nombre entier de kHz"},
      {{"corrige", "7", "frequence=7055000"}, kExitAnswer, "(kHz attendus, pas Hz ?)"},
      {{"corrige", "7", "date=31-02-2020"}, kExitAnswer, "date \"31-02-2020\" invalide"},
      {{"corrige", "7", "debut=2460"}, kExitAnswer, "heure de debut 2460 invalide"},
      {{"corrige", "7", "indicatif=F4"}, kExitAnswer, "indicatif \"F4\" invalide"},
      {{"corrige", "7", "mode=J2B"}, kExitAnswer, "--mode J2B=MODE[/SOUS_MODE]"},
      {{"corrige", "3", "prenom=Jo"}, kExitAnswer, "ligne 3"},
      {{"supprime", "7", "--ligne-attendue", line_of(kOther)}, kExitAnswer, "Refuse : "},
      {{"corrige", "8", "fin=1215", "--ligne-attendue", line_of(kTyped)}, kExitAnswer, "Refuse : "},
      {{"liste", "--ligne-attendue", "x"}, kExitFailure, "ne s'applique qu'a complete"},
  };
  for (const auto& c : cases) {
    const result refused = run(c.args);
    EXPECT_EQ(refused.status, c.status) << c.args[0] << " " << c.args.back();
    EXPECT_NE(refused.err.find(c.said), std::string::npos) << c.args.back() << ": " << refused.err;
    EXPECT_EQ(refused.out, "") << c.args.back();
    EXPECT_EQ(read_file(logbook_), logbook) << c.args.back();
    EXPECT_EQ(read_file(details_path_for(logbook_)), details) << c.args.back();
  }
}

TEST_F(JournalDetails, CorrigeRewritesTheLineAndItsDetailsFollow) {
  write_logbook({kTyped, kOther});
  write_details(record_for(kTyped, {{"RST_SENT", "59"}}));
  const result corrected = run({"corrige", "7", "indicatif=F4ABD", "prenom= Jean  Pierre ",
                                "debut=09:07", "--ligne-attendue", line_of(kTyped) + "   "});
  ASSERT_EQ(corrected.status, kExitSuccess) << corrected.err;
  qso_record fixed = kTyped;
  fixed.indicatif = "F4ABD";
  fixed.prenom = "Jean__Pierre";
  fixed.debut = 907;
  EXPECT_EQ(read_file(logbook_),
            format_header(kOwner) + format_qso_line(fixed) + format_qso_line(kOther));
  EXPECT_EQ(corrected.out, "Ligne 7 corrigee :\navant : " + line_of(kTyped) + "\napres : " +
                               line_of(fixed) + "\nSes details suivent la ligne corrigee.\n");
  // The reports followed the new key.
  EXPECT_NE(run({"csv"}).out.find(",7,59,,,,,,,,,,,,,,,\n"), std::string::npos);
  EXPECT_EQ(run({"verifie"}).status, kExitSuccess);

  const result removed = run({"supprime", "8", "--ligne-attendue", line_of(kOther)});
  ASSERT_EQ(removed.status, kExitSuccess) << removed.err;
  EXPECT_EQ(removed.out, "Ligne 8 supprimee : " + line_of(kOther) + "\n");
  EXPECT_EQ(read_file(logbook_), format_header(kOwner) + format_qso_line(fixed));
}

// A paper round: cards asked for, sent, received, each step in the QSO's
// details and in the lists of what is to do.
TEST_F(JournalDetails, QslRecordsThePaperRound) {
  const qso_record kLater{"06-02-2020", 1300, 1305, "DL1XYZ", "Hans", 7074, "FT8", "Lyon"};
  write_logbook({kTyped, kOther, kLater});
  const struct {
    std::vector<std::string> args;
    int status;
    std::string_view out;  // a part of the output
  } kSteps[] = {
      {{"qsl", "demandee", "7"}, kExitSuccess, "  carte demandee\n"},
      {{"qsl", "demandee", "8", "--via", "direct"}, kExitSuccess, "  carte demandee\n"},
      {{"qsl", "a-envoyer", "--fichier-pays", "/nonexistent/cty.csv"}, kExitFailure, ""},
      {{"qsl", "envoyee", "7", "--date", "01-03-2020", "--via", "bureau"},
       kExitSuccess,
       "  carte envoyee le 01-03-2020\n"},
      // Both QSOs with DL1XYZ that day, in any case.
      {{"qsl", "envoyee", "dl1xyz", "06-02-2020", "--date", "02-03-2020"},
       kExitSuccess,
       "Ligne 9 : "},
      {{"qsl", "recue", "F4ABC", "05-02-2020", "--via", "electronique", "--date", "03-04-2020"},
       kExitSuccess,
       "  carte recue le 03-04-2020\n"},
      {{"qsl", "recue", "F4ABC", "06-02-2020"}, kExitAnswer, ""},
      {{"qsl", "envoyee", "9", "--ligne-attendue", line_of(kOther)}, kExitAnswer, ""},
  };
  for (const auto& step : kSteps) {
    const result done = run(step.args);
    EXPECT_EQ(done.status, step.status) << step.args[1] << " " << step.args[2] << done.err;
    EXPECT_NE(done.out.find(step.out), std::string::npos) << done.out;
  }
  details_reader details;
  details.open(logbook_);
  details.load(&kOwner);
  const details_record* first = details.find(*details_for(kTyped, {}).key());
  ASSERT_NE(first, nullptr);
  for (const auto& [name, value] :
       std::vector<std::pair<std::string, std::string>>{{"QSL_SENT", "Y"},
                                                        {"QSL_SDATE", "20200301"},
                                                        {"QSL_SENT_VIA", "B"},
                                                        {"QSL_RCVD", "Y"},
                                                        {"QSL_RDATE", "20200403"},
                                                        {"QSL_RCVD_VIA", "E"}}) {
    ASSERT_NE(first->find(name), nullptr) << name;
    EXPECT_EQ(*first->find(name), value) << name;
  }
  details.close();
  // Sent and not received: the two DL1XYZ QSOs; nothing left to send.
  const result awaited = run({"qsl", "attendues"});
  EXPECT_NE(awaited.out.find("2 cartes attendues"), std::string::npos) << awaited.out;
  EXPECT_EQ(awaited.out.find("F4ABC"), std::string::npos) << awaited.out;
  EXPECT_NE(run({"qsl", "a-envoyer"}).out.find("0 carte a envoyer"), std::string::npos);

  // A sending day of eight bytes that are not digits is shown like any value.
  write_details(record_for(kOther, {{"QSL_SENT", "Y"}, {"QSL_SDATE", "\x1b[2J1234"}}));
  const result odd = run({"qsl", "attendues"});
  EXPECT_EQ(odd.out.find('\x1b'), std::string::npos) << odd.out;
  EXPECT_NE(odd.out.find("^[[2J1234"), std::string::npos) << odd.out;
}

}  // namespace
}  // namespace velkrin::journal
