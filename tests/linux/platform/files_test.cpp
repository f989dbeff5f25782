// The Linux file seam under the settings files: symbolic links, permissions, a folder Kelvor
// may not write in, a full disk, names that are not regular files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/settings/profile_file.h"
#include "core/system/files.h"
#include "core/outputs/output_settings.h"
#include "core/outputs/reading_format.h"
#include "core/outputs/reading_log.h"
#include "tests/core/outputs/recording_notices.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;

class ProfileFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kelvor-profile-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "KELVOR.INI").string();
  }
  void TearDown() override {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove_all(dir_);
  }
  void write(const std::string& content) { std::ofstream(path_, std::ios::binary) << content; }
  std::string content() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_;
  std::string path_;
  bool mounted_ = false;
};

// Runs `write` with a file-size limit of `bytes`, which a full disk stands in for.
bool withSizeLimit(std::size_t bytes, const std::function<bool()>& write) {
  struct sigaction ignore {}, before {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &before);
  struct rlimit limit {}, saved {};
  getrlimit(RLIMIT_FSIZE, &saved);
  limit = saved;
  limit.rlim_cur = bytes;
  setrlimit(RLIMIT_FSIZE, &limit);
  const bool written = write();
  setrlimit(RLIMIT_FSIZE, &saved);
  sigaction(SIGXFSZ, &before, nullptr);
  return written;
}

TEST_F(ProfileFile, WritesThroughASymbolicLinkToTheRealFile) {
  write("[A]\nk=1\n");
  const std::string link = (dir_ / "link.ini").string();
  fs::create_symlink(path_, link);
  ASSERT_TRUE(writeProfileString(link, "A", "k", "2"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(content(), "[A]\nk=2\n");
}

TEST_F(ProfileFile, KeepsThePermissionsOfTheFileItReplaces) {
  write("[A]\nk=1\n");
  chmod(path_.c_str(), 0640);
  ASSERT_TRUE(writeProfileString(path_, "A", "k", "2"));
  struct stat info {};
  stat(path_.c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

// A failed write says why through errno, which the save box shows.
TEST_F(ProfileFile, FailsSilentlyWhereItCannotWrite) {
  EXPECT_FALSE(writeProfileString((dir_ / "missing" / "x.ini").string(), "A", "k", "1"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(writeProfileString(dir_.string(), "A", "k", "1"));  // a folder, not a file
  EXPECT_EQ(errno, EISDIR);
  if (geteuid() != 0) {  // root writes anyway
    write("[A]\nk=1\n");
    chmod(path_.c_str(), 0444);
    EXPECT_FALSE(writeProfileString(path_, "A", "k", "2"));
    EXPECT_EQ(content(), "[A]\nk=1\n");
  }
}

TEST_F(ProfileFile, AWriteThatFindsNoSpaceLeavesTheOldContent) {
  const std::string old = "[A]\nk=1\nother=kept\n";
  write(old);
  EXPECT_FALSE(withSizeLimit(old.size() + 4, [&] { return writeProfileString(path_, "A", "k", std::string(100, 'v')); }));
  EXPECT_EQ(content(), old);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

// Where no new file can be made beside KELVOR.INI but the file itself is writable, it is
// rewritten in place: it never gets shorter (a shorter value is padded with blanks, which
// read as nothing), and a write that finds no space leaves the old content.
TEST_F(ProfileFile, WhereOnlyTheFileIsWritableItIsRewrittenInPlaceNeverShorter) {
  const std::string old = "[SCREEN]\nPosX=1000\nPosY=48\n[FILECONFIG]\nRS232=/a/b.KLV\n";
  if (geteuid() != 0) {
    write(old);
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  } else {
    // Root writes in any folder: a small file system whose inodes are all taken does.
    if (mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=256k,nr_inodes=16") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
    mounted_ = true;
    write(old);
    for (int i = 0; std::ofstream(dir_ / ("filler" + std::to_string(i))).good(); ++i) {
    }
  }
  const ProfileValue shorter[] = {{"SCREEN", "PosX", "5"}, {"SCREEN", "PosY", "6"}};
  ASSERT_TRUE(writeProfileStrings(path_, shorter));
  EXPECT_EQ(content(), "[SCREEN]\nPosX=5\nPosY=6    \n[FILECONFIG]\nRS232=/a/b.KLV\n");
  EXPECT_EQ(readProfileString(path_, "screen", "posy"), "6");
  ASSERT_TRUE(writeProfileString(path_, "SCREEN", "PosX", "123456"));
  EXPECT_EQ(readProfileStrings(path_, std::vector<ProfileKey>{{"SCREEN", "PosX"}, {"SCREEN", "PosY"}, {"FILECONFIG", "RS232"}}),
            (std::vector<std::string>{"123456", "6", "/a/b.KLV"}));
  const std::string before = content();
  EXPECT_FALSE(withSizeLimit(before.size(), [&] { return writeProfileString(path_, "SCREEN", "PosX", "1234567890"); }));
  EXPECT_EQ(content(), before);
  EXPECT_FALSE(fs::exists(path_ + ".kelvor-tmp"));
}

// KELVOR.INI, a configuration named by [LOAD( or a language file may name anything: a
// named pipe must not hold the program waiting for a writer, a folder reads as missing.
TEST_F(ProfileFile, NamesThatAreNotRegularFilesReadAsMissingWithoutWaiting) {
  const std::string pipe = (dir_ / "pipe.ini").string();
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  auto reading = std::async(std::launch::async, [&] { return readProfileString(pipe, "A", "k"); });
  if (reading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // Let the blocked reader go, so that the test can end and report.
    const int writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
    FAIL() << "reading a named pipe waited for a writer";
  }
  EXPECT_EQ(reading.get(), "");
  EXPECT_FALSE(writeProfileString(pipe, "A", "k", "1"));
  EXPECT_EQ(readProfileString(dir_.string(), "A", "k"), "");
  EXPECT_EQ(readProfileString("/dev/null", "A", "k"), "");
}

// A file size limit makes the system refuse a write half-way, as a full disk does.
TEST_F(ProfileFile, AReadingLogOnAFullDiskTakesBackHalfALineAndResumes) {
  RecordingNotices notices;
  ReadingLog log(notices);
  log.setFolder(dir_.string());
  const auto at = std::chrono::system_clock::now();
  const Reading first{at, "S", 0, "1", "1"}, last{at, "S", 0, "4", "4"};
  log.write(first);
  const fs::path file = dir_ / (localDateText(at) + ".csv");
  const auto size = fs::file_size(file);
  withSizeLimit(size + 20, [&] {
    log.write({at, "S", 0, "a long reading that does not fit", "x"});
    log.write({at, "S", 0, "another one that does not fit", "x"});
    return true;
  });
  EXPECT_EQ(fs::file_size(file), size);
  ASSERT_EQ(notices.shown().size(), 1u);
  log.write(last);
  std::ifstream in(file, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(content, csvHeader() + csvLine(first) + csvLine(last));
}

TEST_F(ProfileFile, ASavedPasswordMakesKelvorIniItsOwnersAlone) {
  write("[SCREEN]\nPosX=5\n");
  chmod(path_.c_str(), 0644);
  OutputSettings s;
  s.mqtt.PASSWORD = "secret";
  std::string error;
  ASSERT_TRUE(writeOutputSettings(path_, s, error)) << error;
  struct stat info {};
  stat(path_.c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace kelvor
