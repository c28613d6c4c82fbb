#include "adif/command_line.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "adif/adif_writer.hpp"
#include "adif/logbook_import.hpp"
#include "logbook/line_format.hpp"
#include "test_country_file.hpp"

namespace velkrin::adif {
namespace {

namespace fs = std::filesystem;

std::string utf8_of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() / ("velkrin-adif-test-" + std::to_string(std::random_device{}()));
    fs::create_directories(folder_);
    logbook_ = (folder_ / "journal_de_bord.txt").string();
    adi_ = (folder_ / "journal_de_bord.adi").string();
    write(logbook_,
          format_header({"F4ABC", "01-02-2026"}) +
              format_qso_line({"01-02-2026", 905, 930, "F4XYZ", "Helene", 7055, "J3E", "Rennes"}));
    write((folder_ / "cty.csv").string(), std::string(kNoCountriesFile));
  }
  void TearDown() override { fs::remove_all(folder_); }

  static void write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  int run(const std::vector<std::string>& args) {
    out_.str("");
    err_.str("");
    return run_velkrin_adif(args, out_, err_);
  }

  fs::path folder_;
  std::string logbook_;
  std::string adi_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(CommandLineTest, ExportsBesideTheLogbookAndNeverOverwritesWithoutForce) {
  ASSERT_EQ(run({logbook_}), kExitAllExported) << err_.str();
  EXPECT_EQ(err_.str(), "1 QSO exporte vers \"" + adi_ + "\", 0 ligne signalee.\n");
  EXPECT_NE(read(adi_).find("<CALL:5>F4XYZ"), std::string::npos);

  write(adi_, "kept");
  EXPECT_EQ(run({logbook_}), kExitFailure);
  EXPECT_EQ(err_.str(), "Erreur : \"" + adi_ + "\" existe deja ; --force pour le remplacer.\n");
  EXPECT_EQ(read(adi_), "kept");

  EXPECT_EQ(run({"--force", logbook_}), kExitAllExported);
  EXPECT_NE(read(adi_).find("<CALL:5>F4XYZ"), std::string::npos);
  // Only the export is left beside the logbook and the country file: no
  // temporary file.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 3);
}

TEST_F(CommandLineTest, VersionGivesTheProgramTheSuitesVersionAndTheLicence) {
  EXPECT_EQ(run({"--version"}), kExitAllExported);
  EXPECT_EQ(out_.str().rfind("velkrin-adif " + std::string(program_version()) + "\n", 0), 0u);
  EXPECT_NE(out_.str().find("Licence GPL-3.0-or-later"), std::string::npos);
  EXPECT_EQ(err_.str(), "");
}

TEST_F(CommandLineTest, WritesToStandardOutputWithDash) {
  EXPECT_EQ(run({"-o", "-", logbook_}), kExitAllExported);
  EXPECT_EQ(out_.str().rfind("Export ADIF du journal de bord journal_de_bord.txt", 0), 0u);
  EXPECT_FALSE(fs::exists(adi_));
}

// A stream whose every write fails, as standard output does on a full disk
// or when it is closed.
class failing_buffer : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST_F(CommandLineTest, FailedStandardOutputGivesStatusTwoAndNoSummary) {
  failing_buffer buffer;
  std::ostream failing(&buffer);
  EXPECT_EQ(run_velkrin_adif({"-o", "-", logbook_}, failing, err_), kExitFailure);
  EXPECT_EQ(err_.str(),
            "Erreur : la sortie standard n'a pas pu etre ecrite (ecriture impossible).\n");
}

// Text mode turns each "\n" into CR LF on Windows: standard output gets "\n"
// whatever the logbook uses, while a file keeps the logbook's line ends.
TEST_F(CommandLineTest, StandardOutputGetsLfAndAFileTheLogbookLineEnds) {
  write(logbook_, format_header({"F4ABC", "01-02-2026"}, "\r\n") +
                      format_qso_line(
                          {"01-02-2026", 905, 930, "F4XYZ", "Jo", 7055, "J3E", "Rennes"}, "\r\n"));
  ASSERT_EQ(run({"-o", "-", logbook_}), kExitAllExported) << err_.str();
  EXPECT_EQ(out_.str().find('\r'), std::string::npos);
  EXPECT_NE(out_.str().find("<EOR>\n"), std::string::npos);

  ASSERT_EQ(run({logbook_}), kExitAllExported) << err_.str();
  const std::string adif = read(adi_);
  EXPECT_NE(adif.find("<EOH>\r\n"), std::string::npos);
  EXPECT_NE(adif.find("<EOR>\r\n"), std::string::npos);
  EXPECT_EQ(adif.find("\r\r"), std::string::npos);
}

TEST_F(CommandLineTest, NamesWithAccentsAreKeptAsTheyAre) {
  const fs::path folder = folder_ / fs::path(u8"H\u00e9l\u00e8ne dossier");
  fs::create_directories(folder);
  const std::string logbook = utf8_of(folder / "journal_de_bord.txt");
  write(logbook, read(logbook_));
  ASSERT_EQ(run({logbook}), kExitAllExported) << err_.str();
  EXPECT_TRUE(fs::exists(folder / "journal_de_bord.adi"));
  EXPECT_NE(err_.str().find(utf8_of(folder)), std::string::npos) << err_.str();
  EXPECT_NE(read(utf8_of(folder / "journal_de_bord.adi")).find("<CALL:5>F4XYZ"), std::string::npos);
}

TEST_F(CommandLineTest, ForceKeepsThePermissionBitsOfTheReplacedExport) {
  write(adi_, "old");
  const auto bits = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(adi_, bits);
  ASSERT_EQ(run({"--force", logbook_}), kExitAllExported) << err_.str();
  EXPECT_EQ(fs::status(adi_).permissions(), bits);
  EXPECT_NE(read(adi_).find("<CALL:5>F4XYZ"), std::string::npos);
}

TEST_F(CommandLineTest, ReportedLinesGiveStatusOneAndTheOtherQsos) {
  const std::string psk31 = "01-02-2026 905 930 F4XYZ Jo 14070 kHz J2B Rennes\n";
  write(logbook_, read(logbook_) + psk31 + psk31);
  EXPECT_EQ(run({"-o", adi_, logbook_}), kExitLinesReported);
  const std::string hint =
      " : classe d'emission \"J2B\" inconnue : indiquer son mode avec "
      "--mode J2B=MODE[/SOUS_MODE]\n";
  EXPECT_EQ(err_.str(), "ligne 8" + hint + "ligne 9" + hint + "1 QSO exporte vers \"" + adi_ +
                            "\", 2 lignes signalees.\n");
  EXPECT_EQ(run({"--force", "--mode", "J2B=PSK/PSK31", logbook_}), kExitAllExported);
  EXPECT_NE(read(adi_).find("<MODE:3>PSK <SUBMODE:5>PSK31"), std::string::npos);
}

TEST_F(CommandLineTest, FailuresGiveStatusTwo) {
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--bogus"}, "Erreur : option inconnue --bogus."},
      {{"-o"}, "Erreur : l'option -o attend une valeur."},
      {{"--mode", "J2B"}, "Erreur : --mode attend CLASSE=MODE[/SOUS_MODE]"},
      {{"--mode=J2B=XYZ"}, "Erreur : mode ADIF inconnu dans --mode J2B=XYZ."},
      {{"a.txt", "b.txt"}, "Erreur : un seul journal a la fois."},
      {{(fs::path("nowhere") / "journal.txt").string()},
       "Erreur : le journal de bord \"nowhere/journal.txt\" n'a pas pu etre lu (fichier ou "
       "dossier introuvable)."},
      {{"-o", logbook_, "--force", logbook_}, "Erreur : \"" + logbook_ + "\" est le journal"},
      {{"-o", (fs::path(folder_) / "missing" / "x.adi").string(), logbook_},
       "Erreur : \"" + (fs::path(folder_) / "missing" / "x.adi").string() +
           "\" n'a pas pu etre ecrit (fichier ou dossier introuvable)."},
      {{"--fichier-pays"}, "Erreur : l'option --fichier-pays attend une valeur."},
      {{"--importe", "x.adi", "--fichier-pays", "cty.csv"},
       "Erreur : --fichier-pays ne sert qu'a l'export et avec --ecoute."},
      // A country file named but unusable: nothing is written.
      {{"--fichier-pays", logbook_, logbook_},
       "Erreur : le fichier des pays " + logbook_ + " n'est pas un cty.csv lisible"},
      {{"--fichier-pays=absent.csv", "--ecoute", logbook_},
       "Erreur : le fichier des pays absent.csv n'a pas pu etre lu"},
      {{"--nouveaux", "hamqth"},
       "Erreur : --nouveaux attend lotw, eqsl, clublog ou qrz, pas \"hamqth\"."},
      {{"--marque-envoye", "lotw"}, "Erreur : --marque-envoye attend le service et le fichier"},
      {{"--marque-envoye", "lotw", "x.adi", "--du", "01-01-2026"},
       "Erreur : --marque-envoye ne prend que --mode."},
      {{"--nouveaux", "lotw", "--importe", "x.adi"},
       "Erreur : --importe, --ecoute, --confirmations, --nouveaux, --marque-envoye et --lotw ne "
       "vont pas ensemble."},
      {{"--tqsl", "tqsl"}, "Erreur : --tqsl, --mot-de-passe et --delai ne servent qu'avec --lotw."},
      {{"--lotw", "Maison", "--delai", "0"},
       "Erreur : --delai attend un nombre de secondes (1 a 86400), pas \"0\"."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run(c.args), kExitFailure) << c.message;
    EXPECT_EQ(err_.str().rfind(c.message, 0), 0u) << err_.str();
  }
  EXPECT_FALSE(fs::exists(adi_));
}

