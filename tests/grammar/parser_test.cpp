// The current parser's scanning methods where the case files cannot reach:
// positions, the word cache, keywords, the operator indexes, literal nodes
// and the text of a parse error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "grammar/velmorparser.h"

namespace {

using grammar::grammar_exception;
using grammar::VelmorParser;

struct Parser : ::testing::Test {
  void SetUp() override { grammar::Exception_fd = -1; }
  void TearDown() override { grammar::Exception_fd = STDOUT_FILENO; }
  VelmorParser p;

  std::string failure(const std::function<void()>& step) {
    try {
      step();
    } catch (const grammar_exception& e) {
      return e.what();
    }
    return "no error";
  }
};

TEST_F(Parser, ErrorTextNamesOffsetLineAndTheLineAroundIt) {
  p.setSource("ab\ncd \"xy\nnext");
  EXPECT_EQ(p.parseWord(true), "ab");
  EXPECT_TRUE(p.parseChar('\n', true));
  EXPECT_EQ(p.parseWord(true), "cd");
  EXPECT_TRUE(p.parseChar('"', true));
  EXPECT_EQ(failure([&] { p.parseString('"'); }), "unterminated string literal: \"xy pos 9 near line 2:cd \"xy");
}

TEST_F(Parser, ErrorOnALongLineQuotesFortyBytesEachSide) {
  std::string source = std::string(100, 'a') + " ! " + std::string(100, 'b');
  p.setSource(source);
  p.parseWord(true);
  EXPECT_EQ(failure([&] { p.parseChar(')', true); }),
            "missing ) pos 101 near line 1:" + std::string(39, 'a') + " ! " + std::string(38, 'b'));
}

TEST_F(Parser, ErrorMarkGoesToItsDescriptorBeforeTheThrow) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  grammar::Exception_fd = fds[1];
  p.setSource("");
  EXPECT_NE(failure([&] { p.parseNumber(true); }), "no error");
  char mark[32] = {};
  EXPECT_EQ(::read(fds[0], mark, sizeof mark), 11);
  EXPECT_STREQ(mark, "\nException:");
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST_F(Parser, ContinuationLinesCountButDoNotStop) {
  p.setSource("  a \t\n&  b\nc");
  EXPECT_EQ(p.parseWord(true), "a");
  EXPECT_EQ(p.parseWord(true), "b");
  EXPECT_EQ(p.line(), 1u);
  EXPECT_EQ(p.column(), 5u);
  EXPECT_EQ(p.parseWord(false), "") << "a plain newline ends the words";
  EXPECT_TRUE(p.peekChar('\n'));
  EXPECT_TRUE(p.parseChar('\n', true));
  EXPECT_EQ(p.line(), 2u);
  EXPECT_EQ(p.column(), 1u);
}

TEST_F(Parser, WordsKeepCaseAndComeBackWhenUnparsed) {
  p.setSource("Left$x + y");
  std::string word = p.parseWord(true);
  EXPECT_EQ(word, "Left$x");
  p.unparseWord(word);
  EXPECT_EQ(p.offset(), 0u);
  EXPECT_EQ(p.column(), 1u);
  EXPECT_EQ(p.parseWord(true), "Left$x") << "again from the cache";
  EXPECT_EQ(p.offset(), 6u);
  EXPECT_EQ(p.parseWord(false), "");
  EXPECT_EQ(failure([&] { p.parseWord(true); }), "identifier or keyword missing pos 7 near line 1:Left$x + y");
}

TEST_F(Parser, KeywordsMustBeReservedAndRestoreOnMismatch) {
  p.setSource("  \n&  overx OVER");
  EXPECT_EQ(failure([&] { p.parseKeyword("OVER", false); }),
            "internal Parser error: not a keyword: OVER pos 0 near line 1:  ");
  EXPECT_FALSE(p.peekKeyword("OVER")) << "peeking never fails";
  p.reserveKeyword("OVER");
  EXPECT_FALSE(p.parseKeyword("OVER", false));
  EXPECT_EQ(p.offset(), 0u);
  EXPECT_EQ(p.line(), 0u) << "the continuation line is given back too";
  EXPECT_EQ(p.column(), 1u);
  EXPECT_EQ(failure([&] { p.parseKeyword("OVER", true); }), "OVER missing pos 0 near line 1:  ");
  EXPECT_EQ(p.parseWord(true), "overx");
  EXPECT_TRUE(p.peekKeyword("OVER"));
  EXPECT_EQ(p.offset(), 11u) << "peeking consumes nothing";
  EXPECT_TRUE(p.parseKeyword("OVER", true));
  EXPECT_EQ(p.offset(), 16u);
}

TEST_F(Parser, NumbersBecomeIntegerOrDecimalNodesWhereTheyStart) {
  p.setSource("x\n  42 2147483647 1.50 7e2");
  p.parseWord(true);
  p.parseChar('\n', true);
  auto n = p.parseNumber(true);
  EXPECT_EQ(n->tag(), "INTEGER");
  EXPECT_EQ(n->value.integer, 42);
  EXPECT_EQ(n->line(), 1u);
  EXPECT_EQ(n->column(), 3u);
  n = p.parseNumber(true);
  EXPECT_EQ(n->tag(), "DECIMAL");
  EXPECT_EQ(n->value.text, "2147483647");
  n = p.parseNumber(true);
  EXPECT_EQ(n->value.text, "1.50") << "a decimal keeps its text";
  s_dcb d, expected;
  ASSERT_EQ(n->value.getDecimal(&d), 0);
  strdcb(&expected, "1.5");
  EXPECT_EQ(dcbcmp(&d, &expected), 0);
  EXPECT_EQ(p.parseNumber(true)->value.text, "7e2");
  EXPECT_EQ(p.parseNumber(false), nullptr);
  EXPECT_EQ(failure([&] { p.parseNumber(true); }), "number expected pos 26 near line 2:  42 2147483647 1.50 7e2");
}

TEST_F(Parser, OperatorIndexes) {
  const grammar::Operator* bang = p.findOperator("!");
  ASSERT_NE(bang, nullptr);
  EXPECT_EQ(p.findOperator("not"), bang) << "two spellings, one operator";
  EXPECT_EQ(p.findOperator("Xor"), p.findOperator("?"));
  EXPECT_NE(p.findOperator("&"), p.findOperator("AND")) << "they differ in rebalancing";
  EXPECT_EQ(p.findOperator("&")->name, "AND");
  EXPECT_EQ(p.findOperator("AND")->precedence, 8);
  EXPECT_EQ(p.findOperator("=")->assigns, 1);
  EXPECT_EQ(p.findOperator("+=")->name, "PLUSEQ");
  EXPECT_EQ(p.findOperator("=="), nullptr);
  EXPECT_EQ(p.findOperatorByName("USUB")->precedence, 5);
  EXPECT_EQ(p.findOperatorByName("POW")->precedence, 2);
  const char* rebalancing[] = {"RANGE", "MUL", "DIV", "ADD", "SUB", "EQ",  "NE", "LT",
                               "LE",    "GT",  "GE",  "AND", "OR",  "XOR", "POW"};
  for (const char* name : rebalancing) EXPECT_TRUE(p.rebalances(name)) << name;
  for (const char* name : {"MOD", "DOT", "NOT", "UADD", "USUB", "PLUSEQ", "MINUSEQ", "MULEQ", "DIVEQ"})
    EXPECT_FALSE(p.rebalances(name)) << name;
}

TEST_F(Parser, OperatorsAndWhatIsNotOne) {
  p.setSource(" .5 and x");
  EXPECT_EQ(p.parseOperator(), nullptr) << "a dot before a digit starts a number";
  EXPECT_EQ(p.offset(), 1u);
  p.parseNumber(true);
  EXPECT_EQ(p.parseOperator()->name, "AND");
  EXPECT_EQ(p.parseOperator(), nullptr) << "a word that is no operator stays";
  EXPECT_EQ(p.parseWord(true), "x");
  p.setSource("= =");
  EXPECT_EQ(p.parseOperator(), nullptr) << "the pair across a blank is no operator";
  EXPECT_EQ(p.offset(), 0u);
  p.setSource("*\n&=");
  EXPECT_EQ(p.parseOperator()->name, "MUL") << "only a blank joins a pair";
}

TEST_F(Parser, DatesCountMonthsFromZero) {
  p.setSource("12/3/2020] 1//2]");
  auto date = p.parseDate();
  EXPECT_EQ(date->tag(), "DATE");
  EXPECT_EQ(date->value.day, 12);
  EXPECT_EQ(date->value.month, 2);
  EXPECT_EQ(date->value.year, 2020);
  EXPECT_EQ(date->value.toString(), "12/03/2020");
  EXPECT_EQ(failure([&] { p.parseDate(); }), "month expected pos 13 near line 1:12/3/2020] 1//2]");
  p.setSource("1/2/x]");
  EXPECT_EQ(failure([&] { p.parseDate(); }), "year expected pos 4 near line 1:1/2/x]");
  p.setSource("1.5/2/3]");
  EXPECT_EQ(failure([&] { p.parseDate(); }), "day expected pos 3 near line 1:1.5/2/3]");
  p.setSource("1/2/3");
  EXPECT_EQ(failure([&] { p.parseDate(); }), "missing ] pos 5 near line 1:1/2/3");
}

TEST_F(Parser, CommentsRunToTheLineEnd) {
  p.setSource("  # note é\nx");
  auto comment = p.parseComment();
  EXPECT_EQ(comment->tag(), "COMMENT");
  EXPECT_EQ(comment->value.text, "# note é");
  EXPECT_EQ(comment->column(), 3u);
  EXPECT_TRUE(p.peekChar('\n'));
}

TEST_F(Parser, NodesAreNumberedInCreationOrder) {
  p.setSource("1 2");
  auto first = p.parseNumber(true), second = p.parseNumber(true);
  EXPECT_EQ(second->id(), first->id() + 1);
  EXPECT_EQ(first->level(), 0u);
}

}  // namespace
