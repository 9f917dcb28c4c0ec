// Walks of the request automaton over a small instance of its own: states
// and fallbacks, unknown events, the end of a walk, nested bodies, the
// generic readers with and without a handler, the field readers at the
// end of a body.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channel/afd.h"
#include "channel/iocom.h"
#include "diagnostics/vlxerr.h"
#include "support/peer.h"
#include "support/vlxtest.h"

using vlxtest::bytes;

namespace {

struct Call {
  int node, object, event;
  std::string text;
};
std::vector<Call> Calls;

struct TestDriver {
  int (*first)(int object);
  int (*texts)(int object, char* first, char* second);
  int (*value)(int object, int* out);
  int (*identifier)(int value, char* text, int* out);
  int (*direct)(int object, int event);
};

template <auto Reader, auto Role>
int served(int object, int event, const TestDriver& d) {
  return Reader(object, event, d.*Role);
}
int direct(int object, int event, const TestDriver& d) { return d.direct(object, event); }

// State 0 (base 0): events 1..4 reach nodes 1..4. State 5 (base 5):
// event 1 reaches node 6, event 2 node 7; event 3 falls back to state 0.
// Node 3 ends the walk (fallback -1); node 4 falls back to itself, which
// has no transition.
const s_etn<TestDriver> kNodes[] = {
    /* 0 */ {nullptr, nullptr, 0, 0},
    /* 1 */ {nullptr, served<xndatm, &TestDriver::first>, 0, -1},
    /* 2 */ {nullptr, served<xndst2, &TestDriver::texts>, 0, -1},
    /* 3 */ {nullptr, served<xndcls, &TestDriver::first>, -1, -1},
    /* 4 */ {nullptr, served<xndl1s, &TestDriver::identifier>, 4, -1},
    /* 5 */ {nullptr, nullptr, 0, 5},
    /* 6 */ {nullptr, served<xnlatm, &TestDriver::value>, 5, -1},
    /* 7 */ {nullptr, direct, 5, -1},
};
const s_trs kTransitions[] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {0, 9}, {6, 5}, {7, 5}, {-1, 5}};

const TestDriver kRecording = {
    [](int object) {
      Calls.push_back({1, object, -1, ""});
      return -53;
    },
    [](int object, char* a, char* b) {
      Calls.push_back({2, object, -1, std::string(a) + "|" + b});
      return 0;
    },
    [](int object, int* out) {
      Calls.push_back({6, object, -1, ""});
      *out = 0x01020304;
      return 0;
    },
    [](int value, char* text, int* out) {
      Calls.push_back({4, value, -1, text});
      *out = 0;
      return 0;
    },
    [](int object, int event) {
      Calls.push_back({7, object, event, ""});
      return 0;
    },
};

class Automaton : public ::testing::Test {
 protected:
  void SetUp() override {
    vlxtest::init_memory();
    ASSERT_EQ(afd_in(), 0);
    Calls.clear();
    peer_ = vlxtest::make_peer(1, 0);
  }
  void TearDown() override {
    vlxtest::drop_peer(peer_);
    raz_err();
  }
  int walk(int start, const std::string& body, const TestDriver* driver = &kRecording) {
    return afd_an<TestDriver>(kNodes, kTransitions, driver, 1, 9, start, body.data(), static_cast<int>(body.size()));
  }
  vlxtest::Peer peer_;
};

std::string text_field(const char* text) {
  char field[64];
  return std::string(field, static_cast<std::size_t>(reqstr(field, sizeof field, text)));
}

TEST_F(Automaton, ReadersPassTheirParametersAndAnswer) {
  EXPECT_EQ(walk(0, bytes({2}) + text_field("left") + text_field("right") + bytes({1})), 0);
  ASSERT_EQ(Calls.size(), 2u);
  EXPECT_EQ(Calls[0].text, "left|right");
  EXPECT_EQ(Calls[0].object, 9);
  EXPECT_EQ(Calls[1].node, 1);
  EXPECT_EQ(peer_.received(), bytes({0x00, 0xCB})) << "status 0, then -53";
}

TEST_F(Automaton, FallbacksRetryTheEventFromAnotherState) {
  EXPECT_EQ(walk(5, bytes({1, 2, 3})), -1) << "node 3 ends the walk";
  ASSERT_EQ(Calls.size(), 3u);
  EXPECT_EQ(Calls[0].node, 6);
  EXPECT_EQ(Calls[1].node, 7);
  EXPECT_EQ(Calls[1].event, 2) << "a node without parameters gets the event";
  EXPECT_EQ(Calls[2].node, 1) << "event 3 from state 5 falls back to state 0";
  EXPECT_EQ(peer_.received(), bytes({0, 1, 2, 3, 4})) << "xndcls answers nothing";
}

TEST_F(Automaton, UnknownEventsAreAnsweredAndDropTheRest) {
  EXPECT_EQ(walk(0, bytes({6, 1, 1})), 0) << "entry 6 belongs to state 5";
  EXPECT_EQ(walk(0, bytes({200, 1})), 0) << "beyond the transition table";
  EXPECT_TRUE(Calls.empty());
  EXPECT_EQ(peer_.received(), bytes({0xE6, 0xE6}));
  EXPECT_EQ(walk(0, bytes({4, 0, 0, 0, 1}) + text_field("id") + bytes({1})), 4)
      << "node 4 falls back to itself, which knows no event";
  EXPECT_EQ(peer_.received(), bytes({0, 0, 0, 0, 0, 0xE6})) << "the answer, then the refused event";
}

TEST_F(Automaton, ZeroBytesSeparateWalks) {
  EXPECT_EQ(walk(0, bytes({0, 1})), 0);
  EXPECT_EQ(peer_.received(), "") << "a body that starts with 0 is empty";
  EXPECT_EQ(walk(0, bytes({1, 0, 1})), 0);
  EXPECT_EQ(Calls.size(), 2u);
  EXPECT_EQ(walk(0, bytes({1}), nullptr), 0);
  EXPECT_EQ(Calls.size(), 2u) << "a driver never installed runs nothing";
}

TEST_F(Automaton, NullHandlersAnswerAsTheDefault) {
  TestDriver none{};
  none.direct = kRecording.direct;
  EXPECT_EQ(walk(0, bytes({2}) + text_field("a") + text_field("b") + bytes({1})), 0);
  peer_.received();
  EXPECT_EQ(walk(5, bytes({1}), &none), 5);
  EXPECT_EQ(walk(0, bytes({2}) + text_field("a") + text_field("b") + bytes({1}), &none), 0);
  EXPECT_EQ(peer_.received(), bytes({0, 0, 0, 0, 0, 0, 0})) << "zero values, status 0 twice";
}

TEST_F(Automaton, NestedBodiesKeepTheOuterCursor) {
  static std::string inner = bytes({1});
  TestDriver nesting = kRecording;
  nesting.value = [](int object, int* out) {
    *out = 7;
    return afd_an<TestDriver>(kNodes, kTransitions, &kRecording, 1, object, 0, inner.data(), 1);
  };
  EXPECT_EQ(walk(5, bytes({1, 1}), &nesting), 5);
  EXPECT_EQ(peer_.received(), bytes({0xCB, 0, 0, 0, 0, 7, 0xCB, 0, 0, 0, 0, 7}))
      << "each inner walk answers before the outer one, which goes on";
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

}  // namespace
