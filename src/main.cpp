// Checks the command line, opens both files, runs the conversion and turns
// every failure into one message on standard output and a non-zero status,
// never leaving a damaged file behind. Also answers --version and --help,
// given alone, without opening any file.
#include "main.hpp"

#include <atomic>
#include <new>
#include <string>

#include "rcdata_writer.hpp"
#include "text_stream.hpp"

namespace lorvex {

namespace {

constexpr system::path_char no_path[] = {0};

// Exactly the option, byte for byte: no abbreviation, no other case.
bool is_option(const system::path_char* argument, const char* option) {
  for (; *option != '\0'; ++argument, ++option) {
    if (*argument != static_cast<system::path_char>(static_cast<unsigned char>(*option))) {
      return false;
    }
  }
  return *argument == 0;
}

// Only a name that a header line can hold: an empty or all-blank name leaves
// the header without one, which no resource compiler takes, and a control
// byte (a line feed above all) would put lines of its own into the script.
// Whether a compiler takes the rest is the compiler's to judge.
bool usable_resource_name(const char* name) {
  bool blanks_only = true;
  for (; *name != '\0'; ++name) {
    if (static_cast<unsigned char>(*name) < 0x20 || *name == 0x7F) return false;
    blanks_only = blanks_only && *name == ' ';
  }
  return !blanks_only;
}

int fail_for_memory(std::FILE* messages) {
  system::print_message(messages, "Error: out of memory! ", no_path, "\n");
  return exit_failure;
}

// The script being written, for the failure road or a termination signal to
// discard: the path is set first, then the output, from before its open (it
// is discarded only once claimed) until the script is complete.
const system::path_char* unfinished_path = nullptr;
std::atomic<const text_writer*> unfinished_output{nullptr};
static_assert(std::atomic<const text_writer*>::is_always_lock_free, "a signal handler reads it");

int convert_files(const char* rcdata_name, const system::path_char* inputfile,
                  const system::path_char* outputfile, std::FILE* messages) {
  // The output is touched only once the input is known to be readable, so a
  // mistyped input path never costs the user the file named as output.
  text_reader input;
  const opening input_opening = input.open(inputfile);
  if (input_opening == opening::no_memory) return fail_for_memory(messages);
  if (input_opening != opening::opened) {
    system::print_message(messages, "Error opening INPUT file (", inputfile, ")! \n");
    return exit_failure;
  }
  text_writer output;
  // A signal while an existing output is emptied (a large one takes a while)
  // must not leave it empty: the output is registered before it is opened.
  unfinished_path = outputfile;
  unfinished_output.store(&output);
  const opening output_opening = output.open(outputfile, &input.description());
  if (output_opening != opening::opened) {
    unfinished_output.store(nullptr);
    if (output_opening == opening::no_memory) return fail_for_memory(messages);
    system::print_message(messages,
                          output_opening == opening::same_file
                              ? "Error: INPUT and OUTPUT are the same file ("
                              : "Error opening OUTPUT file (",
                          outputfile, ")! \n");
    return exit_failure;
  }

  const conversion_result result = convert_to_rcdata(rcdata_name, input, output);
  input.close();
  const text_writer::finishing finished = result == conversion_result::complete
                                              ? output.finish()
                                              : text_writer::finishing::write_failed;
  if (finished == text_writer::finishing::write_failed) {
    // Never leave half a script where a build would pick it up. A file whose
    // close failed is no longer this run's: another may have it by now.
    output.abandon();
    discard_unfinished_output();
  }
  unfinished_output.store(nullptr);
  if (finished == text_writer::finishing::closed) return exit_success;
  output.close();
  if (result == conversion_result::read_failed) {
    system::print_message(messages, "Error reading INPUT file (", inputfile, ")! \n");
  } else {
    system::print_message(messages, "Error writing OUTPUT file (", outputfile, ")! \n");
  }
  return exit_failure;
}

}  // namespace

// Async-signal-safe: a termination signal's handler calls it too.
void discard_unfinished_output() {
  const text_writer* output = unfinished_output.load();
  if (output != nullptr && output->claimed()) {
    system::discard_written_file(output->file(), output->description(), unfinished_path);
  }
}

int run_command_line(int argc, const system::path_char* const argv[], std::FILE* messages) {
  // Build tools (Meson's version check among them) and people ask these two;
  // a call with one argument could never convert anything. An answer that
  // cannot be written is a failure like any other.
  if (argc == 2 && is_option(argv[1], "--version")) {
    return system::print_message(messages, "lorvex " LORVEX_VERSION, no_path, "\n") ? exit_success
                                                                                    : exit_failure;
  }
  const bool help = argc == 2 && is_option(argv[1], "--help");
  if (argc < 4) {
    const bool printed = system::print_message(
        messages, "Usage: lorvex rcdata_name inputfile outputfile ", no_path, "\n");
    if (!help) return exit_usage;
    return printed && system::print_message(messages,
                                            "Writes a resource script with one RCDATA statement "
                                            "that holds the text of inputfile.",
                                            no_path, "\n")
               ? exit_success
               : exit_failure;
  }
  try {
    std::string storage;
    const char* const rcdata_name = system::resource_name_bytes(argv[1], &storage);
    if (rcdata_name == nullptr || !usable_resource_name(rcdata_name)) {
      system::print_message(messages, "Error: rcdata_name cannot be used as a resource name! ",
                            no_path, "\n");
      return exit_usage;
    }
    return convert_files(rcdata_name, argv[2], argv[3], messages);
  } catch (const std::bad_alloc&) {
    // Before any file is touched: the streams allocate without throwing.
    unfinished_output.store(nullptr);
    return fail_for_memory(messages);
  }
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
  lorvex::system::prepare_process(lorvex::discard_unfinished_output);
  return lorvex::run_command_line(argc, argv);
}
#endif
