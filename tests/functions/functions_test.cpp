// Built-in functions of the filter evaluator: the cases of
// data/functions.txt, 4GL text read by the tests' call reader and
// evaluated by the calculator, each leaving no memory group behind; the
// installed codes; received calls of every wrong shape.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/faults.h"
#include "calc/acalc.h"
#include "diagnostics/vlxerr.h"
#include "files/mess.h"
#include "functions/afnc2.h"
#include "functions/afnsum.h"
#include "functions/fnargs.h"
#include "memory/vlxcalls.h"
#include "memory/vlxcbu.h"
#include "support/call_parser.h"
#include "support/grammar_builder.h"
#include "support/vlxtest.h"
#include "table/afncompi.h"
#include "values/date.h"
#include "variables/varcla.h"

namespace {

constexpr const char* kClass = "FN";

// Groups in use in the process's table, and the bytes they hold.
struct Usage {
  int groups = 0;
  std::uint32_t bytes = 0;
  bool operator==(const Usage&) const = default;
};
Usage usage() {
  Usage u;
  for (const s_grp& slot : heap_table().slots) u.groups += (slot.flags & kGroupInUse) != 0;
  u.bytes = adg_used();
  return u;
}

// Strings quoted, so that blanks show; the other types as the builder
// describes them.
std::string describe(const res_u* v) {
  if (v->rs_type != LCLOB) return builder::describe(v);
  std::string text;
  for (const char16_t* c = res_text(v); *c != 0; ++c) {
    char utf8[4];
    text.append(utf8, static_cast<std::size_t>(ucs2utf(utf8, sizeof utf8, *c)));
  }
  return "str \"" + text + "\"";
}

std::string evaluate(grctx* g, unsigned root) { return builder::evaluate(g, root, describe); }

void set(int cls, const char* name, short index, res_u* value) {
  ASSERT_EQ(assign(cher_var(cls, name), &index, 1, value), 0) << name << "(" << index << ")";
}

// The variables the cases name: T integers 10 20 30 20 50 (from 1), D
// decimals 1.5 2.25 -1, S texts pear apple fig, W doubles 2.5 -2.5 3e9
// 1.005, L integers 1 to 60, M a 2 x 3 matrix of 1 to 6, E an empty
// dynamic array, B a binary object of 5 bytes, I sigma's counter.
void make_class() {
  unsigned group = adg_get(nullptr, nullptr, 0, "functions test");
  int cls = gen_class(group, kClass, 0, 4096, 16, 1);
  ASSERT_GT(cls, 0);
  short five = 5, three = 3, four = 4, sixty = 60, dynamic = kDynamic, one = 1;
  short matrix[] = {2, 3}, lows[] = {1, 1};
  ASSERT_EQ(cre_var(cls, "T", LINTG, 0, &five, &one, 1, nullptr), 0);
  ASSERT_EQ(cre_var(cls, "D", LDCB, 0, &three, &one, 1, nullptr), 0);
  ASSERT_EQ(cre_var(cls, "S", LSTRU, 10, &three, &one, 1, nullptr), 0);
  ASSERT_EQ(cre_var(cls, "W", LDBLE, 0, &four, &one, 1, nullptr), 0);
  ASSERT_EQ(cre_var(cls, "L", LINTG, 0, &sixty, &one, 1, nullptr), 0);
  ASSERT_EQ(cre_var(cls, "M", LINTG, 0, matrix, lows, 2, nullptr), 0);
  ASSERT_EQ(cre_var(cls, "E", LINTG, 0, &dynamic, &one, 1, nullptr), 0);
  ASSERT_EQ(cre_var(cls, "B", LBLOB, 0, nullptr, nullptr, 0, nullptr), 0);
  ASSERT_EQ(cre_var(cls, "I", LINTG, 0, nullptr, nullptr, 0, nullptr), 0);
  res_u v;
  res_zero(&v);
  v.rs_type = LINTG;
  const int t[] = {10, 20, 30, 20, 50};
  for (short i = 1; i <= 5; ++i) v.rs_int = t[i - 1], set(cls, "T", i, &v);
  for (short i = 1; i <= 60; ++i) v.rs_int = i, set(cls, "L", i, &v);
  for (short k = 0; k < 6; ++k) {
    short at[] = {static_cast<short>(1 + k / 3), static_cast<short>(1 + k % 3)};
    v.rs_int = k + 1;
    ASSERT_EQ(assign(cher_var(cls, "M"), at, 2, &v), 0);
  }
  v.rs_type = LDCB;
  const char* d[] = {"1.5", "2.25", "-1"};
  for (short i = 1; i <= 3; ++i) strdcb(&v.rs_dcb, d[i - 1]), set(cls, "D", i, &v);
  v.rs_type = LDBLE;
  const double w[] = {2.5, -2.5, 3e9, 1.005};
  for (short i = 1; i <= 4; ++i) v.rs_dbl = w[i - 1], set(cls, "W", i, &v);
  const char* s[] = {"pear", "apple", "fig"};
  for (short i = 1; i <= 3; ++i) res_setascii(&v, s[i - 1]), set(cls, "S", i, &v);
  res_drop(&v);
  unsigned char blob[] = {0, 0, 0, 5, 1, 2, 3, 4, 5};
  v.rs_type = LBLOB;
  v.rs_blob = blob;
  ASSERT_EQ(assign(cher_var(cls, "B"), nullptr, 0, &v), 0);
}

class Functions : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    vlxtest::init_memory();
    cstdcb();
    if (Cbu == nullptr) cbu_ini(512);
    ASSERT_EQ(ini_mess("ENG"), 0);
    fsring();
    Vlxtest = 1;  // time and time$ give midnight
    make_class();
  }
  void SetUp() override {
    raz_err();
    init_pt_exp(&g_, 0);
  }
  void TearDown() override { Grammar_free(&g_); }

  // A call node of `code` over the argument nodes, chained.
  unsigned call(unsigned code, std::initializer_list<unsigned> args, unsigned type = 0) {
    unsigned first = 0, last = 0;
    for (unsigned a : args) {
      if (last == 0) first = a;
      else gt_exp(&g_, last)->next = a;
      last = a;
    }
    return static_cast<unsigned>(stfexp(&g_, code, 0, first, 0, type, 0));
  }
  unsigned integer(int n) { return static_cast<unsigned>(stfexp(&g_, LINTG, static_cast<unsigned>(stfint(&g_, n)), 0, 0, 0, 0)); }
  unsigned text(const char* s) { return static_cast<unsigned>(stfexp(&g_, LSTRU, static_cast<unsigned>(stfstr(&g_, s)), 0, 0, 0, 0)); }

  grctx g_;
};

