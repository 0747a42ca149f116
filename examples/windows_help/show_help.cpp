// A Windows program that reads back a text that lorvex turned into an RCDATA
// resource and compiled in, and writes it byte for byte to standard output.
//
//   show_help [NAME]      NAME defaults to HELP_TEXT
//
// The stored text ends with a NUL byte, so it can also be used directly as
// a C string: static_cast<const char*>(LockResource(...)).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>

int main(int argc, char* argv[]) {
  const char* const name = argc > 1 ? argv[1] : "HELP_TEXT";
  // RT_RCDATA, spelt out so that it does not depend on the UNICODE setting.
  HRSRC found = FindResourceA(nullptr, name, MAKEINTRESOURCEA(10));
  if (found == nullptr) {
    std::fprintf(stderr, "no RCDATA resource named %s\n", name);
    return 1;
  }
  HGLOBAL loaded = LoadResource(nullptr, found);
  const DWORD size = SizeofResource(nullptr, found);
  const void* const text = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (text == nullptr) {
    std::fprintf(stderr, "cannot load the resource %s\n", name);
    return 1;
  }
  // WriteFile, not the C runtime: its text mode would turn LF into CR LF.
  DWORD written = 0;
  if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, size, &written, nullptr) ||
      written != size) {
    return 1;
  }
  return 0;
}
