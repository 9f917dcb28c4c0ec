// The current parsers on the cases of data/parse.txt: the tree each source
// gives, printed in prefix form, or the parse error.
#include <gtest/gtest.h>

#include "grammar/grammarparser.h"
#include "grammar/sdataparser.h"
#include "grammar/toktab.h"
#include "support/vlxtest.h"

namespace {

using grammar::Node;

std::string describe(const Node& n);

std::string describe_list(const char* name, const Node::List& list) {
  if (list.empty()) return "";
  std::string out = std::string(" ") + name + ":(";
  for (std::size_t i = 0; i < list.size(); i++) out += (i ? " " : "") + describe(*list[i]);
  return out + ")";
}

// Operators as (NAME operands), literals and names as written, calls as
// NAME(arguments); any other node as its tag, its value and its lists.
std::string describe(const Node& n) {
  const std::string& tag = n.tag();
  if (tag == "OP") {
    std::string out = "(" + n.op;
    for (const auto& a : n.args) out += " " + describe(*a);
    if (!n.list.empty()) {
      out += " [";
      for (std::size_t i = 0; i < n.list.size(); i++) out += (i ? " " : "") + describe(*n.list[i]);
      out += "]";
    }
    return out + ")";
  }
  if (tag == "INTEGER" || tag == "DECIMAL" || tag == "DATE" || tag == "DATETIME" || tag == "BOOLEAN")
    return n.value.toString();
  if (tag == "STRING") return "\"" + n.value.text + "\"";
  if (tag == "IDENT") return (n.className.empty() ? "" : "[" + n.className + "]") + n.value.text;
  if (tag == "ATT") return describe(*n.args[0]) + "." + n.value.text;
  if (tag == "FCALL") {
    std::string out = n.value.text + "(";
    for (std::size_t i = 0; i < n.args.size(); i++) out += (i ? "," : "") + describe(*n.args[i]);
    return out + ")";
  }
  if (tag == "INDEX") {
    std::string out = describe(*n.args[0]) + "[";
    for (std::size_t i = 0; i < n.list.size(); i++) out += (i ? "," : "") + describe(*n.list[i]);
    return out + "]";
  }
  std::string out = tag;
  if (n.value.kind != grammar::NodeValue::NONE) out += "=" + n.value.toString();
  if (!n.mode.empty()) out += "/" + n.mode;
  out += describe_list("args", n.args) + describe_list("list", n.list) + describe_list("items", n.items) +
         describe_list("expressions", n.expressions) + describe_list("from", n.from) +
         describe_list("to", n.to) + describe_list("values", n.values) + describe_list("ranges", n.ranges) +
         describe_list("classes", n.classes) + describe_list("lens", n.lens);
  return out;
}

// The root's statements joined by " ; "; a lone FORMULA or EXPRESSION as
// its expression. A parse error as "!" and the message up to " pos ".
std::string parse(grammar::Parser& parser, const std::string& source) {
  try {
    Node& root = parser.parseGrammar(source);
    if (root.statementsSize() == 1 && (root.statements[0]->tag() == "FORMULA" || root.statements[0]->tag() == "EXPRESSION"))
      return describe(*root.statements[0]->args[0]);
    std::string out;
    for (std::size_t i = 0; i < root.statementsSize(); i++) out += (i ? " ; " : "") + describe(*root.statements[i]);
    return out;
  } catch (const grammar::grammar_exception& e) {
    std::string text = e.what();
    return "!" + text.substr(0, text.find(" pos "));
  }
}

struct Parse : ::testing::Test {
  static void SetUpTestSuite() {
    vlxtest::init_memory();
    grammar::Exception_fd = -1;
    ASSERT_GT(iniTokTab(), 0);
  }
};

TEST_F(Parse, CasesOfTheDataFile) {
  int cases = 0;
  for (const vlxtest::Case& c : vlxtest::read_cases("parse.txt")) {
    ASSERT_EQ(c.fields.size(), 3u) << "line " << c.line;
    std::string source = vlxtest::expand(c.fields[1]);
    if (c.fields[0] == "sda") {
      grammar::SDataParser parser;
      EXPECT_EQ(parse(parser, source), c.fields[2]) << "line " << c.line;
    } else {
      grammar::GrammarParser parser;
      EXPECT_EQ(parse(parser, source), c.fields[2]) << "line " << c.line;
    }
    cases++;
  }
  EXPECT_GT(cases, 50);
}

TEST_F(Parse, AProgramHasAHeaderWhenAsked) {
  grammar::VelmorParser program;
  program.setHeader(true);
  EXPECT_EQ(parse(program, "A = 1"), "HEADER ; STATEMENT args:(A 1) ; ENDOFFILE");
  EXPECT_EQ(parse(program, "@1"), "!missing term") << "no markers in a program";
}

TEST_F(Parse, ThePreviousTreeGoesWithTheNextParse) {
  grammar::GrammarParser parser;
  Node& first = parser.parseGrammar("@1 + 2");
  std::uint32_t id = first.id();
  Node& second = parser.parseGrammar("@3");
  EXPECT_GT(second.id(), id);
  EXPECT_EQ(second.statementsSize(), 1u);
}

TEST_F(Parse, NodesKeepWhereTheyWereMade) {
  grammar::GrammarParser parser;
  Node& root = parser.parseGrammar("A = 1\nB =  x +\n&   (y)");
  const Node& second = *root.statements[1];
  const Node& sum = *second.args[1];
  EXPECT_EQ(sum.op, "ADD");
  EXPECT_EQ(sum.line(), 1u);
  EXPECT_EQ(sum.column(), 9u) << "after the operator";
  EXPECT_EQ(sum.args[1]->line(), 2u) << "a continuation line counts";
  EXPECT_EQ(sum.args[1]->level(), 1u) << "inside the parentheses";
  EXPECT_EQ(root.statements.back()->tag(), "ENDOFFILE");
}

}  // namespace
