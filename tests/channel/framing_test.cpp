// Request and acknowledgement framing in the three transfer modes: byte
// layouts, nesting, split transfers, limits, and peers that go away.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "channel/divcom.h"
#include "channel/iocom.h"
#include "channel/socket.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "support/peer.h"
#include "support/vlxtest.h"

using vlxtest::bytes;

namespace {

class Framing : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    vlxtest::init_memory();
    peer_ = vlxtest::make_peer(3, GetParam());
  }
  void TearDown() override {
    vlxtest::drop_peer(peer_);
    raz_err();
  }
  vlxtest::Peer peer_;
};

TEST_P(Framing, HeaderForms) {
  ASSERT_EQ(wr_req(3, 0x41, 2, "AB"), 0);
  EXPECT_EQ(peer_.received(), bytes({0x41, 0x00, 0x02, 'A', 'B'}));
  sethdvcom(3, 11);
  ASSERT_EQ(wr_req(3, 0x41, 2, "AB"), 0);
  EXPECT_EQ(peer_.received(), bytes({0x00, 0x41, 0x00, 0x02, 'A', 'B'}));
  peer_.send(bytes({0x01, 0x02, 0x00, 0x03, 'x', 'y', 'z'}));
  int code = 0, length = 0;
  char body[kRequestMax];
  ASSERT_EQ(rd_req(3, &code, &length, body), 0);
  EXPECT_EQ(code, 0x102);
  EXPECT_EQ(length, 3);
  EXPECT_STREQ(body, "xyz");
}

TEST_P(Framing, EmptyAndNegativeBodies) {
  peer_.send(bytes({0x05, 0x00, 0x00}));
  int code = 0, length = 0;
  char body[kRequestMax] = "junk";
  ASSERT_EQ(rd_req(3, &code, &length, body), 0);
  EXPECT_EQ(code, 5);
  EXPECT_EQ(length, 0);
  EXPECT_STREQ(body, "");
  peer_.send(bytes({0x05, 0xFF, 0xFE, 0x07, 0x00, 0x00}));
  ASSERT_EQ(rd_req(3, &code, &length, body), 0);
  EXPECT_EQ(length, -2) << "a negative length reads no body";
  ASSERT_EQ(rd_req(3, &code, &length, body), 0);
  EXPECT_EQ(code, 7) << "and the stream stays in step";
}

TEST_P(Framing, OversizedBodyIsDrainedAndRefused) {
  std::string big(2000, 'b');
  peer_.send(bytes({0x09, 0x07, 0xD0}) + big + bytes({0x04, 0x00, 0x00}));
  int code = 0, length = 0;
  char body[kRequestMax];
  EXPECT_EQ(rd_req(3, &code, &length, body), -26);
  raz_err();
  ASSERT_EQ(rd_req(3, &code, &length, body), 0);
  EXPECT_EQ(code, 4);
}

TEST_P(Framing, Acknowledgements) {
  ASSERT_EQ(wc_ack(3, -20), 0);
  ASSERT_EQ(ws_ack(3, ""), 0);
  ASSERT_EQ(ws_ack(3, "ok"), 0);
  ASSERT_EQ(wl_ack(3, "\x01\x02", 2), 0);
  EXPECT_EQ(peer_.received(), bytes({0xEC, 0x00, 0x02, 'o', 'k', 0x01, 0x02}));
  peer_.send(bytes({0x00, 0x03, 'a', 'b', 'c', 9, 8, 7}));
  char c = 1, text[256], raw[3];
  ASSERT_EQ(rc_ack(3, &c), 0);
  EXPECT_EQ(c, 0);
  ASSERT_EQ(rs_ack(3, text), 0);
  EXPECT_STREQ(text, "abc");
  ASSERT_EQ(rl_ack(3, raw, 3), 0);
  EXPECT_EQ(std::string(raw, 3), bytes({9, 8, 7}));
}

TEST_P(Framing, NestedRequestInsideAnAnswer) {
  // The engine, handling a client request, asks the peer something and
  // reads the answer before it acknowledges the first request.
  peer_.send(bytes({0x10, 0x00, 0x01, 'q'}));
  int code = 0, length = 0;
  char body[kRequestMax];
  ASSERT_EQ(rd_req(3, &code, &length, body), 0);
  ASSERT_EQ(snd_rq(3, 0x20, "?", 1), 0);
  EXPECT_EQ(peer_.received(), bytes({0x20, 0x00, 0x01, '?'}));
  peer_.send(bytes({0x00}));
  char answer = 1;
  ASSERT_EQ(rc_ack(3, &answer), 0);
  EXPECT_EQ(answer, 0);
  ASSERT_EQ(wc_ack(3, 0), 0);
  EXPECT_EQ(peer_.received(), bytes({0x00}));
}

