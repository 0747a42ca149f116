// Windows' own path rules, checked against Windows 10 and 11 and Wine; the names compared here are
// ASCII (prefixes, the share "pipe", device names).
#include "windows_path.hpp"

#include <cwchar>

namespace lorvex::windows_path {

namespace {

// Told by the first characters, as Windows tells them; either separator counts.
enum class form { drive_absolute, drive_relative, rooted, relative, unc, device, verbatim };

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool has_prefix(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

bool equal_ignoring_case(const wchar_t* a, std::size_t a_length, const wchar_t* b,
                         std::size_t b_length) {
  const auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c + 0; };
  for (std::size_t i = 0; a_length == b_length && i < a_length; ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return a_length == b_length;
}

// X:\... or \\server\share\..., either also behind \\.\ or \\?\; not the share "pipe".
bool names_file(const std::wstring& full) {
  std::size_t server = 2;
  if (has_prefix(full, L"\\\\?\\") || has_prefix(full, L"\\\\.\\")) {
    const wchar_t* rest = full.c_str() + 4;
    if (rest[0] != L'\0' && rest[1] == L':' && rest[2] == L'\\' && rest[3] != L'\0') return true;
    // A volume by its GUID, \\?\Volume{...}\..., is a drive by another name.
    if (full.size() > 11 && equal_ignoring_case(rest, 7, L"Volume{", 7)) {
      const std::size_t end = full.find(L"}\\", 11);
      return end != std::wstring::npos && end + 2 < full.size();
    }
    if (full.size() < 8 || !equal_ignoring_case(rest, 4, L"UNC\\", 4)) return false;
    server = 8;
  } else if (!has_prefix(full, L"\\\\")) {
    return true;  // X:\...
  }
  const std::size_t share = full.find(L'\\', server);
  if (share == std::wstring::npos || share == server) return false;
  const std::size_t share_end = full.find(L'\\', share + 1);
  const std::size_t length =
      (share_end == std::wstring::npos ? full.size() : share_end) - share - 1;
  return length > 0 && !equal_ignoring_case(full.c_str() + share + 1, length, L"pipe", 4);
}

// A legacy device is taken only by its bare name (NUL, con:, C:\x\NUL), never by a reserved stem
// with more after it (nul.txt, aux.rc, "nul ", nul.rc:nul).
bool typed_as_device_name(const wchar_t* typed, form typed_form, const std::wstring& full) {
  const wchar_t* name = typed;
  for (const wchar_t* at = typed; *at != L'\0'; ++at) {
    if (is_separator(*at)) name = at + 1;
  }
  if (typed_form == form::drive_relative && name == typed) name += 2;  // C:NUL
  std::size_t length = std::wcslen(name);
  if (length > 0 && name[length - 1] == L':') --length;
  return equal_ignoring_case(name, length, full.c_str() + 4, full.size() - 4);
}

form form_of(const wchar_t* typed) {
  if (is_separator(typed[0])) {
    if (!is_separator(typed[1])) return form::rooted;  // \dir, on the current drive
    if ((typed[2] == L'.' || typed[2] == L'?') && (is_separator(typed[3]) || typed[3] == L'\0')) {
      return typed[2] == L'?' && typed[3] != L'\0' ? form::verbatim : form::device;
    }
    return form::unc;
  }
  if (typed[0] != L'\0' && typed[1] == L':') {
    return is_separator(typed[2]) ? form::drive_absolute : form::drive_relative;
  }
  return form::relative;
}

}  // namespace

resolved resolve(const wchar_t* typed, std::wstring full) {
  resolved path;
  if (typed[0] == L'\0') return path;  // some layers take it for the current folder
  const form typed_form = form_of(typed);
  // Windows takes \\?\ with backslashes as written, other spellings as GetFullPathNameW gives them.
  if (typed_form == form::verbatim && std::wcsncmp(typed, L"\\\\?\\", 4) == 0) full = typed;
  if (full.empty()) return path;
  const bool typed_as_device = typed_form == form::device || typed_form == form::verbatim;
  if (!typed_as_device && has_prefix(full, L"\\\\.\\") &&
      !typed_as_device_name(typed, typed_form, full)) {
    return path;
  }
  path.file = names_file(full);
  // Past 248 (MAX_PATH for folders), the \\?\ form, free of MAX_PATH and the long-path setting.
  if (path.file && full.size() > 248) {
    if (has_prefix(full, L"\\\\.\\")) {
      full[2] = L'?';  // already normalised: the same file
    } else if (has_prefix(full, L"\\\\")) {
      if (!has_prefix(full, L"\\\\?\\")) full.insert(2, L"?\\UNC\\");  // \\server\share
    } else {
      full.insert(0, L"\\\\?\\");
    }
  }
  path.native = std::move(full);
  return path;
}

}  // namespace lorvex::windows_path
