// What the POSIX and Win32 sides share: the call table that every stream
// uses, and the discard of an unfinished script built on it.
#include "system_file.hpp"

namespace lorvex::system {

call_table& calls() {
  static call_table table = native_calls();
  return table;
}

sameness compare_files(const file_description& a, const file_description& b) {
  if (a.identified && b.identified) {
    return a.volume == b.volume && a.index == b.index && a.index_high == b.index_high
               ? sameness::same
               : sameness::different;
  }
  if (!a.regular || !b.regular || a.volume != b.volume) return sameness::different;
  if (a.file == no_file || b.file == no_file) return sameness::unknown;
  return calls().compare_final_paths(a.file, b.file);
}

void discard_written_file(file_handle file, const file_description& written,
                          const path_char* path) {
  if (!written.regular) return;  // a device or pipe is not ours to empty or remove
  // Emptied first, so that even a file that cannot be removed holds no half script.
  if (file != no_file) calls().empty(file);
  file_description named;
  if (calls().describe_path(path, false, &named) && named.regular &&
      compare_files(named, written) == sameness::same) {
    calls().remove(file, path);
  }
}

}  // namespace lorvex::system
