// vlxq end to end against mawk, in one run: both print the lines of a
// 1,000,000-line file that a filter selects, process start included. vlxq
// compiles a 4GL filter with a built-in, starts the server, which spools
// the command's output and filters it, and prints the records.
//
//   bench_vlxq   (Google Benchmark's flags are accepted and ignored)
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "support.h"

using namespace bench;

namespace {

constexpr int kLines = 1000000;

// Seconds that `command` takes under sh, or a negative value when it fails.
double timed(const std::string& command) {
  auto start = Clock::now();
  int status = run(command);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds_since(start) : -1;
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
  fs::path root = make_installation("vlxqbench");
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
  return same ? 0 : 1;
}
