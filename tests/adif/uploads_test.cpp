#include "adif/uploads.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "adif/command_line.hpp"
#include "logbook/details_file.hpp"
#include "logbook/line_format.hpp"
#include "support/temp_folder.hpp"

namespace velkrin::adif {
namespace {

using velkrin::testing::read_file;
using velkrin::testing::temp_folder;
using velkrin::testing::write_file;

const logbook_header kOwner{"F4ABC", "01-01-2026"};
const qso_record kQsos[] = {
    {"05-01-2026", 1430, 1440, "W1ABC", "John", 14200, "J3E", "Paris"},
    {"05-01-2026", 1512, 1520, "W1ABC", "John", 14210, "J3E", "Paris"},
    {"10-01-2026", 612, 620, "VK2XYZ", "Bob", 7018, "A1A", "Paris"},
};

class UploadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logbook_ = folder_.file("journal_de_bord.txt");
    write_logbook(std::begin(kQsos), std::end(kQsos));
  }
  void write_logbook(const qso_record* begin, const qso_record* end) {
    std::string text = format_header(kOwner);
    for (auto qso = begin; qso != end; ++qso) text += format_qso_line(*qso);
    write_file(logbook_, text);
  }
  int run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    args.push_back(logbook_);
    return run_velkrin_adif(args, out_, err_);
  }
  std::string sent_file(std::string_view service) {
    return folder_.file("journal_de_bord." + std::string(service) + ".adi");
  }
  // How many records --nouveaux SERVICE writes.
  std::size_t new_count(std::string_view service) {
    const int status = run({"--nouveaux", std::string(service)});
    EXPECT_EQ(status, kExitAllExported) << err_.str();
    if (err_.str().starts_with("Aucun QSO nouveau")) return 0;
    std::size_t count = 0;
    const std::string text = read_file(sent_file(service));
    for (auto at = text.find("<EOR>"); at != std::string::npos; at = text.find("<EOR>", at + 1)) {
      ++count;
    }
    return count;
  }
  std::string details_value(const qso_record& qso, std::string_view name) {
    details_reader reader;
    reader.open(logbook_);
    reader.load(&kOwner);
    const details_record* found = reader.find(*details_key_of(qso));
    const std::string* value = found ? found->find(name) : nullptr;
    return value ? *value : "(absent)";
  }

  temp_folder folder_;
  std::string logbook_;
  std::ostringstream out_, err_;
};

TEST_F(UploadsTest, RoundSendsEachQsoOnceAndAgainOnlyWhenWhatTheServiceKeepsChanged) {
  ASSERT_EQ(new_count("lotw"), 3u);
  const std::string file = sent_file("lotw");
  ASSERT_EQ(run({"--marque-envoye", "lotw", file}), kExitAllExported) << err_.str();
  EXPECT_NE(err_.str().find("LoTW : 3 QSO marques envoyes le "), std::string::npos) << err_.str();
  EXPECT_EQ(details_value(kQsos[2], "LOTW_QSL_SENT"), "Y");
  EXPECT_EQ(details_value(kQsos[2], "APP_VELKRIN_LOTW_DIGEST").size(), 16u);
  EXPECT_EQ(new_count("lotw"), 0u);
  EXPECT_EQ(new_count("eqsl"), 3u);  // each service on its own

  // Marking the same file again changes nothing.
  ASSERT_EQ(run({"--marque-envoye", "lotw", file}), kExitAllExported);
  EXPECT_NE(err_.str().find("0 QSO marque envoye le "), std::string::npos);
  EXPECT_NE(err_.str().find("3 deja marques"), std::string::npos);

  // A name LoTW does not keep, and a band it does.
  ASSERT_EQ(run({"--nouveaux", "clublog"}), kExitAllExported);
  ASSERT_EQ(run({"--marque-envoye", "clublog", sent_file("clublog")}), kExitAllExported);
  qso_record changed[] = {kQsos[0], kQsos[1], kQsos[2]};
  changed[0].prenom = "Johnny";
  changed[2].frequence = 10118;
  write_logbook(std::begin(changed), std::end(changed));
  EXPECT_EQ(new_count("lotw"), 1u);
  EXPECT_NE(read_file(sent_file("lotw")).find("<BAND:3>30m"), std::string::npos);
  EXPECT_EQ(new_count("clublog"), 2u);
}

