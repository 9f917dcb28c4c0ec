// Conversions between value types (rsconv, exintg, typconv), the range
// checks of evalue, and the inline storage of short strings.
#include <gtest/gtest.h>

#include <cstring>

#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "support/grammar_builder.h"
#include "support/vlxtest.h"
#include "table/afncompi.h"

namespace {

struct Conversions : ::testing::Test {
  grctx g;
  void SetUp() override {
    vlxtest::init_memory();
    fsring();
    Obef[LDBLE] = builder::load_double;
    init_pt_exp(&g, 0);
  }
  void TearDown() override {
    Grammar_free(&g);
    raz_err();
  }
};

// value | target type (or "int" for exintg) | expected
TEST_F(Conversions, Cases) {
  auto cases = vlxtest::read_cases("conversions.txt");
  ASSERT_FALSE(cases.empty());
  for (const auto& c : cases) {
    SCOPED_TRACE("line " + std::to_string(c.line) + ": " + c.fields[0]);
    ASSERT_EQ(c.fields.size(), 3u);
    unsigned root = builder::parse(&g, c.fields[0]);
    ASSERT_NE(root, 0u);
    raz_err();
    res_u v;
    res_zero(&v);
    ASSERT_EQ(evafsr(&v, &g, root), 0);
    std::string got;
    if (c.fields[1] == "int") {
      int n = 0;
      int st = exintg(&v, &n);
      got = st < 0 ? "error " + std::to_string(-st) : "int " + std::to_string(n);
    } else {
      int st = rsconv(&v, std::stoi(c.fields[1]));
      got = st < 0 ? "error " + std::to_string(-st) : builder::describe(&v);
    }
    EXPECT_EQ(got, c.fields[2]);
    res_drop(&v);
  }
}

TEST_F(Conversions, StorageTypes) {
  EXPECT_EQ(typconv(LLIBE), LINTG);
  EXPECT_EQ(typconv(LSTRU), LCLOB);
  EXPECT_EQ(typconv(LFLT), LDBLE);
  EXPECT_EQ(typconv(LDCBIBM), LDCB);
  EXPECT_EQ(typconv(0), 0);
  EXPECT_EQ(typconv(LBOOL), -26);
  EXPECT_STREQ(Errmes, "typconv");
}

TEST_F(Conversions, EvalueRanges) {
  struct {
    const char* expression;
    int result;
  } cases[] = {{"(* 1e-50 1e-50)", LINTG}, {"(* 1e50 1e40)", -13}, {"(+ 1 2)", LINTG}, {"1e79r", LDBLE}};
  for (const auto& c : cases) {
    res_u v;
    res_zero(&v);
    unsigned root = builder::parse(&g, c.expression);
    EXPECT_EQ(evalue(&v, &g, root), c.result) << c.expression;
    res_drop(&v);
  }
  int n = 0;
  EXPECT_EQ(evaint(&g, builder::parse(&g, "(/ 12.9 2)"), &n), -50);
  EXPECT_EQ(evaint(&g, builder::parse(&g, "(/ 12 2)"), &n), 0);
  EXPECT_EQ(n, 6);
}

// Strings of up to 256 characters take no memory group; longer ones do,
// and copies own their own storage.
TEST_F(Conversions, StringStorage) {
  std::string text(256, 'a');
  unsigned root = builder::parse(&g, "(+ '" + text + "' '')");
  unsigned used = adg_used();
  res_u v;
  res_zero(&v);
  ASSERT_EQ(evafsr(&v, &g, root), 0);
  EXPECT_EQ(v.rs_grp, 0u);
  EXPECT_EQ(adg_used(), used);
  EXPECT_EQ(v.rs_str->length, 256u);
  root = builder::parse(&g, "(+ '" + text + "' 'b')");
  ASSERT_EQ(evafsr(&v, &g, root), 0);
  EXPECT_NE(v.rs_grp, 0u);
  EXPECT_EQ(v.rs_str->length, 257u);
  res_u copy;
  res_zero(&copy);
  ASSERT_EQ(rescpy(&copy, &v), 0);
  EXPECT_NE(copy.rs_grp, v.rs_grp);
  res_drop(&v);
  EXPECT_EQ(copy.rs_str->text[256], u'b');
  res_u target;
  res_zero(&target);
  target.rs_type = LINTG;
  res_setascii(&copy, "42");
  ASSERT_EQ(convgen(&target, &copy), 0);
  EXPECT_EQ(builder::describe(&target), "int 42");
  res_drop(&copy);
  res_drop(&target);
}

}  // namespace
