// Filters compiled by the engine's compiler and linked to a table's
// fields, under both compiler versions: the calculator's verdict on
// literal conditions, the column of each error, the field nodes that the
// server reads, the names fields answer to, and selections.
#include <gtest/gtest.h>

#include "calc/acalc.h"
#include "filter.h"
#include "grammar/anagram.h"
#include "grammar/generator.h"
#include "grammar/toktab.h"
#include "memory/vlxcalls.h"
#include "support/grammar_builder.h"
#include "support/vlxtest.h"
#include "table/afncompi.h"

namespace {

class Filter : public ::testing::TestWithParam<char> {
 protected:
  unsigned group = 0;
  grctx* g = nullptr;
  char previous = 0;
  vlxc::Fields fields{4};

  void SetUp() override {
    vlxtest::init_memory();
    fsring();
    ASSERT_GT(iniTokTab(), 0);
    iniTokTabSdata();
    grammar::Exception_fd = -1;
    grammar::L4gerror_fd = -1;
    previous = setVlxDefaultVersion(GetParam());
    group = adg_get(nullptr, nullptr, kGrpServer, "filter test");
    ASSERT_NE(group, 0u);
    g = static_cast<grctx*>(adg_malloc(group, sizeof(grctx)));
    g->group = group;
    inigcl(g);
  }
  void TearDown() override {
    adg_free(group);
    setVlxDefaultVersion(previous);
  }

  const s_exp& node(int i) { return *gt_exp(g, static_cast<unsigned>(i)); }
  std::u16string text(unsigned index) { return reinterpret_cast<const char16_t*>(g->gr_stu.gc_ptr) + index; }

  // The value of a compiled text, or "error COLUMN MESSAGE".
  std::string outcome(const std::string& source) {
    inigcl(g);
    try {
      int root = vlxc::compile_filter(source, fields, 1, g);
      return builder::evaluate(g, static_cast<unsigned>(root));
    } catch (const vlxc::CompileError& e) {
      return "error " + std::to_string(e.column) + " " + e.message;
    }
  }
};

TEST_P(Filter, TextsEvaluateOrPointAtTheirError) {
  auto cases = vlxtest::read_cases("filter.txt");
  ASSERT_GT(cases.size(), 20u);
  for (const vlxtest::Case& c : cases) {
    ASSERT_GE(c.fields.size(), 2u) << "line " << c.line;
    // A third field holds what the classic version says instead.
    const std::string& expected = GetParam() == 'R' && c.fields.size() > 2 ? c.fields[2] : c.fields[1];
    std::string got = outcome(c.fields[0]);
    if (expected.rfind("error ", 0) == 0)
      EXPECT_EQ(got.rfind(expected, 0), 0u) << "line " << c.line << ": " << c.fields[0] << " gave " << got;
    else
      EXPECT_EQ(got, expected) << "line " << c.line << ": " << c.fields[0];
  }
}

TEST_P(Filter, FieldsBecomeSlotsOfTheirTable) {
  int root = vlxc::compile_filter("f3 <> \"ps\"", fields, 7, g);
  ASSERT_GT(root, 0);
  EXPECT_EQ(node(root).code, 272u);
  const s_exp& f = node(static_cast<int>(node(root).header));
  EXPECT_EQ(f.code, 336u);
  EXPECT_EQ(f.objectId, 7u) << "the table slot";
  EXPECT_EQ(f.header, 510u) << "offset of the third 255-byte field";
  EXPECT_EQ(f.tail, 255u);
  EXPECT_EQ(f.type, 306u);
  EXPECT_EQ(text(node(static_cast<int>(node(root).tail)).objectId), u"ps");
}

TEST_P(Filter, SDataAndTheFourthGenerationLanguageGiveTheSameTree) {
  int root = vlxc::compile_filter("@F2 eq \"x\"", fields, 2, g);
  ASSERT_GT(root, 0);
  EXPECT_EQ(node(root).code, 271u);
  EXPECT_EQ(node(static_cast<int>(node(root).header)).code, 336u);
  EXPECT_EQ(node(static_cast<int>(node(root).header)).header, 255u);
}

TEST_P(Filter, HeaderWordsNameTheFields) {
  fields.name({"USER", "%CPU", "2nd", "user"});
  EXPECT_EQ(fields.name(1), "USER");
  EXPECT_EQ(fields.name(2), "_CPU");
  EXPECT_EQ(fields.name(3), "_2nd");
  EXPECT_EQ(fields.find("User"), 1) << "names compare without regard to case; the first wins";
  EXPECT_EQ(fields.find("F4"), 4) << "the F-names stay";
  EXPECT_EQ(fields.find("F5"), 0);
  EXPECT_EQ(fields.find("F01"), 0);
  int root = vlxc::compile_filter("_cpu = \"1\" or user = \"ann\"", fields, 1, g);
  ASSERT_GT(root, 0);
  const s_exp& either = node(root);
  EXPECT_EQ(node(static_cast<int>(node(static_cast<int>(either.header)).header)).header, 255u);
  EXPECT_EQ(node(static_cast<int>(node(static_cast<int>(either.tail)).header)).header, 0u);
}

TEST_P(Filter, SelectionChainsFieldsInOrder) {
  const int chosen[] = {3, 1, 3};
  int first = vlxc::compile_fields(chosen, 3, 5, g);
  ASSERT_GT(first, 0);
  std::vector<unsigned> offsets;
  for (int i = first; i != 0; i = static_cast<int>(node(i).next)) {
    EXPECT_EQ(node(i).code, 336u);
    EXPECT_EQ(node(i).objectId, 5u);
    offsets.push_back(node(i).header);
  }
  EXPECT_EQ(offsets, (std::vector<unsigned>{510, 0, 510}));
}

INSTANTIATE_TEST_SUITE_P(Versions, Filter, ::testing::Values('R', 'S'),
                         [](const auto& info) { return std::string(1, info.param); });

}  // namespace