TEST_F(Functions, Cases) {
  auto cases = vlxtest::read_cases("functions.txt");
  ASSERT_GT(cases.size(), 200u);
  for (const auto& c : cases) {
    SCOPED_TRACE("line " + std::to_string(c.line) + ": " + c.fields[0]);
    ASSERT_GE(c.fields.size(), 2u);
    grctx g;
    ASSERT_EQ(init_pt_exp(&g, 0), 0);
    unsigned root = builder::parse_call(&g, c.fields[0], kClass);
    ASSERT_NE(root, 0u) << "does not read";
    Usage before = usage();
    EXPECT_EQ(evaluate(&g, root), c.fields[1]);
    if (c.fields.size() > 2) {
      EXPECT_NE(std::strstr(Errmes, c.fields[2].c_str()), nullptr) << Errmes;
    }
    EXPECT_EQ(usage(), before) << "memory left behind";
    Grammar_free(&g);
  }
}

// fsring installs the functions by code: the 45 of the filter evaluator,
// nothing else of the function codes.
TEST_F(Functions, EveryFunctionCodeIsInstalled) {
  int installed = 0;
  for (int code = 1; code < 256; ++code) installed += Obef[code] != err_f;
  EXPECT_EQ(installed, 45);
  EXPECT_EQ(Obef[kFnYear], Obef[kFnDay]);
  EXPECT_EQ(Obef[kFnNday], Obef[kFnNdayD]);
  // A handler met under a code it does not serve.
  res_u v;
  res_zero(&v);
  s_exp node{kFnLeftD, 0, 0, text("ABC"), 0, 0};
  EXPECT_EQ(fnmid(&v, &g_, &node, kFnLeftD), -26);
  EXPECT_EQ(fnsum(&v, &g_, &node, kFnFind), -26);
  res_drop(&v);
}

