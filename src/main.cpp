// Checks the command line, opens both files, runs the conversion and turns
// every failure into one message on standard output and a non-zero status.
// It never leaves a damaged file behind: the input is never written, and an
// incomplete script in a regular file is removed.
#include "main.hpp"

#include "rcdata_writer.hpp"
#include "text_stream.hpp"

namespace lorvex {

namespace {

constexpr char usage_line[] = "Usage: lorvex rcdata_name inputfile outputfile \n";

// The path goes in as plain text: a % in it is no format directive.
void report(std::FILE* messages, const char* before, const char* path, const char* after) {
  std::fputs(before, messages);
  std::fputs(path, messages);
  std::fputs(after, messages);
  std::fflush(messages);
}

}  // namespace

int run_command_line(int argc, const char* const argv[], std::FILE* messages) {
  if (argc < 4) {
    std::fputs(usage_line, messages);
    std::fflush(messages);
    return exit_usage;
  }
  const char* const rcdata_name = argv[1];
  const char* const inputfile = argv[2];
  const char* const outputfile = argv[3];

  // The output is touched only once the input is known to be readable, so a
  // mistyped input path never costs the user the file named as output.
  std::optional<text_reader> input = open_text_reader(inputfile);
  if (!input) {
    report(messages, "Error opening INPUT file (", inputfile, ")! \n");
    return exit_failure;
  }
  writer_opening opening = open_text_writer(outputfile, &input->description());
  if (opening.refused_same_file) {
    report(messages, "Error: INPUT and OUTPUT are the same file (", outputfile, ")! \n");
    return exit_failure;
  }
  if (!opening.writer) {
    report(messages, "Error opening OUTPUT file (", outputfile, ")! \n");
    return exit_failure;
  }
  text_writer& output = *opening.writer;

  const conversion_result result = convert_to_rcdata(rcdata_name, *input, output);
  close_stream(*input);
  const bool output_closed = close_stream(output) == 0;
  if (result == conversion_result::complete && output_closed) return exit_success;

  // Never leave half a script where a build would pick it up; a device or
  // pipe is not ours to remove.
  if (output.description().regular) system::calls().remove(outputfile);
  if (result == conversion_result::read_failed) {
    report(messages, "Error reading INPUT file (", inputfile, ")! \n");
  } else {
    report(messages, "Error writing OUTPUT file (", outputfile, ")! \n");
  }
  return exit_failure;
}

}  // namespace lorvex

#ifndef LORVEX_NO_MAIN
int main(int argc, char* argv[]) { return lorvex::run_command_line(argc, argv); }
#endif
