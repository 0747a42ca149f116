// The arguments, the messages and the exit status: every failure is one line on standard output
// and a status other than 0.
#include "main.hpp"

#include <new>
#include <string>

#include "rcdata_writer.hpp"
#include "text_stream.hpp"

namespace lorvex {

namespace {

constexpr system::path_char no_path[] = {0};
constexpr const char* out_of_memory = "Error: out of memory! ";

// Exactly the option, byte for byte: no abbreviation, no other case.
bool is_option(const system::path_char* argument, const char* option) {
  for (; *option != '\0'; ++argument, ++option) {
    if (*argument != static_cast<system::path_char>(static_cast<unsigned char>(*option))) {
      return false;
    }
  }
  return *argument == 0;
}

// Only a name that a header line can hold (none, or a line feed, would break the script); whether
// a compiler takes it is the compiler's to judge.
bool usable_resource_name(const char* name) {
  bool blanks_only = true;
  for (; *name != '\0'; ++name) {
    if (static_cast<unsigned char>(*name) < 0x20 || *name == 0x7F) return false;
    blanks_only = blanks_only && *name == ' ';
  }
  return !blanks_only;
}

int fail(std::FILE* messages, const char* message, const system::path_char* path = nullptr) {
  system::print_message(messages, message, path != nullptr ? path : no_path,
                        path != nullptr ? ")! \n" : "\n");
  return exit_failure;
}

int convert_files(const char* rcdata_name, const system::path_char* inputfile,
                  const system::path_char* outputfile, std::FILE* messages) {
  // The output is touched only once the input is known to be readable, so a mistyped input path
  // never costs the user the file named as output.
  text_reader input;
  const opening in = input.open(inputfile);
  if (in == opening::no_memory) return fail(messages, out_of_memory);
  if (in != opening::opened) return fail(messages, "Error opening INPUT file (", inputfile);
  text_writer output;
  const opening opened = output.open(outputfile, &input.description());
  if (opened == opening::no_memory) return fail(messages, out_of_memory);
  if (opened == opening::same_file) {
    return fail(messages, "Error: INPUT and OUTPUT are the same file (", outputfile);
  }
  if (opened != opening::opened) return fail(messages, "Error opening OUTPUT file (", outputfile);
  const conversion_result result = convert_to_rcdata(rcdata_name, input, output);
  input.close();
  if (result != conversion_result::complete) {
    output.discard();  // never half a script where a build would pick it up
  } else if (output.finish() == text_writer::finishing::closed) {
    return exit_success;
  }
  return result == conversion_result::read_failed
             ? fail(messages, "Error reading INPUT file (", inputfile)
             : fail(messages, "Error writing OUTPUT file (", outputfile);
}

}  // namespace

int run_command_line(int argc, const system::path_char* const argv[], std::FILE* messages) {
  // Asked by build tools (Meson's version check) and people; an answer not written fails.
  const auto print = [messages](const char* line) {
    return system::print_message(messages, line, no_path, "\n");
  };
  if (argc == 2 && is_option(argv[1], "--version")) {
    return print("lorvex " LORVEX_VERSION) ? exit_success : exit_failure;
  }
  const bool help = argc == 2 && is_option(argv[1], "--help");
  if (argc < 4) {
    const bool printed =
        print("Usage: lorvex rcdata_name inputfile outputfile ") &&
        (!help || print("Writes a resource script with one RCDATA statement that holds the text of "
                        "inputfile."));
    return !help ? exit_usage : printed ? exit_success : exit_failure;
  }
  try {
    std::string storage;
    const char* const rcdata_name = system::resource_name_bytes(argv[1], &storage);
    if (rcdata_name == nullptr || !usable_resource_name(rcdata_name)) {
      print("Error: rcdata_name cannot be used as a resource name! ");
      return exit_usage;
    }
    return convert_files(rcdata_name, argv[2], argv[3], messages);
  } catch (const std::bad_alloc&) {  // before any file is touched: the streams never throw
    return fail(messages, out_of_memory);
  }
}

}  // namespace lorvex

#ifndef LORVEX_NO_MAIN
#if defined(_WIN32)
// The wide entry point: the arguments never pass through the ANSI code page.
int wmain(int argc, wchar_t* argv[]) {
#else
int main(int argc, char* argv[]) {
#endif
  lorvex::system::prepare_process(lorvex::text_writer::discard_unfinished);
  return lorvex::run_command_line(argc, argv);
}
#endif
