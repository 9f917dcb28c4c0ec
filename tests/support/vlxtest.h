// Shared helpers of the test programs: a private installation folder, an
// initialised memory table, data-driven case files.
#pragma once

#include <string>
#include <vector>

namespace vlxtest {

// A fresh installation folder for this test program: lan/ links to the
// checkout's message files, cfg/ is a copy, keys/ and tmp/ are empty.
// Sets VLXDIR and TMPDIR to it; returns its path. Idempotent.
const std::string& install_dir();

// ini_malloc with a generous ceiling, once per program; clears the error.
void init_memory();

// Writes `text` to the file `name` of the installation's data/ folder,
// which the shipped sandbox lets `cat` read; its path.
std::string data_file(const std::string& name, const std::string& text);

// Lines of a data file under the test folder's data/, without comments
// ("#" first) and blank lines; each with its line number.
struct Case {
  int line;
  std::vector<std::string> fields;  // split on " | "
};
std::vector<Case> read_cases_in(const std::string& folder, const std::string& file);
#ifdef VLX_TEST_DATA
// Each test program names its own data folder.
inline std::vector<Case> read_cases(const std::string& file) { return read_cases_in(VLX_TEST_DATA, file); }
#endif

// Data-file text: \n \r \t \\ \xNN escapes and {text*N} (text repeated
// N times).
std::string expand(const std::string& field);

// Text of a whole file ("" when it cannot be read).
std::string slurp(const std::string& path);
// Writes `text` to `path`, replacing it.
void spit(const std::string& path, const std::string& text);

}  // namespace vlxtest
