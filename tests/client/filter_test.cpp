// Conditions compiled into grammars: the calculator's verdict on literal
// conditions, and the node layout of fields, numeric comparisons and
// selections that the server reads.
#include <gtest/gtest.h>

#include "calc/acalc.h"
#include "expr.h"
#include "memory/vlxcalls.h"
#include "support/grammar_builder.h"
#include "support/vlxtest.h"
#include "table/afncompi.h"

namespace {

class Compiled : public ::testing::Test {
 protected:
  unsigned group = 0;
  grctx* g = nullptr;

  void SetUp() override {
    vlxtest::init_memory();
    fsring();
    group = adg_get(nullptr, nullptr, kGrpServer, "compile test");
    ASSERT_NE(group, 0u);
    g = static_cast<grctx*>(adg_malloc(group, sizeof(grctx)));
    g->group = group;
    inigcl(g);
  }
  void TearDown() override { adg_free(group); }

  const s_exp& node(int i) { return *gt_exp(g, static_cast<unsigned>(i)); }
  std::u16string text(unsigned index) { return reinterpret_cast<const char16_t*>(g->gr_stu.gc_ptr) + index; }
};

TEST_F(Compiled, LiteralConditionsEvaluate) {
  for (const vlxtest::Case& c : vlxtest::read_cases("evaluate.txt")) {
    inigcl(g);
    int root = vlxc::compile(vlxc::parse_where(c.fields[0]), 1, g);
    ASSERT_GT(root, 0) << "line " << c.line;
    EXPECT_EQ(builder::evaluate(g, static_cast<unsigned>(root)), c.fields[1]) << "line " << c.line << ": "
                                                                              << c.fields[0];
  }
}

TEST_F(Compiled, FieldsAreSlotsOfTheirTable) {
  int root = vlxc::compile(vlxc::parse_where("$3 <> \"ps\""), 7, g);
  ASSERT_GT(root, 0);
  EXPECT_EQ(node(root).code, 272u);
  const s_exp& f = node(static_cast<int>(node(root).header));
  EXPECT_EQ(f.code, 336u);
  EXPECT_EQ(f.objectId, 7u) << "the table slot";
  EXPECT_EQ(f.header, 510u) << "offset of the third 255-byte field";
  EXPECT_EQ(f.tail, 255u);
  EXPECT_EQ(f.type, 306u);
  const s_exp& s = node(static_cast<int>(node(root).tail));
  EXPECT_EQ(s.code, 378u);
  EXPECT_EQ(text(s.objectId), u"ps");
}

TEST_F(Compiled, FieldAgainstNumberIsReadThroughVal) {
  int root = vlxc::compile(vlxc::parse_where("1000 < $2 and $1 = $2"), 2, g);
  ASSERT_GT(root, 0);
  const s_exp& lt = node(static_cast<int>(node(root).header));
  const s_exp& val = node(static_cast<int>(lt.tail));
  EXPECT_EQ(val.code, 38u);
  EXPECT_EQ(node(static_cast<int>(val.header)).code, 336u);
  const s_exp& eq = node(static_cast<int>(node(root).tail));
  EXPECT_EQ(node(static_cast<int>(eq.header)).code, 336u) << "two fields compare as text";
  EXPECT_EQ(node(static_cast<int>(eq.tail)).code, 336u);
}

TEST_F(Compiled, StringBytesTravelOneUnitEach) {
  int root = vlxc::compile(vlxc::field(1) == "caf\xC3\xA9", 1, g);
  ASSERT_GT(root, 0);
  EXPECT_EQ(text(node(static_cast<int>(node(root).tail)).objectId), u"caf\u00C3\u00A9");
}

TEST_F(Compiled, SelectionChainsFieldsInOrder) {
  const int fields[] = {3, 1, 3};
  int first = vlxc::compile_fields(fields, 3, 5, g);
  ASSERT_GT(first, 0);
  std::vector<unsigned> offsets;
  for (int i = first; i != 0; i = static_cast<int>(node(i).next)) {
    EXPECT_EQ(node(i).code, 336u);
    EXPECT_EQ(node(i).objectId, 5u);
    offsets.push_back(node(i).header);
  }
  EXPECT_EQ(offsets, (std::vector<unsigned>{510, 0, 510}));
}

}  // namespace
