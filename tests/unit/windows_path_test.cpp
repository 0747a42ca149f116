// Windows' path rules on every platform: what lorvex opens for a typed path,
// given what GetFullPathNameW answers for it (Windows 10's and Windows 11's
// answers for reserved stems both), and whether it is a drive or share file.
#include <gtest/gtest.h>

#include <string>

#include "windows_path.hpp"

namespace lorvex::windows_path {
namespace {

TEST(WindowsPathRules, EachFormOpensWhatWindowsNames) {
  const std::wstring deep = L"C:\\w\\" + std::wstring(250, L'd') + L"\\x.rc";  // past 248
  const std::wstring share = L"\\\\server\\share\\" + std::wstring(250, L'd') + L"\\x.rc";
  const std::wstring guid = L"\\\\?\\Volume{4c1b02c1-d990-11dc-99ae-806e6f6e6963}";
  const struct {
    std::wstring typed;
    std::wstring full;  // GetFullPathNameW's answer; empty where it failed
    std::wstring native;
    bool file;
  } cases[] = {
      {L"C:\\d\\help.rc", L"C:\\d\\help.rc", L"C:\\d\\help.rc", true},
      {L"help.rc", L"C:\\w\\help.rc", L"C:\\w\\help.rc", true},
      {L"\\d\\help.rc", L"C:\\d\\help.rc", L"C:\\d\\help.rc", true},
      {L"C:help.rc", L"C:\\w\\help.rc", L"C:\\w\\help.rc", true},
      {L"x.rc", deep, L"\\\\?\\" + deep, true},
      {L"\\\\server\\share\\x.rc", share, L"\\\\?\\UNC\\" + share.substr(2), true},
      {L"\\\\server\\share\\x.rc", L"\\\\server\\share\\x.rc", L"\\\\server\\share\\x.rc", true},
      {L"\\\\.\\C:\\d\\x.rc", L"\\\\.\\" + deep, L"\\\\?\\" + deep, true},
      {L"//./C:/d/x.rc", L"\\\\.\\C:\\d\\x.rc", L"\\\\.\\C:\\d\\x.rc", true},
      // \\?\ with backslashes is taken exactly as typed; any other spelling as Windows makes it.
      {L"\\\\?\\C:\\d\\..\\x.rc", L"", L"\\\\?\\C:\\d\\..\\x.rc", true},
      {L"//?/C:/d/x.rc", L"\\\\?\\C:\\d\\x.rc", L"\\\\?\\C:\\d\\x.rc", true},
      {guid + L"\\d\\x.rc", L"", guid + L"\\d\\x.rc", true},
      {guid, L"", guid, false},
      {L"\\\\.\\pipe\\name", L"\\\\.\\pipe\\name", L"\\\\.\\pipe\\name", false},
      {L"\\\\?\\PIPE\\name", L"", L"\\\\?\\PIPE\\name", false},
      {L"\\\\server\\pipe\\name", L"\\\\server\\pipe\\name", L"\\\\server\\pipe\\name", false},
      {L"\\\\?\\GLOBALROOT\\Device\\Null", L"", L"\\\\?\\GLOBALROOT\\Device\\Null", false},
      // A device by its bare name; by a reserved stem only where Windows 11 makes it a file.
      {L"NUL", L"\\\\.\\NUL", L"\\\\.\\NUL", false},
      {L"nul:", L"\\\\.\\nul", L"\\\\.\\nul", false},
      {L"C:NUL", L"\\\\.\\NUL", L"\\\\.\\NUL", false},
      {L"C:\\d\\con", L"\\\\.\\con", L"\\\\.\\con", false},
      {L"nul.txt", L"\\\\.\\nul", L"", false},
      {L"aux.rc", L"\\\\.\\aux", L"", false},
      {L"aux.rc", L"C:\\w\\aux.rc", L"C:\\w\\aux.rc", true},
      {L"nul.rc:nul", L"\\\\.\\nul", L"", false},
      {L"", L"C:\\w", L"", false},
      {L"x.rc", L"", L"", false},
  };
  for (const auto& c : cases) {
    const resolved path = resolve(c.typed.c_str(), c.full);
    const std::string shown(c.typed.begin(), c.typed.end());  // ASCII
    EXPECT_TRUE(path.native == c.native) << shown;
    EXPECT_EQ(path.file, c.file) << shown;
  }
}

}  // namespace
}  // namespace lorvex::windows_path
