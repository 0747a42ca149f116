// A real consumer: show_help_inputs.exe, built with scripts that lorvex.exe made
// from tests/windows/inputs and compiled by the toolchain's own resource
// compiler (rc.exe with MSVC, windres with MinGW-w64), reads each resource
// back through FindResource, LoadResource, SizeofResource and LockResource.
// Its bytes must be the text as lorvex reads it, a line feed after every
// piece, and the NUL.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "tool_process.hpp"

namespace lorvex::e2e {
namespace {

TEST(WindowsConsumer, ReadsBackExactlyTheStoredText) {
  if (!tool_is_windows_build()) {
    GTEST_SKIP() << "runs only against the Windows build, which builds show_help_inputs.exe";
  }
  const std::string inputs = build_machine_path(LORVEX_RESOURCE_INPUTS);
  std::size_t checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(inputs)) {
    if (entry.path().extension() != ".txt") continue;
    std::string name = entry.path().stem().string();
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::vector<std::string> command = windows_test_program("show_help_inputs");
    command.push_back(name);
    const run_result result = run_process(command);
    EXPECT_EQ(result.status, 0) << name << ": " << result.err;
    EXPECT_EQ(result.out, expected_stored_text(read_file(entry.path().string()))) << name;
    ++checked;
  }
  EXPECT_GE(checked, 5u) << "too few inputs found in " << inputs;
}

}  // namespace
}  // namespace lorvex::e2e