TEST_F(UploadsTest, MarkingLeavesTheQsosChangedSinceTheExportOrAbsent) {
  ASSERT_EQ(new_count("qrz"), 3u);
  qso_record changed[] = {kQsos[0], kQsos[2]};  // the second QSO removed
  changed[1].mode = "F1B";                      // the third changed
  write_logbook(std::begin(changed), std::end(changed));
  ASSERT_EQ(run({"--marque-envoye", "qrz", sent_file("qrz")}), kExitLinesReported);
  EXPECT_NE(err_.str().find("W1ABC le 05-01-2026 a 15:12 : absent du journal, non marque"),
            std::string::npos)
      << err_.str();
  EXPECT_NE(err_.str().find("VK2XYZ le 10-01-2026 a 06:12 : modifie dans le journal depuis "
                            "l'export, non marque"),
            std::string::npos);
  EXPECT_NE(err_.str().find("QRZ : 1 QSO marque envoye le "), std::string::npos);
  EXPECT_EQ(details_value(kQsos[0], "QRZCOM_QSO_UPLOAD_STATUS"), "Y");
  EXPECT_EQ(details_value(kQsos[2], "QRZCOM_QSO_UPLOAD_STATUS"), "(absent)");
}

// --lotw with a stand-in for TQSL, which answers as TQSL does with a
// certificate: what each answer marks.
TEST_F(UploadsTest, LotwRoundMarksWhatTqslSignedOrLotwHadNeverWhatItLeftOut) {
  const std::string arguments = folder_.file("arguments.txt");
  const auto stand_in = [&](int status, const std::string& output) {
#ifdef _WIN32
    _putenv_s("VELKRIN_TQSL_STAND_IN_STATUS", std::to_string(status).c_str());
    _putenv_s("VELKRIN_TQSL_STAND_IN_OUTPUT", output.c_str());
    _putenv_s("VELKRIN_TQSL_STAND_IN_ARGUMENTS", arguments.c_str());
#else
    setenv("VELKRIN_TQSL_STAND_IN_STATUS", std::to_string(status).c_str(), 1);
    setenv("VELKRIN_TQSL_STAND_IN_OUTPUT", output.c_str(), 1);
    setenv("VELKRIN_TQSL_STAND_IN_ARGUMENTS", arguments.c_str(), 1);
#endif
  };
  const std::string start = "TQSL Version 2.6.5 [unknown]\nSigning using Callsign F4ABC\n\n";
  const std::string duplicate =
      "Already Uploaded QSO suppressed on line 8\nCALL: W1ABC\nQSO_DATE: 20260105\n"
      "TIME_ON: 1430\nBAND: 20m\nMODE: SSB\n\n";
  const std::string out_of_range =
      "QSO date is not within the date range specified on your Callsign Certificate on line 10\n"
      "CALL: VK2XYZ\nQSO_DATE: 20260110\nTIME_ON: 0612\nBAND: 40m\nMODE: CW\n\n";
  const auto lotw = [&] { return run({"--lotw", "Maison", "--tqsl", VELKRIN_TQSL_STAND_IN}); };

  // A location TQSL does not know: nothing marked.
  stand_in(10, start +
                   "The selected station location could not be found\n"
                   "Final Status: Command Syntax Error(10)\n");
  EXPECT_EQ(lotw(), kExitFailure);
  EXPECT_NE(err_.str().find("Aucun QSO n'est marque"), std::string::npos) << err_.str();
  EXPECT_EQ(read_file(arguments),
            "-d\n-u\n-a\ncompliant\n-x\n-l\nMaison\n" + sent_file("lotw") + "\n");
  EXPECT_EQ(new_count("lotw"), 3u);

  // One already uploaded, one out of the certificate's dates, one signed.
  stand_in(9, start + duplicate + out_of_range +
                  "Attempting to upload one QSO\nFinal Status: Some QSOs suppressed(9)\n");
  EXPECT_EQ(lotw(), kExitLinesReported) << err_.str();
  EXPECT_NE(err_.str().find("LoTW : 2 QSO marques envoyes le "), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("1 refuse par LoTW"), std::string::npos);
  EXPECT_EQ(details_value(kQsos[0], "LOTW_QSL_SENT"), "Y");
  EXPECT_EQ(details_value(kQsos[1], "LOTW_QSL_SENT"), "Y");
  EXPECT_EQ(details_value(kQsos[2], "LOTW_QSL_SENT"), "(absent)");

  // The QSO left out goes again; this time it is signed.
  stand_in(0, start + "Attempting to upload one QSO\nFinal Status: Success(0)\n");
  EXPECT_EQ(lotw(), kExitAllExported) << err_.str();
  EXPECT_EQ(details_value(kQsos[2], "LOTW_QSL_SENT"), "Y");
  EXPECT_EQ(lotw(), kExitAllExported);
  EXPECT_NE(err_.str().find("Aucun QSO nouveau pour LoTW"), std::string::npos);
}

