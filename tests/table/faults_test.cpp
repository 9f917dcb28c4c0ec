// Injected faults at every allocation, write, read, open and command start
// of a whole table session: each is answered with its error, the next
// request is served, and nothing stays behind (spool files, descriptors,
// children, memory).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "base/faults.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "support/vlxtest.h"
#include "table/sysop.h"
#include "table_support.h"

using namespace tabletest;
using vlx::fault::site;

namespace {

// ORDER SITES: the error each site's fault is answered with (no memory, no
// room on the disk, a system error, too many open files, no more
// processes).
const char* const Names[] = {"alloc", "write", "read", "group", "open", "spawn"};
const int Expected[] = {-31, -44, -25, 0, -29, -31};

struct Outcome {
  std::vector<int> statuses;
};

// One session: open, filter, read first and next, close. Statuses of each
// answer; a table left open by a failure is closed afterwards.
Outcome session(const std::string& command) {
  Outcome o;
  int slot = open_table(command);
  o.statuses.push_back(slot < 0 ? slot : 0);
  if (slot > 0) {
    o.statuses.push_back(add_filter(slot, {{1, "<>", "skip"}}));
    std::vector<std::string> f;
    o.statuses.push_back(read_table(slot, 0, &f));
    o.statuses.push_back(read_table(slot, 2, &f));
    o.statuses.push_back(close_table(slot));
  }
  raz_err();
  return o;
}

class Faults : public ::testing::TestWithParam<site> {
 protected:
  static void SetUpTestSuite() { start_engine(); }
};

TEST_P(Faults, EveryPointIsAnsweredAndLeavesNothing) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += std::to_string(i) + (i % 3 ? " keep" : " skip") + " row\n";
  // A long line makes the spool go through the line rules (reads, writes).
  text += std::string(700, 'L') + "\n";
  std::string command = "cat " + vlxtest::data_file("faults", text);
  site where = GetParam();
  int expected = Expected[where];
  // A clean run counts the points of this kind in a session.
  vlx::fault::arm(where, 0);
  session(command);
  long points = vlx::fault::calls(where);
  ASSERT_GT(points, 0);
  int descriptors = open_descriptors();
  std::uint32_t used = adg_used();
  int answered = 0;
  for (long n = 1; n <= points; ++n) {
    vlx::fault::arm(where, n);
    Outcome o = session(command);
    vlx::fault::arm(where, 0);
    for (int st : o.statuses) answered += st == expected;
    for (int st : o.statuses)
      EXPECT_TRUE(st >= 0 || st == expected || st == -26) << "point " << n << ": status " << st;
    // Whatever failed, the next session is whole.
    Outcome next = session(command);
    ASSERT_EQ(next.statuses, (std::vector<int>{0, 1, 0, 0, 0})) << "point " << n;
    for (int slot = 1; slot < 8; ++slot)
      if (Tsy[slot] != nullptr) close_table(slot);
    EXPECT_TRUE(spool_files().empty()) << "point " << n;
    EXPECT_EQ(open_descriptors(), descriptors) << "point " << n;
    EXPECT_EQ(adg_used(), used) << "point " << n;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "no child left, point " << n;
  }
  std::printf("%s: %ld points tried, %d answered with %d\n", Names[where], points, answered, expected);
  EXPECT_GT(answered, 0);
}

INSTANTIATE_TEST_SUITE_P(Sites, Faults,
                         ::testing::Values(vlx::fault::alloc, vlx::fault::write, vlx::fault::read, vlx::fault::open,
                                           vlx::fault::spawn),
                         [](const auto& info) { return std::string(Names[info.param]); });

}  // namespace
