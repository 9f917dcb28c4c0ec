// vlxq end to end against mawk, in one run: both print the lines of a
// 1,000,000-line file that a filter selects, process start included. vlxq
// compiles a 4GL filter with a built-in, starts the server, which spools
// the command's output and filters it, and prints the records.
//
//   bench_vlxq   (Google Benchmark's flags are accepted and ignored)
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kLines = 1000000;

// Seconds that `command` takes under sh, or a negative value when it fails.
double timed(const std::string& command) {
  auto start = Clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

std::size_t lines_of(const fs::path& file) {
  std::ifstream in(file);
  std::size_t n = 0;
  for (std::string line; std::getline(in, line);) ++n;
  return n;
}

}  // namespace

int main(int, char** argv) {
  fs::path build = fs::absolute(argv[0]).parent_path().parent_path();
  fs::path vlxq = build / "client" / "vlxq";
  // A private installation: the shipped lan/ and cfg/ (whose sandbox lets
  // `cat` read data/), tmp/ for the spool.
  fs::path root = fs::temp_directory_path() / ("vlxqbench_" + std::to_string(::getpid()));
  fs::create_directories(root / "data");
  fs::create_directories(root / "tmp");
  fs::create_directory_symlink(fs::path(VLX_SOURCE_INSTALL) / "lan", root / "lan");
  fs::create_directory_symlink(fs::path(VLX_SOURCE_INSTALL) / "cfg", root / "cfg");
  ::setenv("VLXDIR", root.c_str(), 1);
  ::setenv("TMPDIR", (root / "tmp").c_str(), 1);
  fs::path file = root / "data" / "orders";
  {
    std::ofstream out(file);
    for (int i = 0; i < kLines; ++i)
      out << "c" << i % 5000 << ' ' << i % 1000 << '.' << i % 100 << " item" << i % 7 << '\n';
  }
  // One order in about 500 passes; both print the three fields tab-separated.
  // The equality first lets the server pass over most lines before the
  // calculator runs; the same filter the other way round evaluates every
  // line: shown, without a target.
  auto vlxq_with = [&](const std::string& filter, const char* out) {
    return vlxq.string() + " -n 3 --tsv --where '" + filter + "' 'cat " + file.string() + "' > " +
           (root / out).string();
  };
  const std::string ours = vlxq_with("F3 = \"item3\" and val(F2) > 997.5", "ours");
  const std::string everyLine = vlxq_with("val(F2) > 997.5 and F3 = \"item3\"", "every");
  const std::string theirs = "mawk -v OFS='\\t' '$2 > 997.5 && $3 == \"item3\" { print $1, $2, $3 }' " + file.string() +
                             " > " + (root / "theirs").string();
  double best = 1e9, slow = 1e9, reference = 1e9;
  for (int round = 0; round < 3; ++round) {
    double a = timed(ours), b = timed(theirs), c = timed(everyLine);
    if (a < 0 || b < 0 || c < 0) {
      std::fprintf(stderr, "bench_vlxq: %s failed\n", b < 0 ? "mawk" : "vlxq");
      fs::remove_all(root);
      return 1;
    }
    best = std::min(best, a);
    reference = std::min(reference, b);
    slow = std::min(slow, c);
  }
  std::size_t printed = lines_of(root / "ours"), expected = lines_of(root / "theirs");
  bool same = printed == expected && lines_of(root / "every") == expected;
  double ratio = best / reference;
  std::printf("vlxq 4GL filter: %zu of %d lines (mawk %zu)%s\n", printed, kLines, expected,
              same ? "" : " DIFFERENT SELECTION");
  std::printf("%-16s ours %10.3f s     reference %10.3f s     ratio %6.2f (target <= 1.0) %s\n", "vlxq end to end",
              best, reference, ratio, ratio <= 1.0 && same ? "met" : "NOT MET");
  std::printf("%-16s ours %10.3f s     reference %10.3f s     ratio %6.2f (no target)\n", "  every line", slow,
              reference, slow / reference);
  fs::remove_all(root);
  return same ? 0 : 1;
}
