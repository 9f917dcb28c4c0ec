// Frames and answers on their own: the response order, the challenge, the
// readers' fields, the error answers and the frame log.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "frontend_support.h"
#include "session/CorvalisProlog.h"
#include "session/CorvalisSession.h"
#include "session/crvcom.h"
#include "support/vlxtest.h"
#include "values/varstr.h"

using namespace crvtest;

namespace {

class Frames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    vlxtest::init_memory();
  }
  void SetUp() override { raz_err(); }
  FrontEnd front{0};
};

char* piece(const char* text) { return const_cast<char*>(text); }

TEST_F(Frames, ResponsesFollowTheOrder) {
  char* bodies[] = {piece("{\"a\":"), piece("1"), piece("}"), nullptr};
  int lengths[] = {5, 1, 1};
  EXPECT_EQ(wr_frame_rsp("{}", 2, bodies, lengths, 'F'), 0);
  EXPECT_EQ(wr_frame_rsp(nullptr, 0, bodies + 1, lengths + 1, 'N'), 0);
  EXPECT_EQ(wr_frame_rsp("{}", 2, bodies, lengths, 'A'), -167);
  EXPECT_NE(std::strstr(Errmes, "src/session/crvcom:"), nullptr) << Errmes;
  EXPECT_NE(std::strstr(Errmes, ".wr_frame_rsp"), nullptr) << Errmes;
  EXPECT_EQ(wr_frame_rsp("{}", 2, bodies, lengths, 'X'), -167);
  EXPECT_EQ(wr_frame_rsp(nullptr, 0, bodies + 2, lengths + 2, 'L'), 0);
  EXPECT_EQ(wr_frame_rsp("{}", 2, bodies, lengths, 'A'), 0);
  char* none[] = {nullptr};
  EXPECT_EQ(wr_frame_rsp("{}", 2, none, nullptr, 'A'), 0);
  EXPECT_EQ(wr_frame_rsp("{}", 2, bodies, lengths, 'N'), -167);
  std::vector<Frame> f = frames(front.received());
  std::vector<std::pair<int, std::string>> seen;
  for (const Frame& x : f) seen.emplace_back(x.type, x.payload);
  std::vector<std::pair<int, std::string>> expected = {
      {1, "{}"}, {2, "{\"a\":"}, {2, "1"}, {3, "}"}, {1, "{}"}, {2, "{\"a\":"}, {2, "1"}, {3, "}"}, {1, "{}"}};
  EXPECT_EQ(seen, expected);
}

TEST_F(Frames, NothingWithoutTheFrontEndSlot) {
  int slot = Scomid;
  Scomid = 0;
  char* bodies[] = {nullptr};
  nlohmann::json json;
  EXPECT_EQ(wr_frame_rsp("{}", 2, bodies, nullptr, 'A'), -88);
  EXPECT_EQ(crv_read_header(json), -88);
  EXPECT_STREQ(Errmes, "Function call forbidden in this context");
  Scomid = slot;
}

TEST_F(Frames, ChallengeIsTwoRandomUuids) {
  char a[256], b[256];
  ASSERT_EQ(gen_challenge(a, sizeof a), 0);
  ASSERT_EQ(gen_challenge(b, sizeof b), 0);
  EXPECT_EQ(std::strlen(a), 44u);
  EXPECT_STRNE(a, b);
  unsigned char bytes[64];
  ASSERT_EQ(decode64(bytes, sizeof bytes, a), 32);
  EXPECT_EQ(bytes[6] >> 4, 4);
  EXPECT_EQ(bytes[16 + 6] >> 4, 4);
  EXPECT_EQ(gen_challenge(a, 44), -26);
  EXPECT_STREQ(Errmes, "encode64:insufiscent buffer");
}

TEST_F(Frames, PrologAnswerCarriesTheLanguage) {
  char challenge[] = "abc", language[] = "fr-FR-x";
  ASSERT_EQ(wr_prolog_ok(7, challenge, language), 0);
  std::vector<Frame> f = frames(front.received());
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[1].payload, "{\"id\":\"7\",\"processId\":" + std::to_string(::getpid()) +
                              ",\"auth\":{\"method\":\"Q9RSA\",\"challenge\":\"abc\"},\"q9Lan\":\"fr-FR\"}");
}

