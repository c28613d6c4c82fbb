// platform::run_program against the TQSL stand-in, then the real TQSL (when
// installed) through the runner and the reading of its outcome. The real
// TQSL runs with HOME in a fresh temporary folder: it finds no certificate
// and no station location there, so that nothing can ever be signed or
// uploaded for a real account.
#include <gtest/gtest.h>

#include <string>

#include "adif/tqsl.hpp"
#include "platform/platform.hpp"
#include "support/temp_folder.hpp"

namespace velkrin::adif {
namespace {

using platform::program_request;
using platform::program_result;
using velkrin::testing::read_file;
using velkrin::testing::temp_folder;
using velkrin::testing::write_file;

program_request stand_in(std::vector<platform::environment_change> settings) {
  program_request request;
  request.program = VELKRIN_TQSL_STAND_IN;
  request.environment = std::move(settings);
  request.time_limit_ms = 30000;
  return request;
}

TEST(RunProgram, StatusOutputInputAndArguments) {
  temp_folder folder;
  program_request request = stand_in({{"VELKRIN_TQSL_STAND_IN_STATUS", "9"},
                                      {"VELKRIN_TQSL_STAND_IN_OUTPUT", "sur erreur\n"},
                                      {"VELKRIN_TQSL_STAND_IN_ECHO", "1"},
                                      {"VELKRIN_TQSL_STAND_IN_ARGUMENTS", folder.file("args")}});
  request.arguments = {"-l", "Maison F4ABC", "\"quoted\" \\", ""};
  // More than a pipe holds, so that input and output must flow together.
  request.input = std::string(300000, 'x') + "\n";
  program_result result;
  ASSERT_TRUE(platform::run_program(request, result).ok());
  EXPECT_EQ(result.exit_status, 9);
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.output, request.input + "sur erreur\n");
  EXPECT_EQ(read_file(folder.file("args")), "-l\nMaison F4ABC\n\"quoted\" \\\n\n");

  // Only the end of a long output is kept.
  request.output_limit = 1000;
  ASSERT_TRUE(platform::run_program(request, result).ok());
  EXPECT_TRUE(result.output_truncated);
  EXPECT_EQ(result.output, request.input.substr(request.input.size() - 989) + "sur erreur\n");
}

TEST(RunProgram, KillsAtTheTimeLimit) {
  program_request request = stand_in(
      {{"VELKRIN_TQSL_STAND_IN_SLEEP_MS", "20000"}, {"VELKRIN_TQSL_STAND_IN_OUTPUT", "avant\n"}});
  request.time_limit_ms = 300;
  program_result result;
  ASSERT_TRUE(platform::run_program(request, result).ok());
  EXPECT_TRUE(result.timed_out);
  EXPECT_EQ(result.exit_status, -1);
  EXPECT_EQ(result.output, "avant\n");
}

TEST(RunProgram, NotFoundIsAFailureValue) {
  temp_folder folder;
  program_request request;
  request.program = folder.file("absent");
  program_result result;
  const platform::status missing = platform::run_program(request, result);
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.reason(), "lancement : programme introuvable");

  write_file(folder.file("text"), "not a program\n");  // exists, not executable
  request.program = folder.file("text");
  EXPECT_FALSE(platform::run_program(request, result).ok());
  EXPECT_EQ(platform::find_program(folder.file("text")), "");
  EXPECT_EQ(platform::find_program("velkrin-no-such-program", {folder.file("absent")}), "");
  EXPECT_EQ(platform::find_program("velkrin-no-such-program", {VELKRIN_TQSL_STAND_IN}),
            VELKRIN_TQSL_STAND_IN);
}

// The real TQSL: without a display it ends at once with 255; with one
// (xvfb-run) it reports the unknown station location as a syntax error.
TEST(RealTqsl, NoDisplayThenUnknownLocation) {
  const std::string tqsl = platform::find_program(std::string(kTqslProgram));
  if (tqsl.empty()) GTEST_SKIP() << "tqsl is not installed (Debian package trustedqsl)";
  temp_folder home;
  const std::string adif = home.file("envoi.adi");
  write_file(adif,
             "<ADIF_VER:5>3.1.4 <EOH>\n<CALL:6>DL1XYZ <QSO_DATE:8>20260201 <TIME_ON:4>0905 "
             "<BAND:3>40m <MODE:3>SSB <EOR>\n");
  program_request request;
  request.program = tqsl;
  request.arguments = tqsl_upload_arguments("Velkrin essai", adif);
  request.environment = {
      {"HOME", home.path().string()}, {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}};
  request.time_limit_ms = 60000;
  request.output_limit = kTqslOutputLimit;
  program_result result;
  ASSERT_TRUE(platform::run_program(request, result).ok());
  tqsl_outcome outcome = interpret_tqsl_run(
      {result.exit_status, result.output, false, false, 60000, "Velkrin essai", 1});
  EXPECT_EQ(result.exit_status, kTqslNoDisplay) << result.output;
  EXPECT_EQ(outcome.kind, tqsl_outcome_kind::no_display) << outcome.message;

  const std::string xvfb_run = platform::find_program("xvfb-run");
  if (xvfb_run.empty()) GTEST_SKIP() << "xvfb-run is not installed (Debian package xvfb)";
  request.arguments.insert(request.arguments.begin(), {"-a", tqsl});
  request.program = xvfb_run;
  ASSERT_TRUE(platform::run_program(request, result).ok());
  outcome = interpret_tqsl_run(
      {result.exit_status, result.output, false, result.timed_out, 60000, "Velkrin essai", 1});
  EXPECT_EQ(result.exit_status, kTqslSyntaxError) << result.output;
  EXPECT_EQ(outcome.kind, tqsl_outcome_kind::location_unknown) << outcome.message;
  EXPECT_FALSE(outcome.signed_may_be_marked || outcome.duplicates_may_be_marked);
}

}  // namespace
}  // namespace velkrin::adif