TEST_P(Framing, DiscardingReadAndRawPieces) {
  peer_.send(std::string(600, 'd') + "tail");
  ASSERT_EQ(rl_req(3, nullptr, 600), 0);
  char tail[4];
  ASSERT_EQ(rl_req(3, tail, 4), 0);
  EXPECT_EQ(std::string(tail, 4), "tail");
  const char* pieces[] = {"one", "two"};
  int sizes[] = {3, 3};
  ASSERT_EQ(snd_rb(3, 1, "b", 1, 2, pieces, sizes), 0);
  EXPECT_EQ(peer_.received(), bytes({1, 0, 1, 'b'}) + "onetwo");
}

TEST_P(Framing, TextFields) {
  char buffer[64];
  int n = reqstr(buffer, sizeof buffer, "caf\xe9");
  EXPECT_EQ(n, 9);
  EXPECT_EQ(std::string(buffer, 9), bytes({0, 7, 0, 4, 'c', 'a', 'f', 0xC3, 0xA9}));
  n = reqstu(buffer, sizeof buffer, u"\u20ac!");
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), bytes({0, 6, 0, 2, 0xE2, 0x82, 0xAC, '!'}));
  n = reqstu(buffer, 7, u"\u20ac");
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), bytes({0, 2, 0, 0})) << "what does not fit is left out";
}

TEST_P(Framing, PeerClosingMidHeaderOrBody) {
  if (GetParam() == 0) GTEST_SKIP() << "an in-memory buffer has no peer to lose";
  peer_.send(bytes({0x05, 0x00, 0x10, 'a', 'b'}));
  peer_.close_writer();
  if (GetParam() == 4) ::shutdown(peer_.fromEngine, SHUT_WR);
  int code = 0, length = 0;
  char body[kRequestMax];
  EXPECT_LT(rd_req(3, &code, &length, body), 0);
  raz_err();
  EXPECT_LT(rd_req(3, &code, &length, body), 0) << "and again, without waiting";
}

TEST_P(Framing, OneByteAtATimePeer) {
  if (GetParam() == 0) GTEST_SKIP() << "the in-memory buffer is fed whole";
  std::string request = bytes({0x07, 0x00, 0x05}) + "hello";
  std::thread writer([&] {
    for (char c : request) {
      ASSERT_EQ(::write(peer_.toEngine, &c, 1), 1);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  int code = 0, length = 0;
  char body[kRequestMax];
  EXPECT_EQ(rd_req(3, &code, &length, body), 0);
  writer.join();
  EXPECT_EQ(code, 7);
  EXPECT_STREQ(body, "hello");
}

INSTANTIATE_TEST_SUITE_P(Modes, Framing, ::testing::Values(0, 1, 4),
                         [](const auto& info) { return info.param == 0 ? "buffer" : info.param == 1 ? "pipe" : "socket"; });

TEST(ChannelErrors, NetworkErrorTexts) {
  vlxtest::init_memory();
  EXPECT_EQ(networkError(ECONNRESET, "recv(%d)", 4), -138);
  EXPECT_STREQ(Errmes, "ECONNRESET:Remote host reset the connection request - recv(4)");
  EXPECT_EQ(Vlxerrno, ECONNRESET);
  raz_err();
  networkError(ECONNREFUSED, "connect");
  EXPECT_STREQ(Errmes, " - connect") << "this description goes to the log only";
  raz_err();
  networkError(4242, "x");
  EXPECT_STREQ(Errmes, "Unkown network error:4242 - x");
  raz_err();
}

TEST(ChannelErrors, SlotsWithoutRecords) {
  vlxtest::init_memory();
  int code, length;
  char body[kRequestMax];
  EXPECT_EQ(rd_req(17, &code, &length, body), -131);
  raz_err();
  EXPECT_EQ(i_tcom(9, nullptr, vlx_group(), 3, 0, 0, 0, 0, 0, nullptr), -26);
  EXPECT_STREQ(Errmes, "Illegal communication mode requested");
  raz_err();
  EXPECT_EQ(getProtocolVersion(9), 8);
  EXPECT_EQ(nb_containers_gr(9), 8);
}

}  // namespace
