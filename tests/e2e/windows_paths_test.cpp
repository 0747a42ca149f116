// The Windows build meets paths and names as Windows users type them: names
// outside the ANSI code page, lookalike separators, long paths, every spelling
// of the device and verbatim prefixes, legacy device names and named pipes.
// Each case checks the message, the status and what is on disk afterwards.
// Run by the Windows suite, and by the POSIX suite against lorvex.exe under
// Wine (windows.*).
#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#endif

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
                  "run against the Windows build"

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
  long file_size_limit = -1;  // bytes: a write fails past it (POSIX suite only)
};

// A folder "work" holding lookalike pairs, a folder "a", a text three
// 100-character folders deep and one of 4000 bytes, made anew; the tool runs
// in it.
std::string make_work_folder(const temp_dir& dir, const std::string& deep) {
  std::string work = dir / "work";
  remove_tree(work);
  std::filesystem::create_directories(file_path(work + "/a"));
  std::filesystem::create_directories(file_path(work + "/" + deep));
  write_file(work + "/in.txt", "in\n");
  write_file(work + "/Omega.txt", "lookalike\n");
  write_file(work + "/\u03A9mega.txt", "real\n");    // Ω
  write_file(work + "/\uFF49\uFF4E.txt", "wide\n");  // fullwidth "in"
  write_file(work + "/Omega.rc", "precious");
  write_file(work + "/kept.rc", "precious");
  write_file(work + "/big.txt", std::string(4000, 'x'));
  write_file(work + "/" + deep + "/in.txt", "deep\n");
  return work;
}

// Whether the running Windows reads a name typed in a folder as a legacy
// device, as GetFullPathNameW tells: \\.\ and the device's name.
#if defined(_WIN32)
bool reads_as_legacy_device(const std::string& typed) {
  const std::wstring wide(typed.begin(), typed.end());  // ASCII
  wchar_t full[MAX_PATH];
  const DWORD length = GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr);
  return length > 4 && length < MAX_PATH && std::wstring(full, 4) == L"\\\\.\\";
}
#endif

std::string with_backslashes(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

TEST(WindowsPaths, TheFileNamedIsTheFileUsed) {
  SKIP_UNLESS_WINDOWS_BUILD();
  const std::string folder(100, 'd');
  const std::string deep = folder + "/" + folder + "/" + folder;
  const std::string deep_in = with_backslashes(deep + "/in.txt");  // 309 characters
  const std::string deep_out = with_backslashes(deep + "/out.rc");
  temp_dir dir;
  const std::string absolute_work = windows_absolute(dir / "work");
  std::string slashed_work = absolute_work;
  for (char& c : slashed_work) {
    if (c == '\\') c = '/';
  }
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
      {"long paths written with \\/?\\ and //?/",
       {"N", "\\/?\\" + absolute_work + "\\" + deep_in,
        "//?/" + slashed_work + "/" + deep + "/out.rc"},
       0,
       "",
       {{deep + "/out.rc", script_of("deep")}}},
      {"paths written with //./",
       {"N", "//./" + slashed_work + "/in.txt", "//./" + slashed_work + "/o.rc"},
       0,
       "",
       {{"o.rc", script_of("in")}}},
      {"an output written with \\\\.\\ is removed after a failed write",
       {"N", "big.txt", "\\\\.\\" + absolute_work + "\\kept.rc"},
       1,
       "Error writing OUTPUT file (\\\\.\\" + absolute_work + "\\kept.rc)! \n",
       {{"kept.rc", absent}},
       2000},
      {"device stem as input",
       {"N", "aux.txt", "kept.rc"},
       1,
       in_message + "aux.txt)! \n",
       {{"kept.rc", "precious"}}},
      {"bare device names stay devices", {"N", "NUL", "NUL"}, 0, "", {{"NUL", absent}}},
      {"device names with a colon", {"N", "NUL:", "nul:"}, 0, "", {{"nul", absent}}},
      {"name outside the ANSI code page",
       {"\u03A9", "in.txt", "o.rc"},
       2,
       bad_name,
       {{"o.rc", absent}}},
  };
  // A reserved stem with more after it: Windows 10 reads each as its device,
  // which lorvex refuses; Windows 11 reads most as files of that name, which
  // it writes. The Windows suite asks the Windows it runs on; the POSIX
  // suite, which cannot ask, leaves these to it.
#if defined(_WIN32)
  for (const std::string typed : {"nul.txt", "aux.rc", "com1.rc", "nul ", "nul.rc:nul"}) {
    if (!reads_as_legacy_device(typed)) {
      cases.push_back({typed + " as output, a file here",
                       {"N", "in.txt", typed},
                       0,
                       "",
                       {{typed, script_of("in")}}});
    } else {
      cases.push_back({typed + " as output, a device here",
                       {"N", "in.txt", typed},
                       1,
                       out_message + typed + ")! \n",
                       {{typed.substr(0, typed.find(':')), absent}}});
    }
  }
#endif
  for (const std::size_t length : {248u, 249u, 260u}) {
    const std::string name = name_for_full_length(length);
    std::string full = absolute_work;
    full += "\\" + name;
    cases.push_back({"full output path of " + std::to_string(length) + " characters",
                     {"N", "in.txt", full},
                     0,
                     "",
                     {{name, script_of("in")}}});
  }
  for (const path_case& c : cases) {
    // A write failure needs a file-size limit on the process, which only the
    // POSIX suite can set.
#if defined(_WIN32)
    if (c.file_size_limit >= 0) continue;
#endif
    const std::string work = make_work_folder(dir, deep);
    run_options options{work};
#if !defined(_WIN32)
    options.file_size_limit = c.file_size_limit;
    options.ignored_signals = {SIGXFSZ};  // as lorvex on POSIX: WriteFile fails instead
#endif
    const run_result result = run_tool(c.arguments, options);
    EXPECT_EQ(result.out, message(c.out)) << c.what;
    EXPECT_EQ(result.status, c.status) << c.what;
    for (const auto& [name, content] : c.files_after) {
      // A \\?\ path, as file_path makes, keeps ".." as a name: resolved here.
      const std::string path =
          name.rfind("../", 0) == 0 ? dir / name.substr(3) : (work + "/").append(name);
      if (content == absent) {
        EXPECT_FALSE(file_exists(path)) << c.what << ": " << name;
      } else {
        EXPECT_EQ(read_file(path), content) << c.what << ": " << name;
      }
    }
  }
}