// The file named by --fichier-pays is the one read, over the one beside the
// logbook; the five fields follow the QSO's own.
TEST_F(CommandLineTest, ExportAddsTheEntityOfTheFileNamed) {
  const std::string countries = (folder_ / "pays.csv").string();
  write(countries, std::string(kFewCountriesFile));
  ASSERT_EQ(run({"--fichier-pays", countries, "-o", "-", logbook_}), kExitAllExported)
      << err_.str();
  EXPECT_NE(out_.str().find("<STATION_CALLSIGN:5>F4ABC <DXCC:3>227 <COUNTRY:6>France <CQZ:2>14 "
                            "<ITUZ:2>27 <CONT:2>EU <EOR>"),
            std::string::npos)
      << out_.str();
  EXPECT_EQ(err_.str(), "1 QSO exporte vers la sortie standard, 0 ligne signalee.\n");
}

TEST(DefaultOutputTest, ReplacesTxtOrAddsAdi) {
  EXPECT_EQ(default_output("H\xc3\xa9l\xc3\xa8ne/journal.txt"), "H\xc3\xa9l\xc3\xa8ne/journal.adi");
  EXPECT_EQ(default_output("journal_de_bord.txt"), "journal_de_bord.adi");
  EXPECT_EQ(default_output("vieux/Journal.TXT"), "vieux/Journal.adi");
  EXPECT_EQ(default_output("journal"), "journal.adi");
  EXPECT_EQ(default_output("journal.adi"), "journal.adi.adi");
  EXPECT_EQ(upload_output("vieux/Journal.TXT", upload_service::lotw), "vieux/Journal.lotw.adi");
  EXPECT_EQ(upload_output("journal", upload_service::clublog), "journal.clublog.adi");
}

