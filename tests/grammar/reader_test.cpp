// The source readers under the classic scanner, and what a scanner error
// leaves behind: the syntax-error state, or an emptied grammar after a stop.
#include <gtest/gtest.h>

#include <string>

#include "base/faults.h"
#include "diagnostics/vlxerr.h"
#include "grammar/gralex.h"
#include "grammar/gram.h"
#include "grammar/parser.h"
#include "grammar/srcread.h"
#include "grammar/tokens.h"
#include "grammar/toktab.h"
#include "memory/vlxcalls.h"
#include "scan_support.h"
#include "support/vlxtest.h"
#include "values/varstr.h"

namespace {

struct Reader : ::testing::Test {
  static void SetUpTestSuite() {
    vlxtest::init_memory();
    grammar::Exception_fd = -1;
    ASSERT_GT(iniTokTab(), 0);
  }
  unsigned group = 0;
  grctx g{};
  void SetUp() override {
    group = adg_get(nullptr, nullptr, 0, "reader test");
    ASSERT_EQ(init_pt_exp(&g, group), 0);
    Gram_ctx = &g;
    gram_clear();
  }
  void TearDown() override {
    gra_init();
    Gram_ctx = nullptr;
    inter_open("");
    adg_free(group);
  }

  // Token numbers and values of the current source, from the start, into
  // an empty grammar.
  std::string tokens() {
    gramlb(&g);
    g.group = group;
    inigcl(&g);
    gra_init();
    std::string out;
    for (int t; (t = gra_lex()) != 0;) out += std::to_string(t) + "=" + std::to_string(gra_lval.value) + " ";
    return out;
  }
};

const char kSource[] = "x = \"d\xC3\xA9j\xC3\xA0 \xE2\x82\xAC\" + 12\n&  # end\n";

TEST_F(Reader, FileTextAndUcs2SourcesScanAlike) {
  inter_open(kSource);
  std::string expected = tokens();
  EXPECT_EQ(expected, "442=1 61=61 462=1 43=43 446=1 10=10 ");

  std::string path = vlxtest::install_dir() + "/tmp/source.vlx";
  vlxtest::spit(path, kSource);
  ASSERT_EQ(file_open(path.c_str()), 0);
  EXPECT_EQ(tokens(), expected);
  EXPECT_EQ(file_open((path + ".missing").c_str()), -20);

  char16_t wide[64];
  ASSERT_GT(utftoptu(wide, kSource, 64), 0);
  clbini(wide);
  EXPECT_EQ(tokens(), expected);
  EXPECT_EQ(char16tostring(reinterpret_cast<const char16_t*>(g.gr_stu.gc_ptr) + 1), "d\xC3\xA9j\xC3\xA0 \xE2\x82\xAC");
}

TEST_F(Reader, LoadSourceGivesTheRestInUtf8) {
  inter_open("ab");
  EXPECT_EQ(src_getc(), 'a');
  EXPECT_EQ(loadSource(), "b");
  EXPECT_EQ(src_getc(), -1);
  clbini(u"\u00e9\u20ac\xd800");
  EXPECT_EQ(loadSource(), "\xC3\xA9\xE2\x82\xAC\xED\xA0\x80") << "every unit, a lone surrogate too";
  std::string path = vlxtest::install_dir() + "/tmp/whole.vlx";
  vlxtest::spit(path, std::string("a\0b", 3));
  ASSERT_EQ(file_open(path.c_str()), 0);
  EXPECT_EQ(loadSource(), std::string("a\0b", 3));
}

TEST_F(Reader, NulInASourceFileIsAnError) {
  std::string path = vlxtest::install_dir() + "/tmp/nul.vlx";
  vlxtest::spit(path, std::string("a\0b", 3));
  ASSERT_EQ(file_open(path.c_str()), 0);
  EXPECT_EQ(tokens(), "442=1 257=0 442=3 ");
  EXPECT_EQ(Gram_synerr, 1);
  EXPECT_EQ(Gram_errline, 1);
  EXPECT_STREQ(Gram_errmes, "Invalid token: NUL byte");
}

TEST_F(Reader, FirstErrorIsKept) {
  inter_open("\n\"{a}\n\"\xff\" \"\xfe\"");
  gra_init();
  while (gra_lex() != 0) {
  }
  EXPECT_EQ(Gram_synerr, 1);
  EXPECT_EQ(Gram_errline, 2);
  EXPECT_STREQ(Gram_errmes, "unterminated string literal: \"{a}");
  gram_clear();
  EXPECT_EQ(Gram_synerr, 0);
  EXPECT_EQ(Gram_errmes[0], '\0');
  // An error on a statement's first token: the line that token reports,
  // not the one of the statement before the continuation mark.
  inter_open("a\n\n&\"abc");
  gra_init();
  while (gra_lex() != 0) {
  }
  EXPECT_EQ(Gram_errline, 3);
}

TEST_F(Reader, InvalidDecimalStopsAndEmptiesTheGrammar) {
  inter_open("a = \"s\" + 1 + 1e999");
  gra_init();
  int stopped = 0;
  try {
    while (gra_lex() != 0) {
    }
  } catch (const gram_stopped& stop) {
    stopped = stop.status;
  }
  EXPECT_EQ(stopped, -5);
  EXPECT_EQ(Gram_synerr, 1);
  EXPECT_EQ(g.gr_int.gc_nbr + g.gr_stu.gc_nbr + g.gr_ide.gc_nbr, 0u) << "the constants went with the grammar";
  EXPECT_EQ(g.group, group) << "the record stays in its group";
  EXPECT_EQ(stfint(&g, 5), 1) << "and takes constants again";
}

TEST_F(Reader, AFailedStoreStopsTheCompilation) {
  inter_open("x = \"abc\"");
  gra_init();
  EXPECT_EQ(gra_lex(), gratok::identif);
  EXPECT_EQ(gra_lex(), '=');
  vlx::fault::arm(vlx::fault::alloc, 1);
  int stopped = 0;
  try {
    gra_lex();
  } catch (const gram_stopped& stop) {
    stopped = stop.status;
  }
  vlx::fault::arm(vlx::fault::alloc, 0);
  raz_err();
  EXPECT_EQ(stopped, -31) << "the string pool could not grow";
}

TEST_F(Reader, ScanStringBufferAndLineAccessors) {
  // A buffer made by gra_lex is the scanner's own; gra_init releases it
  // before a caller's buffer takes its place.
  gra_init();
  YY_BUFFER_STATE buffer = gra__scan_string("a\nb");
  EXPECT_EQ(gra_lex(), gratok::identif);
  EXPECT_STREQ(gra_get_text(), "A");
  EXPECT_EQ(gra_get_leng(), 1);
  EXPECT_EQ(gra_lex(), '\n');
  EXPECT_EQ(gra_get_lineno(), 2);
  EXPECT_EQ(gra_lex(), gratok::identif);
  EXPECT_EQ(gra_lex(), 0);
  gra__delete_buffer(buffer);
  Start_line = 100;
  inter_open("x");
  gra_init();
  EXPECT_EQ(gra_lex(), gratok::identif);
  EXPECT_EQ(gra_lval.line, 101u) << "lines reported from the first line's number";
  Start_line = 0;
}

TEST_F(Reader, ContinuationMarksAloneAndHugeWordsEndCleanly) {
  std::string marks;
  for (int i = 0; i < 10000; i++) marks += "\n&";
  EXPECT_EQ(scan::classic(marks), "");
  EXPECT_EQ(scan::current(marks), "");
  std::string word(1 << 20, 'w');
  EXPECT_EQ(scan::classic(word + " 1"), "442=? !Token is too long 446=1");
  EXPECT_EQ(scan::current(word), "!identifier too long");
}

}  // namespace
