// The details file through velkrin-adif, in process: files as other programs
// write them come back whole from an import and an export, a column changed
// since the import is the truth, and a details file is never written over
// nor taken from another logbook.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "adif/adif_reader.hpp"
#include "adif/command_line.hpp"
#include "adif/conversions.hpp"
#include "logbook/details_file.hpp"
#include "logbook/line_format.hpp"
#include "logbook/qso_rules.hpp"
#include "support/temp_folder.hpp"
#include "test_country_file.hpp"

namespace velkrin::adif {
namespace {

using velkrin::testing::read_file;
using velkrin::testing::temp_folder;
using velkrin::testing::write_file;

const logbook_header kOwner{"F4ABC", "01-02-2026"};

std::string data_file(const std::string& name) {
  return std::string(VELKRIN_ADIF_TEST_DATA) + "/" + name;
}

std::vector<adif_read_record> records_of(const std::string& text) {
  adif_reader reader;
  reader.feed(text);
  reader.finish();
  std::vector<adif_read_record> records;
  while (auto record = reader.next()) records.push_back(std::move(*record));
  return records;
}

// A value as the export writes it: ASCII; enumerations and call signs, which
// ADIF reads in any case, in upper case; a frequency without trailing zeros.
std::string normal(std::string_view name, std::string_view value) {
  std::string text = to_ascii(trim_blanks(value)).text;
  if (name == "CALL" || name == "MODE" || name == "SUBMODE" || name == "BAND" ||
      name == "STATION_CALLSIGN") {
    text = to_upper(text);
  }
  if (name == "FREQ" && text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.ends_with('.')) text.pop_back();
  }
  return text;
}

class DetailsRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(logbook_, format_header(kOwner));
    write_file(folder_.file("cty.csv"), std::string(kNoCountriesFile));
  }

  int run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    args.push_back(logbook_);
    return run_velkrin_adif(args, out_, err_);
  }

  temp_folder folder_;
  std::string logbook_ = folder_.file("journal_de_bord.txt");
  std::string details_ = folder_.file("journal_de_bord.details.adi");
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(DetailsRoundTrip, NamedFilesComeBackWholeAndASecondImportAddsNothing) {
  const struct {
    std::string file;
    std::vector<std::string> options;
  } files[] = {{"wsjtx_log.adi", {}},
               {"lotwreport.adi", {"--lieu-par-defaut", "Rennes"}},
               {"tcadif_written.adi", {}}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.file);
    write_file(logbook_, format_header(kOwner));
    std::filesystem::remove(details_);
    std::vector<std::string> import = {"--importe", data_file(f.file)};
    import.insert(import.end(), f.options.begin(), f.options.end());
    std::vector<std::string> simulation = import;
    simulation.push_back("--simulation");
    ASSERT_EQ(run(simulation), kExitAllExported) << err_.str();
    EXPECT_FALSE(std::filesystem::exists(details_));
    ASSERT_EQ(run(import), kExitAllExported) << err_.str();
    EXPECT_EQ(err_.str().find("non repris"), std::string::npos) << err_.str();
    const std::string logbook = read_file(logbook_);
    const std::string details = read_file(details_);

    ASSERT_EQ(run(import), kExitAllExported) << err_.str();
    EXPECT_EQ(read_file(logbook_), logbook);
    EXPECT_EQ(read_file(details_), details);

    ASSERT_EQ(run({"-o", "-"}), kExitAllExported) << err_.str();
    const auto imported = records_of(read_file(data_file(f.file)));
    const auto exported = records_of(out_.str());
    ASSERT_EQ(exported.size(), imported.size());
    for (std::size_t i = 0; i < imported.size(); ++i) {
      for (const auto& field : imported[i].fields) {
        if (trim_blanks(field.value).empty()) continue;
        const std::string* got = exported[i].find(field.name);
        ASSERT_NE(got, nullptr) << "record " << i + 1 << " lost " << field.name;
        EXPECT_EQ(normal(field.name, *got), normal(field.name, field.value))
            << "record " << i + 1 << ", " << field.name;
      }
      EXPECT_EQ(exported[i].find(std::string(kClassField)), nullptr);
    }
  }
}

// A hand edit of the line's first name, end, frequency or place is the
// truth; the details give back what the import could not write on the line.
TEST_F(DetailsRoundTrip, ColumnsChangedSinceTheImportAreTheTruth) {
  write_file(folder_.file("in.adi"),
             "<CALL:5>G4AAA<NAME:8>Jean Luc<QSO_DATE:8>20260203<TIME_ON:6>090515"
             "<TIME_OFF:6>091030<FREQ:9>14.074123<MODE:3>FT8<MY_CITY:10>Saint Malo"
             "<MY_GRIDSQUARE:6>IN88gp<RST_SENT:3>-10<EOR>\n");
  ASSERT_EQ(run({"--importe", folder_.file("in.adi")}), kExitAllExported) << err_.str();
  const struct {
    qso_record line;
    std::string expected;  // the exported fields that follow the line
  } cases[] = {
      {{"03-02-2026", 905, 910, "G4AAA", "Jean_Luc", 14074, "FT8", "Saint_Malo"},
       "<TIME_ON:6>090515 <TIME_OFF:6>091030 <CALL:5>G4AAA <NAME:8>Jean Luc <FREQ:9>14.074123 "
       "<BAND:3>20m <MODE:3>FT8 <MY_CITY:10>Saint Malo <STATION_CALLSIGN:5>F4ABC "
       "<MY_GRIDSQUARE:6>IN88gp <RST_SENT:3>-10 <EOR>"},
      {{"03-02-2026", 905, 915, "G4AAA", "Paul", 14075, "FT8", "IN97"},
       "<TIME_ON:6>090515 <TIME_OFF:4>0915 <CALL:5>G4AAA <NAME:4>Paul <FREQ:6>14.075 "
       "<BAND:3>20m <MODE:3>FT8 <MY_GRIDSQUARE:4>IN97 <STATION_CALLSIGN:5>F4ABC "
       "<RST_SENT:3>-10 <EOR>"},
  };
  for (const auto& c : cases) {
    write_file(logbook_, format_header(kOwner) + format_qso_line(c.line));
    ASSERT_EQ(run({"-o", "-"}), kExitAllExported) << err_.str();
    const std::string adif = out_.str();
    const auto start = adif.find("<TIME_ON");
    ASSERT_NE(start, std::string::npos) << adif;
    EXPECT_EQ(adif.substr(start, adif.find('\n', start) - start), c.expected);
  }
}

