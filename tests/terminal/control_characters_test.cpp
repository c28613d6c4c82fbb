// Escape sequences in a logbook, an ADIF file, a datagram or an argument
// never reach the terminal: every command of velkrin-journal and
// velkrin-adif, the import and the live log run as built, and nothing they
// write holds a control character other than a line end.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "support/live_programs.hpp"
#include "support/run_program.hpp"
#include "support/temp_folder.hpp"
#include "wsjtx/datagram_builder.hpp"

namespace velkrin::testing {
namespace {

// A window title set, the screen cleared, red text, and the same by C1.
const std::string kTitle = "\x1B]0;PWNED\x07";
const std::string kClear = "\x1B[2J";
const std::string kRed = "\x1B[31m";
const std::string kC1 =
    "\xC2\x9B"
    "2J\xC2\x9D"
    "0;X\xC2\x9C";

// The first character that would act on a terminal, described; empty when
// there is none. Line ends are allowed, and only valid UTF-8.
std::string first_control(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
    if (byte >= 0x80 && (byte < 0xC2 || byte > 0xF4)) return "octet " + std::to_string(byte);
    if (i + length > text.size()) return "UTF-8 coupe";
    std::uint32_t code = length == 1 ? byte : byte & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return "UTF-8 invalide";
      code = (code << 6) | (next & 0x3F);
    }
    const bool line_end = code == '\n' || code == '\r';
    if ((code < 0x20 && !line_end) || (code >= 0x7F && code <= 0x9F) ||
        (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069)) {
      return "U+" + std::to_string(code) + " a l'octet " + std::to_string(i);
    }
    i += length;
  }
  return "";
}

// "<name:length>value".
std::string field(const std::string& name, const std::string& value) {
  return "<" + name + ":" + std::to_string(value.size()) + ">" + value;
}

std::string hostile_adif() {
  const std::string qso = field("qso_date", "20260203") + field("freq", "14.074");
  return "<adif_ver:5>3.1.4<eoh>\n" + field("call", "F4ABC") + qso + field("time_on", "0905") +
         field("mode", "FT8") + field("station_callsign", "F5XYZ") +
         field("my_city", kTitle + kClear) + "<eor>\n" + field("call", "F4" + kClear + "AB") + qso +
         field("time_on", "0910") + field("mode", kRed) + "<eor>\n" + field("call", "G4AAA") +
         field("qso_date", "2026" + kClear) + field("freq", kTitle) + field("mode", kC1) +
         "<eor>\n" + field("x" + kClear, "a") + "<eor>\n" + field("call", "G4AAB") + qso +
         field("time_on", "0920") + field("mode", "FT8") +
         field("my_city",
               "\xE2\x80\xAE"
               "exe.txt") +
         "<comment:999>" + kTitle;
}

class ControlCharacters : public ::testing::Test {
 protected:
  void SetUp() override {
    const program_run made =
        run_program(program_command(VELKRIN_DEFAULT_PROGRAM), folder_.path().string(),
                    "4\n1\nF5XYZ 01-01-2026\n1\n0\n0\n");
    ASSERT_EQ(made.status, 0);
    // Each word of a line may hold anything but a blank.
    const std::string lines =
        "01-02-2026 905 930 F4ABC " + kTitle + " 14074 kHz " + kRed + "FT8 " + kC1 + "\n" +
        "01-02-2026 906 930 F4ABC " + kTitle + " 14074 kHz " + kRed + "FT8 \xE2\x81\xA6x\n" +
        "01-02-2026 1000 930 F4ABC Jo 7055 kHz " + kC1 + " Lieu" + kClear + "\n" + "02-02-2026 9" +
        kClear + " 930 F4ABC Jo 7055 kHz J3E Paris\n" + "02-02-2026 905 930 F4ABC Jo " + kTitle +
        " kHz J3E Paris\n" + "03-02-2026\x07 905 930 G4" + kClear + "AA Jo 7055 kHz J3E Paris\n" +
        kClear + kTitle + "\n";
    write_file(folder_.file("journal_de_bord.txt"),
               read_file(folder_.file("journal_de_bord.txt")) + lines);
    write_file(folder_.file("hostile.adi"), hostile_adif());
  }
  program_run run(const char* variable, const char* built, const std::vector<std::string>& args) {
    return run_program(program_command(built, variable, args), folder_.path().string(), "");
  }
  temp_folder folder_;
};