// A one-instance server takes a look before the open as its one client, so
// every spelling of a pipe is opened once; a pipe input ends as its server
// ends it, here with flush, disconnect, close, and not at an empty message;
// meanwhile the output can be opened to read as fopen does.
TEST(WindowsPaths, NamedPipesAreOpenedOnceAndEndAsTheirServerEndsThem) {
  SKIP_UNLESS_WINDOWS_BUILD();
  const std::pair<std::string, std::string> cases[] = {
      // @ for the name; the server's mode, "receive" with the pipe as the output
      {"\\\\.\\pipe\\@", "receive"}, {"\\\\?\\pipe\\@", "receive"},
      {"\\\\?\\PIPE\\@", "receive"}, {"\\\\?\\GLOBALROOT\\Device\\NamedPipe\\@", "receive"},
      {"//./pipe/@", "receive"},     {"//./pipe/@", "send"},
      {"\\\\.\\pipe\\@", "send"},    {"\\\\.\\pipe\\@", "messages"},
  };
  int serial = 0;
  for (const auto& [spelling, mode] : cases) {
    const bool output = mode == "receive";
    temp_dir dir;
    write_file(dir / "in.txt", "piped\n");
    write_file(dir / "saved", "precious");
    const std::string name =
        "lorvex-test-" + std::to_string(this_process_id()) + "-" + std::to_string(++serial);
    std::string pipe = spelling;
    pipe.replace(pipe.find('@'), 1, name);
    std::vector<std::string> server = windows_test_program("pipe_server");
    server.insert(server.end(), {mode, name, "ready"});
    if (mode != "send") server.push_back("saved");
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
    const run_result result =
        run_tool({"N", output ? "in.txt" : pipe, output ? pipe : "saved"}, {dir.path()});
    const run_result served = serving->finish();
    EXPECT_EQ(result.out, "") << pipe;
    EXPECT_EQ(result.status, 0) << pipe;
    EXPECT_EQ(served.status, 0) << pipe << ": " << served.err;
    EXPECT_EQ(read_file(dir / "saved"), script_of("piped")) << pipe;
  }
}

}  // namespace
}  // namespace lorvex::e2e
