// The memory ceiling of the real server (256 KiB): an open or a filter
// that would pass it is refused with error 31, and the tables already open
// go on being served.
#include <gtest/gtest.h>

#include <string>

#include "base/bigend.h"
#include "support/peer.h"
#include "support/vlxtest.h"

using vlxtest::bytes;
using vlxtest::request;

namespace {

// An open of `command` declaring one text field in a record of `length`.
std::string open_request(const std::string& command, int length) {
  vlxtest::Open o = vlxtest::open_request(command, {{0, 306, 255}}, length);
  return request(0, o.body) + o.raw;
}

TEST(Ceiling, OversizedOpenAndGrammarAreRefusedAndTheServerGoesOn) {
  vlxtest::Server s = vlxtest::start_descriptor_form();
  s.send(request(0, bytes({3, 22, 0, 0, 0, 10})));
  ASSERT_EQ(s.read(5), bytes({0, 0, 0, 0, 20}));
  s.send(open_request("echo first", 255));
  ASSERT_EQ(s.read(2), bytes({0, 1})) << "status, then slot 1";
  s.send(open_request("echo second", 1 << 20));
  EXPECT_EQ(s.read(1), bytes({256 - 31})) << "a megabyte record passes the ceiling";
  // A filter whose eight sections of about 32 KiB each decode past the
  // ceiling; the sections are still read so the stream stays in step.
  const int sections[8] = {24 * 1365, 4 * 8191, 20 * 1638, 2 * 16383, 32767, 8 * 4095, 24 * 1365, 8 * 4095};
  std::string sizes, grammar;
  for (int size : sections) sizes += be16(size), grammar += std::string(static_cast<std::size_t>(size), '\0');
  s.send(request(1, bytes({3, 13}) + sizes + be16(1) + bytes({0})) + grammar);
  EXPECT_EQ(s.read(1), bytes({256 - 31}));
  s.send(request(1, vlxtest::read_request(0, 0, 0, 10)));
  std::string answer = s.read(256);
  ASSERT_EQ(answer.size(), 256u);
  EXPECT_EQ(answer.substr(0, 6), bytes({0}) + "first");
  s.send(request(0, bytes({3, 8})));
  EXPECT_EQ(s.wait() >> 8, 1);
}

}  // namespace
