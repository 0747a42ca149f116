// libFuzzer target: converts arbitrary bytes, read in blocks of a size the
// input chooses, and checks properties of the script rather than just the
// absence of crashes: its frame, that every entry is a well-formed literal,
// and that undoing the escapes gives back exactly the text a resource
// compiler is meant to store.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fake_system.hpp"
#include "rcdata_writer.hpp"
#include "stored_text.hpp"
#include "text_stream.hpp"

namespace {

[[noreturn]] void property_broken(const char* what, const std::string& script) {
  std::fprintf(stderr, "property broken: %s\nscript (%zu bytes):\n%s\n", what, script.size(),
               script.c_str());
  std::abort();
}

// Undoes the escapes of one entry's text, or reports a malformed literal.
std::string unescape_entry(const std::string& line, const std::string& script) {
  const std::string ending = "\\n\",";
  if (line.size() < 1 + ending.size() || line.front() != '"' ||
      line.compare(line.size() - ending.size(), ending.size(), ending) != 0) {
    property_broken("an entry is not \"...\\n\",", script);
  }
  std::string text;
  for (std::size_t i = 1; i < line.size() - ending.size(); ++i) {
    const char c = line[i];
    if (c == '\n' || c == '\r') property_broken("raw line end inside a literal", script);
    if (c == '"') {
      if (line[++i] != '"') property_broken("a lone quote inside a literal", script);
      text += '"';
    } else if (c == '\\') {
      const char escaped = line[++i];
      if (escaped == '\\') {
        text += '\\';
      } else if (escaped == 'r') {
        text += '\r';
      } else {
        property_broken("an unexpected escape inside a literal", script);
      }
    } else {
      text += c;
    }
  }
  return text + '\n';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the read block size, so block edges fall anywhere.
  static constexpr std::size_t block_sizes[] = {1, 2, 3, 7, 16, 1023, 1024, 4095, 4096};
  lorvex::testing::fake_system fake;
  fake.read_sizes = {block_sizes[data[0] % (sizeof block_sizes / sizeof block_sizes[0])]};
  fake.input.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
  {
    lorvex::testing::fake_system_scope scope(fake);
    lorvex::text_reader reader;
    lorvex::text_writer writer;
    reader.open(LORVEX_PATH("in"));
    writer.open(LORVEX_PATH("out"));
    if (lorvex::convert_to_rcdata("FUZZ", reader, writer) != lorvex::conversion_result::complete ||
        writer.finish() != lorvex::text_writer::finishing::closed) {
      property_broken("a conversion without failures did not complete", fake.written);
    }
  }

  const std::string& script = fake.written;
  const std::string head = "FUZZ RCDATA\r\nBEGIN\r\n";
  const std::string tail = "\"\\0\",\r\nEND\r\n";
  if (script.compare(0, head.size(), head) != 0) property_broken("no header and BEGIN", script);
  if (script.size() < head.size() + tail.size() ||
      script.compare(script.size() - tail.size(), tail.size(), tail) != 0) {
    property_broken("no terminator entry and END", script);
  }
  std::string stored;
  std::size_t at = head.size();
  const std::size_t body_end = script.size() - tail.size();
  while (at < body_end) {
    const std::size_t line_end = script.find("\r\n", at);
    if (line_end == std::string::npos || line_end >= body_end) {
      property_broken("an entry without CR LF", script);
    }
    stored += unescape_entry(script.substr(at, line_end - at), script);
    at = line_end + 2;
  }
  if (stored + '\0' != lorvex::testing::expected_stored_text(fake.input)) {
    property_broken("the unescaped entries differ from the text as read", script);
  }
  return 0;
}
