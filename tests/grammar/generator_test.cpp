// The current compiler's generators on the layouts that callers rely on,
// the errors of generation, and what a failed compilation leaves behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "base/faults.h"
#include "diagnostics/vlxerr.h"
#include "grammar/grammargenerator.h"
#include "grammar/sdatagenerator.h"
#include "grammar/toktab.h"
#include "memory/vlxcalls.h"
#include "support/vlxtest.h"

namespace {

struct Generate : ::testing::Test {
  grctx g;
  static void SetUpTestSuite() {
    vlxtest::init_memory();
    grammar::Exception_fd = -1;
    grammar::L4gerror_fd = -1;
    ASSERT_GT(iniTokTab(), 0);
  }
  void SetUp() override { ASSERT_EQ(init_pt_exp(&g, 0), 0); }
  void TearDown() override { Grammar_free(&g); }

  const s_exp& node(unsigned i) { return *gt_exp(&g, i); }
};

TEST_F(Generate, AnIntegerIsOneLoadOfItsPoolEntry) {
  grammar::GrammarGenerator generator;
  ASSERT_EQ(generator.generate("@5", &g), 1);
  EXPECT_EQ(g.gr_exp.gc_nbr, 1u);
  EXPECT_EQ(node(1).code, 302u);
  EXPECT_EQ(gt_int(&g, node(1).objectId), 5);
  EXPECT_EQ(g.headerWord, 1) << "the root is recorded in the grammar";
}

TEST_F(Generate, ANegationHasItsOperandAsHeaderAndNoTail) {
  grammar::GrammarGenerator generator;
  ASSERT_EQ(generator.generate("@-5", &g), 2);
  EXPECT_EQ(node(2).code, 256u);
  EXPECT_EQ(node(2).header, 1u);
  EXPECT_EQ(node(2).tail, 0u);
  EXPECT_EQ(node(1).code, 302u);
}

TEST_F(Generate, ASDataComparisonOfAFieldWithALiteral) {
  grammar::SDataGenerator generator;
  ASSERT_EQ(generator.generate("@amount eq 1", &g), 3);
  EXPECT_EQ(node(3).code, 271u);
  EXPECT_EQ(node(node(3).header).code, 309u);
  EXPECT_STREQ(gt_cide(&g, node(node(3).header).objectId), "AMOUNT");
  EXPECT_EQ(node(node(3).tail).code, 302u);
}

TEST_F(Generate, InIsFindComparedWithZero) {
  grammar::SDataGenerator generator;
  int root = generator.generate("@x in (1, 2)", &g);
  ASSERT_GT(root, 0);
  const s_exp& ne = node(static_cast<unsigned>(root));
  EXPECT_EQ(ne.code, 272u);
  const s_exp& find = node(ne.header);
  EXPECT_EQ(find.code, 98u);
  EXPECT_EQ(node(find.header).code, 309u);
  const s_exp& one = node(node(find.header).next);
  EXPECT_EQ(gt_int(&g, one.objectId), 1);
  EXPECT_EQ(gt_int(&g, node(one.next).objectId), 2);
  EXPECT_EQ(node(one.next).next, 0u);
  EXPECT_EQ(node(ne.tail).code, 302u);
  EXPECT_EQ(gt_int(&g, node(ne.tail).objectId), 0);
}

TEST_F(Generate, PositionsAreLinesFromOneAndCharactersFromZero) {
  grammar::GrammarGenerator generator;
  ASSERT_EQ(generator.generate("@1 +\n&  x", &g), 3);
  const s_pos* positions = reinterpret_cast<const s_pos*>(g.gr_est.gc_ptr);
  EXPECT_EQ(positions[1].t_line, 1u);
  EXPECT_EQ(positions[1].t_char, 1u) << "a literal where it starts";
  EXPECT_EQ(positions[2].t_line, 2u);
  EXPECT_EQ(positions[2].t_char, 4u) << "a name where it ends";
  EXPECT_EQ(positions[3].t_char, 4u) << "an operator where it ends";
}

TEST_F(Generate, ListKindsChainTheirExpressions) {
  grammar::GrammarGenerator generator;
  ASSERT_EQ(generator.generate("#1, x, 3", &g), 1);
  EXPECT_EQ(node(1).next, 2u);
  EXPECT_EQ(node(2).next, 3u);
  EXPECT_EQ(node(3).next, 0u);
}

TEST_F(Generate, StatementSourcesStoreInstructions) {
  grammar::GrammarGenerator generator;
  ASSERT_EQ(generator.generate("A = 1\n#! kept\nL:\nB += A", &g), 1);
  ASSERT_EQ(g.gr_ins.gc_nbr, 2u);
  const s_ins& second = *gt_ins(&g, 2);
  EXPECT_EQ(gt_ins(&g, 1)->next, 2u);
  EXPECT_EQ(second.code, 107u);
  EXPECT_EQ(second.elt3, static_cast<unsigned>('+'));
  EXPECT_EQ(node(second.elt1).code, 309u);
  EXPECT_EQ(g.gr_la.gc_nbr, 1u);
  EXPECT_EQ(g.gr_com.gc_nbr, 8u) << "the kept comment and its end";
}

TEST_F(Generate, ErrorsOfGeneration) {
  grammar::GrammarGenerator generator;
  EXPECT_EQ(generator.generate("If x\nEndif", &g), -5);
  EXPECT_EQ(g.headerWord, 0) << "no root after a failure";
  const struct {
    const char* source;
    const char* log;
  } cases[] = {
      {"@=a", "walkNode found no conversion for expression DYN"},
      {"@a += 1", "The operator PLUSEQ isn't managed"},
      {"@append(a, b)", "The function APPEND isn't managed"},
      {"@[31/2/2020]", "invalid date 2020-2-31"},
  };
  for (const auto& c : cases) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    grammar::L4gerror_fd = fds[1];
    EXPECT_EQ(generator.generate(c.source, &g), -5) << c.source;
    grammar::L4gerror_fd = -1;
    ::close(fds[1]);
    char text[256] = {};
    ASSERT_GT(::read(fds[0], text, sizeof text - 1), 0);
    ::close(fds[0]);
    EXPECT_EQ(std::string(text).substr(0, 10), "L4G error:");
    EXPECT_NE(std::string(text).find(c.log), std::string::npos) << text;
  }
  raz_err();
}

