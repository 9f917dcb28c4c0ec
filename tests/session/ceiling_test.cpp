// The memory ceiling of the real server (256 KiB): an open or a filter
// that would pass it is refused with error 31, and the tables already open
// go on being served.
#include <gtest/gtest.h>

#include <string>

#include "server_process.h"
#include "support/vlxtest.h"

using e2e::bytes;
using e2e::request;

namespace {

std::string be16(int v) { return bytes({(v >> 8) & 0xFF, v & 0xFF}); }
std::string be32(int v) { return be16((v >> 16) & 0xFFFF) + be16(v & 0xFFFF); }
std::string text(const std::string& s) { return be16(static_cast<int>(s.size()) + 2) + be16(static_cast<int>(s.size())) + s; }

// An open of `command` declaring one text field in a record of `length`.
std::string open_request(const std::string& command, int length) {
  std::string body = bytes({3, 2, 0, 1}) + text(command) + text("") + text("") + be16(1) + bytes({0}) + be32(length);
  std::string field(36, '\0');
  field.replace(10, 2, be16(306));
  field.replace(12, 2, be16(255));
  return request(0, body) + field;
}

std::string read_first(int slot) {
  return request(slot, bytes({3, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}) + text("") + bytes({0}) + be32(0));
}

TEST(Ceiling, OversizedOpenAndGrammarAreRefusedAndTheServerGoesOn) {
  e2e::Server s = e2e::start_descriptor_form();
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
  s.send(read_first(1));
  std::string answer = s.read(256);
  ASSERT_EQ(answer.size(), 256u);
  EXPECT_EQ(answer.substr(0, 6), bytes({0}) + "first");
  s.send(request(0, bytes({3, 8})));
  EXPECT_EQ(s.wait() >> 8, 1);
}

}  // namespace
