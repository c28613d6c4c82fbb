// The output files of the commands (velkrin-adif's export): links written
// through, special files written in place, the umask, no race with another
// program making the file, and leftovers of killed runs removed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "support/temp_folder.hpp"

namespace velkrin::platform {
namespace {

namespace fs = std::filesystem;
using velkrin::testing::read_file;
using velkrin::testing::write_file;

class OutputFileTest : public ::testing::Test {
 protected:
  // Opens, writes and commits `text`; the failure's reason, "" on success.
  std::string export_to(const std::string& path, bool replace, const std::string& text = "ADIF") {
    output_file file;
    status s = file.open(path, replace);
    if (s.ok()) s = file.write(text);
    if (s.ok()) s = file.commit();
    refused_ = file.refused_existing();
    return s.ok() ? "" : s.reason();
  }
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder_.path())) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  velkrin::testing::temp_folder folder_;
  std::string adi_ = folder_.file("journal.adi");
  bool refused_ = false;
};

TEST_F(OutputFileTest, NewFileGetsTheBitsOfTheUmaskAndAnOldOneKeepsItsOwn) {
  const mode_t previous = ::umask(027);
  EXPECT_EQ(export_to(adi_, false), "");
  ::umask(previous);
  EXPECT_EQ(fs::status(adi_).permissions(), fs::perms(0640));
  ::chmod(adi_.c_str(), 0604);
  EXPECT_EQ(export_to(adi_, true, "ADIF 2"), "");
  EXPECT_EQ(fs::status(adi_).permissions(), fs::perms(0604));
  EXPECT_EQ(read_file(adi_), "ADIF 2");
}

TEST_F(OutputFileTest, LinksAreWrittenThroughAndStayLinks) {
  const std::string target = folder_.file("archive.adi");
  fs::create_symlink("archive.adi", adi_);
  // Dangling: refused without replace, like an existing file.
  EXPECT_NE(export_to(adi_, false), "");
  EXPECT_TRUE(refused_);
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(export_to(adi_, true), "");
  EXPECT_EQ(read_file(target), "ADIF");
  EXPECT_NE(export_to(adi_, false, "ADIF 2"), "");
  EXPECT_EQ(export_to(adi_, true, "ADIF 2"), "");
  EXPECT_TRUE(fs::is_symlink(adi_));
  EXPECT_EQ(read_file(target), "ADIF 2");
  EXPECT_EQ(names(), (std::vector<std::string>{"archive.adi", "journal.adi"}));
}

TEST_F(OutputFileTest, SpecialFilesAreWrittenInPlaceWithoutReplace) {
  // A device, through a link.
  fs::create_symlink("/dev/null", adi_);
  EXPECT_EQ(export_to(adi_, false), "");
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  fs::remove(adi_);
  // A named pipe, read by a child.
  ASSERT_EQ(::mkfifo(adi_.c_str(), 0600), 0);
  const std::string copy = folder_.file("lu");
  const pid_t reader = ::fork();
  if (reader == 0) {
    write_file(copy, read_file(adi_));
    ::_exit(0);
  }
  EXPECT_EQ(export_to(adi_, false), "");
  ::waitpid(reader, nullptr, 0);
  EXPECT_TRUE(fs::is_fifo(adi_));
  EXPECT_EQ(read_file(copy), "ADIF");
  EXPECT_EQ(names(), (std::vector<std::string>{"journal.adi", "lu"}));
}

TEST_F(OutputFileTest, FileMadeByAnotherProgramMeanwhileIsNeverReplaced) {
  output_file file;
  ASSERT_TRUE(file.open(adi_, false).ok());
  ASSERT_TRUE(file.write("ADIF").ok());
  write_file(adi_, "not mine");
  const status s = file.commit();
  EXPECT_FALSE(s.ok());
  EXPECT_TRUE(file.refused_existing());
  EXPECT_EQ(read_file(adi_), "not mine");
}

TEST_F(OutputFileTest, OpenRemovesWhatKilledRunsLeftBesideTheOutput) {
  write_file(folder_.file(".journal.adi.velkrin-tmp-Zz9Yx8"), "partial");
  write_file(folder_.file("journal.adi.bak"), "mine");
  EXPECT_EQ(export_to(adi_, false), "");
  EXPECT_EQ(names(), (std::vector<std::string>{"journal.adi", "journal.adi.bak"}));
}

}  // namespace
}  // namespace velkrin::platform