TEST_F(ControlCharacters, NoCommandWritesThemRaw) {
  const std::vector<std::vector<std::string>> journal_runs = {
      {"liste"},
      {"liste", "--court", "--lieu", "*" + kClear + "*"},
      {"indicatif", "F4ABC"},
      {"indicatif", "F4" + kClear + "AB"},
      {"doublons"},
      {"verifie"},
      {"stats"},
      {"stats", "--mode", kRed},
      {"csv"},
      {"csv", "--excel"},
      {"csv", "-o", "sortie" + kClear + ".csv"},
      {"csv", "-o", "sortie" + kClear + ".csv"},  // refused: it exists
      {"stats", "absent" + kTitle + ".txt"},
      {"liste", "--bande", kClear},
      {"liste", "--du", kTitle},
      {kTitle},
      {"--" + kClear},
  };
  const std::vector<std::vector<std::string>> adif_runs = {
      {"-o", "-"},
      {"--force"},
      {"--importe", "hostile.adi", "--simulation"},
      {"--importe", "hostile.adi", "--autre-indicatif"},
      {"--importe", "absent" + kClear + ".adi"},
      {"--importe", "hostile.adi", "journal" + kTitle + ".txt"},
      {"--du", kClear},
      {"--ecoute=" + kTitle},
      {"--classe", kRed + "=J3E"},
      {"--" + kC1},
  };
  const auto each_run = [&](const char* variable, const char* built, const auto& runs) {
    for (const auto& args : runs) {
      const program_run done = run(variable, built, args);
      EXPECT_NE(done.status, -1);
      EXPECT_EQ(first_control(done.out), "") << args[0] << " " << args.size() << "\n" << done.out;
      EXPECT_EQ(first_control(done.err), "") << args[0] << " " << args.size() << "\n" << done.err;
    }
  };
  each_run("VELKRIN_JOURNAL_PROGRAM", VELKRIN_JOURNAL_PROGRAM, journal_runs);
  each_run("VELKRIN_ADIF_PROGRAM", VELKRIN_ADIF_PROGRAM, adif_runs);
  // What the terminal shows instead: the sequence, visibly.
  const program_run checked = run("VELKRIN_JOURNAL_PROGRAM", VELKRIN_JOURNAL_PROGRAM, {"verifie"});
  EXPECT_NE(checked.out.find("debut \"9^[[2J\" n'est pas un nombre entier"), std::string::npos)
      << checked.out;
}

// The live log: a "Logged ADIF" and a "QSO Logged" datagram full of escape
// sequences, then garbage; ended by Ctrl-C.
TEST_F(ControlCharacters, TheLiveLogWritesThemNeitherRaw) {
  const std::uint16_t port = free_udp_port();
  ASSERT_NE(port, 0);
  background_program listening(
      program_command(VELKRIN_ADIF_PROGRAM, "VELKRIN_ADIF_PROGRAM",
                      {"--ecoute=127.0.0.1:" + std::to_string(port), "--lieu-par-defaut", kClear}),
      folder_.path().string());
  ASSERT_TRUE(listening.wait_for("A l'ecoute")) << listening.raw_err();
  const datagram_sender sender;
  const auto send = [&](const std::string& bytes) { sender.send(bytes, "127.0.0.1", port); };
  using wsjtx::testing::datagram;
  send(datagram().header(12).utf8(hostile_adif()).bytes());
  send(datagram()
           .header(5)
           .date_time(wsjtx::testing::kJulianDay20260201, 32'790'000)
           .utf8("F4" + kClear + "AB")
           .utf8(kTitle)
           .u64(14'074'000)
           .utf8(kRed)
           .utf8(kC1)
           .utf8("-12")
           .utf8("50")
           .utf8(kTitle)
           .utf8(kTitle)
           .date_time(wsjtx::testing::kJulianDay20260201, 32'715'000)
           .utf8(kClear)
           .utf8("F5XYZ" + kTitle)
           .utf8(kC1)
           .utf8(kTitle)
           .utf8(kTitle)
           .utf8(kTitle)
           .bytes());
  send(kTitle + "garbage");
  ASSERT_TRUE(listening.wait_for("Datagramme ignore")) << listening.raw_err();
  listening.stop();
  const std::string out = listening.raw_out();
  const std::string err = listening.raw_err();
  EXPECT_NE(out + err, "");
  EXPECT_EQ(first_control(out), "") << out;
  EXPECT_EQ(first_control(err), "") << err;
}

}  // namespace
}  // namespace velkrin::testing
