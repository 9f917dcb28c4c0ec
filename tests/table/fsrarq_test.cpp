// The table-request instance of the automaton: the driver byte, version
// negotiation. (A driver above 6 is answered at the loop, tests/session.)
#include <gtest/gtest.h>

#include <string>

#include "channel/divcom.h"
#include "diagnostics/vlxerr.h"
#include "table/fsrarq.h"
#include "table_support.h"

using namespace tabletest;

namespace {

class Requests : public EngineTest {};

TEST_F(Requests, TheDriverByteSelectsTheHandlers) {
  EXPECT_EQ(call(0, std::string("\x04\x03", 2)), "") << "a driver never installed runs nothing";
  EXPECT_EQ(call(0, std::string("\x03\x03", 2)), std::string(1, '\0')) << "an unserved role answers 0";
}

TEST_F(Requests, VersionNegotiation) {
  struct Case {
    int client, recorded, header;
  } cases[] = {{10, 10, 1}, {11, 11, 2}, {25, 20, 2}};
  for (const Case& c : cases) {
    sethdvcom(1, 0);
    EXPECT_EQ(call(0, std::string("\x03\x16", 2) + be32(c.client)), std::string("\0\0\0\0\x14", 5)) << c.client;
    EXPECT_EQ(getProtocolVersion(1), c.recorded);
    EXPECT_EQ(static_cast<int>(com_slot(1)->com_vh), c.header);
  }
  EXPECT_EQ(Nutmsk, 1023);
}

}  // namespace