TEST_F(Frames, ErrorAnswersNameTheRepresentation) {
  std::strcpy(Qryctx, "q9.erp.Orders");
  ASSERT_EQ(wr_session_err(401, "bad \"quote\"\n"), 0);
  ASSERT_EQ(wr_prolog_err(-26, ""), 0);
  std::vector<Frame> f = frames(front.received());
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0].payload,
            R"j({"status":401,"message":"Unauthorized","content-type":"application/json;vnd.tarn.corvalis.representation=q9.erp.Orders.$diagnoses"})j");
  EXPECT_EQ(f[1].payload,
            R"j({"$diagnoses":[{"$severity":"error", "$message":"Q9 engine error: bad \"quote\"\n", "$stackTrace": "Q9 engine error: bad \"quote\"\n\n<empty stack>"}]})j");
  // An engine error number is no HTTP status.
  EXPECT_EQ(f[2].payload.substr(0, 50), R"({"status":500,"message":"Internal Server Error","c)");
  EXPECT_EQ(f[3].type, kFrameEnd);
  EXPECT_EQ(f[3].payload, "");
  Qryctx[0] = '\0';
}

TEST_F(Frames, ReadersTakeEveryKey) {
  front.send(message(R"j({"accept-language":"de"})j",
                     R"j({"server":"w","folder":"F","runtimeLog":"3","runtimeLogDir":"/l","runtimeLogLabel":"L","runtimeLogDesc":"D"})j"));
  std::strcpy(Qryctx, "stale");
  CorvalisProlog prolog;
  ASSERT_EQ(prolog.Read(), 0);
  EXPECT_EQ(Qryctx[0], '\0');
  EXPECT_EQ(prolog.acceptLanguage + prolog.server + prolog.folder + prolog.runtimeLogDir + prolog.runtimeLogLabel +
                prolog.runtimeLogDesc,
            "dewF/lLD");
  EXPECT_EQ(prolog.runtimeLog, 3);

  // Nested objects and converted values; plain texts are taken alike.
  nlohmann::json body = {{"connectionId", "999"}, {"sessionType", "secondary"},
                         {"auth", {{"method", "Q9RSA"}, {"pubkey", "k"}, {"user", "u"}, {"signature", "s"}}},
                         {"preferences", {{"decimalSep", ","}, {"twoDigitYearMax", 2030}, {"firstDayOfWeek", 1}}},
                         {"fusionTech", {{"protocol", "6"}, {"wkf", "w"}}},
                         {"webServer", {{"timezone", "z"}, {"enableAppCluster", false}}}};
  front.send(message(crvtest::session_header(), body.dump()));
  CorvalisSession s;
  ASSERT_EQ(s.Read(), 0);
  EXPECT_EQ(s.kind, 2);
  EXPECT_EQ(s.connectionId, 999);
  EXPECT_EQ(s.authMethod + s.authPubkey + s.authUser + s.authSignature, "Q9RSAkus");
  EXPECT_EQ(s.decimalSep + s.workflow + s.timezone + s.appCluster, ",wzfalse");
  EXPECT_EQ(s.twoDigitYearMax, 2030 - 99);
  EXPECT_EQ(s.firstDayOfWeek, 1);
  EXPECT_EQ(s.protocol, 6);
}

TEST_F(Frames, FramesAreLogged) {
  std::string dir = vlxtest::install_dir() + "/tmp";
  ASSERT_EQ(vlx::log::open("crvlog", vlx::log::channel(vlx::log::frontend | vlx::log::system), "", 1, dir), 0);
  std::string path = vlx::log::path();
  front.send(message(R"j({"method":"DELETE","url":"/$connections('5')"})j", "") + frame(kFrameData, "\x01\x02") +
             frame(7, ""));
  nlohmann::json json;
  ASSERT_EQ(crv_read_header(json), 0);
  ASSERT_EQ(crv_read_body(json), 0);
  ASSERT_EQ(crv_read_body(json), -26);  // the unknown frame is passed over, then the stream ends
  ASSERT_EQ(wr_del_session_ok(), 0);
  front.send(frame(kFrameHeader, "{\"a\":"));
  ASSERT_EQ(crv_read_header(json), 0);
  EXPECT_TRUE(json.is_null());
  log_write_json(kFrameSent, static_cast<CorvalisFrame>(9), "", 0);
  vlx::log::close();
  std::string log = vlxtest::slurp(path);
  // Each frame is on the log, both ways, with its length and its JSON
  // (binary data named as such); a broken header and an unknown code too.
  for (const char* what : {"{\"method\":\"DELETE\",\"url\":\"/$connections('5')\"}", "len : 46", "binary data",
                           "{\"status\":204,\"message\":\"No Content\"}", "len : 37", "parse_error", "Illegal code : 9"})
    EXPECT_NE(log.find(what), std::string::npos) << what << "\n" << log;
}

}  // namespace
