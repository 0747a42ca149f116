#include "stored_text.hpp"

namespace lorvex::testing {

std::string expected_stored_text(const std::string& file_bytes) {
  std::string text;
  for (std::size_t i = 0; i < file_bytes.size() && file_bytes[i] != '\x1A'; ++i) {
    if (file_bytes[i] == '\r' && i + 1 < file_bytes.size() && file_bytes[i + 1] == '\n') continue;
    text += file_bytes[i];
  }
  std::string stored;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t length = 0;
    while (length < 1023 && start + length < text.size()) {
      if (text[start + length++] == '\n') break;
    }
    std::string piece = text.substr(start, length);
    start += length;
    piece = piece.substr(0, piece.find('\0'));
    if (!piece.empty() && piece.back() == '\n') piece.pop_back();
    stored += piece + '\n';
  }
  return stored + '\0';
}

}  // namespace lorvex::testing
