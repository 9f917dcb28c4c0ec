// The engine's own variables: the class of an open table over its record,
// and the variables that compiled expressions name, loaded by the
// calculator.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/bigend.h"
#include "base/faults.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "support/grammar_builder.h"
#include "support/vlxtest.h"
#include "table/afncompi.h"
#include "variables/varsys.h"

namespace {

class System : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    vlxtest::init_memory();
    cstdcb();
    if (Cbu == nullptr) cbu_ini(512);
    fsring();
  }
  void SetUp() override {
    raz_err();
    group_ = adg_get(nullptr, nullptr, 0, "system test");
    init_pt_exp(&g_, 0);
  }
  void TearDown() override {
    Grammar_free(&g_);
    adg_free(group_);
    raz_err();
  }
  // A variable reference of g_: class `cls`, variable `name`; its gr_cid
  // entry.
  unsigned reference(const char* cls, const char* name) {
    int cla = stfcla(&g_, static_cast<unsigned>(stfide(&g_, cls)), 0);
    return static_cast<unsigned>(stfcid(&g_, static_cast<unsigned>(cla), static_cast<unsigned>(stfide(&g_, name))));
  }
  // A node loading that variable, with index expressions in the builder's
  // notation.
  unsigned load(unsigned cid, const std::vector<std::string>& indexes = {}) {
    unsigned first = 0, last = 0;
    for (const std::string& text : indexes) {
      unsigned node = builder::parse(&g_, text);
      if (last == 0) first = node;
      else gt_exp(&g_, last)->next = node;
      last = node;
    }
    return static_cast<unsigned>(stfexp(&g_, kVariaCode, cid, first, 0, 0, 0));
  }
  std::string name_of(unsigned cid) {
    raz_err();
    varan* v = nullptr;
    int st = give_var(&g_, cid, 0, &v);
    return st < 0 ? "error " + std::to_string(-st) : v->name;
  }
  unsigned group_ = 0;
  grctx g_;
};

TEST_F(System, ExpressionsNameVariablesOfClasses) {
  int cls = gen_class(group_, "CLS", 0, 64, 2, 1);
  ASSERT_GT(cls, 0);
  ASSERT_EQ(cre_var(cls, "X", LINTG, 0, nullptr, nullptr, 0, nullptr), 0);
  short ten = 10, one = 1;
  ASSERT_EQ(cre_var(cls, "T", LINTG, 0, &ten, &one, 1, nullptr), 0);
  res_u value;
  res_zero(&value);
  value.rs_type = LINTG;
  for (short i = 1; i <= 10; ++i) {
    value.rs_int = 100 + i;
    ASSERT_EQ(assign(cher_var(cls, "T"), &i, 1, &value), 0);
  }
  value.rs_int = 5;
  ASSERT_EQ(assign(cher_var(cls, "X"), nullptr, 0, &value), 0);

  unsigned x = reference("CLS", "X"), t = reference("CLS", "T");
  EXPECT_EQ(builder::evaluate(&g_, load(x)), "int 5");
  EXPECT_EQ(builder::evaluate(&g_, stfexp(&g_, 258, 0, load(x), load(t, {"(+ 2 3)"}), 0, 0)), "int 110");
  EXPECT_EQ(builder::evaluate(&g_, load(t, {"11"})), "error 8");
  EXPECT_STREQ(Errmes, "T(11)");
  EXPECT_EQ(builder::evaluate(&g_, load(t, {"70000"})), "error 8");
  EXPECT_STREQ(Errmes, "T(70000)");
  EXPECT_EQ(builder::evaluate(&g_, load(t, {"1", "1"})), "error 55");
  EXPECT_EQ(builder::evaluate(&g_, load(t, {"1", "1", "1", "1", "1"})), "error 55");
  EXPECT_EQ(builder::evaluate(&g_, load(t, {"(/ 1 0)"})), "error 53") << "the index's own error";

  // Unknown names, and the default variable a caller may ask for.
  EXPECT_EQ(name_of(reference("NONE", "X")), "error 7");
  EXPECT_STREQ(Errmes, "NONE");
  unsigned y = reference("CLS", "Y");
  EXPECT_EQ(name_of(y), "error 6");
  EXPECT_STREQ(Errmes, "Y");
  varan* v = nullptr;
  ASSERT_EQ(give_var(&g_, y, 1, &v), 0);
  EXPECT_STREQ(v->name, "Y");
  EXPECT_EQ(v->type, LDCB);
  EXPECT_EQ(v->flags & kVarDefault, kVarDefault);
  EXPECT_EQ(builder::evaluate(&g_, load(y)), "dcb 0");
  EXPECT_EQ(cl_inf(cls, 1), 3);
  raz_err();
  EXPECT_EQ(give_var(&g_, 0, 0, &v), -26);
  EXPECT_EQ(give_var(&g_, 999, 0, &v), -26);
}