// Who the listener takes datagrams from: on a group only what was sent to
// it; off loopback only this machine's own addresses (exactly) and those of
// --accepte.
TEST(ListenerSendersTest, GroupAndOwnAddressesAndAcceptedRanges) {
  const auto ip = [](std::string_view text) {
    address_range range;
    EXPECT_TRUE(parse_address_range(text, range)) << text;
    return range.address;
  };
  const std::vector<std::uint32_t> own = {ip("127.0.0.1"), ip("192.168.1.10")};
  std::vector<address_range> accepted(2);
  ASSERT_TRUE(parse_address_range("192.168.1.20", accepted[0]));
  ASSERT_TRUE(parse_address_range("10.1.0.0/16", accepted[1]));
  const struct {
    const char *listened, *sender, *destination;
    bool taken;
  } cases[] = {
      {"224.0.0.73", "127.0.0.1", "224.0.0.73", true},
      {"224.0.0.73", "192.168.1.10", "224.0.0.73", true},
      {"224.0.0.73", "127.0.0.2", "224.0.0.73", false},
      {"224.0.0.73", "127.0.0.1", "127.0.0.1", false},      // to the port, not the group
      {"224.0.0.73", "192.168.1.20", "224.0.0.74", false},  // another group
      {"224.0.0.73", "192.168.1.20", "224.0.0.73", true},
      {"224.0.0.73", "192.168.1.21", "224.0.0.73", false},
      {"224.0.0.73", "10.1.255.9", "224.0.0.73", true},
      {"224.0.0.73", "10.2.0.1", "224.0.0.73", false},
      {"192.168.1.10", "8.8.8.8", "192.168.1.10", false},
      {"192.168.1.10", "192.168.1.20", "192.168.1.10", true},
      {"127.0.0.1", "127.0.0.2", "127.0.0.1", true},  // loopback: this machine only
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sender_accepted(ip(c.listened), ip(c.sender), ip(c.destination), own, accepted),
              c.taken)
        << c.listened << " " << c.sender << " " << c.destination;
  }
  address_range range;
  for (const std::string_view wrong :
       {"", "192.168.1", "192.168.1.256", "192.168.1.0/33", "192.168.1.0/", "localhost",
        "192.168.1.1:2237", "/24", "a.b.c.d"}) {
    EXPECT_FALSE(parse_address_range(wrong, range)) << wrong;
  }
  ASSERT_TRUE(parse_address_range("0.0.0.0/0", range));
  EXPECT_TRUE(sender_accepted(ip("224.0.0.73"), ip("8.8.8.8"), ip("224.0.0.73"), {}, {range}));
}

}  // namespace
}  // namespace velkrin::adif
