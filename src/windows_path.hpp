// How Windows reads a typed path, as plain string functions that are tested on every platform.
#pragma once

#include <string>

namespace lorvex::windows_path {

struct resolved {
  std::wstring native;  // what CreateFileW is given; empty: nothing is opened
  bool file = false;    // a drive or share file; anything else is opened once, never looked at
};

// full is GetFullPathNameW's answer for typed, empty where it failed.
resolved resolve(const wchar_t* typed, std::wstring full);

}  // namespace lorvex::windows_path