TEST_F(System, AFoundVariableIsFoundAgainAfterItMoved) {
  int cls = gen_class(group_, "MOVES", 0, 64, 1, 1);
  ASSERT_EQ(cre_var(cls, "M", LINTG, 0, nullptr, nullptr, 0, nullptr), 0);
  unsigned m = reference("MOVES", "M");
  ASSERT_EQ(name_of(m), "M");
  // Names before M move it up; the table is reallocated on the way.
  for (const char* name : {"A", "B", "C", "D"}) {
    ASSERT_EQ(cre_var(cls, name, LINTG, 0, nullptr, nullptr, 0, nullptr), 0);
    ASSERT_EQ(name_of(m), "M");
  }
  // The class goes; another of that name takes its number with as many
  // variables, M now at another place.
  unsigned other = adg_get(nullptr, nullptr, 0, "second");
  adg_free(group_);
  group_ = other;
  int again = gen_class(group_, "MOVES", 0, 64, 8, 1);
  ASSERT_EQ(again, cls);
  for (const char* name : {"M", "N", "O", "P", "Q"}) ASSERT_EQ(cre_var(again, name, LINTG, 0, nullptr, nullptr, 0, nullptr), 0);
  EXPECT_EQ(name_of(m), "M");
  EXPECT_EQ(name_of(reference("MOVES", "Q")), "Q");
}

// A record of four fields, as a table's record unit holds it.
struct Record {
  cbu_ref unit = 0;
  std::vector<s_fgfld> fields;
};

Record make_record(unsigned group, std::vector<const char*> names) {
  Record r;
  EXPECT_EQ(cbu_new(1, group, 32, &r.unit, "record"), 0);
  cbu_set_noextent(r.unit, 1);
  unsigned char* at = cbu_bu(r.unit);
  std::memcpy(at, "alpha\0\0\0", 8);
  put_be32(at + 8, 42);
  std::memcpy(at + 12, "beta", 4);
  put_be16(at + 16, 7);
  const int types[] = {LSTRG, LINTG, LSTRG, LSINT}, lengths[] = {8, 0, 4, 0};
  const unsigned offsets[] = {0, 8, 12, 16};
  for (std::size_t i = 0; i < names.size(); ++i)
    r.fields.push_back(s_fgfld{names[i], types[i % 4], lengths[i % 4], static_cast<int>(i), offsets[i % 4]});
  return r;
}

