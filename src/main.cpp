// Checks the command line, opens both files, runs the conversion and turns
// every failure into one message on standard output and a non-zero status.
// It never leaves a damaged file behind: the input is never written, and an
// incomplete script in a regular file is removed.
#include "main.hpp"

#include <atomic>
#include <string>

#include "rcdata_writer.hpp"
#include "text_stream.hpp"

namespace lorvex {

namespace {

constexpr char usage_line[] = "Usage: lorvex rcdata_name inputfile outputfile \n";
constexpr char bad_name_line[] = "Error: rcdata_name cannot be used as a resource name! \n";

void print_line(std::FILE* messages, const char* line) {
  std::fputs(line, messages);
  std::fflush(messages);
}

// Only bytes that a header line can hold: an empty name makes a script no
// resource compiler takes, and a control byte (a line feed above all) would
// put lines of its own into the script.
bool usable_resource_name(const std::string& name) {
  if (name.empty()) return false;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

// The script being written, for a termination signal to clean up: filled in
// before `writing` is set, read only while it is.
struct unfinished_output {
  system::file_handle file = system::no_file;
  system::file_description description;
  const system::path_char* path = nullptr;
};
unfinished_output unfinished;
std::atomic<bool> writing{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler reads it");

void set_unfinished_output(const text_writer& output, const system::path_char* path) {
  unfinished.file = output.file();
  unfinished.description = output.description();
  unfinished.path = path;
  writing.store(true);
}

}  // namespace

void clean_up_on_termination() {
  if (writing.load()) {
    system::discard_written_file(unfinished.file, unfinished.description, unfinished.path);
  }
}

int run_command_line(int argc, const system::path_char* const argv[], std::FILE* messages) {
  if (argc < 4) {
    print_line(messages, usage_line);
    return exit_usage;
  }
  std::string rcdata_name;
  if (!system::resource_name_bytes(argv[1], &rcdata_name) || !usable_resource_name(rcdata_name)) {
    print_line(messages, bad_name_line);
    return exit_usage;
  }
  const system::path_char* const inputfile = argv[2];
  const system::path_char* const outputfile = argv[3];

  // The output is touched only once the input is known to be readable, so a
  // mistyped input path never costs the user the file named as output.
  std::optional<text_reader> input = open_text_reader(inputfile);
  if (!input) {
    system::print_message(messages, "Error opening INPUT file (", inputfile, ")! \n");
    return exit_failure;
  }
  writer_opening opening = open_text_writer(outputfile, &input->description());
  if (opening.refused_same_file) {
    system::print_message(messages, "Error: INPUT and OUTPUT are the same file (", outputfile,
                          ")! \n");
    return exit_failure;
  }
  if (!opening.writer) {
    system::print_message(messages, "Error opening OUTPUT file (", outputfile, ")! \n");
    return exit_failure;
  }
  text_writer& output = *opening.writer;

  set_unfinished_output(output, outputfile);
  const conversion_result result = convert_to_rcdata(rcdata_name.c_str(), *input, output);
  close_stream(*input);
  if (result == conversion_result::complete && output.flush()) {
    writing.store(false);  // the script is whole: a signal now leaves it be
    if (close_stream(output) == 0) return exit_success;
  }

  // Never leave half a script where a build would pick it up. A failed close
  // has already let go of the file: it is then known by its identity alone.
  output.abandon();
  system::discard_written_file(output.file(), output.description(), outputfile);
  writing.store(false);
  close_stream(output);
  if (result == conversion_result::read_failed) {
    system::print_message(messages, "Error reading INPUT file (", inputfile, ")! \n");
  } else {
    system::print_message(messages, "Error writing OUTPUT file (", outputfile, ")! \n");
  }
  return exit_failure;
}

}  // namespace lorvex

#ifndef LORVEX_NO_MAIN
#if defined(_WIN32)
// The wide entry point: the arguments as Windows holds them, split by the C
// runtime's usual rules, never passed through the ANSI code page.
int wmain(int argc, wchar_t* argv[]) {
#else
int main(int argc, char* argv[]) {
#endif
  lorvex::system::prepare_process(lorvex::clean_up_on_termination);
  return lorvex::run_command_line(argc, argv);
}
#endif
