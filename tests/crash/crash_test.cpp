// Each operation that writes a file is run once per system call it makes,
// killed at that call (strace's fault injection delivers SIGKILL on entry),
// and the file is then either as it was or complete, never empty or partial;
// the next run, not killed, must leave no temporary file behind. A second
// pass makes each write, flush, rename, link and close fail in turn: the
// program may report a failure, but a success it reports must be true and it
// must leave nothing behind.
//
// Needs strace (scripts/check.sh installs it); skipped without it.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.hpp"
#include "support/temp_folder.hpp"

namespace velkrin::testing {
namespace {

namespace fs = std::filesystem;

const std::string kRule(96, '-');
std::string header_for(const std::string& owner) {
  std::string call = owner + std::string(12 - owner.size(), ' ');
  return kRule + "\nJournal de Bord de : " + call +
         " .   Date de debut du Journal : 01-02-2026   .\n" + "En Heure Universelle (UTC)\n" +
         kRule + "\n" +
         "Date      ;  Debut;  Fin  ;    Indicatif;  Prenom        ; Frequence;   Mode;  Lieu "
         "d'emission; \n" +
         kRule + "\n";
}
const std::string kQsoLine =
    "01-02-2026    905    930       DL1XYZ      Hans              7055 kHz   J3E    Paris_15"
    "                 \n";
const std::string kQsoSession = "1\n01-02-2026 0905 930 DL1XYZ Hans 7055 J3E Paris_15\n1\n0\n5\n";
const std::string kHeaderSession = "4\n1\nF5XYZ 01-02-2026\n1\n5\n";
const std::string kLogbook = "journal_de_bord.txt";
// A fault found at one call is often found again at the next ones.
constexpr int kMaxFaultsShown = 3;
const std::string kExport = "journal_de_bord.adi";
const std::string kImported = "in.adi";
const std::string kImportedRecord =
    "<CALL:5>G4ABC<QSO_DATE:8>20260202<TIME_ON:4>1200<FREQ:6>14.074<MODE:3>FT8"
    "<MY_GRIDSQUARE:4>JN18<EOR>\n";
const std::string kImportedLine =
    "02-02-2026   1200    1200      G4ABC       -                14074 kHz   FT8    JN18"
    "                     \n";

// Which program an operation runs.
enum class program { velkrin, adif, journal };

// The contents of the files an operation writes, in the order of
// operation::written; nullopt for an absent file.
using file_states = std::vector<std::optional<std::string>>;

// One operation: the folder it starts from, the command and its input, the
// files it writes and the contents they may hold afterwards.
struct operation {
  std::string name;
  std::map<std::string, std::string> files;  // the folder before the run
  program runs = program::velkrin;
  std::vector<std::string> arguments;
  std::string input;
  std::vector<std::string> written;  // the files the operation writes
  file_states complete;              // after a whole run; empty: as a clean run leaves them
  // The states a kill may leave between old and complete, made from both.
  std::function<std::vector<file_states>(const file_states& old, const file_states& complete)>
      between;
};

void PrintTo(const operation& op, std::ostream* out) { *out << op.name; }

const std::string kDetails = "journal_de_bord.details.adi";
const std::string kDetailedRecord =
    "<CALL:5>G4ABC<QSO_DATE:8>20260202<TIME_ON:6>120015<FREQ:9>14.074123<MODE:3>FT8"
    "<MY_GRIDSQUARE:4>JN18<RST_SENT:3>-10<RST_RCVD:3>-05<GRIDSQUARE:4>IO91<EOR>\n";

const std::string kReport = "lotwreport.adi";
const std::string kReportText =
    "ARRL Logbook of the World Status Report\n<eoh>\n"
    "<STATION_CALLSIGN:5>F4ABC<CALL:5>G4ABC<BAND:3>20M<MODE:3>FT8<QSO_DATE:8>20260202"
    "<TIME_ON:6>120000<QSL_RCVD:1>Y<QSLRDATE:8>20260210<APP_LoTW_RXQSL:19>2026-02-10 10:00:00"
    "<DXCC:3>223<eor>\n"
    "<STATION_CALLSIGN:5>F4ABC<CALL:6>DL1XYZ<BAND:3>40M<MODE:3>SSB<QSO_DATE:8>20260201"
    "<TIME_ON:4>0905<QSL_RCVD:1>Y<QSLRDATE:8>20260211<eor>\n";

// The file that --nouveaux lotw writes for the logbook `two` below, as sent.
const std::string kSent = "journal_de_bord.lotw.adi";
const std::string kSentText =
    "Export\n<EOH>\n"
    "<QSO_DATE:8>20260202 <TIME_ON:4>1200 <TIME_OFF:4>1200 <CALL:5>G4ABC <FREQ:6>14.074 "
    "<BAND:3>20m <MODE:3>FT8 <MY_GRIDSQUARE:4>JN18 <STATION_CALLSIGN:5>F4ABC <RST_SENT:3>-10 "
    "<EOR>\n"
    "<QSO_DATE:8>20260201 <TIME_ON:4>0905 <TIME_OFF:4>0930 <CALL:6>DL1XYZ <NAME:4>Hans "
    "<FREQ:5>7.055 <BAND:3>40m <MODE:3>SSB <SUBMODE:3>LSB <MY_CITY:8>Paris 15 "
    "<STATION_CALLSIGN:5>F4ABC <EOR>\n";

// The details file's last record, with its line end.
std::string last_record(const std::string& details) {
  const std::size_t end = details.rfind('\n', details.size() - 2);
  return details.substr(end == std::string::npos ? 0 : end + 1);
}

std::vector<operation> operations() {
  const std::string logbook = header_for("F4ABC") + kQsoLine + kQsoLine;
  // A logbook whose details file the journal's commands change.
  const std::string two = header_for("F4ABC") + kImportedLine + kQsoLine;
  const std::string details =
      "Details\n<PROGRAMID:7>Velkrin<APP_VELKRIN_LOGBOOK_OWNER:5>F4ABC"
      "<APP_VELKRIN_LOGBOOK_START:10>01-02-2026<EOH>\n"
      "<CALL:5>G4ABC<QSO_DATE:8>20260202<TIME_ON:4>1200<BAND:3>20m<MODE:3>FT8"
      "<APP_VELKRIN_CLASS:3>FT8<RST_SENT:3>-10<EOR>\n";
  // Whatever a kill leaves of the details alone, the logbook as it was.
  const auto details_first = [](const file_states& old, const file_states& complete) {
    return std::vector<file_states>{{old[0], complete[1]}};
  };
  return {
      {"append",
       {{kLogbook, logbook}},
       program::velkrin,
       {},
       kQsoSession,
       {kLogbook},
       {logbook + kQsoLine},
       {}},
      {"header_in_place",
       {{kLogbook, logbook}},
       program::velkrin,
       {},
       kHeaderSession,
       {kLogbook},
       {header_for("F5XYZ") + kQsoLine + kQsoLine},
       {}},
      {"header_through_copy",
       {{kLogbook, "fait a la main\n" + kQsoLine}},
       program::velkrin,
       {},
       kHeaderSession,
       {kLogbook},
       {header_for("F5XYZ") + "fait a la main\n" + kQsoLine},
       {}},
      {"creation", {}, program::velkrin, {}, kHeaderSession, {kLogbook}, {header_for("F5XYZ")}, {}},
      {"export", {{kLogbook, logbook}}, program::adif, {}, "", {kExport}, {}, {}},
      {"export_forced",
       {{kLogbook, logbook}, {kExport, "ancien export\n"}},
       program::adif,
       {"--force"},
       "",
       {kExport},
       {},
       {}},
      {"import",
       {{kLogbook, logbook}, {kImported, kImportedRecord}},
       program::adif,
       {"--importe", kImported},
       "",
       {kLogbook},
       {logbook + kImportedLine},
       {}},
      // The details are written first, the logbook's new lines next.
      {"import_details",
       {{kLogbook, logbook}, {kImported, kDetailedRecord}},
       program::adif,
       {"--importe", kImported},
       "",
       {kLogbook, kDetails},
       {},
       details_first},
      {"import_details_append",
       {{kLogbook, logbook}, {kImported, kDetailedRecord}, {kDetails, details}},
       program::adif,
       {"--importe", kImported},
       "",
       {kLogbook, kDetails},
       {},
       details_first},
      {"complete",
       {{kLogbook, two}, {kDetails, details}},
       program::journal,
       {"complete", "7", "RST_SENT=59"},
       "",
       {kLogbook, kDetails},
       {},
       {}},
      // The details under both keys, then the logbook, then the old key dropped.
      {"correct",
       {{kLogbook, two}, {kDetails, details}},
       program::journal,
       {"corrige", "7", "indicatif=G4ABD"},
       "",
       {kLogbook, kDetails},
       {},
       [](const file_states& old, const file_states& complete) {
         const std::string both = *old[1] + last_record(*complete[1]);
         return std::vector<file_states>{{old[0], both}, {complete[0], both}};
       }},
      // The details file rewritten whole: a record changed, one added, the header.
      {"confirmations",
       {{kLogbook, two}, {kDetails, details}, {kReport, kReportText}},
       program::adif,
       {"--confirmations", kReport},
       "",
       {kDetails},
       {},
       {}},
      {"confirmations_new_details",
       {{kLogbook, two}, {kReport, kReportText}},
       program::adif,
       {"--confirmations", kReport},
       "",
       {kDetails},
       {},
       {}},
      // The same rewrite marks the QSOs of a file as sent.
      {"mark_sent",
       {{kLogbook, two}, {kDetails, details}, {kSent, kSentText}},
       program::adif,
       {"--marque-envoye", "lotw", kSent},
       "",
       {kDetails},
       {},
       {}},
      {"remove",
       {{kLogbook, two}, {kDetails, details}},
       program::journal,
       {"supprime", "7"},
       "",
       {kLogbook, kDetails},
       {},
       [](const file_states& old, const file_states& complete) {
         return std::vector<file_states>{{complete[0], old[1]}};
       }},
  };
}

// The creation time of an export, the only part that changes between runs.
std::string without_timestamp(std::string adif) {
  constexpr std::string_view kField = "<CREATED_TIMESTAMP:15>";
  if (const auto at = adif.find(kField); at != std::string::npos) {
    adif.replace(at + kField.size(), 15, 15, '#');
  }
  return adif;
}

// The names of the system calls of a trace, in order.
std::vector<std::string> calls_in(const std::string& trace) {
  std::vector<std::string> calls;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    std::size_t at = line.find_first_not_of("0123456789 ");
    if (at == std::string::npos || line.compare(at, 3, "---") == 0 ||
        line.compare(at, 3, "+++") == 0 || line.find("resumed>") != std::string::npos) {
      continue;
    }
    const std::size_t paren = line.find('(', at);
    if (paren == std::string::npos) continue;
    calls.push_back(line.substr(at, paren - at));
  }
  return calls;
}

class CrashTest : public ::testing::TestWithParam<operation> {
 protected:
  void SetUp() override {
    if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is missing";
  }

