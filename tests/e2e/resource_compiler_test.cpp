// Round trips through real resource compilers: the script lorvex writes is
// compiled to a .res file, and the RCDATA bytes stored there must be the text
// as lorvex reads it, a line feed after every piece, and the closing NUL.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tool_process.hpp"

namespace lorvex::e2e {
namespace {

// windres and llvm-rc are the build machine's: the POSIX suite compiles the
// scripts of both builds with them, and WindowsConsumer in the Windows suite
// compiles them with the toolchain's own resource compiler.
#if !defined(_WIN32)
struct resource {
  std::uint16_t type = 0;  // an ordinal type; 0 when the type is named
  std::u16string name;
  std::string data;
};

std::uint32_t little32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;) {
    value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
  }
  return value;
}

std::uint16_t little16(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes.at(at)) |
                                    static_cast<unsigned char>(bytes.at(at + 1)) << 8);
}

// A .res file is a run of entries: data size, header size, type and name
// (each an 0xFFFF ordinal or a UTF-16 string), then the data, each entry
// aligned to four bytes.
std::vector<resource> parse_res(const std::string& bytes) {
  std::vector<resource> resources;
  std::size_t at = 0;
  while (at + 8 <= bytes.size()) {
    const std::uint32_t data_size = little32(bytes, at);
    const std::uint32_t header_size = little32(bytes, at + 4);
    resource entry;
    std::size_t field = at + 8;
    if (little16(bytes, field) == 0xFFFF) {
      entry.type = little16(bytes, field + 2);
      field += 4;
    } else {
      while (little16(bytes, field) != 0) field += 2;
      field += 2;
    }
    if (little16(bytes, field) == 0xFFFF) {
      entry.name = u"#";
    } else {
      for (; little16(bytes, field) != 0; field += 2) {
        entry.name += static_cast<char16_t>(little16(bytes, field));
      }
    }
    entry.data = bytes.substr(at + header_size, data_size);
    resources.push_back(entry);
    at = (at + header_size + data_size + 3) & ~static_cast<std::size_t>(3);
  }
  return resources;
}

constexpr std::uint16_t rt_rcdata = 10;

struct compiler {
  const char* name;
  std::string program;
  // llvm-rc reads narrow strings through code page 1252 and refuses the bytes
  // 0x80-0x9F that 1252 maps outside Latin-1; windres takes every byte.
  bool takes_every_byte;
  std::vector<std::string> (*command)(const std::string& program, const std::string& rc,
                                      const std::string& res);
};

std::vector<compiler> compilers() {
  return {
      {"windres", LORVEX_WINDRES, true,
       [](const std::string& program, const std::string& rc, const std::string& res) {
         return std::vector<std::string>{program, "-J", "rc", "-O", "res", "-i", rc, "-o", res};
       }},
      // Code page 1252 lets bytes 0x80-0xFF through as the same bytes.
      {"llvm-rc", LORVEX_LLVM_RC, false,
       [](const std::string& program, const std::string& rc, const std::string& res) {
         return std::vector<std::string>{program, "/C", "1252", "/FO", res, rc};
       }},
  };
}

bool same_byte_in_code_page_1252(int b) {
  const bool unassigned = b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
  return b < 0x80 || b >= 0xA0 || unassigned;
}

std::string every_byte_but_line_ends(const compiler& rc) {
  std::string bytes;
  for (int b = 1; b < 256; ++b) {
    if (b == '\n' || b == '\r' || b == 0x1A) continue;
    if (rc.takes_every_byte || same_byte_in_code_page_1252(b)) bytes += static_cast<char>(b);
  }
  return bytes;
}

struct round_trip_case {
  const char* what;
  std::string input;
};

std::vector<round_trip_case> round_trip_cases(const compiler& rc) {
  return {
      {"empty input", ""},
      {"quotes and backslashes", "Say \"hi\" to C:\\temp\\\n\"\"\n\\\\\"\\\n\\"},
      {"every other byte value",
       every_byte_but_line_ends(rc) + "\n" + every_byte_but_line_ends(rc)},
      {"NUL bytes", std::string("before\0after\n\0\nend\0", 19)},
      {"carriage returns", "lone\rCR\r\r\nCRLF\r\nLF\n\rstart\nend\r"},
      {"end-of-file marker",
       "kept\npart\x1A"
       "dropped\nalso dropped\n"},
      {"long lines", std::string(3000, 'a') + "\n" + std::string(1023, '"') + "\n" +
                         std::string(2046, '\\') + "\n" + std::string(1022, 'b') + "\r\n" +
                         std::string(1025, '\t')},
  };
}

#endif

TEST(ResourceCompilers, StoreExactlyTheTextThatWasRead) {
#if defined(_WIN32)
  GTEST_SKIP() << "the build machine's resource compilers run in the POSIX suite";
#else
  for (const compiler& rc : compilers()) {
    if (rc.program.empty()) {
      ADD_FAILURE() << rc.name << " was not found when the tests were configured";
      continue;
    }
    for (const round_trip_case& c : round_trip_cases(rc)) {
      temp_dir dir;
      write_file(dir / "text.txt", c.input);
      ASSERT_EQ(run_tool({"HELP_TEXT", dir / "text.txt", dir / "text.rc"}).status, 0) << c.what;
      const run_result compiled =
          run_process(rc.command(rc.program, dir / "text.rc", dir / "text.res"));
      ASSERT_EQ(compiled.status, 0) << rc.name << " rejected the script for " << c.what << ":\n"
                                    << compiled.out << compiled.err;
      std::vector<resource> found;
      for (const resource& r : parse_res(read_file(dir / "text.res"))) {
        if (r.type == rt_rcdata) found.push_back(r);
      }
      ASSERT_EQ(found.size(), 1u) << rc.name << ", " << c.what;
      EXPECT_EQ(found[0].name, u"HELP_TEXT") << rc.name << ", " << c.what;
      EXPECT_EQ(found[0].data, expected_stored_text(c.input)) << rc.name << ", " << c.what;
    }
  }
#endif
}

}  // namespace
}  // namespace lorvex::e2e
