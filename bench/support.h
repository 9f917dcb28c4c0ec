// What the benchmark programs share: a private installation to run the
// server in, timing, commands run beside it, and the line each figure is
// printed on, with its ratio against the reference of the same run.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/vlxpath.h"
#include "support/scratch.h"

namespace bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A private installation named after `name`, removed at exit: the shipped
// lan/ and cfg/, a data/ folder for inputs (the shipped sandbox lets `cat`
// read there), tmp/ for spools; VLXDIR and TMPDIR name it. Its root.
inline fs::path make_installation(const std::string& name) {
  fs::path root = vlxtest::scratch_folder(name);
  fs::create_directories(root / "data");
  fs::create_directories(root / "tmp");
  fs::create_directory_symlink(fs::path(VLX_SOURCE_INSTALL) / "lan", root / "lan");
  fs::create_directory_symlink(fs::path(VLX_SOURCE_INSTALL) / "cfg", root / "cfg");
  ::setenv("VLXDIR", root.c_str(), 1);
  ::setenv("TMPDIR", (root / "tmp").c_str(), 1);
  vlx_reset_install_dir();
  return root;
}

// Runs `command` through the shell; its wait status.
inline int run(const std::string& command) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// What a command prints on its standard output.
inline std::string output_of(const std::string& command) {
  std::string text;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
    ::pclose(pipe);
  }
  return text;
}

// One figure: ours against the reference, the ratio and whether it meets
// its target (`relation` "<=" or ">=").
inline void report(const char* name, double ours, double theirs, const char* unit, const char* relation,
                   double target) {
  double ratio = ours / theirs;
  bool met = relation[0] == '<' ? ratio <= target : ratio >= target;
  std::printf("%-16s ours %10.3f %-5s reference %10.3f %-5s ratio %6.2f (target %s %.1f) %s\n", name, ours, unit,
              theirs, unit, ratio, relation, target, met ? "met" : "NOT MET");
}

}  // namespace bench