// Received calls of the wrong shape: every function under every count of
// arguments from none to ten, of every kind (a number, a text, a date, a
// number beyond 64 bits, a long text, a negative number): an answer, and
// nothing left behind.
unsigned argument(grctx* g, int kind) {
  s_dcb huge;
  strdcb(&huge, "1e30");
  switch (kind) {
    case 0: return static_cast<unsigned>(stfexp(g, LINTG, static_cast<unsigned>(stfint(g, 3)), 0, 0, 0, 0));
    case 1: return static_cast<unsigned>(stfexp(g, LSTRU, static_cast<unsigned>(stfstr(g, "ab")), 0, 0, 0, 0));
    case 2: return static_cast<unsigned>(stfexp(g, LDATE, static_cast<unsigned>(stfint(g, 154937)), 0, 0, 0, 0));
    case 3: return static_cast<unsigned>(stfexp(g, LDCB, static_cast<unsigned>(stfdcb(g, &huge)), 0, 0, 0, 0));
    case 4: {
      std::string longer(300, 'x');
      return static_cast<unsigned>(stfexp(g, LSTRU, static_cast<unsigned>(stfstr(g, longer.c_str())), 0, 0, 0, 0));
    }
    default: return static_cast<unsigned>(stfexp(g, LINTG, static_cast<unsigned>(stfint(g, -1)), 0, 0, 0, 0));
  }
}

TEST_F(Functions, ReceivedCallsOfAnyShape) {
  int answered = 0;
  for (int code = 1; code < 256; ++code) {
    if (Obef[code] == err_f) continue;
    for (int kind = 0; kind < 6; ++kind) {
      for (int count = 0; count <= 10; ++count) {
        grctx g;
        init_pt_exp(&g, 0);
        unsigned first = 0;
        for (int i = 0; i < count; ++i) {
          unsigned a = argument(&g, kind);
          gt_exp(&g, a)->next = first;
          first = a;
        }
        unsigned root = static_cast<unsigned>(stfexp(&g, static_cast<unsigned>(code), 0, first, 0, 0, 0));
        Usage before = usage();
        std::string answer = evaluate(&g, root);
        EXPECT_EQ(usage(), before) << "code " << code << ", " << count << " arguments: " << answer;
        Grammar_free(&g);
        ++answered;
      }
    }
  }
  EXPECT_EQ(answered, 45 * 6 * 11);
}

// Argument links that leave the grammar, or loop.
TEST_F(Functions, BrokenArgumentLinks) {
  unsigned a = integer(1), b = integer(2);
  gt_exp(&g_, b)->next = a;
  gt_exp(&g_, a)->next = b;
  EXPECT_EQ(builder::evaluate(&g_, call(kFnSum, {a})), "error 26");
  EXPECT_EQ(builder::evaluate(&g_, call(kFnLeftD, {a})), "error 69");
  unsigned c = integer(3);
  gt_exp(&g_, c)->next = 999;
  EXPECT_EQ(builder::evaluate(&g_, call(kFnMax, {c})), "error 26");
  EXPECT_EQ(builder::evaluate(&g_, call(kFnMidD, {c})), "error 26");
}