TEST_F(Generate, AnUnknownStatementTagNamesItself) {
  grammar::GrammarGenerator generator;
  ASSERT_EQ(generator.generate("@1", &g), 1);
  grammar::Node root("SCRIPT", 0, 1, 0);
  root.statements.push_back(std::make_unique<grammar::Node>("WHILE", 0, 1, 0));
  try {
    generator.mapStatements(root);
    FAIL() << "no error";
  } catch (const grammar::grammar_exception& e) {
    EXPECT_STREQ(e.what(), "mapStatements found no function  for WHILE");
  }
}

TEST_F(Generate, TreesDeeperThanTheCalculatorTakesDoNotCompile) {
  grammar::GrammarGenerator generator;
  std::string deep = "@1";
  for (int i = 0; i < 600; i++) deep += " - 1";
  EXPECT_EQ(generator.generate(deep, &g), -5);
  std::string shallow = "@1";
  for (int i = 0; i < 400; i++) shallow += " - 1";
  EXPECT_GT(generator.generate(shallow, &g), 0);
}

#if VLX_FAULTS
TEST_F(Generate, AFailedStoreLeavesNothingOutsideTheGrammarsGroup) {
  const std::string source = "@left$(\"abc\", 2) + [1/2/2020] + 1.5 * x.y(3) & z = 7";
  grammar::GrammarGenerator generator;
  vlx::fault::arm(vlx::fault::alloc, 0);
  Grammar_free(&g);
  std::uint32_t used = adg_used();
  ASSERT_EQ(init_pt_exp(&g, 0), 0);
  ASSERT_GT(generator.generate(source, &g), 0);
  long points = vlx::fault::calls(vlx::fault::alloc);
  ASSERT_GT(points, 3);
  for (long n = 1; n <= points; n++) {
    Grammar_free(&g);
    ASSERT_EQ(adg_used(), used);
    ASSERT_EQ(init_pt_exp(&g, 0), 0);
    vlx::fault::arm(vlx::fault::alloc, n);
    int result = generator.generate(source, &g);
    vlx::fault::arm(vlx::fault::alloc, 0);
    EXPECT_TRUE(result == -5 || result > 0) << "point " << n;
    if (result == -5) {
      EXPECT_TRUE(generator.exhausted()) << "point " << n;
    }
    raz_err();
  }
}
#endif

}  // namespace
