// The scanners on the cases of data/scan.txt.
#include <gtest/gtest.h>

#include "grammar/parser.h"
#include "grammar/toktab.h"
#include "scan_support.h"
#include "support/vlxtest.h"

namespace {

struct Scan : ::testing::Test {
  static void SetUpTestSuite() {
    vlxtest::init_memory();
    grammar::Exception_fd = -1;
    ASSERT_GT(iniTokTab(), 0);
    iniTokTabSdata();
  }
};

TEST_F(Scan, CasesOfTheDataFile) {
  int cases = 0;
  for (const vlxtest::Case& c : vlxtest::read_cases("scan.txt")) {
    ASSERT_EQ(c.fields.size(), 3u) << "line " << c.line;
    const std::string& mode = c.fields[0];
    std::string source = c.fields[1] == "-" ? "" : vlxtest::expand(c.fields[1]);
    std::string expected = c.fields[2] == "-" ? "" : vlxtest::expand(c.fields[2]);
    if (mode == "gra" || mode == "both") {
      EXPECT_EQ(scan::classic(source), expected) << "line " << c.line << " classic";
    }
    if (mode == "cur" || mode == "both") {
      EXPECT_EQ(scan::current(source), expected) << "line " << c.line << " current";
    }
    if (mode == "sda") {
      EXPECT_EQ(scan::sdata(source), expected) << "line " << c.line << " sdata";
    }
    cases++;
  }
  EXPECT_GT(cases, 80);
}

}  // namespace
