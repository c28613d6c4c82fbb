#include "logbook/logbook_file.hpp"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "logbook/logbook_reader.hpp"
#include "platform/platform.hpp"
#include "support/temp_folder.hpp"

namespace velkrin {
namespace {

namespace fs = std::filesystem;
using velkrin::testing::read_file;
using velkrin::testing::write_file;

const logbook_header kOwner{"F4ABC", "01-01-2024"};
const logbook_header kNewOwner{"F5XYZ", "15-06-2025"};

qso_record numbered_qso(const std::string& who, int n) {
  return {"02-03-2024", 905, 930, "F4XYZ", who + std::to_string(n), 14070, "SSB", "Paris"};
}

std::vector<std::string> names_in(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Runs `body` in a child process (for process-wide limits), true when it
// returned true there.
bool in_child(const std::function<bool()>& body) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body() ? 0 : 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class LogbookFileTest : public ::testing::Test {
 protected:
  std::string contents() const { return read_file(path_); }
  std::vector<std::string> names() const { return names_in(folder_.path()); }
  bool append(const qso_record& qso) const { return !append_qso(logbook_, qso).has_value(); }
  bool rewrite(const logbook_header& header) const {
    return !write_header(logbook_, header).has_value();
  }

  velkrin::testing::temp_folder folder_;
  std::string path_ = folder_.file("journal_de_bord.txt");
  logbook_file logbook_{path_};
  const std::vector<std::string> only_logbook_{"journal_de_bord.txt"};
};

TEST_F(LogbookFileTest, NewLogbookIsExactlyTheHeaderBlock) {
  EXPECT_FALSE(logbook_exists(logbook_));
  ASSERT_TRUE(rewrite(kOwner));
  EXPECT_TRUE(logbook_exists(logbook_));
  EXPECT_EQ(contents(), format_header(kOwner));
  EXPECT_EQ(contents().size(), 495u);
  EXPECT_EQ(names(), only_logbook_);
}

TEST_F(LogbookFileTest, RewritingTheHeaderKeepsEveryQsoLine) {
  ASSERT_TRUE(rewrite(kOwner));
  std::string lines;
  for (int n = 1; n <= 3; ++n) {
    ASSERT_TRUE(append(numbered_qso("Jean", n)));
    lines += format_qso_line(numbered_qso("Jean", n));
  }
  ASSERT_EQ(contents(), format_header(kOwner) + lines);
  ASSERT_TRUE(rewrite(kOwner));
  EXPECT_EQ(contents(), format_header(kOwner) + lines);
  ASSERT_TRUE(rewrite(kNewOwner));
  EXPECT_EQ(contents(), format_header(kNewOwner) + lines);
  EXPECT_EQ(names(), only_logbook_);
}

TEST_F(LogbookFileTest, CrlfLogbookStaysCrlf) {
  const std::string old_line = format_qso_line(numbered_qso("Ana", 1), "\r\n");
  write_file(path_, format_header(kOwner, "\r\n") + old_line);
  ASSERT_TRUE(append(numbered_qso("Ana", 2)));
  ASSERT_TRUE(rewrite(kNewOwner));
  EXPECT_EQ(contents(), format_header(kNewOwner, "\r\n") + old_line +
                            format_qso_line(numbered_qso("Ana", 2), "\r\n"));

  // A hand-made CRLF file gets a CRLF header in front.
  write_file(path_, "carnet\r\nF6AAA\r\n");
  ASSERT_TRUE(rewrite(kOwner));
  EXPECT_EQ(contents(), format_header(kOwner, "\r\n") + "carnet\r\nF6AAA\r\n");
  EXPECT_EQ(names(), only_logbook_);
}

// Notepad saves with a byte-order mark, some editors cut trailing blanks:
// the header is still replaced, never doubled, and keeps both.
TEST_F(LogbookFileTest, HeaderSavedByAnEditorIsReplacedInPlace) {
  const std::string qso = format_qso_line(numbered_qso("Ana", 1), "\r\n");
  std::string edited;
  const std::string block = format_header(kOwner, "\r\n");
  for (std::size_t start = 0; start < block.size();) {
    const auto end = block.find("\r\n", start);
    edited += std::string(trim_right(block.substr(start, end - start))) + "\r\n";
    start = end + 2;
  }
  const std::string bom = "\xef\xbb\xbf";
  for (const std::string& old : {bom + block, edited, bom + edited}) {
    write_file(path_, old + qso);
    ASSERT_TRUE(rewrite(kNewOwner));
    const std::string kept_bom = old.starts_with(bom) ? bom : "";
    EXPECT_EQ(contents(), kept_bom + format_header(kNewOwner, "\r\n") + qso) << old;
  }
  EXPECT_EQ(names(), only_logbook_);
}

TEST_F(LogbookFileTest, HandMadeFileKeepsAllItsContentBehindTheHeader) {
  std::string big;  // longer than the copy buffer and than a header
  for (int n = 0; big.size() < 200 * 1024; ++n) big += "ligne " + std::to_string(n) + "\n";
  for (const std::string& old : {std::string("Mon carnet"), std::string("x\n"), big}) {
    write_file(path_, old);
    ASSERT_TRUE(rewrite(kOwner)) << old.size();
    EXPECT_TRUE(contents() == format_header(kOwner) + old) << old.size();
    EXPECT_EQ(names(), only_logbook_);
  }
}

TEST_F(LogbookFileTest, QsoNeverGluesOntoALastLineWithoutLineEnd) {
  write_file(path_, format_header(kOwner) + "note");
  ASSERT_TRUE(append(numbered_qso("Luc", 1)));
  EXPECT_EQ(contents(), format_header(kOwner) + "note\n" + format_qso_line(numbered_qso("Luc", 1)));

  write_file(path_, format_header(kOwner, "\r\n") + "note");
  ASSERT_TRUE(append(numbered_qso("Luc", 1)));
  EXPECT_EQ(contents(), format_header(kOwner, "\r\n") + "note\r\n" +
                            format_qso_line(numbered_qso("Luc", 1), "\r\n"));
}

// ASCII text as Notepad saves it in "Unicode" (little-endian) or "Unicode
// big endian": a byte-order mark, then two bytes per character.
std::string utf16(const std::string& ascii, bool big_endian) {
  std::string bytes = big_endian ? "\xfe\xff" : "\xff\xfe";
  for (const char c : ascii) bytes += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
  return bytes;
}

// Nothing may be added to a file that no reader would read again: small and
// large files (the latter read by their end only once the run knows them),
// UTF-16 either way round, NUL bytes, and a file the run appended to before
// Notepad saved it again in UTF-16 in place (its end tells; the end of a
// file made binary in place would not, a limit the run accepts).
TEST_F(LogbookFileTest, WritersRefuseWhatTheReadersRefuse) {
  const std::string utf16_reason =
      "il est enregistre en UTF-16 ; l'ouvrir avec le Bloc-notes et l'enregistrer en UTF-8";
  std::string long_text = format_header(kOwner);
  for (int n = 0; n < 100; ++n) long_text += format_qso_line(numbered_qso("Luc", n), "\r\n");
  const struct {
    std::string name, bytes, reason;
    bool in_place;
  } cases[] = {
      {"utf-16", utf16(format_header(kOwner, "\r\n"), false), utf16_reason, true},
      {"long utf-16", utf16(long_text, false), utf16_reason, true},
      {"long utf-16 big endian", utf16(long_text, true), utf16_reason, true},
      {"nul bytes", std::string(600, '\0') + format_header(kOwner), "ce n'est pas un fichier texte",
       false},
  };
  for (const auto& c : cases) {
    for (const bool known : {false, c.in_place}) {
      if (known) {  // appended to as UTF-8 earlier in the run
        write_file(path_, long_text);
        ASSERT_TRUE(append(numbered_qso("Eve", 1))) << c.name;
      }
      write_file(path_, c.bytes);
      const auto appended = append_qso(logbook_, numbered_qso("Eve", 2));
      ASSERT_TRUE(appended.has_value()) << c.name << known;
      EXPECT_EQ(appended->reason, c.reason) << c.name << known;
      const auto rewritten = write_header(logbook_, kNewOwner);
      ASSERT_TRUE(rewritten.has_value()) << c.name << known;
      EXPECT_EQ(rewritten->reason, c.reason) << c.name << known;
      EXPECT_EQ(contents(), c.bytes) << c.name << known;
      EXPECT_EQ(names(), only_logbook_) << c.name << known;
    }
  }
  // A NUL near the end of a file whose start is text does not stop it.
  write_file(path_, long_text + std::string(1, '\0'));
  EXPECT_TRUE(append(numbered_qso("Eve", 3)));
}

TEST_F(LogbookFileTest, AppendCreatesAVanishedLogbook) {
  bool started = false;
  ASSERT_FALSE(append_qso(logbook_, numbered_qso("Eve", 1), &started).has_value());
  EXPECT_TRUE(started);
  EXPECT_EQ(contents(), format_qso_line(numbered_qso("Eve", 1)));
  ASSERT_FALSE(append_qso(logbook_, numbered_qso("Eve", 2), &started).has_value());
  EXPECT_FALSE(started);
}

// Only names of the program's own form beside this logbook go, and only
// those that no live process holds locked; the first append of a run and
// every header rewrite look, not every QSO.
TEST_F(LogbookFileTest, LeftoverTemporaryFilesGoAndNothingElse) {
  write_file(path_, format_header(kOwner));
  const std::string leftover = ".journal_de_bord.txt.velkrin-tmp-Ab12Cd";
  const std::string live = ".journal_de_bord.txt.velkrin-tmp-Live99";
  std::vector<std::string> kept{"journal_de_bord.txt.backup",
                                "journal_de_bord.txt.Ab12Cd",
                                ".autre.txt.velkrin-tmp-Ab12Cd",
                                ".journal_de_bord.txt.velkrin-tmp-Ab12C_",
                                ".journal_de_bord.txt.velkrin-tmp-Ab12Cde",
                                live};
  for (const std::string& name : kept) write_file(folder_.file(name), "x");
  const int held = ::open(folder_.file(live).c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  kept.push_back("journal_de_bord.txt");
  std::sort(kept.begin(), kept.end());
  for (const std::string step : {"first append", "second append", "header"}) {
    write_file(folder_.file(leftover), "x");
    if (step == std::string("header")) {
      ASSERT_TRUE(rewrite(kNewOwner));
    } else {
      ASSERT_TRUE(append(numbered_qso("Ugo", 1)));
    }
    std::vector<std::string> expected = kept;
    if (step == std::string("second append")) expected.insert(expected.begin(), leftover);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names(), expected) << step;
  }
  ::close(held);
}

// CI runs as root, whom the system refuses nothing: a child becomes an
// ordinary user in a shared group, as on a club's computer.
TEST_F(LogbookFileTest, OrdinaryUserKeepsTheGroupAndBitsAndMeetsRefusals) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  constexpr uid_t kOwnerUid = 4242;
  constexpr uid_t kUserUid = 4243;
  constexpr gid_t kSharedGid = 4244;
  constexpr gid_t kUserGid = 4245;
  const auto as_user = [](const std::function<bool()>& body) {
    return in_child([&] {
      const gid_t groups[] = {kSharedGid};
      return ::setgroups(1, groups) == 0 && ::setgid(kUserGid) == 0 && ::setuid(kUserUid) == 0 &&
             body();
    });
  };
  ASSERT_EQ(::chmod(folder_.path().c_str(), 0777), 0);
  write_file(path_, "fait a la main\n");  // rewritten through a temporary file
  ASSERT_EQ(::chown(path_.c_str(), kOwnerUid, kSharedGid), 0);
  ASSERT_EQ(::chmod(path_.c_str(), 0664), 0);
  EXPECT_TRUE(as_user([&] { return rewrite(kOwner); }));
  struct stat after {};
  ASSERT_EQ(::stat(path_.c_str(), &after), 0);
  EXPECT_EQ(after.st_gid, kSharedGid);
  EXPECT_EQ(after.st_mode & 07777, 0664u);
  EXPECT_EQ(after.st_uid, kUserUid);  // only root may give a file away
  EXPECT_EQ(contents(), format_header(kOwner) + "fait a la main\n");

  // A logbook the user may not write is refused and left as it was.
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  for (const auto& write : std::vector<std::function<bool()>>{
           [&] { return !append(numbered_qso("Ida", 1)); }, [&] { return !rewrite(kNewOwner); }}) {
    EXPECT_TRUE(as_user(write));
  }
  EXPECT_EQ(contents(), format_header(kOwner) + "fait a la main\n");
  EXPECT_EQ(names(), only_logbook_);
}

TEST_F(LogbookFileTest, FolderInPlaceOfTheLogbookIsAFailure) {
  fs::create_directory(path_);
  const auto header_error = write_header(logbook_, kOwner);
  const auto append_error = append_qso(logbook_, numbered_qso("Bob", 1));
  ASSERT_TRUE(header_error.has_value());
  ASSERT_TRUE(append_error.has_value());
  EXPECT_NE(header_error->reason.find("c'est un dossier"), std::string::npos)
      << header_error->reason;
  EXPECT_NE(append_error->reason.find("c'est un dossier"), std::string::npos)
      << append_error->reason;
  EXPECT_TRUE(fs::is_directory(path_));
  EXPECT_TRUE(fs::is_empty(path_));
  EXPECT_EQ(names(), only_logbook_);
}

// A named pipe in the logbook's place must neither hang the program nor
// swallow a QSO that is then reported as recorded.
TEST_F(LogbookFileTest, NamedPipeInPlaceOfTheLogbookIsAFailure) {
  ASSERT_EQ(::mkfifo(path_.c_str(), 0666), 0);
  (void)logbook_exists(logbook_);
  const auto append_error = append_qso(logbook_, numbered_qso("Bob", 1));
  const auto header_error = write_header(logbook_, kOwner);
  ASSERT_TRUE(append_error.has_value());
  ASSERT_TRUE(header_error.has_value());
  EXPECT_TRUE(fs::is_fifo(path_));
}

// The logbook is a link to a private copy of /dev/full, where every write
// fails for lack of space: a faulty rewrite can then replace nothing outside
// the test's folder.
TEST_F(LogbookFileTest, FullDiskIsAFailureAndTheDeviceStays) {
  const fs::path device = folder_.path() / "dev" / "full";
  fs::create_directory(device.parent_path());
  if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
    GTEST_SKIP() << "cannot make a device node here";
  }
  fs::create_symlink(device, path_);
  const auto append_error = append_qso(logbook_, numbered_qso("Bob", 1));
  const auto header_error = write_header(logbook_, kOwner);
  ASSERT_TRUE(append_error.has_value());
  EXPECT_NE(append_error->reason.find("plus de place sur le disque"), std::string::npos)
      << append_error->reason;
  ASSERT_TRUE(header_error.has_value()) << "the header replaced the device with a file";
  EXPECT_NE(header_error->reason.find("plus de place sur le disque"), std::string::npos)
      << header_error->reason;
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_TRUE(fs::is_character_file(device));
  EXPECT_EQ(names_in(device.parent_path()), std::vector<std::string>{"full"});
  EXPECT_EQ(names(), (std::vector<std::string>{"dev", "journal_de_bord.txt"}));
}

TEST_F(LogbookFileTest, SymbolicLinkStaysALinkAndItsTargetIsUpdated) {
  const fs::path archive = folder_.path() / "archive";
  fs::create_directory(archive);
  const std::string target = (archive / "carnet.txt").string();
  const std::string line = format_qso_line(numbered_qso("Max", 1));
  struct {
    std::string old;
    std::string kept;  // what follows the new header
    fs::path link_to;
  } cases[] = {
      {format_header(kOwner) + line, line, "archive/carnet.txt"},  // rewritten in place
      {"fait a la main\n", "fait a la main\n", target},            // through a temporary file
  };
  for (const auto& c : cases) {
    write_file(target, c.old);
    fs::remove(path_);
    fs::create_symlink(c.link_to, path_);
    ASSERT_TRUE(rewrite(kNewOwner)) << c.old;
    ASSERT_TRUE(append(numbered_qso("Max", 2))) << c.old;
    EXPECT_TRUE(fs::is_symlink(path_)) << c.old;
    EXPECT_EQ(read_file(target),
              format_header(kNewOwner) + c.kept + format_qso_line(numbered_qso("Max", 2)))
        << c.old;
    EXPECT_EQ(names_in(archive), std::vector<std::string>{"carnet.txt"}) << c.old;
    EXPECT_EQ(names(), (std::vector<std::string>{"archive", "journal_de_bord.txt"}));
  }
}

TEST_F(LogbookFileTest, RewriteThroughATemporaryFileKeepsThePermissionBits) {
  write_file(path_, "fait a la main\n");
  fs::permissions(path_, fs::perms(0640));
  ASSERT_TRUE(rewrite(kOwner));
  EXPECT_EQ(fs::status(path_).permissions(), fs::perms(0640));
  EXPECT_EQ(contents(), format_header(kOwner) + "fait a la main\n");
}

// A file size limit makes every write fail after the logbook was opened (or
// created): whatever failed leaves the folder as it found it.
TEST_F(LogbookFileTest, FailedWritesLeaveNothingBehind) {
  auto with_no_room = [](const std::function<bool()>& failing) {
    return in_child([&] {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{0, 0};
      return ::setrlimit(RLIMIT_FSIZE, &limit) == 0 && failing();
    });
  };
  EXPECT_TRUE(with_no_room([&] { return !rewrite(kOwner); }));
  EXPECT_TRUE(names().empty());
  EXPECT_TRUE(with_no_room([&] { return !append(numbered_qso("Zoe", 1)); }));
  EXPECT_TRUE(names().empty());

  write_file(path_, "fait a la main\n");
  EXPECT_TRUE(with_no_room([&] { return !rewrite(kOwner); }));
  EXPECT_EQ(contents(), "fait a la main\n");
  EXPECT_EQ(names(), only_logbook_);
}

// Two processes append 200 QSOs each while this one gives the logbook a new
// header, first through a temporary file (the file was made by hand) and then
// in place: no line is lost, doubled or torn. Children leave with _exit.
void append_and_rewrite_at_once(const logbook_file& logbook, const std::string& path) {
  constexpr int kPerWriter = 200;
  const std::string hand_made = "commence a la main\n";
  write_file(path, hand_made);
  const std::vector<std::string> writers{"A", "B"};
  std::vector<pid_t> children;
  for (const std::string& who : writers) {
    const pid_t child = ::fork();
    if (child == 0) {
      bool ok = true;
      for (int n = 0; n < kPerWriter; ++n) ok = !append_qso(logbook, numbered_qso(who, n)) && ok;
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  // Start rewriting once the writers are under way.
  for (int wait = 0; wait < 50000 && read_file(path).size() == hand_made.size(); ++wait) {
    ::usleep(100);
  }
  const logbook_header headers[] = {kOwner, kNewOwner};
  for (int round = 0; round < 10; ++round) {
    EXPECT_FALSE(write_header(logbook, headers[round % 2]).has_value()) << round;
    ::usleep(2000);
  }
  for (pid_t child : children) {
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  const std::string text = read_file(path);
  const std::string top = format_header(kNewOwner) + hand_made;
  ASSERT_EQ(text.substr(0, top.size()), top);
  std::map<std::string, std::pair<std::string, int>> expected;  // line -> writer, number
  for (const std::string& who : writers) {
    for (int n = 0; n < kPerWriter; ++n) expected[format_qso_line(numbered_qso(who, n))] = {who, n};
  }
  const std::size_t line_size = expected.begin()->first.size();
  ASSERT_EQ(text.size() - top.size(), expected.size() * line_size);
  std::map<std::string, int> last_seen{{"A", -1}, {"B", -1}};
  std::set<std::string> seen;
  for (std::size_t at = top.size(); at < text.size(); at += line_size) {
    const std::string line = text.substr(at, line_size);
    const auto found = expected.find(line);
    ASSERT_NE(found, expected.end()) << "torn line at " << at << ": " << line;
    ASSERT_TRUE(seen.insert(line).second) << "doubled: " << line;
    const auto& [who, n] = found->second;
    EXPECT_GT(n, last_seen[who]) << line;  // each writer's lines stay in order
    last_seen[who] = n;
  }
}

// A few rounds, since only the first rewrite of each goes through a
// temporary file and the timing differs from run to run.
TEST_F(LogbookFileTest, ConcurrentAppendsAndHeaderRewritesLoseNothing) {
  for (int round = 0; round < 3 && !HasFailure(); ++round) {
    SCOPED_TRACE(round);
    append_and_rewrite_at_once(logbook_, path_);
    EXPECT_EQ(names(), only_logbook_);
  }
}

// A reader that stops after its first QSO (its output waits on a pager that
// nobody reads, say) keeps no writer waiting: an append and header rewrites,
// in place and through a temporary file, complete meanwhile, and the reader
// then reads on the file as it was when it opened it.
TEST_F(LogbookFileTest, StalledReaderKeepsNoWriterWaiting) {
  constexpr int kQsos = 200;  // well past the first block, read under the lock
  std::string text = format_header(kOwner);
  for (int n = 0; n < kQsos; ++n) text += format_qso_line(numbered_qso("Ann", n));
  write_file(path_, text);
  file_source source;
  ASSERT_TRUE(source.open(path_).ok());
  logbook_reader reader(source);
  logbook_item item;
  ASSERT_TRUE(reader.next(item) && reader.next(item));
  ASSERT_EQ(item.what, logbook_item::kind::qso);

  // Each write runs on a thread of its own: should it wait for the reader,
  // closing the reader lets it end, and the test fails instead of hanging.
  const auto without_waiting = [&](const std::string& what, const std::function<bool()>& write) {
    auto done = std::async(std::launch::async, write);
    if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      source.close();
      ADD_FAILURE() << what << " waited for the reader";
    }
    EXPECT_TRUE(done.get()) << what;
  };
  const logbook_header wider{"F4ABC/QRP-TEST", "01-01-2024"};
  without_waiting("append", [&] { return append(numbered_qso("Bob", 1)); });
  without_waiting("rewrite in place", [&] { return rewrite(kNewOwner); });
  without_waiting("rewrite by rename", [&] { return rewrite(wider); });
  ASSERT_FALSE(HasFailure());
  EXPECT_EQ(contents(), format_header(wider) + text.substr(format_header(kOwner).size()) +
                            format_qso_line(numbered_qso("Bob", 1)));

  int qsos = 1;
  for (; reader.next(item); ++qsos) {
    ASSERT_EQ(item.what, logbook_item::kind::qso) << item.line << " " << item.reason;
    EXPECT_EQ(item.qso.prenom, "Ann" + std::to_string(qsos));
  }
  EXPECT_EQ(qsos, kQsos);
  EXPECT_FALSE(reader.failure().has_value());
  EXPECT_EQ(reader.header()->header.indicatif, kOwner.indicatif);
}

// What a writer does under its lock is never seen half done: a reader that
// opened before reads the file as it was then, wherever the writer stands
// in an append or an in-place header rewrite (a rewrite by rename is above),
// and one that opens meanwhile waits for the writer to finish.
TEST_F(LogbookFileTest, ReaderNeverSeesAWriteHalfDone) {
  constexpr int kQsos = 60;  // past the first block, read under the lock
  std::string text = format_header(kOwner);
  std::vector<std::string> items{"H1 " + kOwner.indicatif};
  for (int n = 0; n < kQsos; ++n) {
    text += format_qso_line(numbered_qso("Ann", n));
    items.push_back("Q" + std::to_string(n + 7) + " Ann" + std::to_string(n));
  }
  write_file(path_, text);
  // "H1 F4ABC" for a header, "Q7 Ann0" for a QSO, "U8 reason" otherwise.
  const auto read_all = [](file_source& source) {
    std::vector<std::string> seen;
    logbook_reader reader(source);
    for (logbook_item item; reader.next(item);) {
      const std::string at = std::to_string(item.line) + " ";
      if (item.what == logbook_item::kind::header) {
        seen.push_back("H" + at + reader.header()->header.indicatif);
      } else {
        seen.push_back(item.what == logbook_item::kind::qso ? "Q" + at + item.qso.prenom
                                                            : "U" + at + item.reason);
      }
    }
    if (reader.failure()) seen.push_back(*reader.failure());
    return seen;
  };

  file_source before;
  ASSERT_TRUE(before.open(path_).ok());
  const int writer = ::open(path_.c_str(), O_RDWR);
  ASSERT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0) << "the open reader holds the lock";
  const std::string header = format_header(kNewOwner);
  const std::string line = format_qso_line(numbered_qso("Bob", 1));
  const auto half = [](const std::string& bytes) { return bytes.size() / 2; };
  ASSERT_EQ(::pwrite(writer, header.data(), half(header), 0), static_cast<ssize_t>(half(header)));
  ASSERT_EQ(::pwrite(writer, line.data(), half(line), static_cast<off_t>(text.size())),
            static_cast<ssize_t>(half(line)));
  EXPECT_EQ(read_all(before), items);

  auto during = std::async(std::launch::async, [&] {
    file_source source;
    return source.open(path_).ok() ? read_all(source) : std::vector<std::string>{"open"};
  });
  const std::size_t header_rest = header.size() - half(header);
  const std::size_t line_rest = line.size() - half(line);
  EXPECT_EQ(
      ::pwrite(writer, header.data() + half(header), header_rest, static_cast<off_t>(half(header))),
      static_cast<ssize_t>(header_rest));
  EXPECT_EQ(::pwrite(writer, line.data() + half(line), line_rest,
                     static_cast<off_t>(text.size() + half(line))),
            static_cast<ssize_t>(line_rest));
  ::close(writer);
  items.front() = "H1 " + kNewOwner.indicatif;
  items.push_back("Q" + std::to_string(kQsos + 7) + " Bob1");
  EXPECT_EQ(during.get(), items);
}

// A reader that opened the logbook while a writer renamed a new file over
// it reads the new file, as a writer would, not the one it had opened.
TEST_F(LogbookFileTest, ReaderOpeningDuringARenameReadsTheNewFile) {
  write_file(path_, format_header(kOwner));
  const int writer = ::open(path_.c_str(), O_RDWR);
  ASSERT_EQ(::flock(writer, LOCK_EX), 0);
  const auto opened = [&] {  // descriptors of this process on the logbook
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
      std::error_code error;
      count += fs::read_symlink(entry.path(), error) == fs::path(path_);
    }
    return count;
  };
  auto owner = std::async(std::launch::async, [&] {
    file_source source;
    if (!source.open(path_).ok()) return std::string("open");
    logbook_reader reader(source);
    logbook_item item;
    return reader.next(item) ? reader.header()->header.indicatif : std::string("nothing");
  });
  for (int wait = 0; wait < 2000 && opened() < 2; ++wait) ::usleep(10000);
  write_file(path_ + ".new", format_header(kNewOwner));
  ASSERT_EQ(::rename((path_ + ".new").c_str(), path_.c_str()), 0);
  ::close(writer);
  EXPECT_EQ(owner.get(), kNewOwner.indicatif);
}

// A writer kept waiting by another says so after about a second, and Ctrl-C,
// once caught (as the listener catches it), ends the wait with a failure
// that says why; nothing is written. The child leaves with _exit.
TEST_F(LogbookFileTest, WriterWaitingForAnotherIsToldAndStoppedByCtrlC) {
  write_file(path_, format_header(kOwner));
  const int busy = ::open(path_.c_str(), O_RDWR);
  ASSERT_EQ(::flock(busy, LOCK_EX), 0);  // another writer, at work
  int told[2];
  ASSERT_EQ(::pipe(told), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(told[0]);
    platform::catch_interrupt();
    logbook_file logbook(path_);
    logbook.on_long_wait = [&] { (void)!::write(told[1], "w", 1); };
    const auto error = append_qso(logbook, numbered_qso("Eve", 1));
    ::_exit(error && error->reason == "attente du verrou : interrompue (Ctrl-C)" ? 0 : 1);
  }
  ::close(told[1]);
  pollfd notice{told[0], POLLIN, 0};
  EXPECT_EQ(::poll(&notice, 1, 20000), 1) << "the wait was not told";
  ::close(told[0]);
  ::kill(child, SIGINT);
  // Should Ctrl-C not end the wait, the lock is released and the child ends.
  int status = 0;
  for (int waited = 0; ::waitpid(child, &status, WNOHANG) == 0; ++waited) {
    if (waited == 2000) {
      ADD_FAILURE() << "Ctrl-C did not end the wait";
      ::close(busy);
    }
    ::usleep(10000);
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ::close(busy);
  EXPECT_EQ(contents(), format_header(kOwner));
}

// What a checked append shows its follower, as words: "restart", "header
// F4ABC", "Bob1".
class recording_follower : public logbook_follower {
 public:
  void restart() override { seen.push_back("restart"); }
  void header(const logbook_header& header) override {
    seen.push_back("header " + header.indicatif);
  }
  void qso(const qso_record& qso) override { seen.push_back(qso.prenom); }
  std::vector<std::string> take() { return std::exchange(seen, {}); }

  std::vector<std::string> seen;
};

// Each call reads only what was added since the one before, and reads the
// whole file again when it was replaced, rewritten at its start, or edited
// in place to another length; the check and the append are one operation.
TEST_F(LogbookFileTest, CheckedAppendReadsOnlyWhatWasAddedSince) {
  using words = std::vector<std::string>;
  recording_follower follower;
  const auto follow = [&] { return !follow_logbook(logbook_, follower).has_value(); };
  ASSERT_TRUE(rewrite(kOwner));
  ASSERT_TRUE(append(numbered_qso("Bob", 1)));
  ASSERT_TRUE(follow());
  EXPECT_EQ(follower.take(), (words{"restart", "header F4ABC", "Bob1"}));

  ASSERT_TRUE(append(numbered_qso("Bob", 2)));
  ASSERT_TRUE(follow());
  EXPECT_EQ(follower.take(), (words{"Bob2"}));
  ASSERT_TRUE(follow());
  EXPECT_EQ(follower.take(), words{});

  // The check runs after the reading, and its QSO is read back next time.
  bool checked_after_reading = false;
  ASSERT_TRUE(append(numbered_qso("Bob", 3)));
  const checked_append done = append_qso_checked(logbook_, numbered_qso("Bob", 4), follower, [&] {
    checked_after_reading = follower.seen == words{"Bob3"};
    return true;
  });
  EXPECT_TRUE(done.appended && !done.error && !done.started_new_logbook);
  EXPECT_TRUE(checked_after_reading);
  follower.take();
  const checked_append refused =
      append_qso_checked(logbook_, numbered_qso("Bob", 5), follower, [] { return false; });
  EXPECT_FALSE(refused.appended || refused.error);
  EXPECT_EQ(follower.take(), (words{"Bob4"}));

  const words all = {"restart", "header F5XYZ", "Bob1", "Bob2", "Bob3", "Bob4"};
  // Menu 4's new header, of the same length, written in place.
  ASSERT_TRUE(rewrite(kNewOwner));
  ASSERT_TRUE(follow());
  EXPECT_EQ(follower.take(), all);
  // Another file renamed over the logbook (an import's copy).
  write_file(path_ + ".new", contents());
  fs::rename(path_ + ".new", path_);
  ASSERT_TRUE(follow());
  EXPECT_EQ(follower.take(), all);
  // The same file edited in place: a line taken out, another added.
  const std::string edited = contents();
  const std::string bob2 = format_qso_line(numbered_qso("Bob", 2));
  write_file(path_, edited.substr(0, edited.find(bob2)) +
                        edited.substr(edited.find(bob2) + bob2.size()) +
                        format_qso_line(numbered_qso("Bob", 6)));
  ASSERT_TRUE(follow());
  EXPECT_EQ(follower.take(), (words{"restart", "header F5XYZ", "Bob1", "Bob3", "Bob4", "Bob6"}));
  // A logbook that is not text is read by no one and written by no one.
  const std::string text = contents();
  write_file(path_, "\xff\xfe" + text);
  const checked_append utf16 =
      append_qso_checked(logbook_, numbered_qso("Bob", 7), follower, [] { return true; });
  EXPECT_TRUE(utf16.error && !utf16.appended);
  EXPECT_EQ(contents(), "\xff\xfe" + text);
  // A vanished logbook is an empty one, and the QSO starts a new file.
  follower.take();
  fs::remove(path_);
  const checked_append started =
      append_qso_checked(logbook_, numbered_qso("Bob", 8), follower, [] { return true; });
  EXPECT_TRUE(started.appended && started.started_new_logbook && !started.error);
  EXPECT_EQ(follower.take(), words{"restart"});
  EXPECT_EQ(contents(), format_qso_line(numbered_qso("Bob", 8)));
}

}  // namespace
}  // namespace velkrin
