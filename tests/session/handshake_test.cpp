// The handshake as start-up runs it: prolog and challenge, session creation
// with and without a signature, deletion, and the answers to bad input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "channel/divcom.h"
#include "diagnostics/vlxerr.h"
#include "frontend_support.h"
#include "session/crvcom.h"
#include "support/vlxtest.h"

using namespace crvtest;
using nlohmann::json;

namespace {

const std::string kCreated =
    R"j({"status":201,"message":"Created","location":"/$sessions('999')","content-type":"application/json"})j";

std::string diagnoses_header(int status, const char* reason) {
  return "{\"status\":" + std::to_string(status) + ",\"message\":\"" + reason +
         R"(","content-type":"application/json;vnd.tarn.corvalis.representation=connection.$diagnoses"})";
}

std::string diagnoses(const std::string& text) {
  return R"({"$diagnoses":[{"$severity":"error", "$message":"Q9 engine error: )" + text +
         R"(", "$stackTrace": "Q9 engine error: )" + text + R"(\n<empty stack>"}]})";
}

class Handshake : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    vlxtest::init_memory();
    inicom("");
    key_ = make_key("web");
    other_ = make_key("other");
  }
  static void TearDownTestSuite() {
    EVP_PKEY_free(key_);
    EVP_PKEY_free(other_);
  }
  void SetUp() override { raz_err(); }

  // A signed session request of `user`, answered after the prolog.
  static Exchange signed_session(const std::function<json(const std::string& challenge)>& auth) {
    return run_handshake([&](const std::string& challenge) {
      json body{{"connectionId", "999"}, {"auth", auth(challenge)}};
      return message(session_header(), body.dump());
    });
  }

  static EVP_PKEY* key_;
  static EVP_PKEY* other_;
};
EVP_PKEY* Handshake::key_;
EVP_PKEY* Handshake::other_;

TEST_F(Handshake, GoodSignatureCreatesTheSession) {
  Exchange e = run_handshake([&](const std::string& challenge) {
    json body{{"connectionId", "999"},
              {"sessionType", "primary"},
              {"sysAuthToken", "YWRtaW46czNjcmV0Ong="},  // admin:s3cret:x
              {"preferences", {{"twoDigitYearMax", 30}, {"decimalSep", ","}}},
              {"webServer", {{"enableAppCluster", true}}},
              {"auth", {{"method", "Q9RSA"}, {"pubkey", "web"}, {"user", "jdoe"}, {"signature", sign(key_, "jdoe", challenge)}}}};
    // Small data frames: the body is whole only when they are joined.
    return message(session_header(), body.dump(), 7);
  });
  EXPECT_EQ(e.status, 0);
  ASSERT_EQ(e.answers.size(), 4u);
  EXPECT_EQ(e.answers[0].type, kFrameHeader);
  EXPECT_EQ(e.answers[0].payload,
            R"j({"status":201,"message":"Created","location":"/$connections('999')","content-type":"application/json"})j");
  EXPECT_EQ(e.answers[1].type, kFrameEnd);
  ASSERT_EQ(e.challenge.size(), 44u);
  EXPECT_EQ(e.answers[1].payload, "{\"id\":\"999\",\"processId\":" + std::to_string(::getpid()) +
                                      ",\"auth\":{\"method\":\"Q9RSA\",\"challenge\":\"" + e.challenge + "\"}}");
  EXPECT_EQ(e.answers[2].payload, kCreated);
  EXPECT_EQ(e.answers[3].type, kFrameEnd);
  EXPECT_EQ(e.answers[3].payload, R"({"id":"999"})");
  EXPECT_STREQ(Cmhusr[2], "admin");
  EXPECT_STREQ(Cmhpwd[2], "s3cret:x");
}

