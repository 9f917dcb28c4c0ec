// anagram: the compiler as the engine calls it, under both versions: the
// error it reports, the compiler's error exit, and what a compilation
// that runs out of memory leaves behind.
#include <gtest/gtest.h>

#include <string>

#include "base/faults.h"
#include "diagnostics/vlxerr.h"
#include "grammar/anagram.h"
#include "grammar/gram.h"
#include "grammar/generator.h"
#include "grammar/srcread.h"
#include "grammar/toktab.h"
#include "memory/vlxcalls.h"
#include "support/vlxtest.h"

namespace {

struct Anagram : ::testing::TestWithParam<char> {
  grctx g;
  char previous = 0;
  static void SetUpTestSuite() {
    vlxtest::init_memory();
    grammar::Exception_fd = -1;
    grammar::L4gerror_fd = -1;
    ASSERT_GT(iniTokTab(), 0);
    iniTokTabSdata();
  }
  void SetUp() override {
    previous = setVlxDefaultVersion(GetParam());
    ASSERT_EQ(init_pt_exp(&g, 0), 0);
    raz_err();
  }
  void TearDown() override {
    Grammar_free(&g);
    setVlxDefaultVersion(previous);
    raz_err();
  }

  int compile(const std::string& text, bool sdata = false) {
    inter_open(text.c_str());
    Gram_sdata = sdata;
    int status = anagram(&g);
    Gram_sdata = 0;
    return status;
  }
};

TEST_P(Anagram, CompilesAndRecordsTheRoot) {
  ASSERT_EQ(compile("@1 + x"), 0);
  EXPECT_EQ(g.headerWord, 3);
  EXPECT_EQ(gt_exp(&g, 3)->code, 258u);
  EXPECT_EQ(get_last_errvlx(), 0);
}

TEST_P(Anagram, SDataByTheFlag) {
  ASSERT_EQ(compile("@x eq 1", true), 0);
  EXPECT_EQ(gt_exp(&g, static_cast<unsigned>(g.headerWord))->code, 271u);
  EXPECT_EQ(compile("@x eq 1"), -5) << "not a 4GL expression";
}

TEST_P(Anagram, ASyntaxErrorIsErrorFiveWithTheText) {
  EXPECT_EQ(compile("@1 +"), -5);
  EXPECT_EQ(get_last_errvlx(), 5);
  EXPECT_STREQ(Errmes, "syntax error in '1 +' status:abort");
  EXPECT_EQ(Gram_ctx, nullptr) << "no current grammar afterwards";
}

TEST_P(Anagram, TooDeepAText) {
  std::string text = "@" + std::string(3000, '(') + "1" + std::string(3000, ')');
  EXPECT_EQ(compile(text), -5);
  // The classic parser's stack is exhausted; the current parser refuses
  // the nesting.
  std::string status = GetParam() == 'R' ? "memory exhausted" : "abort";
  std::string message = Errmes;
  EXPECT_EQ(message.substr(message.rfind(':') + 1), status) << "the text is cut to keep the status";
  EXPECT_EQ(message.find("syntax error in '((("), 0u);
}

TEST_P(Anagram, RunningOutOfMemoryLeavesNothingOutsideTheGrammarsGroup) {
  const std::string text = "@left$(\"abc\", 2) + [1/2/2020] + 1.5 * x.y(3) + \"abc\" & z = 7";
  vlx::fault::arm(vlx::fault::alloc, 0);
  Grammar_free(&g);
  std::uint32_t used = adg_used();
  ASSERT_EQ(init_pt_exp(&g, 0), 0);
  ASSERT_EQ(compile(text), 0);
  long points = vlx::fault::calls(vlx::fault::alloc);
  ASSERT_GT(points, 3);
  int failed = 0;
  for (long n = 1; n <= points; n++) {
    Grammar_free(&g);
    ASSERT_EQ(adg_used(), used) << "point " << n;
    ASSERT_EQ(init_pt_exp(&g, 0), 0);
    raz_err();
    vlx::fault::arm(vlx::fault::alloc, n);
    int status = compile(text);
    vlx::fault::arm(vlx::fault::alloc, 0);
    EXPECT_TRUE(status == 0 || status == -5 || status == -31) << "point " << n << ": " << status;
    failed += status < 0;
  }
  EXPECT_GT(failed, 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, Anagram, ::testing::Values('R', 'S'),
                         [](const auto& info) { return std::string(1, info.param); });

struct ErrorExit : Anagram {};

TEST_P(ErrorExit, AnInvalidConstantStopsTheClassicCompilation) {
  // The classic scanner stops at a decimal it cannot convert; the line of
  // the syntax error makes it error 5 (after the decimal's own error).
  EXPECT_EQ(compile("@1 + 1e99999"), -5);
  EXPECT_EQ(Vstat1, 5);
  if (GetParam() == 'R') {
    EXPECT_EQ(Gram_errline, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, ErrorExit, ::testing::Values('R', 'S'),
                         [](const auto& info) { return std::string(1, info.param); });

// Only the classic scanner stores while it scans.
struct ClassicErrorExit : Anagram {};

TEST_P(ClassicErrorExit, AStoreThatFailsInTheScannerIsErrorThirtyOne) {
  vlx::fault::arm(vlx::fault::alloc, 1);
  int status = compile("@x");
  vlx::fault::arm(vlx::fault::alloc, 0);
  EXPECT_EQ(status, -31);
}

INSTANTIATE_TEST_SUITE_P(Version, ClassicErrorExit, ::testing::Values('R'),
                         [](const auto& info) { return std::string(1, info.param); });

TEST(Version, SetReturnsThePreviousLetter) {
  char first = getVlxDefaultVersion();
  EXPECT_TRUE(first == 'R' || first == 'S');
  EXPECT_EQ(setVlxDefaultVersion('T'), first);
  EXPECT_EQ(getVlxDefaultVersion(), 'T');
  EXPECT_EQ(setVlxDefaultVersion(first), 'T');
}

}  // namespace
