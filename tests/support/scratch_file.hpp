// A temporary file for what a test's run prints, gone once closed.
#pragma once

#include <cstdio>
#include <memory>

namespace lorvex::testing {

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using scratch_file = std::unique_ptr<std::FILE, file_closer>;

// Throws when the system gives none.
scratch_file make_scratch_file();

}  // namespace lorvex::testing
