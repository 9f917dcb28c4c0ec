// Start-up's parsers: the VLXNSV port list and the launcher's fifth argument.
#include <gtest/gtest.h>

#include <string>

#include "channel/socket.h"
#include "diagnostics/vlxerr.h"
#include "session/kvscor.h"
#include "support/vlxtest.h"

namespace {

TEST(Options, PortLists) {
  vlxtest::init_memory();
  for (const auto& c : vlxtest::read_cases("ports.txt")) {
    int ranges[64][2];
    int n = prtitr(c.fields[0].c_str(), ranges, 64);
    std::string expected = c.fields.size() > 1 ? c.fields[1] : "";
    if (!expected.empty() && expected[0] == '-') {
      EXPECT_EQ(n, std::stoi(expected)) << "line " << c.line;
      EXPECT_EQ(std::string(Errmes), "'" + c.fields[0] + "'") << "line " << c.line;
      raz_err();
      continue;
    }
    std::string got;
    for (int i = 0; i < n; ++i) got += (i ? " " : "") + std::to_string(ranges[i][0]) + "-" + std::to_string(ranges[i][1]);
    EXPECT_EQ(got, expected) << "line " << c.line;
  }
  int one[1][2];
  EXPECT_EQ(prtitr("1;2;3", one, 1), 1) << "at most max ranges";
}

TEST(Options, FifthArgument) {
  for (const auto& c : vlxtest::read_cases("gtinfo.txt")) {
    char client[256], port[256];
    gtinfo(c.fields[0].c_str(), client, port);
    EXPECT_EQ(std::string(client), c.fields.size() > 1 ? c.fields[1] : "") << "line " << c.line;
    EXPECT_EQ(std::string(port), c.fields.size() > 2 ? c.fields[2] : "") << "line " << c.line;
  }
}

}  // namespace
