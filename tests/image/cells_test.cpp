// The cell store: numbering from 1, growth, reuse of equal entries, the
// identifier search text, checked accessors and chains.
#include <gtest/gtest.h>

#include <cstring>

#include "calc/calcbase.h"
#include "diagnostics/vlxerr.h"
#include "image/vlxload.h"
#include "memory/vlxcalls.h"
#include "support/vlxtest.h"

namespace {

struct Cells : ::testing::Test {
  grctx g;
  void SetUp() override {
    vlxtest::init_memory();
    ASSERT_EQ(init_pt_exp(&g, 0), 0);
  }
  void TearDown() override { Grammar_free(&g); }
};

TEST_F(Cells, GrowthKeepsElementsAndNumbersFromOne) {
  for (int i = 0; i < 100; i++) ASSERT_EQ(stfint(&g, i * 7), i + 1);
  EXPECT_EQ(g.gr_int.gc_nbr, 100u);
  EXPECT_EQ(g.gr_int.gc_cmx % 32, 0u);
  EXPECT_GT(g.gr_int.gc_cmx, 100u);
  for (int i = 0; i < 100; i++) EXPECT_EQ(gt_int(&g, static_cast<unsigned>(i + 1)), i * 7);
  EXPECT_EQ(gt_int(&g, 0), 0);
  EXPECT_EQ(gcl_get_element_at(&g.gr_int, 101), nullptr);
  std::int32_t out = 0;
  EXPECT_EQ(gcl_remove_element_at(&g.gr_int, 1, &out), 0);
  EXPECT_EQ(out, 0);
  EXPECT_EQ(gt_int(&g, 1), 7);
  EXPECT_EQ(gcl_container_length(&g.gr_int), 99);
}

TEST_F(Cells, EqualEntriesAreReused) {
  s_dcb a, b;
  strdcb(&a, "1.50");
  strdcb(&b, "1.5");
  int first = stfdcb(&g, &a);
  EXPECT_EQ(stfdcb(&g, &b), first);
  int ab = stfstr(&g, "ab");
  int abc = stfstr(&g, "abc");
  EXPECT_NE(ab, abc);
  EXPECT_EQ(stfstr(&g, "abc"), abc);
  EXPECT_EQ(stfstu(&g, u"ab"), ab);
  EXPECT_EQ(stfstr(&g, "b"), stfstr(&g, "b"));  // "b" is not the tail of "ab"
  EXPECT_NE(stfstr(&g, "b"), ab + 1);
  EXPECT_EQ(stfcla(&g, 3, 4), stfcla(&g, 3, 4));
  EXPECT_NE(stfcla(&g, 3, 4), stfcla(&g, 4, 3));
  EXPECT_EQ(stfcid(&g, 1, 2), stfcid(&g, 1, 2));
  EXPECT_EQ(stfint(&g, 9), 1);
  EXPECT_EQ(stfint(&g, 9), 2);  // integers are not reused
  // A cell made to reuse finds an element stored with others.
  s_gcl c;
  ini_cl(&c, g.group, 4, 10, 1, 0);
  std::int32_t v[25] = {};
  ASSERT_EQ(st_cel(&c, v, 25), 1);
  v[0] = 5;
  ASSERT_EQ(st_cel(&c, v, 1), 26);
  EXPECT_EQ(st_cel(&c, v, 1), 26);
  EXPECT_EQ(gcl_member(&c, v), 26);
}

TEST_F(Cells, IdentifiersAndSearchText) {
  int name = stfide(&g, "NAME");
  int nam = stfide(&g, "NAM");
  int ame = stfide(&g, "AME");
  EXPECT_EQ(stfide(&g, "NAME"), name);
  EXPECT_STREQ(gt_cide(&g, static_cast<unsigned>(name)), "NAME");
  EXPECT_STREQ(gt_cide(&g, static_cast<unsigned>(nam)), "NAM");
  EXPECT_STREQ(gt_cide(&g, static_cast<unsigned>(ame)), "AME");
  EXPECT_STREQ(g.gr_ids.gc_ptr, "@NAME@NAM@AME@");
  EXPECT_EQ(gtfide(&g, "AM"), 0);
  EXPECT_EQ(gtfide(&g, "AME"), ame);
  EXPECT_LT(stfide(&g, std::string(255, 'x').c_str()), 0);
}

TEST_F(Cells, ConstantsGoToThePoolOfTheirType) {
  res_u v;
  res_zero(&v);
  v.rs_type = LINTG;
  v.rs_int = 42;
  EXPECT_EQ(gt_int(&g, static_cast<unsigned>(stfcst(&g, &v))), 42);
  v.rs_type = LBOOL;
  v.rs_bool = 1;
  EXPECT_EQ(stfcst(&g, &v), 210);
  res_setascii(&v, "text");
  int at = stfcst(&g, &v);
  EXPECT_EQ(at, stfstr(&g, "text"));
  unsigned char uuid[16] = {0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(stfuuid(&g, uuid), stfstr(&g, "12345678-9abc-def0-0102-030405060708"));
  res_drop(&v);
}

TEST_F(Cells, CheckedAccessorsReportTheLocation) {
  int a = stfexp(&g, 302, 1, 0, 0, 302, 0);
  EXPECT_EQ(gtecod(&g, static_cast<unsigned>(a)), 302);
  raz_err();
  EXPECT_EQ(gtecod(&g, 0), -26);
  EXPECT_NE(std::strstr(Errmes, "vlxload:"), nullptr) << Errmes;
  EXPECT_NE(std::strstr(Errmes, "gtecod"), nullptr) << Errmes;
  EXPECT_EQ(upephe(&g, 2, 1), -26);
  EXPECT_EQ(upetyp(&g, 1, 303), 0);
  EXPECT_EQ(gt_exp(&g, 1)->type, 303u);
  raz_err();
}

TEST_F(Cells, ChainsAppendAndStopOnLoops) {
  int a = stfexp(&g, 302, 1, 0, 0, 0, 0);
  int b = stfexp(&g, 302, 1, 0, 0, 0, 0);
  int c = stfexp(&g, 0, 1, 0, 0, 0, 0);
  EXPECT_EQ(upepnx(&g, a, b), a);
  EXPECT_EQ(upepnx(&g, a, c), b);
  EXPECT_EQ(gt_elen(&g, a, 0), 3);
  EXPECT_EQ(gt_elen(&g, a, 1), 2);
  EXPECT_EQ(gt_elen(&g, c, 1), 0);
  EXPECT_EQ(gt_elen(&g, 0, 0), 0);
  gt_exp(&g, c)->next = a;  // a loop
  raz_err();
  EXPECT_EQ(upepnx(&g, a, 1), -26);
  EXPECT_STREQ(Errmes, "upepnx");
  EXPECT_EQ(gt_elen(&g, a, 0), -26);
  raz_err();

  int i1 = stfins(&g, 1, 0, 0, 0, 0, 0);
  int i2 = stfins(&g, 2, 0, 0, 0, 0, 0);
  int i3 = stfins(&g, 3, 0, 0, 0, 0, 0);
  EXPECT_EQ(upinxt(&g, i1, i2), i1);
  EXPECT_EQ(upinxt(&g, i1, i3), i2);
  EXPECT_EQ(gt_ins(&g, i1)->last, static_cast<unsigned>(i3));
  EXPECT_EQ(upinxt(&g, 9, i3), -26);
  EXPECT_NE(std::strstr(Errmes, "upinxt nxt:9"), nullptr) << Errmes;
  raz_err();
}

TEST_F(Cells, Positions) {
  int line = -1, character = -1;
  s_pos base{10, 0}, at{14, 7};
  st_cel(&g.gr_ist, &base, 1);
  st_cel(&g.gr_ist, &at, 1);
  gt_ist(&g, 0)->t_line = 10;
  posnod(&g, 2, &line, &character);
  EXPECT_EQ(line, 4);
  EXPECT_EQ(character, 7);
  posnod(&g, 0, &line, &character);
  EXPECT_EQ(line + character, 0);
  posnod(&g, 3, &line, &character);
  EXPECT_EQ(line + character, 0);
  posnod(nullptr, 1, &line, &character);
  EXPECT_EQ(line + character, 0);
}

TEST_F(Cells, ReleasingArrays) {
  stfint(&g, 1);
  stfins(&g, 1, 0, 0, 0, 0, 0);
  unsigned group = g.group;
  EXPECT_EQ(gramlb(&g), 0);
  EXPECT_EQ(g.gr_int.gc_ptr, nullptr);
  EXPECT_EQ(g.group, 0u);
  raz_err();
  EXPECT_EQ(Grammar_free(&g), -26);
  EXPECT_NE(std::strstr(Errmes, "Grammar_free("), nullptr);
  raz_err();
  g.group = group;
  EXPECT_EQ(Grammar_free(nullptr), 0);
}

}  // namespace
