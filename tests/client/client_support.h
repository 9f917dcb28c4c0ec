// Shared by the client tests: data files that the shipped sandbox lets
// `cat` read ("!data" of the test installation).
#pragma once

#include <filesystem>
#include <string>

#include "support/vlxtest.h"

namespace clienttest {

// Writes `text` to data/`name` of the test installation; the command
// that reads it back through the sandbox.
inline std::string cat_command(const std::string& name, const std::string& text) {
  std::filesystem::path data = std::filesystem::path(vlxtest::install_dir()) / "data";
  std::filesystem::create_directories(data);
  vlxtest::spit((data / name).string(), text);
  return "cat " + (data / name).string();
}

}  // namespace clienttest
