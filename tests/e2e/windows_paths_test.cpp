// The Windows build meets paths and names as Windows users type them: names
// outside the ANSI code page, lookalike separators, long paths, legacy device
// names and a named pipe. Each case checks the message, the status and what
// is on disk afterwards. Run against lorvex.exe under Wine (windows.*).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tool_process.hpp"

namespace lorvex::e2e {
namespace {

#define SKIP_UNLESS_WINDOWS_BUILD()      \
  if (!tool_is_windows_build())          \
  GTEST_SKIP() << "Windows path rules: " \
                  "run against the Windows build (the windows.* tests)"

std::string script_of(const std::string& line) {
  return "N RCDATA\r\nBEGIN\r\n\"" + line + "\\n\",\r\n\"\\0\",\r\nEND\r\n";
}

const std::string absent = "(absent)";

struct path_case {
  std::string what;
  std::vector<std::string> arguments;
  int status;
  std::string out;                                               // the message, with LF
  std::vector<std::pair<std::string, std::string>> files_after;  // content, or absent
};

// A folder "work" holding lookalike pairs, a folder "a", and a text three
// 100-character folders deep; the tool runs in it.
std::string make_work_folder(const temp_dir& dir, const std::string& deep) {
  std::string work = dir / "work";
  std::filesystem::create_directories(work + "/a");
  std::filesystem::create_directories(work + "/" + deep);
  write_file(work + "/in.txt", "in\n");
  write_file(work + "/Omega.txt", "lookalike\n");
  write_file(work + "/\u03A9mega.txt", "real\n");    // Ω
  write_file(work + "/\uFF49\uFF4E.txt", "wide\n");  // fullwidth "in"
  write_file(work + "/Omega.rc", "precious");
  write_file(work + "/kept.rc", "precious");
  write_file(work + "/" + deep + "/in.txt", "deep\n");
  return work;
}

std::string windows_form(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

TEST(WindowsPaths, TheFileNamedIsTheFileUsed) {
  SKIP_UNLESS_WINDOWS_BUILD();
  const std::string folder(100, 'd');
  const std::string deep = folder + "/" + folder + "/" + folder;
  const std::string deep_in = windows_form(deep + "/in.txt");  // 309 characters
  const std::string deep_out = windows_form(deep + "/out.rc");
  temp_dir probe;
  const std::string absolute_work = "Z:" + windows_form(probe / "work");  // Wine's Z: is /
  const std::string in_message = "Error opening INPUT file (";
  const std::string out_message = "Error opening OUTPUT file (";
  const std::string bad_name = "Error: rcdata_name cannot be used as a resource name! \n";

  // Full paths of these lengths, around the limits that MAX_PATH sets (248
  // for folders, 260 in all): a name in the work folder to make up the rest.
  const auto name_for_full_length = [&](std::size_t length) {
    return std::string(length - absolute_work.size() - 1 - 3, 'p') + ".rc";
  };
  std::vector<path_case> cases = {
      {"non-ANSI input beside its lookalike",
       {"N", "\u03A9mega.txt", "o.rc"},
       0,
       "",
       {{"o.rc", script_of("real")}}},
      {"non-ANSI output beside its lookalike",
       {"N", "in.txt", "\u03A9mega.rc"},
       0,
       "",
       {{"\u03A9mega.rc", script_of("in")}, {"Omega.rc", "precious"}}},
      {"fullwidth letters",
       {"N", "\uFF49\uFF4E.txt", "o.rc"},
       0,
       "",
       {{"o.rc", script_of("wide")}}},
      {"fullwidth backslash",
       {"N", "in.txt", "a\uFF3Cb.rc"},
       0,
       "",
       {{"a\uFF3Cb.rc", script_of("in")}, {"a/b.rc", absent}}},
      {"fullwidth dots and backslash",
       {"N", "in.txt", "\uFF0E\uFF0E\uFF3Cup.rc"},
       0,
       "",
       {{"\uFF0E\uFF0E\uFF3Cup.rc", script_of("in")}, {"../up.rc", absent}}},
      {"division slash",
       {"N", "in.txt", "a\u2215b.rc"},
       0,
       "",
       {{"a\u2215b.rc", script_of("in")}, {"a/b.rc", absent}}},
      {"fraction slash",
       {"N", "in.txt", "a\u2044b.rc"},
       0,
       "",
       {{"a\u2044b.rc", script_of("in")}, {"a/b.rc", absent}}},
      {"missing non-ANSI input, named as typed",
       {"N", "\u03A9missing.txt", "kept.rc"},
       1,
       in_message + "\u03A9missing.txt)! \n",
       {{"kept.rc", "precious"}}},
      {"long relative paths",
       {"N", deep_in, deep_out},
       0,
       "",
       {{deep + "/out.rc", script_of("deep")}}},
      {"long absolute paths",
       {"N", absolute_work + "\\" + deep_in, absolute_work + "\\" + deep_out},
       0,
       "",
       {{deep + "/out.rc", script_of("deep")}}},
      {"long paths written with \\\\?\\",
       {"N", "\\\\?\\" + absolute_work + "\\" + deep_in,
        "\\\\?\\" + absolute_work + "\\" + deep_out},
       0,
       "",
       {{deep + "/out.rc", script_of("deep")}}},
      {"device stem as input",
       {"N", "aux.txt", "kept.rc"},
       1,
       in_message + "aux.txt)! \n",
       {{"kept.rc", "precious"}}},
      {"device stem nul.txt as output",
       {"N", "in.txt", "nul.txt"},
       1,
       out_message + "nul.txt)! \n",
       {{"nul.txt", absent}}},
      {"device stem aux.rc as output",
       {"N", "in.txt", "aux.rc"},
       1,
       out_message + "aux.rc)! \n",
       {{"aux.rc", absent}}},
      {"device stem com1.rc as output",
       {"N", "in.txt", "com1.rc"},
       1,
       out_message + "com1.rc)! \n",
       {{"com1.rc", absent}}},
      {"device name with a trailing blank",
       {"N", "in.txt", "nul "},
       1,
       out_message + "nul )! \n",
       {{"nul ", absent}}},
      {"bare device names stay devices", {"N", "NUL", "NUL"}, 0, "", {{"NUL", absent}}},
      {"name outside the ANSI code page",
       {"\u03A9", "in.txt", "o.rc"},
       2,
       bad_name,
       {{"o.rc", absent}}},
  };
  for (const std::size_t length : {248u, 249u, 260u}) {
    const std::string name = name_for_full_length(length);
    std::string output = absolute_work;
    output += '\\';
    output += name;
    cases.push_back({"full output path of " + std::to_string(length) + " characters",
                     {"N", "in.txt", output},
                     0,
                     "",
                     {{name, script_of("in")}}});
  }
  for (const path_case& c : cases) {
    temp_dir dir;
    const std::string work = make_work_folder(dir, deep);
    // The absolute cases name the probe folder: make it the same place.
    std::filesystem::remove_all(probe / "work");
    std::filesystem::create_directory_symlink(work, probe / "work");
    const run_result result = run_tool(c.arguments, {work});
    EXPECT_EQ(result.out, message(c.out)) << c.what;
    EXPECT_EQ(result.status, c.status) << c.what;
    for (const auto& [name, content] : c.files_after) {
      const std::string path = (std::filesystem::path(work) / name).string();
      if (content == absent) {
        EXPECT_FALSE(file_exists(path)) << c.what << ": " << name;
      } else {
        EXPECT_EQ(read_file(path), content) << c.what << ": " << name;
      }
    }
  }
}

TEST(WindowsPaths, NamedPipeOutputGetsOneConnection) {
  SKIP_UNLESS_WINDOWS_BUILD();
  temp_dir dir;
  write_file(dir / "in.txt", "piped\n");
  const std::string pipe_name = "lorvex-test-" + std::to_string(::getpid());
  std::vector<std::string> server = tool_command();
  server.back() = windows_build_dir() + "/tests/windows/pipe_server.exe";
  server.insert(server.end(), {pipe_name, "ready", "saved"});
  // A server that Wine fails to start is started once more: lorvex is what
  // is under test, and it runs only once the pipe is there.
  std::unique_ptr<running_process> serving;
  for (int attempt = 0; attempt < 2 && !file_exists(dir / "ready"); ++attempt) {
    serving = std::make_unique<running_process>(server, run_options{dir.path()});
    for (int waited = 0; !file_exists(dir / "ready") && serving->running() && waited < 300;
         ++waited) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  const std::string pipe = "\\\\.\\pipe\\" + pipe_name;
  const run_result result = run_tool({"N", "in.txt", pipe}, {dir.path()});
  const run_result served = serving->finish();
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(served.status, 0) << served.err;
  EXPECT_EQ(read_file(dir / "saved"), script_of("piped"));
}

}  // namespace
}  // namespace lorvex::e2e
