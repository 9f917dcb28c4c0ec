// A folder of the process's own under the system's temporary folder, for
// the private installations that tests, benchmarks and fuzz targets run
// the engine in. Its name is made unique by mkdtemp, not by the process
// number: a folder left behind by a process that was killed must never be
// in the way of a later process that happens to get the same number. The
// folders are removed when the process that made them exits normally (a
// forked child that calls exit leaves them to its parent).
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace vlxtest {

// REQUIRES: `prefix` is a plain file name.
inline std::filesystem::path scratch_folder(const std::string& prefix) {
  namespace fs = std::filesystem;
  // Kept by name, not looked up again at exit: the installations point
  // TMPDIR into themselves, which moves temp_directory_path().
  static std::vector<fs::path> made;
  static std::once_flag registered;
  static const pid_t owner = ::getpid();
  std::string pattern = (fs::temp_directory_path() / (prefix + "_XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror(pattern.c_str());
    std::abort();
  }
  made.push_back(pattern);
  std::call_once(registered, [] {
    std::atexit([] {
      if (::getpid() != owner) return;
      std::error_code ec;
      for (const fs::path& folder : made) fs::remove_all(folder, ec);
    });
  });
  return pattern;
}

}  // namespace vlxtest