// A record that a killed import wrote without its line is taken again, not
// written twice.
TEST_F(DetailsRoundTrip, ARecordLeftWithoutItsLineIsReused) {
  ASSERT_EQ(run({"--importe", data_file("wsjtx_log.adi")}), kExitAllExported) << err_.str();
  const std::string details = read_file(details_);
  const std::string logbook = read_file(logbook_);
  write_file(logbook_, format_header(kOwner));
  ASSERT_EQ(run({"--importe", data_file("wsjtx_log.adi")}), kExitAllExported) << err_.str();
  EXPECT_EQ(read_file(details_), details);
  EXPECT_EQ(read_file(logbook_), logbook);
}

TEST_F(DetailsRoundTrip, DetailsOfAnotherLogbookAreNeitherWrittenNorRead) {
  const std::string others =
      format_details_header({"F5OLD", "01-01-2020"}, "\n") +
      "<CALL:5>G4AAA<QSO_DATE:8>20260203<TIME_ON:4>0905<BAND:3>20m<MODE:3>FT8"
      "<APP_VELKRIN_CLASS:3>FT8<COMMENT:3>old<EOR>\n";
  write_file(details_, others);
  const std::string logbook =
      format_header(kOwner) +
      format_qso_line({"03-02-2026", 905, 910, "G4AAA", "Jean", 14074, "FT8", "Rennes"}) +
      format_qso_line({"04-02-2026", 905, 910, "G4BBB", "Paul", 14074, "FT8", "Rennes"});
  write_file(logbook_, logbook);
  write_file(folder_.file("in.adi"),
             "<CALL:5>G4CCC<QSO_DATE:8>20260205<TIME_ON:4>0905<FREQ:6>14.074<MODE:3>FT8"
             "<MY_CITY:6>Rennes<RST_SENT:3>-10<EOR>\n");

  EXPECT_EQ(run({"--importe", folder_.file("in.adi")}), kExitFailure);
  EXPECT_NE(err_.str().find("appartient a un autre journal (F5OLD, commence le 01-01-2020)"),
            std::string::npos)
      << err_.str();
  EXPECT_EQ(read_file(logbook_), logbook);
  EXPECT_EQ(read_file(details_), others);

  EXPECT_EQ(run({"--ecoute=127.0.0.1:2237"}), kExitFailure);
  EXPECT_NE(err_.str().find("appartient a un autre journal"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("l'ecoute n'a pas commence"), std::string::npos) << err_.str();

  ASSERT_EQ(run({"-o", "-"}), kExitAllExported) << err_.str();
  const std::string err = err_.str();
  const auto notice = err.find("appartient a un autre journal");
  ASSERT_NE(notice, std::string::npos) << err;
  EXPECT_EQ(err.find("appartient a un autre journal", notice + 1), std::string::npos) << err;
  EXPECT_EQ(records_of(out_.str()).size(), 2u);
  EXPECT_EQ(out_.str().find("COMMENT"), std::string::npos);
}

TEST_F(DetailsRoundTrip, TheExportNeverWritesOverTheDetailsFile) {
  write_file(logbook_, format_header(kOwner) + format_qso_line({"03-02-2026", 905, 910, "G4AAA",
                                                                "Jean", 14074, "FT8", "Rennes"}));
  const std::string others = folder_.file("autre.details.adi");
  for (const std::string& output :
       {details_, folder_.file("JOURNAL_DE_BORD.Details.adi"),
        (folder_.path() / "." / "journal_de_bord.details.adi").string()}) {
    EXPECT_EQ(run({"-o", output, "--force"}), kExitFailure) << output;
    EXPECT_NE(err_.str().find("est le fichier de details du journal"), std::string::npos)
        << err_.str();
    EXPECT_FALSE(std::filesystem::exists(output)) << output;
  }
  write_file(details_, format_details_header(kOwner, "\n"));
  EXPECT_EQ(run({"-o", details_, "--force"}), kExitFailure);
  EXPECT_EQ(read_file(details_), format_details_header(kOwner, "\n"));
  // Another logbook's details file is just a file.
  EXPECT_EQ(run({"-o", others}), kExitAllExported) << err_.str();
}

}  // namespace
}  // namespace velkrin::adif
