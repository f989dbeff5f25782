// The file seam's Windows rules: paths with drives, shares and either separator; a settings
// file replaced while another program holds it open; bytes kept as they are (no CR LF
// translation); the working folder in the one separator Kelvor joins names with.

#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/settings/profile_file.h"
#include "core/system/files.h"
#include "core/system/system.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;

TEST(WindowsPaths, AbsoluteMeansADriveAShareOrTheRoot) {
  const std::pair<const char*, bool> cases[] = {
      {"C:\\Kelvor\\KELVOR.INI", true}, {"c:/kelvor", true}, {"\\\\bench\\share\\x.klv", true},
      {"//bench/share", true},          {"\\sound\\info.wav", true}, {"C:relative", false},
      {"sound\\info.wav", false},      {"", false},               {"..\\x.klv", false},
  };
  for (const auto& [path, absolute] : cases) EXPECT_EQ(isAbsolutePath(path), absolute) << path;
  EXPECT_EQ(folderOf("C:\\Kelvor\\KELVOR.INI"), "C:\\Kelvor");
  EXPECT_EQ(folderOf("C:/Kelvor/sub\\x.klv"), "C:/Kelvor/sub");
  const std::string here = currentDirectory();
  EXPECT_EQ(here.find('\\'), std::string::npos) << here;
  EXPECT_TRUE(isAbsolutePath(here + "/x")) << here;
  EXPECT_EQ(nativePath(here + "/Kelvor\\english.lan").find('/'), std::string::npos);
  EXPECT_EQ(nativePath("C:/users/a b/Kelvor\\KELVOR.KLV"), "C:\\users\\a b\\Kelvor\\KELVOR.KLV");
  EXPECT_EQ(nativePath("\\\\bench/share/x.klv"), "\\\\bench\\share\\x.klv");
}

class WindowsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / "kelvor windows files";
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }
  std::string path(const char* name) const { return (folder / name).string(); }
  fs::path folder;
};

// Windows replaces no file that another program holds open, so it is rewritten in place.
TEST_F(WindowsFiles, ASettingsFileOpenElsewhereIsWrittenWholeAndKeepsItsLineEnds) {
  const std::string ini = path("KELVOR.INI");
  std::ofstream(ini, std::ios::binary) << "[SCREEN]\r\nPosX=1\r\nPosY=2\r\n";
  // An editor (or a second Kelvor) reading the file keeps it open, shared as Windows programs do.
  const HANDLE reader = CreateFileA(ini.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  const ProfileValue moved[] = {{"SCREEN", "PosX", "640"}, {"SCREEN", "PosY", "480"}};
  errno = 0;
  EXPECT_TRUE(writeProfileStrings(ini, moved)) << std::strerror(errno);
  CloseHandle(reader);
  std::ifstream in(ini, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(content, "[SCREEN]\r\nPosX=640\r\nPosY=480\r\n");
  EXPECT_FALSE(fs::exists(ini + std::string(kTemporarySuffix)));
}

// A file held open without sharing (an editor, a backup, a virus scanner) is there: start-up
// waits for it and then says which file and why, and no write replaces it by the new values
// alone. It used to read as missing, and Kelvor started as in a new folder.
TEST_F(WindowsFiles, ASettingsFileHeldWithoutSharingIsNotMissing) {
  const std::string ini = path("KELVOR.INI");
  std::ofstream(ini, std::ios::binary) << "[TRANSLATE]\r\nFILENAME=english.lan\r\n";
  const HANDLE holder =
      CreateFileA(ini.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  std::string content;
  std::uintmax_t size = 0;
  EXPECT_EQ(readWholeFile(ini, kMaxProfileFileBytes, content, size), WholeFile::Unreadable);
  EXPECT_EQ(fileErrorText(errno), "another program holds it open or locked");
  EXPECT_EQ(readWholeFile(path("missing.ini"), kMaxProfileFileBytes, content, size), WholeFile::Missing);

  std::chrono::milliseconds slept{0};
  const auto sleep = [&slept](std::chrono::milliseconds pause) { slept += pause; };
  SettingsFileWait wait = awaitSettingsFile(ini, std::chrono::milliseconds(500), sleep);
  EXPECT_TRUE(wait.held);
  EXPECT_FALSE(wait.readable);
  EXPECT_EQ(wait.waited.count(), 500);
  EXPECT_EQ(slept.count(), 500);
  EXPECT_EQ(wait.cause, "another program holds it open or locked");
  EXPECT_FALSE(writeProfileString(ini, "SCREEN", "PosX", "640"));

  CloseHandle(holder);
  wait = awaitSettingsFile(ini, std::chrono::milliseconds(500), sleep);
  EXPECT_FALSE(wait.held);
  EXPECT_TRUE(wait.readable);
  EXPECT_FALSE(awaitSettingsFile(path("missing.ini"), std::chrono::milliseconds(500), sleep).held);
  EXPECT_EQ(readProfileString(ini, "TRANSLATE", "FILENAME"), "english.lan");
  EXPECT_EQ(readProfileString(ini, "SCREEN", "PosX"), "");
}

TEST_F(WindowsFiles, FoldersAreMadeThroughEitherSeparatorAndRecordsAppendWhole) {
  std::string error;
  const std::string nested = path("log") + "\\2026/12";
  ASSERT_TRUE(makeFolders(nested, error)) << error;
  EXPECT_TRUE(fs::is_directory(nested));
  AppendFile file;
  ASSERT_TRUE(file.open(nested + "\\readings.csv", error)) << error;
  ASSERT_TRUE(file.append("a,1\r\n", error));
  ASSERT_TRUE(file.append("b,2\r\n", error));
  EXPECT_EQ(file.size(), 10u);
  EXPECT_EQ(file.lastByte(), '\n');
  ASSERT_TRUE(file.truncate(5, error));
  file.close();
  std::string read;
  ASSERT_TRUE(readFileChunks(nested + "\\readings.csv", [&](std::string_view chunk) { read += chunk; }, error));
  EXPECT_EQ(read, "a,1\r\n");
  EXPECT_EQ(folderEntries(nested), std::vector<std::string>{"readings.csv"});
}

TEST_F(WindowsFiles, AFolderIsNoSettingsFileAndAMissingFileReadsEmpty) {
  errno = 0;
  EXPECT_FALSE(writeProfileString(folder.string(), "A", "B", "C"));
  EXPECT_EQ(errno, EISDIR);
  EXPECT_EQ(readProfileString(path("missing.klv"), "A", "B"), "");
}

}  // namespace
}  // namespace kelvor
