// The bytes a resource compiler stores for a script lorvex made from a file:
// the text as lorvex reads a file (CR LF as LF, up to a 0x1A), a line feed
// after every piece (a line, or 1023 characters of a longer one) with each
// piece cut at its first NUL, and a closing NUL. Written independently of the
// tool's own code, as the tests' reference.
#pragma once

#include <string>

namespace lorvex::testing {

std::string expected_stored_text(const std::string& file_bytes);

}  // namespace lorvex::testing