  // The operation under strace; `next` for the run after a killed one,
  // which may meet a complete export already there.
  std::vector<std::string> command(const std::vector<std::string>& strace_options,
                                   bool next = false) const {
    std::vector<std::string> words{"strace", "-f", "-qq"};
    words.insert(words.end(), strace_options.begin(), strace_options.end());
    words.push_back("--");
    const program runs = GetParam().runs;
    words.push_back(runs == program::adif      ? VELKRIN_ADIF_PROGRAM
                    : runs == program::journal ? VELKRIN_JOURNAL_PROGRAM
                                               : VELKRIN_PROGRAM);
    words.insert(words.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    if (next && GetParam().written[0] == kExport) words.push_back("--force");
    return words;
  }

  // A fresh folder holding the operation's starting files.
  void reset(const temp_folder& folder) const {
    for (const auto& entry : fs::directory_iterator(folder.path())) fs::remove_all(entry.path());
    for (const auto& [name, bytes] : GetParam().files) write_file(folder.file(name), bytes);
  }

  std::vector<std::string> names(const temp_folder& folder) const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  // The names a run may leave: the starting files and the written ones
  // that `states` holds.
  std::vector<std::string> expected_names(const file_states& states) const {
    std::set<std::string> expected;
    for (std::size_t i = 0; i < states.size(); ++i) {
      if (states[i]) expected.insert(GetParam().written[i]);
    }
    for (const auto& entry : GetParam().files) expected.insert(entry.first);
    return {expected.begin(), expected.end()};
  }

  // The written files' contents.
  file_states written(const temp_folder& folder) const {
    file_states states;
    for (const std::string& name : GetParam().written) {
      const std::string path = folder.file(name);
      states.push_back(fs::exists(path) ? std::optional(without_timestamp(read_file(path)))
                                        : std::nullopt);
    }
    return states;
  }

  // Their contents before the operation.
  file_states old() const {
    file_states states;
    for (const std::string& name : GetParam().written) {
      const auto found = GetParam().files.find(name);
      states.push_back(found == GetParam().files.end() ? std::nullopt
                                                       : std::optional(found->second));
    }
    return states;
  }

  // The states a run may leave: old, complete, and those between them.
  std::vector<file_states> allowed(const file_states& complete) const {
    std::vector<file_states> states{old(), complete};
    if (GetParam().between) {
      for (auto& state : GetParam().between(old(), complete)) states.push_back(std::move(state));
    }
    return states;
  }
};

std::string shown(const file_states& states) {
  std::string text;
  for (const auto& state : states) text += (state ? *state : "(absent)") + "\n---\n";
  return text;
}

bool is_one_of(const file_states& state, const std::vector<file_states>& states) {
  return std::find(states.begin(), states.end(), state) != states.end();
}

TEST_P(CrashTest, KilledAtAnyCallLeavesOldOrCompleteAndNothingAfterTheNextRun) {
  const operation& op = GetParam();
  temp_folder folder;
  reset(folder);
  const std::string trace = folder.file("../" + folder.path().filename().string() + ".trace");
  const program_run clean = run_program(command({"-o", trace}), folder.path().string(), op.input);
  ASSERT_EQ(clean.status, 0) << clean.err;
  const file_states complete = op.complete.empty() ? written(folder) : op.complete;
  ASSERT_EQ(written(folder), complete);
  const std::vector<file_states> states = allowed(complete);
  const std::vector<std::string> calls = calls_in(read_file(trace));
  fs::remove(trace);
  ASSERT_GT(calls.size(), 20u);

  std::map<std::string, int> seen;
  int faults = 0;
  for (std::size_t index = 0; index < calls.size(); ++index) {
    const std::string& call = calls[index];
    const int occurrence = ++seen[call];
    SCOPED_TRACE("killed at call " + std::to_string(index + 1) + " of " +
                 std::to_string(calls.size()) + ": " + call + " #" + std::to_string(occurrence));
    reset(folder);
    (void)run_program(
        command({"-o", "/dev/null", "-e", "trace=" + call, "-e",
                 "inject=" + call + ":signal=KILL:when=" + std::to_string(occurrence)}),
        folder.path().string(), op.input);
    const file_states after = written(folder);
    const bool old_or_complete = is_one_of(after, states);

    // The next run does the same work and removes what the killed one left.
    const program_run next =
        run_program(command({"-o", "/dev/null"}, true), folder.path().string(), op.input);
    const bool clean_after = next.status == 0 && names(folder) == expected_names(complete);
    if (old_or_complete && clean_after) continue;
    // Every faulty point is counted; the first few are shown.
    if (++faults > kMaxFaultsShown) continue;
    EXPECT_TRUE(old_or_complete) << "partial:\n" << shown(after);
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(names(folder), expected_names(complete));
  }
  RecordProperty("crash_points", static_cast<int>(calls.size()));
  std::cout << op.name << ": " << calls.size() << " crash points, " << faults << " faulty\n";
}

TEST_P(CrashTest, FailedWriteFlushRenameOrCloseIsReportedAndLeavesNothing) {
  const operation& op = GetParam();
  temp_folder folder;
  reset(folder);
  const program_run clean =
      run_program(command({"-o", "/dev/null"}), folder.path().string(), op.input);
  ASSERT_EQ(clean.status, 0) << clean.err;
  const file_states complete = op.complete.empty() ? written(folder) : op.complete;
  const std::vector<file_states> states = allowed(complete);

  const std::string failing =
      "write,pwrite64,writev,fsync,fdatasync,rename,renameat,renameat2,"
      "link,linkat,close,ftruncate,fchmod,fchown";
  const std::string trace = folder.path().string() + ".trace";
  reset(folder);
  (void)run_program(command({"-o", trace, "-e", "trace=" + failing}), folder.path().string(),
                    op.input);
  const std::vector<std::string> calls = calls_in(read_file(trace));
  fs::remove(trace);
  std::map<std::string, int> seen;
  for (const std::string& call : calls) {
    const int occurrence = ++seen[call];
    SCOPED_TRACE(call + " #" + std::to_string(occurrence) + " fails");
    reset(folder);
    const std::string error = call.find("write") != std::string::npos ? "ENOSPC" : "EIO";
    const program_run run = run_program(
        command({"-o", "/dev/null", "-e", "trace=" + call, "-e",
                 "inject=" + call + ":error=" + error + ":when=" + std::to_string(occurrence)}),
        folder.path().string(), op.input);
    const file_states after = written(folder);
    // Any other status (the loader's 127, say) means it never ran.
    const bool reported_success =
        op.runs == program::adif ? run.status == 0 || run.status == 1 : run.status == 0;
    if (reported_success) {
      EXPECT_EQ(after, complete) << run.err;
    } else {
      EXPECT_TRUE(is_one_of(after, states)) << shown(after);
    }
    EXPECT_EQ(names(folder), expected_names(after));
    if (HasFailure()) break;
  }
}

// Ctrl-C, SIGTERM or SIGHUP at the first flush (of the temporary file, for a
// rewrite through a copy, a creation or an export): the program removes its
// temporary file and ends by that signal, without a next run to clean up.
TEST_P(CrashTest, SignalRemovesTheTemporaryFileAndEndsTheProgramByItself) {
  const operation& op = GetParam();
  temp_folder folder;
  reset(folder);
  const file_states complete =
      op.complete.empty()
          ? (run_program(command({"-o", "/dev/null"}), folder.path().string(), op.input),
             written(folder))
          : op.complete;
  // An export's complete state is not known without its timestamp: only
  // the old one is allowed there.
  std::vector<file_states> states = allowed(complete);
  if (op.written[0] == kExport) states = {old()};
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    reset(folder);
    const program_run run =
        run_program(command({"-o", "/dev/null", "-e", "trace=fsync", "-e",
                             "inject=fsync:signal=" + std::to_string(signal_number) + ":when=1"}),
                    folder.path().string(), op.input);
    EXPECT_EQ(run.signal, signal_number) << run.status << run.err;
    // An append or a rewrite in place has written the file itself already.
    const file_states after = written(folder);
    EXPECT_TRUE(is_one_of(after, states)) << shown(after);
    EXPECT_EQ(names(folder), expected_names(after));
  }
}

INSTANTIATE_TEST_SUITE_P(Operations, CrashTest, ::testing::ValuesIn(operations()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace velkrin::testing