TEST_F(System, ATableClassReadsTheFieldsWhereTheyLie) {
  Record r = make_record(group_, {"NAME", "F3", "", "NAME", "F4"});
  int cls = cre_FG(group_, "ls -l", 12, r.fields.data(), 5, r.unit);
  ASSERT_GT(cls, 0) << Errmes;
  // An empty name or one taken gives the field's number; a field whose
  // number is taken too has no variable.
  std::vector<std::string> names;
  for (int i = 0; i < cls_ptr(cls)->varCount; ++i) names.push_back(cls_ptr(cls)->vars[i].name);
  EXPECT_EQ(names, (std::vector<std::string>{"F3", "F4", "F5", "NAME", "~FIELDS", "~SLOT", "~UPDTICK"}));
  EXPECT_EQ(builder::variable(cls, "NAME"), "str alpha");
  EXPECT_EQ(builder::variable(cls, "F3"), "int 42") << "the second field, named F3";
  EXPECT_EQ(builder::variable(cls, "F4"), "int 7") << "the fourth field, named NAME";
  EXPECT_EQ(builder::variable(cls, "F5"), "str alpha") << "the fifth field, named F4";
  EXPECT_EQ(cher_var(cls, "F4")->attr1, 4);
  EXPECT_EQ(builder::variable(cls, "~SLOT"), "int 12");
  EXPECT_EQ(builder::variable(cls, "~FIELDS"), "int 5");
  EXPECT_EQ(builder::variable(cls, "~UPDTICK"), "int 0");
  EXPECT_EQ(cl_inf(cls, 7), 12) << "the family is the slot";
  EXPECT_STREQ(cla_abv(cls), "ls -l");

  // A new record is what the variables read.
  put_be32(cbu_bu(r.unit) + 8, 43);
  fg_tick(fg_counter(cls));
  fg_tick(fg_counter(cls));
  EXPECT_EQ(builder::variable(cls, "F3"), "int 43");
  EXPECT_EQ(builder::variable(cls, "~UPDTICK"), "int 2");

  // Nothing is written through them, and nothing is added.
  res_u value;
  res_zero(&value);
  value.rs_type = LINTG;
  EXPECT_EQ(assign(cher_var(cls, "F3"), nullptr, 0, &value), -62);
  EXPECT_EQ(assign(cher_var(cls, "~SLOT"), nullptr, 0, &value), -62);
  EXPECT_EQ(assign(cher_var(cls, "~UPDTICK"), nullptr, 0, &value), 0);
  EXPECT_EQ(builder::variable(cls, "~UPDTICK"), "int 2");
  EXPECT_EQ(cre_var(cls, "NEW", LBOOL, 0, nullptr, nullptr, 0, nullptr), -31);
  EXPECT_EQ(raz_class(cls), 0);
  EXPECT_EQ(builder::variable(cls, "~UPDTICK"), "int 0");
  EXPECT_EQ(builder::variable(cls, "F3"), "int 43");

  // An expression names the fields by the table's name.
  EXPECT_EQ(builder::evaluate(&g_, load(reference("ls -l", "NAME"))), "str alpha");
  EXPECT_EQ(cla_free(cls), 0);
  EXPECT_EQ(builder::evaluate(&g_, load(reference("ls -l", "NAME"))), "error 7");
}

TEST_F(System, ATableClassThatCannotBeMadeLeavesNothing) {
  Record r = make_record(group_, {"A", "B", "C", "D"});
  unsigned held = adg_siz(group_);
  vlx::fault::arm(vlx::fault::alloc, 0);
  int cls = cre_FG(group_, "faults", 1, r.fields.data(), 4, r.unit);
  long points = vlx::fault::calls(vlx::fault::alloc);
  ASSERT_GT(cls, 0);
  ASSERT_GT(points, 2);
  ASSERT_EQ(cla_free(cls), 0);
  EXPECT_EQ(adg_siz(group_), held);
  for (long n = 1; n <= points; ++n) {
    vlx::fault::arm(vlx::fault::alloc, n);
    cls = cre_FG(group_, "faults", 1, r.fields.data(), 4, r.unit);
    vlx::fault::arm(vlx::fault::alloc, 0);
    EXPECT_EQ(cls, -31) << "allocation " << n;
    EXPECT_EQ(cla_find("faults"), 0);
    EXPECT_EQ(adg_siz(group_), held) << "allocation " << n;
  }
}

}  // namespace