// week of a date that cannot be placed in a week is -1, where the other
// date functions report the date.
TEST_F(Functions, DatesBeyondTheCalendar) {
  for (int day : {MAXDATE + 1, -5}) {
    unsigned date = static_cast<unsigned>(stfexp(&g_, LDATE, static_cast<unsigned>(stfint(&g_, day)), 0, 0, 0, 0));
    EXPECT_EQ(builder::evaluate(&g_, call(kFnWeek, {date})), "int -1");
    EXPECT_EQ(Errvlx, 0);
    EXPECT_EQ(builder::evaluate(&g_, call(kFnYear, {date})), "error 56");
  }
  s_dtm late{0, 0, 0, 1, 1, 0, 9999};
  std::uint64_t stamp = 0;
  ASSERT_EQ(dtm2timestamp(dtm_pack(late), &stamp), 0);
  stamp += 366 * 86400ull;
  unsigned beyond = static_cast<unsigned>(stfexp(&g_, LDATETIME, static_cast<unsigned>(stflargeint(&g_, static_cast<std::int64_t>(stamp))), 0, 0, 0, 0));
  EXPECT_EQ(builder::evaluate(&g_, call(kFnWeek, {beyond})), "int -1");
  EXPECT_EQ(builder::evaluate(&g_, call(kFnDay, {beyond})), "error 56");
}

// pat's answer is inverted by bit 0 of the call node's type.
TEST_F(Functions, PatternFlag) {
  EXPECT_EQ(builder::evaluate(&g_, call(kFnPat, {text("AB12"), text("!!##")}, 1)), "int 0");
  EXPECT_EQ(builder::evaluate(&g_, call(kFnPat, {text("AB1"), text("!!##")}, 1)), "int 1");
}

// sigma creates a counter its class lacks, as a decimal variable.
TEST_F(Functions, SigmaCreatesItsCounter) {
  unsigned root = builder::parse_call(&g_, "sigma(NEWCOUNTER = 1, 3, NEWCOUNTER)", kClass);
  ASSERT_NE(root, 0u);
  EXPECT_EQ(builder::evaluate(&g_, root), "dcb 6");
  EXPECT_EQ(builder::variable(cla_find(kClass), "NEWCOUNTER"), "dcb 3");
}

#if VLX_FAULTS
// Every allocation a case makes fails in turn: the case answers an error
// or its value, and leaves no group behind.
TEST_F(Functions, FailedAllocationsLeaveNothingBehind) {
  const char* texts[] = {
      "toupper(string$(300, \"ß\"))", "mid$(string$(300, \"ab\"), 2, 280)", "uni(L, string$(300, \"x\"), 5)",
      "min(string$(300, \"b\"), string$(290, \"a\"), 1)", "instr(1, string$(300, \"ab\"), string$(260, \"b\"))",
      "ctrans(string$(300, \"ab\"), string$(270, \"a\"), string$(280, \"c\"))", "sum(string$(200, \"a\"), string$(200, \"b\"))",
      "find(string$(300, \"a\"), S, string$(300, \"a\"))"};
  for (const char* t : texts) {
    grctx g;
    init_pt_exp(&g, 0);
    unsigned root = builder::parse_call(&g, t, kClass);
    ASSERT_NE(root, 0u) << t;
    std::string full = builder::evaluate(&g, root);
    for (long n = 1; n < 40; ++n) {
      Usage before = usage();
      vlx::fault::arm(vlx::fault::alloc, n);
      std::string answer = builder::evaluate(&g, root);
      bool hit = vlx::fault::calls(vlx::fault::alloc) >= n;
      vlx::fault::arm(vlx::fault::alloc, 0);
      EXPECT_EQ(usage(), before) << t << ", allocation " << n;
      if (!hit) {
        EXPECT_EQ(answer, full) << t;
        break;
      }
      EXPECT_EQ(answer, "error 31") << t << ", allocation " << n;
    }
    Grammar_free(&g);
  }
}
#endif

}  // namespace
