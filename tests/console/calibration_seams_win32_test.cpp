// The calibration file on disk: a write replaces the whole file or leaves the old one as it was,
// with nothing left beside it; a read takes a file no longer than its limit.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>

#include "console/app/calibration_seams_win32.h"

namespace tactra::console {
namespace {

class Folder {
 public:
  Folder() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"calibration-files-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~Folder() {
    for (const std::wstring& name : Names()) {
      const std::wstring file = path_ + L"\\" + name;
      SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!DeleteFileW(file.c_str())) RemoveDirectoryW(file.c_str());
    }
    RemoveDirectoryW(path_.c_str());
  }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }
  std::set<std::wstring> Names() const {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((path_ + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") names.insert(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
  }

 private:
  std::wstring path_;
};

void Put(const std::wstring& path, const std::string& content) {
  std::ofstream(path.c_str(), std::ios::binary) << content;
}

std::string Get(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string kContent = std::string("3\r\n0\r\n000\r\n-32768") + std::string(3, '\0') + "\r\n";

TEST(CalibrationFileOnDisk, AWriteCreatesOrReplacesTheWholeFile) {
  Folder folder;
  FileAccessWin32 files;
  ASSERT_TRUE(files.WriteReplacing(folder / L"new.ini", kContent));
  EXPECT_EQ(Get(folder / L"new.ini"), kContent);
  Put(folder / L"old.ini", std::string(500, 'x'));
  ASSERT_TRUE(files.WriteReplacing(folder / L"old.ini", kContent));
  EXPECT_EQ(Get(folder / L"old.ini"), kContent);
  EXPECT_EQ(folder.Names(), (std::set<std::wstring>{L"new.ini", L"old.ini"}));
}

TEST(CalibrationFileOnDisk, AFailedWriteLeavesTheOldFileAndNothingBesideIt) {
  Folder folder;
  FileAccessWin32 files;
  // Open in another program that lets nobody replace it: the last step fails.
  Put(folder / L"locked.ini", "old");
  HANDLE locked = CreateFileW((folder / L"locked.ini").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(files.WriteReplacing(folder / L"locked.ini", kContent));
  CloseHandle(locked);
  EXPECT_EQ(Get(folder / L"locked.ini"), "old");
  CreateDirectoryW((folder / L"folder.ini").c_str(), nullptr);
  EXPECT_FALSE(files.WriteReplacing(folder / L"folder.ini", kContent));
  EXPECT_FALSE(files.WriteReplacing(folder / L"missing\\cal.ini", kContent));
  EXPECT_EQ(folder.Names(), (std::set<std::wstring>{L"locked.ini", L"folder.ini"}));
}

TEST(CalibrationFileOnDisk, AReadTakesAFileNoLongerThanItsLimit) {
  Folder folder;
  FileAccessWin32 files;
  Put(folder / L"exact.ini", std::string(137, 'a'));
  Put(folder / L"long.ini", std::string(138, 'a'));
  Put(folder / L"empty.ini", "");
  std::string content = "before";
  EXPECT_TRUE(files.Read(folder / L"exact.ini", 137, content));
  EXPECT_EQ(content, std::string(137, 'a'));
  EXPECT_TRUE(files.Read(folder / L"empty.ini", 137, content));
  EXPECT_EQ(content, "");
  content = "before";
  EXPECT_FALSE(files.Read(folder / L"long.ini", 137, content));
  EXPECT_FALSE(files.Read(folder / L"missing.ini", 137, content));
  EXPECT_EQ(content, "before");
}

}  // namespace
}  // namespace tactra::console
