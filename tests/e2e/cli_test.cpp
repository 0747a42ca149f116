// The built executable as a user meets it: every command-line road, with the
// exact bytes on standard output, the exit status and the files left behind.
#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "tool_process.hpp"

namespace lorvex::e2e {
namespace {

const std::string usage = "Usage: lorvex rcdata_name inputfile outputfile \n";

std::string script(const std::string& name, const std::string& entries) {
  return name + " RCDATA\r\nBEGIN\r\n" + entries + "\"\\0\",\r\nEND\r\n";
}

#if !defined(_WIN32)
mode_t mode_of(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}
#endif

bool directory_is_empty(const std::string& path) { return std::filesystem::is_empty(path); }

TEST(CommandLineRun, FewerThanThreeArgumentsPrintUsageAndTouchNothing) {
  const std::string help =
      usage +
      "Writes a resource script with one RCDATA statement that holds the text of inputfile.\n";
  // --version and --help only alone and exactly so; every other call keeps the usage line.
  const std::vector<std::pair<std::vector<std::string>, std::pair<std::string, int>>> calls = {
      {{}, {usage, 2}},
      {{"NAME"}, {usage, 2}},
      {{"NAME", "in.txt"}, {usage, 2}},
      {{"--version"}, {"lorvex 1.0.0\n", 0}},
      {{"--help"}, {help, 0}},
      {{"--version", "in.txt"}, {usage, 2}},
      {{"--help", "--version"}, {usage, 2}},
      {{"-version"}, {usage, 2}},
      {{"--Help"}, {usage, 2}}};
  for (const auto& [arguments, expected] : calls) {
    temp_dir dir;
    const run_result result = run_tool(arguments, {dir.path()});
    const std::string shown = arguments.empty() ? "" : arguments[0];
    EXPECT_EQ(result.out, message(expected.first)) << arguments.size() << " arguments " << shown;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, expected.second) << shown;
    EXPECT_TRUE(directory_is_empty(dir.path()));
  }
}

// A standard output that takes nothing (a full device) or is missing (a
// GUI parent, a detached job): an answer to --version or --help that cannot
// be written fails the call; a conversion goes on, and reports by its
// status alone.
TEST(CommandLineRun, AStandardOutputThatTakesNothingFailsOnlyAnAnswer) {
  temp_dir dir;
  write_file(dir / "in.txt", "x\n");
  const struct {
    std::vector<std::string> arguments;
    int status;
  } calls[] = {{{"--version"}, 1},
               {{"--help"}, 1},
               {{"N", "in.txt", "out.rc"}, 0},
               {{"N", "missing.txt", "out.rc"}, 1}};
  for (const auto& c : calls) {
    run_options options{dir.path()};
    options.without_standard_output = true;
    EXPECT_EQ(run_tool(c.arguments, options).status, c.status) << c.arguments[0] << ", none";
#if !defined(_WIN32)
    if (!file_exists("/dev/full")) continue;
    std::vector<std::string> command = {"/bin/sh", "-c", "\"$@\" > /dev/full", "sh"};
    for (const std::string& word : tool_command()) command.push_back(word);
    command.insert(command.end(), c.arguments.begin(), c.arguments.end());
    EXPECT_EQ(run_process(command, {dir.path()}).status, c.status) << c.arguments[0] << ", full";
#endif
  }
  EXPECT_EQ(read_file(dir / "out.rc"), script("N", "\"x\\n\",\r\n"));
}

TEST(CommandLineRun, ConvertsTheTextExactlyAndSilently) {
  temp_dir dir;
  write_file(dir / "help.txt", "Say \"hi\" to C:\\temp\r\n\tlone\rCR\n\n\xe9nd");
  const run_result result = run_tool({"HELP_TEXT", "help.txt", "help.rc"}, {dir.path()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(read_file(dir / "help.rc"), script("HELP_TEXT",
                                               "\"Say \"\"hi\"\" to C:\\\\temp\\n\",\r\n"
                                               "\"\tlone\\rCR\\n\",\r\n"
                                               "\"\\n\",\r\n"
                                               "\"\xe9nd\\n\",\r\n"));
}

TEST(CommandLineRun, ArgumentsAfterTheThirdAreIgnored) {
  temp_dir dir;
  write_file(dir / "in.txt", "x\n");
  const run_result result = run_tool({"N", "in.txt", "out.rc", "extra.rc", "-v"}, {dir.path()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(read_file(dir / "out.rc"), script("N", "\"x\\n\",\r\n"));
  EXPECT_FALSE(file_exists(dir / "extra.rc"));
}

TEST(CommandLineRun, NewOutputGetsMode644UnderTheUmask) {
  SKIP_ON_WINDOWS_BUILD("Windows files have no permission bits or umask");
#if !defined(_WIN32)
  for (const auto& [mask, expected] : {std::pair{022, 0644}, std::pair{077, 0600}}) {
    temp_dir dir;
    write_file(dir / "in.txt", "x\n");
    run_options options{dir.path()};
    options.umask = mask;
    EXPECT_EQ(run_tool({"N", "in.txt", "out.rc"}, options).status, 0);
    EXPECT_EQ(mode_of(dir / "out.rc"), static_cast<mode_t>(expected)) << "umask " << mask;
  }
#endif
}

TEST(CommandLineRun, ExistingOutputIsReplacedAndKeepsItsMode) {
  std::vector<long long> sparse_sizes = {0};  // 0: the files as written
#if !defined(_WIN32)
  // Past 4 GiB, sparse, which costs no disk: an input read only up to its
  // 0x1A, and an old output emptied, with 64-bit offsets on 32-bit targets.
  sparse_sizes.push_back((1LL << 32) + 1);
#endif
  for (const long long sparse_size : sparse_sizes) {
    temp_dir dir;
    write_file(dir / "in.txt", "x\n\x1A");
    write_file(dir / "out.rc", std::string(10000, '#'));
#if !defined(_WIN32)
    for (const char* const file : {"in.txt", "out.rc"}) {
      if (sparse_size > 0) {
        ASSERT_EQ(::truncate((dir / file).c_str(), sparse_size), 0) << file;
      }
    }
    ASSERT_EQ(::chmod((dir / "out.rc").c_str(), 0755), 0);
#endif
    const run_result result = run_tool({"N", "in.txt", "out.rc"}, {dir.path()});
    ASSERT_EQ(result.status, 0) << sparse_size << " bytes: " << result.out;
    EXPECT_EQ(read_file(dir / "out.rc"), script("N", "\"x\\n\",\r\n")) << sparse_size;
#if !defined(_WIN32)
    if (!tool_is_windows_build()) {
      EXPECT_EQ(mode_of(dir / "out.rc"), 0755u);
    }
#endif
  }
}

TEST(OpenFailures, UnopenableInputLeavesTheOutputPathAlone) {
  temp_dir dir;
  ASSERT_TRUE(std::filesystem::create_directory(dir / "folder"));
  write_file(dir / "kept.rc", "precious");
  for (const std::string input : {"missing.txt", "folder", ""}) {
    for (const std::string output : {"new.rc", "kept.rc"}) {
      const run_result result = run_tool({"N", input, output}, {dir.path()});
      EXPECT_EQ(result.out, message("Error opening INPUT file (" + input + ")! \n"));
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(result.status, 1);
    }
  }
  EXPECT_FALSE(file_exists(dir / "new.rc"));
  EXPECT_EQ(read_file(dir / "kept.rc"), "precious");
}

TEST(OpenFailures, BothUnopenableGivesOnlyTheInputMessage) {
  temp_dir dir;
  const run_result result = run_tool({"N", "missing.txt", "no/such/dir/out.rc"}, {dir.path()});
  EXPECT_EQ(result.out, message("Error opening INPUT file (missing.txt)! \n"));
  EXPECT_EQ(result.status, 1);
}

TEST(OpenFailures, UnopenableOutputLeavesTheInputAlone) {
  temp_dir dir;
  write_file(dir / "in.txt", "text\n");
  ASSERT_TRUE(std::filesystem::create_directory(dir / "folder"));
  for (const std::string output : {"no/such/dir/out.rc", "folder", ""}) {
    const run_result result = run_tool({"N", "in.txt", output}, {dir.path()});
    EXPECT_EQ(result.out, message("Error opening OUTPUT file (" + output + ")! \n"));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 1);
  }
  EXPECT_EQ(read_file(dir / "in.txt"), "text\n");
}

TEST(OpenFailures, PathsArePrintedAsTheyAre) {
  temp_dir dir;
  const std::string odd = "100% %s %d (two  blanks).txt";
  EXPECT_EQ(run_tool({"N", odd, "out.rc"}, {dir.path()}).out,
            message("Error opening INPUT file (" + odd + ")! \n"));
  write_file(dir / "in.txt", "x");
  EXPECT_EQ(run_tool({"N", "in.txt", "nowhere/" + odd}, {dir.path()}).out,
            message("Error opening OUTPUT file (nowhere/" + odd + ")! \n"));
}

TEST(SameFile, EverySpellingOfTheInputIsRefusedAndLeftIntact) {
  temp_dir dir;
  const std::string text = "do not lose me\n";
  write_file(dir / "help.txt", text);
  ASSERT_TRUE(std::filesystem::create_directory(dir / "sub"));
  std::filesystem::create_hard_link(dir / "help.txt", dir / "hard.txt");
  std::vector<std::string> outputs = {"help.txt", "./help.txt", "sub/../help.txt", dir / "help.txt",
                                      "hard.txt"};
  // Windows lets only some users make symbolic links.
  std::error_code no_link;
  std::filesystem::create_symlink("help.txt", dir / "soft.txt", no_link);
  if (!no_link) outputs.emplace_back("soft.txt");
  for (const std::string& output : outputs) {
    const run_result result = run_tool({"N", "help.txt", output}, {dir.path()});
    EXPECT_EQ(result.out,
              message("Error: INPUT and OUTPUT are the same file (" + output + ")! \n"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(read_file(dir / "help.txt"), text) << output;
  }
}

// ---- inputs that are not disk files

TEST(SpecialInputs, NamedPipeEndsAtTheMarker) {
  SKIP_ON_WINDOWS_BUILD("a FIFO in the file system is a POSIX object");
#if !defined(_WIN32)
  temp_dir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  // The text after the marker comes in a later write, and so a later read: a
  // pipe ends for good at the marker, where a terminal would go on.
  std::thread writer([&] {
    ::signal(SIGPIPE, SIG_IGN);
    const int fd = ::open((dir / "fifo").c_str(), O_WRONLY);
    const std::string parts[] = {"one\r\ntwo\n" + std::string(100000, 'x') + "\x1A", "after\n"};
    for (const std::string& data : parts) {
      for (std::size_t at = 0; fd >= 0 && at < data.size();) {
        const ssize_t put = ::write(fd, data.data() + at, data.size() - at);
        if (put <= 0) break;
        at += static_cast<std::size_t>(put);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    if (fd >= 0) ::close(fd);
  });
  const run_result result = run_tool({"N", "fifo", "out.rc"}, {dir.path()});
  writer.join();
  EXPECT_EQ(result.status, 0);
  std::string entries = "\"one\\n\",\r\n\"two\\n\",\r\n";
  for (int i = 0; i < 97; ++i) entries += "\"" + std::string(1023, 'x') + "\\n\",\r\n";
  entries += "\"" + std::string(100000 - 97 * 1023, 'x') + "\\n\",\r\n";
  EXPECT_EQ(read_file(dir / "out.rc"), script("N", entries));
#endif
}

TEST(SpecialInputs, DevStdinFedByAPipe) {
  SKIP_ON_WINDOWS_BUILD("/dev/stdin is a POSIX path");
#if !defined(_WIN32)
  temp_dir dir;
  const std::string data = "piped \"text\"\r\nend\x1Aignored";
  run_options options{dir.path()};
  options.stdin_data = &data;
  const run_result result = run_tool({"N", "/dev/stdin", "out.rc"}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(read_file(dir / "out.rc"),
            script("N", "\"piped \"\"text\"\"\\n\",\r\n\"end\\n\",\r\n"));
#endif
}

TEST(SpecialInputs, TerminalMarkerDropsOnlyTheRestOfItsLine) {
  SKIP_ON_WINDOWS_BUILD("a pseudo-terminal is a POSIX device; the console rule has unit tests");
#if !defined(_WIN32)
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string slave_path = ::ptsname(master);
  const int slave = ::open(slave_path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  termios settings{};
  ASSERT_EQ(::tcgetattr(slave, &settings), 0);
  settings.c_lflag |= ICANON;                                        // one typed line per read
  settings.c_lflag &= ~static_cast<tcflag_t>(ISIG | ECHO | IEXTEN);  // 0x1A must not suspend
  settings.c_iflag &= ~static_cast<tcflag_t>(ICRNL | IXON);
  ASSERT_EQ(::tcsetattr(slave, TCSANOW, &settings), 0);

  // Typed ahead: the tool reads it line by line. A line that starts with 0x1A
  // ends a piece, and one more at the start of a piece ends the input.
  const std::string typed =
      "first line\nab\x1A"
      "dropped\ncd\n\x1A\n\x1A\n";
  ASSERT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));

  temp_dir dir;
  const run_result result = run_tool({"N", slave_path, "out.rc"}, {dir.path()});
  ::close(slave);
  ::close(master);
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(read_file(dir / "out.rc"), script("N", "\"first line\\n\",\r\n\"abcd\\n\",\r\n"));
#endif
}

// ---- write failures

TEST(WriteFailures, FullDeviceIsReportedAndNotRemoved) {
  SKIP_ON_WINDOWS_BUILD("device nodes are POSIX objects");
#if !defined(_WIN32)
  temp_dir dir;
  write_file(dir / "in.txt", std::string(100000, 'x'));
  struct stat full {};
  if (::stat("/dev/full", &full) != 0) GTEST_SKIP() << "this system has no /dev/full";
  // A node of our own with /dev/full's numbers, so the real one is never at risk.
  if (::mknod((dir / "full").c_str(), S_IFCHR | 0666, full.st_rdev) != 0) {
    GTEST_SKIP() << "cannot make a device node here (needs root and a dev-enabled mount): "
                 << std::strerror(errno);
  }
  const run_result result = run_tool({"N", "in.txt", "full"}, {dir.path()});
  if (result.out == message("Error opening OUTPUT file (full)! \n")) {
    GTEST_SKIP() << "device nodes cannot be opened on this mount";
  }
  EXPECT_EQ(result.out, message("Error writing OUTPUT file (full)! \n"));
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(file_exists(dir / "full"));
#endif
}

TEST(WriteFailures, FileSizeLimitRemovesTheIncompleteScript) {
  SKIP_ON_WINDOWS_BUILD("setrlimit is POSIX; write failures have unit tests");
#if !defined(_WIN32)
  temp_dir dir;
  write_file(dir / "in.txt", std::string(100000, 'x'));
  write_file(dir / "out.rc", "old script");
  run_options options{dir.path()};
  options.file_size_limit = 20000;
  const run_result result = run_tool({"N", "in.txt", "out.rc"}, options);
  EXPECT_EQ(result.out, message("Error writing OUTPUT file (out.rc)! \n"));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 1);
  EXPECT_FALSE(file_exists(dir / "out.rc"));
#endif
}

TEST(ReadFailures, UnreadableInputIsReportedAndTheScriptRemoved) {
  SKIP_ON_WINDOWS_BUILD("/proc is Linux's; read failures have unit tests");
#if !defined(_WIN32)
  // A directory cannot be opened as input, but /proc offers files that open
  // and then fail to read.
  const char* const failing = "/proc/self/mem";
  if (::access(failing, R_OK) != 0) GTEST_SKIP() << failing << " is not readable here";
  temp_dir dir;
  const run_result result = run_tool({"N", failing, "out.rc"}, {dir.path()});
  EXPECT_EQ(result.out, message(std::string("Error reading INPUT file (") + failing + ")! \n"));
  EXPECT_EQ(result.status, 1);
  EXPECT_FALSE(file_exists(dir / "out.rc"));
#endif
}

}  // namespace
}  // namespace lorvex::e2e