TEST_F(Handshake, BadSignaturesAreRefused) {
  struct Case {
    const char* name;
    std::string text;
    std::string method = "Q9RSA", pubkey = "web", user = "jdoe", suffix = "", signature = "";
    bool other_key = false;
  } cases[] = {
      {.name = "tampered challenge", .text = "Authentication error", .suffix = "x"},
      {.name = "other user", .text = "Authentication error", .user = "root"},
      {.name = "wrong key", .text = "Authentication error", .other_key = true},
      {.name = "wrong method", .text = "Unknown authentication method RSA", .method = "RSA"},
      {.name = "no key file", .text = "Unable to find nokey.pem", .pubkey = "nokey"},
      {.name = "key outside the folder", .text = "Unable to find ../keys/web.pem", .pubkey = "../keys/web"},
      {.name = "not Base64", .text = "Bad string Base64", .signature = "not*base64"},
      {.name = "too long", .text = "String too big", .signature = std::string(2000, 'A')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    raz_err();
    Exchange e = signed_session([&](const std::string& challenge) {
      std::string signature = sign(c.other_key ? other_ : key_, "jdoe", challenge + c.suffix);
      return json{{"method", c.method}, {"pubkey", c.pubkey}, {"user", c.user},
                  {"signature", c.signature.empty() ? signature : c.signature}};
    });
    EXPECT_EQ(e.status, -1);
    ASSERT_EQ(e.answers.size(), 4u);
    EXPECT_EQ(e.answers[2].payload, diagnoses_header(500, "Internal Server Error"));
    EXPECT_EQ(e.answers[3].type, kFrameEnd);
    EXPECT_EQ(e.answers[3].payload, diagnoses(c.text));
  }
}

// Session bodies and the answer they get: data/session_bodies.txt.
TEST_F(Handshake, SessionBodies) {
  for (const vlxtest::Case& c : vlxtest::read_cases("session_bodies.txt")) {
    SCOPED_TRACE("session_bodies.txt:" + std::to_string(c.line));
    ASSERT_GE(c.fields.size(), 4u);
    raz_err();
    std::strcpy(Cmhusr[2], "old");
    std::strcpy(Cmhpwd[2], "old");
    FrontEnd front(0);
    front.send(prolog_message() + message(session_header(c.fields[0], c.fields[1]), c.fields[2]));
    int status = crv_handshake();
    std::vector<Frame> answers = frames(front.received());
    ASSERT_EQ(answers.size(), 4u);
    const std::string& expected = c.fields[3];
    if (expected == "created") {
      EXPECT_EQ(status, 0);
      EXPECT_EQ(answers[2].payload, kCreated);
      if (c.fields.size() > 4) {
        EXPECT_EQ(std::string(Cmhusr[2]) + "/" + Cmhpwd[2], c.fields[4]);
      }
    } else if (expected == "deleted") {
      EXPECT_EQ(status, -2);
      EXPECT_EQ(answers[2].payload, R"({"status":204,"message":"No Content"})");
      EXPECT_EQ(answers[3].type, kFrameEnd);
      EXPECT_EQ(answers[3].payload, "");
    } else {
      EXPECT_EQ(status, -1);
      EXPECT_EQ(answers[2].payload, diagnoses_header(400, "Bad Request"));
      EXPECT_EQ(answers[3].payload, diagnoses(expected));
    }
  }
}

// What reaches the engine instead of well-formed prolog frames.
TEST_F(Handshake, BrokenPrologIsRefused) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string text;  // the diagnosis, "" for an end frame without payload
  } cases[] = {
      {"garbage", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", ""},
      {"truncated head", std::string("\0\0", 2), ""},
      {"truncated payload", frame(kFrameHeader, "{\"method\":\"POST\"}").substr(0, 12), ""},
      {"no end frame", frame(kFrameHeader, "{}") + frame(kFrameData, "{}"), ""},
      {"4 GB header frame", std::string("\xff\xff\xff\xff\x01{}", 7), "Frame too long : 4294967294 bytes (at most 1048576)"},
      {"4 GB data frame", frame(kFrameHeader, "{}") + std::string("\xff\xff\xff\xff\x02", 5),
       "Frame too long : 4294967294 bytes (at most 1048576)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    raz_err();
    FrontEnd front(0);
    front.send(c.bytes);
    EXPECT_EQ(crv_handshake(), -1);
    std::vector<Frame> answers = frames(front.received());
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].payload, diagnoses_header(500, "Internal Server Error"));
    EXPECT_EQ(answers[1].type, kFrameEnd);
    EXPECT_EQ(answers[1].payload, c.text.empty() ? "" : diagnoses(c.text));
  }
}

TEST_F(Handshake, BrokenSessionGetsTheStandardError) {
  const std::string header =
      R"({"status":500,"message":"Internal Server Error","content-type":"application/json;vnd.tarn.corvalis.representation=q9.erp.NoApplication.$diagnoses"})";
  struct Case {
    const char* name;
    std::string bytes;
    std::string text;
  } cases[] = {
      // The stream error is not kept: only the number's text is left to say.
      {"truncated", frame(kFrameHeader, session_header()) + frame(kFrameData, "{\"conn"), " (Internal error)"},
      {"body over the bound",
       frame(kFrameHeader, session_header()) + frame(kFrameData, std::string(1 << 19, ' ')) +
           frame(kFrameData, std::string((1 << 19) + 1, ' ')),
       "Frame too long : 1048577 bytes (at most 1048576)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    raz_err();
    FrontEnd front(0);
    front.send(prolog_message() + c.bytes);
    EXPECT_EQ(crv_handshake(), -1);
    std::vector<Frame> answers = frames(front.received());
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_EQ(answers[2].payload, header);
    EXPECT_EQ(answers[3].type, kFrameEnd);
    EXPECT_EQ(answers[3].payload, R"({"$diagnoses":[{"severity":"error", "message":")" + c.text + "\"}]}");
  }
}

}  // namespace