TEST(UploadRules, StatusesOfOtherProgramsAndOrderOfFields) {
  const adif_record record{{"CALL", "W1ABC"}, {"QSO_DATE", "20260105"}, {"BAND", "20m"}};
  const adif_record reordered{{"BAND", "20m"}, {"call", "W1ABC"}, {"QSO_DATE", "20260105"}};
  const std::uint64_t digest = sent_digest(upload_service::lotw, record);
  EXPECT_EQ(digest, sent_digest(upload_service::lotw, reordered));
  EXPECT_NE(digest, sent_digest(upload_service::lotw,
                                adif_record{{"CALL", "W1ABC"}, {"QSO_DATE", "20260105"}}));
  const struct {
    std::vector<details_field> fields;
    bool to_send;
  } cases[] = {
      {{}, true},
      {{{"LOTW_QSL_SENT", "Y"}}, false},  // sent by another program
      {{{"LOTW_QSL_SENT", "N"}}, false},
      {{{"LOTW_QSL_SENT", "I"}}, false},
      {{{"LOTW_QSL_SENT", "R"}}, true},
      {{{"LOTW_QSL_SENT", "Q"}}, true},
      {{{"LOTW_QSL_SENT", "Y"}, {"APP_VELKRIN_LOTW_DIGEST", digest_text(digest)}}, false},
      {{{"LOTW_QSL_SENT", "Y"}, {"APP_VELKRIN_LOTW_DIGEST", digest_text(digest + 1)}}, true},
  };
  for (const auto& c : cases) {
    details_record details;
    details.fields = c.fields;
    EXPECT_EQ(is_to_send(upload_service::lotw, &details, digest), c.to_send)
        << (c.fields.empty() ? "" : c.fields[0].value);
  }
  // LoTW and eQSL take no QSO without a band; Club Log and QRZ do.
  const adif_record unbanded{{"CALL", "W1ABC"}, {"FREQ", "14.400"}};
  EXPECT_NE(upload_refusal(upload_service::lotw, unbanded), "");
  EXPECT_NE(upload_refusal(upload_service::eqsl, unbanded), "");
  EXPECT_EQ(upload_refusal(upload_service::qrz, unbanded), "");
  EXPECT_EQ(upload_refusal(upload_service::lotw, record), "");
  details_record clublog;
  clublog.fields = {{"CLUBLOG_QSO_UPLOAD_STATUS", "M"}};
  EXPECT_TRUE(is_to_send(upload_service::clublog, &clublog, digest));
}

}  // namespace
}  // namespace velkrin::adif
