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

// One operation: the folder it starts from, the command and its input, the
// file it writes and the contents that file may hold afterwards.
struct operation {
  std::string name;
  std::map<std::string, std::string> files;  // the folder before the run
  bool adif = false;                         // velkrin-adif instead of velkrin
  std::vector<std::string> arguments;
  std::string input;
  std::string written;             // the file the operation writes
  std::optional<std::string> old;  // its contents before (nullopt: absent)
  std::string complete;            // its contents after a whole run
};

void PrintTo(const operation& op, std::ostream* out) { *out << op.name; }

std::vector<operation> operations() {
  const std::string logbook = header_for("F4ABC") + kQsoLine + kQsoLine;
  return {
      {"append",
       {{kLogbook, logbook}},
       false,
       {},
       kQsoSession,
       kLogbook,
       logbook,
       logbook + kQsoLine},
      {"header_in_place",
       {{kLogbook, logbook}},
       false,
       {},
       kHeaderSession,
       kLogbook,
       logbook,
       header_for("F5XYZ") + kQsoLine + kQsoLine},
      {"header_through_copy",
       {{kLogbook, "fait a la main\n" + kQsoLine}},
       false,
       {},
       kHeaderSession,
       kLogbook,
       "fait a la main\n" + kQsoLine,
       header_for("F5XYZ") + "fait a la main\n" + kQsoLine},
      {"creation", {}, false, {}, kHeaderSession, kLogbook, std::nullopt, header_for("F5XYZ")},
      {"export", {{kLogbook, logbook}}, true, {}, "", kExport, std::nullopt, ""},
      {"export_forced",
       {{kLogbook, logbook}, {kExport, "ancien export\n"}},
       true,
       {"--force"},
       "",
       kExport,
       "ancien export\n",
       ""},
      {"import",
       {{kLogbook, logbook}, {kImported, kImportedRecord}},
       true,
       {"--importe", kImported},
       "",
       kLogbook,
       logbook,
       logbook + kImportedLine},
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
    words.push_back(GetParam().adif ? VELKRIN_ADIF_PROGRAM : VELKRIN_PROGRAM);
    words.insert(words.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    if (next && GetParam().written == kExport) words.push_back("--force");
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

  // The names a run may leave: the starting files and, when it is there,
  // the written one.
  std::vector<std::string> expected_names(bool with_written = true) const {
    std::set<std::string> expected;
    if (with_written) expected.insert(GetParam().written);
    for (const auto& entry : GetParam().files) expected.insert(entry.first);
    return {expected.begin(), expected.end()};
  }

  // The written file's contents, nullopt when absent.
  std::optional<std::string> written(const temp_folder& folder) const {
    const std::string path = folder.file(GetParam().written);
    if (!fs::exists(path)) return std::nullopt;
    return without_timestamp(read_file(path));
  }
};

TEST_P(CrashTest, KilledAtAnyCallLeavesOldOrCompleteAndNothingAfterTheNextRun) {
  const operation& op = GetParam();
  temp_folder folder;
  reset(folder);
  const std::string trace = folder.file("../" + folder.path().filename().string() + ".trace");
  const program_run clean = run_program(command({"-o", trace}), folder.path().string(), op.input);
  ASSERT_EQ(clean.status, 0) << clean.err;
  const std::string complete = op.complete.empty() ? *written(folder) : op.complete;
  ASSERT_EQ(written(folder), complete);
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
    const std::optional<std::string> after = written(folder);
    const bool old_or_complete = after == op.old || after == complete;

    // The next run does the same work and removes what the killed one left.
    const program_run next =
        run_program(command({"-o", "/dev/null"}, true), folder.path().string(), op.input);
    const bool clean_after = next.status == 0 && names(folder) == expected_names();
    if (old_or_complete && clean_after) continue;
    // Every faulty point is counted; the first few are shown.
    if (++faults > kMaxFaultsShown) continue;
    EXPECT_TRUE(old_or_complete) << (after ? "partial:\n" + *after : "absent");
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(names(folder), expected_names());
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
  const std::string complete = op.complete.empty() ? *written(folder) : op.complete;

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
    const std::optional<std::string> after = written(folder);
    // Any other status (the loader's 127, say) means it never ran.
    const bool reported_success = op.adif ? run.status == 0 || run.status == 1 : run.status == 0;
    if (reported_success) {
      EXPECT_EQ(after, complete) << run.err;
    } else {
      EXPECT_TRUE(after == op.old || after == complete) << (after ? *after : "absent");
    }
    EXPECT_EQ(names(folder), expected_names(after.has_value()));
    if (HasFailure()) break;
  }
}

// Ctrl-C, SIGTERM or SIGHUP at the first flush (of the temporary file, for a
// rewrite through a copy, a creation or an export): the program removes its
// temporary file and ends by that signal, without a next run to clean up.
TEST_P(CrashTest, SignalRemovesTheTemporaryFileAndEndsTheProgramByItself) {
  const operation& op = GetParam();
  temp_folder folder;
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    reset(folder);
    const program_run run =
        run_program(command({"-o", "/dev/null", "-e", "trace=fsync", "-e",
                             "inject=fsync:signal=" + std::to_string(signal_number) + ":when=1"}),
                    folder.path().string(), op.input);
    EXPECT_EQ(run.signal, signal_number) << run.status << run.err;
    // An append or a rewrite in place has written the file itself already.
    const std::optional<std::string> after = written(folder);
    EXPECT_TRUE(after == op.old || (!op.complete.empty() && after == op.complete))
        << (after ? *after : "absent");
    EXPECT_EQ(names(folder), expected_names(after.has_value()));
  }
}

INSTANTIATE_TEST_SUITE_P(Operations, CrashTest, ::testing::ValuesIn(operations()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace velkrin::testing
