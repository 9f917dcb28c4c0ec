// Walks of the request automaton over the table-request instance: session
// and table states, fallbacks, unknown events, the end of the session,
// version negotiation, and the field readers at the end of a body.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channel/afd.h"
#include "channel/divcom.h"
#include "channel/iocom.h"
#include "channel_support.h"
#include "diagnostics/vlxerr.h"
#include "support/vlxtest.h"
#include "table/fsrarq.h"

using chantest::bytes;

namespace {

struct Call {
  int slot, object, event;
  std::string text;
};
std::vector<Call> Calls;

template <int Slot>
int direct(int object, int event) {
  Calls.push_back({Slot, object, event, ""});
  return 0;
}
template <int Slot>
int one(int object) {
  Calls.push_back({Slot, object, -1, ""});
  return Slot == 3 ? -53 : 0;
}
int text2(int object, char* a, char* b) {
  Calls.push_back({7, object, -1, std::string(a) + "|" + b});
  return 0;
}
int value_out(int object, int* out) {
  Calls.push_back({16, object, -1, ""});
  *out = 0x01020304;
  return 0;
}
int check_identifier(int value, char* text, int* out) {
  Calls.push_back({62, value, -1, text});
  *out = 0;
  return 0;
}
int end_session(int object) {
  Calls.push_back({8, object, -1, ""});
  return 0;
}

class Automaton : public ::testing::Test {
 protected:
  void SetUp() override {
    vlxtest::init_memory();
    ASSERT_EQ(afd_in(), 0);
    Calls.clear();
    peer_ = chantest::make_peer(1, 0);
    afd_fn handlers[kHandlerSlots] = {};
    handlers[0] = reinterpret_cast<afd_fn>(direct<0>);
    handlers[3] = reinterpret_cast<afd_fn>(one<3>);
    handlers[7] = reinterpret_cast<afd_fn>(text2);
    handlers[8] = reinterpret_cast<afd_fn>(end_session);
    handlers[13] = reinterpret_cast<afd_fn>(direct<13>);
    handlers[16] = reinterpret_cast<afd_fn>(value_out);
    handlers[21] = reinterpret_cast<afd_fn>(direct<21>);
    handlers[62] = reinterpret_cast<afd_fn>(check_identifier);
    fsr_in(3, handlers);
  }
  void TearDown() override {
    chantest::drop_peer(peer_);
    raz_err();
  }
  int request(int code, const std::string& body) {
    std::string copy = body;
    return fsr_an(code, copy.data(), static_cast<int>(copy.size()));
  }
  chantest::Peer peer_;
};

TEST_F(Automaton, SessionEndRunsTheHandlerAndAnswersNothing) {
  EXPECT_EQ(request(0, bytes({3, 8})), -1);
  ASSERT_EQ(Calls.size(), 1u);
  EXPECT_EQ(Calls[0].slot, 8);
  EXPECT_EQ(peer_.received(), "");
}

TEST_F(Automaton, SessionCommandsWithParametersAndStatus) {
  char field[64];
  std::string body = bytes({3, 7});
  body.append(field, static_cast<std::size_t>(reqstr(field, sizeof field, "left")));
  body.append(field, static_cast<std::size_t>(reqstr(field, sizeof field, "right")));
  body += bytes({3});
  EXPECT_EQ(request(0, body), 0);
  ASSERT_EQ(Calls.size(), 2u);
  EXPECT_EQ(Calls[0].text, "left|right");
  EXPECT_EQ(Calls[1].slot, 3);
  EXPECT_EQ(peer_.received(), bytes({0x00, 0xCB})) << "status 0, then -53";
}

TEST_F(Automaton, TableStateFallsBackForTheNextEvent) {
  EXPECT_EQ(request(5, bytes({3, 4, 9})), 0);
  ASSERT_EQ(Calls.size(), 2u);
  EXPECT_EQ(Calls[0].slot, 16);
  EXPECT_EQ(Calls[0].object, 5);
  EXPECT_EQ(Calls[1].slot, 21) << "event 9 from state 64 reaches slot 21, called directly";
  EXPECT_EQ(Calls[1].event, 9);
  EXPECT_EQ(peer_.received(), bytes({0, 1, 2, 3, 4}));
}

TEST_F(Automaton, UnknownEventAnswersAndDropsTheRest) {
  EXPECT_EQ(request(0, bytes({3, 0x1B, 3, 3})), 0);
  EXPECT_TRUE(Calls.empty());
  EXPECT_EQ(peer_.received(), bytes({0xE6}));
  EXPECT_EQ(request(5, bytes({3, 200})), 0) << "beyond the transition table";
  EXPECT_EQ(peer_.received(), bytes({0xE6}));
  EXPECT_EQ(request(0, bytes({9, 3})), 0) << "a driver above 6";
  EXPECT_EQ(peer_.received(), bytes({0xE6}));
}

TEST_F(Automaton, ZeroBytesSeparateWalksAndAnEmptyStartAnswersNothing) {
  EXPECT_EQ(request(0, bytes({3, 0, 3})), 0);
  EXPECT_TRUE(Calls.empty());
  EXPECT_EQ(peer_.received(), "");
  EXPECT_EQ(request(0, bytes({3, 3, 0, 3})), 0);
  EXPECT_EQ(Calls.size(), 2u);
  EXPECT_EQ(request(0, bytes({3, 26})), 0);
  EXPECT_EQ(Calls.back().slot, 0) << "event 26 reaches slot 0";
}

TEST_F(Automaton, NodeSixtyTwoMustEndTheBody) {
  char field[16];
  std::string body = bytes({3, 24, 0, 0, 0, 1});
  body.append(field, static_cast<std::size_t>(reqstr(field, sizeof field, "id")));
  EXPECT_EQ(request(0, body + bytes({3})), 0);
  EXPECT_EQ(peer_.received(), bytes({0, 0, 0, 0, 0, 0xE6})) << "the answer, then the refused event";
}

TEST_F(Automaton, VersionNegotiation) {
  struct Case {
    int client, recorded, header;
  } cases[] = {{10, 10, 1}, {11, 11, 2}, {25, 20, 2}};
  for (const Case& c : cases) {
    sethdvcom(1, 0);
    ASSERT_EQ(request(0, bytes({3, 22, 0, 0, 0, c.client})), 0);
    EXPECT_EQ(peer_.received(), bytes({0, 0, 0, 0, 20})) << c.client;
    EXPECT_EQ(getProtocolVersion(1), c.recorded);
    EXPECT_EQ(static_cast<int>(com_slot(1)->com_vh), c.header);
  }
  EXPECT_EQ(Nutmsk, 1023);
}

TEST_F(Automaton, FieldReadersAtTheEndOfTheBody) {
  const unsigned char body[] = {0x12, 0x34, 0x00, 0x07, 0x00, 0x03, 'a', 'b'};
  Prq = body;
  Frq = body + 1;
  EXPECT_EQ(nxtint(), 0);
  EXPECT_EQ(Prq, body) << "one byte left is not read as an integer";
  EXPECT_EQ(nxtcar(), 0x12);
  EXPECT_EQ(nxtcar(), 0);
  Prq = body + 2;
  Frq = body + 8;
  char text[256];
  nxtstr(text);
  EXPECT_STREQ(text, "ab") << "the count says 5 bytes: the missing ones are zero";
  Prq = body;
  Frq = body + 3;
  EXPECT_EQ(nxtlng(), 0);
  unsigned char out[4] = {9, 9, 9, 9};
  nxtbuf(out, 4);
  EXPECT_EQ(out[2], 0x00);
  EXPECT_EQ(out[3], 0x00);
  Prq = Frq = nullptr;
}

TEST_F(Automaton, NestedBodiesKeepTheOuterCursor) {
  // Driver 4's slot 16 parses an (empty) body of its own before answering.
  static std::string inner = bytes({3, 16});
  afd_fn handlers[kHandlerSlots] = {};
  handlers[16] = reinterpret_cast<afd_fn>(+[](int, int* out) {
    *out = 7;
    return afd_an(Tabnoeud_fsarq, Trans_nd_fsrarq, Trans_fn_fsrarq[4], kHandlerSlots, 1, 0, 0, inner.data(), 0);
  });
  fsr_in(4, handlers);
  std::string body = bytes({4, 4, 4});
  EXPECT_EQ(fsr_an(6, body.data(), 3), 0);
  EXPECT_EQ(peer_.received(), bytes({0, 0, 0, 0, 7, 0, 0, 0, 0, 7})) << "both table commands were parsed";
}

}  // namespace
