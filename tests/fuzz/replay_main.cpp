// Runs the fuzz target's property checks without libFuzzer, in every ordinary
// test run: over each file of the seed corpus named on the command line, and
// over a few thousand random texts dense in the bytes the conversion handles.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void check(const std::string& input) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

}  // namespace

int main(int argc, char* argv[]) {
  std::size_t seeds = 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
      std::ifstream file(entry.path(), std::ios::binary);
      check(std::string(std::istreambuf_iterator<char>(file), {}));
      ++seeds;
    }
  }
  std::uint32_t state = 2463534242U;
  const auto next = [&state](std::uint32_t bound) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state % bound;
  };
  // No 0x1A among them: it ends the input, and texts must stay long. One text
  // in ten gets one, somewhere.
  const char special[] = {'\n', '\r', '"', '\\', '\0', '\t', '\xff'};
  constexpr int random_texts = 3000;
  for (int text = 0; text < random_texts; ++text) {
    std::string input(1, static_cast<char>(next(256)));  // picks the read block size
    const std::uint32_t length = next(text % 10 == 0 ? 20000 : 600);
    const std::uint32_t density = 1 + next(60);  // percent of special bytes
    for (std::uint32_t i = 0; i < length; ++i) {
      input +=
          next(100) < density ? special[next(sizeof special)] : static_cast<char>('a' + next(26));
    }
    if (next(10) == 0) input.insert(1 + next(static_cast<std::uint32_t>(input.size())), "\x1A");
    check(input);
  }
  std::printf("%zu seeds and %d random texts: every property holds\n", seeds, random_texts);
  return seeds > 0 ? 0 : 1;
}
