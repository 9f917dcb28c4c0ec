// Filter plans against the calculator's walk: random filters over random
// records must pass, fail or fail with the same error either way. The
// filters compare fields, and the calls val, len, left$ and toupper of
// fields, with literals.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>

#include "calc/fplan.h"
#include "diagnostics/vlxerr.h"
#include "support/grammar_builder.h"
#include "support/vlxtest.h"
#include "table/afncompi.h"
#include "values/vlxdcb.h"
#include "variables/variable.h"

namespace {

// The current record: one value per field number, loaded at code 336.
// Field 6 cannot be loaded; field 7 is a text of more than 256 characters.
struct Record {
  std::u16string text;
  std::int64_t integer;
  s_dcb decimal;
  std::uint32_t date;
  bool flag;
};
Record Current;
int Loads = 0;

int load_field(res_u* r, grctx*, s_exp* e, int) {
  ++Loads;
  switch (e->objectId) {
    case 1: return res_setstu(r, Current.text.data(), static_cast<unsigned>(Current.text.size()));
    case 2: r->rs_type = LINTG, r->rs_int = Current.integer; return 0;
    case 3: r->rs_type = LDCB, r->rs_dcb = Current.decimal; return 0;
    case 4: r->rs_type = LDATE, r->rs_date = Current.date; return 0;
    case 5: r->rs_type = LBOOL, r->rs_bool = Current.flag; return 0;
    case 6: return err_vlx(21, "no such field");
    default: {
      std::u16string longer(300, u'x');
      return res_setstu(r, longer.data(), 300);
    }
  }
}

// The same values in their stored form, for the plans that read records:
// field i of kLayout lies at its offset in Stored. Field 9 lies past the
// record's end, where its load fails; field 10 declares a length that no
// load takes (a received grammar may), and its load fails too.
struct Layout {
  unsigned offset, type, length;
};
const Layout kLayout[] = {{0, LLIBE, 1},  {1, LSINT, 2},  {3, LINTG, 4}, {7, LINT64, 8},   {15, LDATE, 3},
                          {18, LDATE, 4}, {22, LSTRG, 6}, {28, LDCB, 0}, {48, LSTRG, 20}, {92, LSTRG, 8},
                          {1, LSINT, 0xFF000000u}};
unsigned char Stored[96];

int load_stored(res_u* r, grctx*, s_exp* e, int) {
  if (e->header + static_cast<unsigned>(stored_size(static_cast<int>(e->type), static_cast<int>(e->tail))) > sizeof Stored)
    return err_vlx(26, "past the record");
  return vad2rs(r, Stored + e->header, nullptr, static_cast<int>(e->type), static_cast<int>(e->tail), 0);
}

const plan_record* view_stored(unsigned) {
  static const plan_record view{Stored, sizeof Stored};
  return &view;
}

void random_stored(std::mt19937& random) {
  std::memset(Stored, 0, sizeof Stored);
  for (const Layout& f : kLayout) {
    if (f.offset + static_cast<unsigned>(stored_size(static_cast<int>(f.type), static_cast<int>(f.length))) > sizeof Stored ||
        static_cast<int>(f.length) < 0)
      continue;
    res_u v;
    res_zero(&v);
    switch (f.type) {
      case LSTRG: {
        // Numbers for val, one it cannot read, and characters whose upper
        // case is longer or beyond 8 bits.
        const char* texts[] = {"", "A", "AB", "B", "ABCDEF", "12", "-0.25", "1e200", "\337a", "a\xFF", "ab",
                               "ABCDEFGHIJK", "0123456789012", "SSASSASSA\337", "ABCDEFGH", "1234567.5"};
        res_setascii(&v, texts[random() % 16]);
        break;
      }
      case LDCB: {
        const char* decimals[] = {"1.5", "-0.25", "0", "1.4999", "150", "-1.5", "1.5000000000000001"};
        strdcb(&v.rs_dcb, decimals[random() % 7]), v.rs_type = LDCB;
        break;
      }
      case LDATE: v.rs_type = LDATE, v.rs_date = 738000 + static_cast<std::uint32_t>(random() % 3); break;
      default: {
        // An unsigned byte holds 0..255; now and then each type's limits.
        const std::int64_t limits[][2] = {{0, 255}, {-32768, 32767}, {INT32_MIN, INT32_MAX}, {INT64_MIN, INT64_MAX}};
        int which = f.type == LLIBE ? 0 : f.type == LSINT ? 1 : f.type == LINTG ? 2 : 3;
        v.rs_type = LINT64;
        v.rs_int = static_cast<int>(random() % 5) - (f.type == LLIBE ? 0 : 2);
        if (random() % 8 == 0) v.rs_int = limits[which][random() % 2];
        break;
      }
    }
    ASSERT_EQ(rs2vad(Stored + f.offset, nullptr, static_cast<int>(f.type), static_cast<int>(f.length), &v, 0), 0);
    res_drop(&v);
    // Now and then a decimal's bytes that no arithmetic made.
    if (f.type == LDCB && random() % 8 == 0) Stored[f.offset + 2 + random() % 18] = static_cast<unsigned char>(random());
  }
}

class Generator {
 public:
  Generator(grctx* g, unsigned seed, bool stored = false) : g_(g), random_(seed), stored_(stored) {}

  unsigned filter(int depth) {
    int pick = pick_below(depth >= 3 ? 6 : 10);
    if (pick < 5) return comparison();
    if (pick == 5) return field();
    if (pick == 6) return node(257, filter(depth + 1), 0);
    if (pick == 7) return node(265, filter(depth + 1), filter(depth + 1));
    return node(pick == 8 ? 266 : 264, filter(depth + 1), filter(depth + 1));
  }

 private:
  int pick_below(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }

  unsigned node(unsigned code, unsigned a, unsigned b) { return stfexp(g_, code, 0, a, b, 0, 0); }
  // A field; mostly one of text when `text`.
  unsigned field(bool text = false) {
    if (!stored_) return stfexp(g_, kFieldLoad, static_cast<unsigned>(1 + pick_below(7)), 0, 0, 0, 0);
    const int texts[] = {6, 8, 8, 9};
    const Layout& f = kLayout[text && pick_below(4) != 0 ? texts[pick_below(4)] : pick_below(11)];
    return stfexp(g_, kFieldLoad, 1, f.offset, f.length, f.type, 0);
  }

  // A literal, of `kind` (0 integer ... 5 text) when it is not -1.
  unsigned literal(int kind = -1) {
    switch (kind >= 0 ? kind : pick_below(6)) {
      case 0: {
        const int ints[] = {-2, -1, 0, 1, 2, 5, 6, 12, INT32_MIN, INT32_MAX};
        return stfexp(g_, LINTG, stfint(g_, ints[pick_below(10)]), 0, 0, 0, 0);
      }
      case 1: {
        s_dcb d;
        const char* decimals[] = {"1.5", "-0.25", "0", "150"};
        strdcb(&d, decimals[pick_below(4)]);
        return stfexp(g_, LDCB, stfdcb(g_, &d), 0, 0, 0, 0);
      }
      case 2: return stfexp(g_, LDATE, stfint(g_, 738000 + pick_below(3)), 0, 0, 0, 0);
      case 3: return stfexp(g_, 299, pick_below(2) ? 209 : 210, 0, 0, 0, 0);
      default: {
        const char* texts[] = {"", "A", "AB", "B", "ABCDEF", "SSA", "A\xC5\xB8", "12"};
        return stfexp(g_, LSTRU, stfstr(g_, texts[pick_below(8)]), 0, 0, 0, 0);
      }
    }
  }

  // A call of a function over a field: those a plan computes (left$ with
  // counts of every sign), tolower, which it leaves to the calculator, and
  // calls with an argument too many.
  unsigned call(unsigned* called = nullptr) {
    const unsigned codes[] = {38, 37, 55, 95, 96};
    unsigned code = codes[pick_below(5)], f = field(true);
    if (called != nullptr) *called = code;
    if (code == 55) gt_exp(g_, f)->next = stfexp(g_, LINTG, stfint(g_, pick_below(5) - 1), 0, 0, 0, 0);
    else if (pick_below(8) == 0) gt_exp(g_, f)->next = literal();
    return stfexp(g_, code, 0, f, 0, 0, 0);
  }

  unsigned operand() {
    int pick = pick_below(12);
    if (pick < 4) return field();
    if (pick < 7) return literal();
    if (pick < 8) return node(258, field(), literal());
    return call();
  }

  unsigned comparison() {
    unsigned code = static_cast<unsigned>(267 + pick_below(6));
    // Often a call with a literal of the kind of its value.
    unsigned called = 0, a = pick_below(2) == 0 ? call(&called) : operand();
    int kind = called == 38 ? pick_below(2) : called == 37 ? 0 : called != 0 ? 5 : -1;
    unsigned b = called != 0 ? literal(pick_below(4) == 0 ? -1 : kind) : operand();
    return pick_below(2) ? node(code, a, b) : node(code, b, a);
  }

  grctx* g_;
  std::mt19937 random_;
  bool stored_;
};

// A filter of comparisons only, each of a field of the stored record with
// a literal of its kind (or of len or left$ of a text field), joined by
// and, or and not: the shape whose plans run every test and read their
// truth table.
// Often both operands of an and compare the same field (`only`, an index
// of kLayout), as a field between two bounds does.
unsigned comparisons(grctx* g, std::mt19937& random, int depth, int only = -1) {
  auto pick = [&](unsigned n) { return static_cast<int>(random() % n); };
  auto node = [&](unsigned code, unsigned a, unsigned b) { return stfexp(g, code, 0, a, b, 0, 0); };
  auto integer = [&](int n) { return stfexp(g, LINTG, stfint(g, n), 0, 0, 0, 0); };
  int shape = pick(depth >= 3 ? 1 : 4);
  if (shape == 1) return node(257, comparisons(g, random, depth + 1, only), 0);
  if (shape >= 2) {
    int same = only >= 0 ? only : shape == 2 && pick(2) == 0 ? pick(6) : -1;
    return node(shape == 2 ? 266 : 264, comparisons(g, random, depth + 1, same), comparisons(g, random, depth + 1, same));
  }
  // Not the field past the record's end; now and then the refused length.
  const Layout& f = kLayout[only >= 0 ? only : pick(12) == 0 ? 10 : pick(9)];
  unsigned field = stfexp(g, kFieldLoad, 1, f.offset, f.length, f.type, 0), literal = 0;
  if (f.type == LDATE) {
    literal = stfexp(g, LDATE, stfint(g, 737999 + pick(5)), 0, 0, 0, 0);
  } else if (f.type == LDCB) {
    s_dcb d;
    const char* decimals[] = {"1.5", "-0.25", "0", "150", "1.4999"};
    strdcb(&d, decimals[pick(5)]);
    literal = stfexp(g, LDCB, stfdcb(g, &d), 0, 0, 0, 0);
  } else if (f.type == LSTRG && pick(2) == 0) {
    // len(field) against a length, or left$(field, n) against a text.
    bool len = pick(2) == 0;
    if (!len) gt_exp(g, field)->next = integer(pick(5));
    field = stfexp(g, len ? 37 : 55, 0, field, 0, 0, 0);
    const char* texts[] = {"", "A", "AB", "ABC", "12"};
    literal = len ? integer(pick(16) - 1) : stfexp(g, LSTRU, stfstr(g, texts[pick(5)]), 0, 0, 0, 0);
  } else if (f.type == LSTRG) {
    const char* texts[] = {"", "A", "AB", "B", "ABCDEF", "12", "ab"};
    literal = stfexp(g, LSTRU, stfstr(g, texts[pick(7)]), 0, 0, 0, 0);
  } else {
    const int ints[] = {-3, -2, -1, 0, 1, 2, 3, 255, 32767, INT32_MIN, INT32_MAX};
    literal = integer(ints[pick(11)]);
  }
  unsigned code = static_cast<unsigned>(267 + pick(6));
  return pick(2) ? node(code, field, literal) : node(code, literal, field);
}

void random_record(std::mt19937& random) {
  const char16_t* texts[] = {u"", u"A", u"AB", u"B", u"BA", u"12", u"-0.25", u"1e200", u"\u00DFa", u"a\u00FF", u"ab"};
  Current.text = texts[random() % 11];
  if (random() % 8 == 0) Current.text.push_back(u'\0');  // a NUL inside the value
  Current.integer = static_cast<int>(random() % 5) - 2;
  strdcb(&Current.decimal, random() % 2 ? "1.5" : "-0.25");
  Current.date = 738000 + static_cast<std::uint32_t>(random() % 3);
  Current.flag = random() % 2;
}

// Pass (1), fail (0) or the negated error of the calculator's walk.
int walk(grctx* g, unsigned root) {
  res_u value;
  res_zero(&value);
  int st = evafsr(&value, g, root);
  if (st >= 0) st = ifnull(&value);
  res_drop(&value);
  raz_err();
  return st < 0 ? st : !st;
}

struct Plan : ::testing::Test {
  static void SetUpTestSuite() {
    vlxtest::init_memory();
    fsring();
  }
  void SetUp() override {
    Obef[kFieldLoad] = load_field;
    Plan_view = nullptr;
  }
};

// Filters of random shapes over random records: values loaded by the
// field loads, or read in the records' stored form through the view.
void answers_as_the_calculator(bool stored) {
  std::mt19937 records(7);
  int planned = 0, compared = 0, calls = 0;
  for (unsigned seed = 1; seed <= 400; ++seed) {
    grctx g;
    init_pt_exp(&g, 0);
    unsigned root = Generator(&g, seed, stored).filter(0);
    fplan plan;
    if (plan_make(&plan, &g, root)) {
      ++planned;
      for (int i = 0; i < plan.count; ++i) calls += plan.tests[i].call != 0;
      for (int r = 0; r < 25; ++r) {
        if (stored) random_stored(records);
        else random_record(records);
        int expected = walk(&g, root);
        int got = plan_eval(&plan, &g);
        raz_err();
        ASSERT_EQ(got, expected) << "filter " << seed << ", record " << r;
        ++compared;
      }
    }
    Grammar_free(&g);
  }
  // Nearly every generated filter fits a plan; the others are too large.
  EXPECT_GT(planned, 300);
  EXPECT_GT(compared, 7500);
  EXPECT_GT(calls, 100);
}

TEST_F(Plan, AnswersAsTheCalculatorOnRandomFilters) { answers_as_the_calculator(false); }

TEST_F(Plan, ReadsStoredFieldsAsTheirLoadsWould) {
  Obef[kFieldLoad] = load_stored;
  Plan_view = view_stored;
  answers_as_the_calculator(true);
}

TEST_F(Plan, TabledPlansAnswerAsTheCalculator) {
  Obef[kFieldLoad] = load_stored;
  Plan_view = view_stored;
  std::mt19937 random(5);
  int several = 0, between = 0;
  for (int seed = 1; seed <= 600; ++seed) {
    grctx g;
    init_pt_exp(&g, 0);
    // Every third filter is a field between two bounds.
    int field = static_cast<int>(random() % 6);
    unsigned root = seed % 3 != 0 ? comparisons(&g, random, 0)
                                  : stfexp(&g, 266, 0, comparisons(&g, random, 3, field), comparisons(&g, random, 3, field), 0, 0);
    fplan plan;
    ASSERT_TRUE(plan_make(&plan, &g, root)) << seed;
    several += plan.tabled && plan.count > 1;
    between += plan.tabled && plan.count == 2 && plan.truth == 0b1000 && plan.tests[0].offset == plan.tests[1].offset;
    for (int r = 0; r < 25; ++r) {
      random_stored(random);
      int expected = walk(&g, root);
      ASSERT_EQ(plan_eval(&plan, &g), expected) << "filter " << seed << ", record " << r;
      raz_err();
    }
    Grammar_free(&g);
  }
  EXPECT_GT(several, 250);
  EXPECT_GT(between, 100);
}

// Calls over a field of 8-bit text are computed from the record's bytes:
// no load, the calculator's answer; a text that val cannot read goes to
// the calculator, which answers its error.
TEST_F(Plan, ComputesCallsFromTheRecord) {
  Obef[kFieldLoad] = [](res_u* r, grctx* g, s_exp* e, int code) {
    ++Loads;
    return load_stored(r, g, e, code);
  };
  Plan_view = view_stored;
  const char* filters[] = {"(> (code 38 F) 10)", "(= (code 37 F) 5)", "(> (code 37 F) 8)", "(= (code 55 F 3) 'STR')",
                           "(= (code 95 F) 'STRASSE')", "(= (code 95 F) 'STRASSENBAHN')",
                           "(< 'ST' (code 95 F))", "(<> (code 55 F 0) '')"};
  const char* texts[] = {"12", "stra\337e", "1e200", "stra\337enbahn", "12345678", "123456789"};
  for (const char* text : texts) {
    std::memset(Stored, 0, sizeof Stored);
    std::memcpy(Stored + 48, text, std::strlen(text));
    for (const char* filter : filters) {
      SCOPED_TRACE(std::string(filter) + " on " + text);
      grctx g;
      init_pt_exp(&g, 0);
      std::string withField = filter;
      withField.replace(withField.find('F'), 1, "(code 336)");
      unsigned root = builder::parse(&g, withField);
      ASSERT_NE(root, 0u);
      for (unsigned i = 1; i <= g.gr_exp.gc_nbr; ++i) {
        s_exp* e = gt_exp(&g, i);
        // The field: 8-bit text of 20 bytes at 48; a call's second operand
        // is its second argument.
        if (e->code == kFieldLoad) *e = s_exp{kFieldLoad, LSTRG, 1, 48, 20, e->next};
        if (e->code < 256 && e->tail != 0) gt_exp(&g, e->header)->next = e->tail, e->tail = 0;
      }
      fplan plan;
      ASSERT_TRUE(plan_make(&plan, &g, root));
      ASSERT_NE(plan.tests[plan.start].call, 0);
      Loads = 0;
      int expected = walk(&g, root);
      int walkLoads = Loads;
      Loads = 0;
      EXPECT_EQ(plan_eval(&plan, &g), expected);
      raz_err();
      bool readable = std::strcmp(text, "1e200") != 0 || withField.find("code 38") == std::string::npos;
      EXPECT_EQ(Loads, readable ? 0 : walkLoads);
      Grammar_free(&g);
    }
  }
}

TEST_F(Plan, LoadsAFieldOnceForConsecutiveTests) {
  grctx g;
  init_pt_exp(&g, 0);
  unsigned day = stfexp(&g, kFieldLoad, 4, 0, 0, 0, 0);
  unsigned low = stfexp(&g, LDATE, stfint(&g, 738000), 0, 0, 0, 0);
  unsigned high = stfexp(&g, LDATE, stfint(&g, 738002), 0, 0, 0, 0);
  unsigned range = stfexp(&g, 266, 0, stfexp(&g, 268, 0, day, low, 0, 0), stfexp(&g, 269, 0, day, high, 0, 0), 0, 0);
  fplan plan;
  ASSERT_TRUE(plan_make(&plan, &g, range));
  Current.date = 738001;
  Loads = 0;
  EXPECT_EQ(plan_eval(&plan, &g), 1);
  EXPECT_EQ(Loads, 1);
  Current.date = 738002;
  EXPECT_EQ(plan_eval(&plan, &g), 0);
  Grammar_free(&g);
}

TEST_F(Plan, LeavesLoopsAndLargeFiltersToTheCalculator) {
  grctx g;
  init_pt_exp(&g, 0);
  // A node that is its own operand.
  unsigned looping = stfexp(&g, 266, 0, 1, 1, 0, 0);
  fplan plan;
  EXPECT_FALSE(plan_make(&plan, &g, looping));
  EXPECT_EQ(walk(&g, looping), -26);
  // Seventeen comparisons joined by and: one more than a plan holds.
  unsigned all = 0;
  for (int i = 0; i < 17; ++i) {
    unsigned test = stfexp(&g, 271, 0, stfexp(&g, kFieldLoad, 2, 0, 0, 0, 0),
                           stfexp(&g, LINTG, stfint(&g, i), 0, 0, 0, 0), 0, 0);
    all = all == 0 ? test : stfexp(&g, 264, 0, all, test, 0, 0);
  }
  EXPECT_FALSE(plan_make(&plan, &g, all));
  Grammar_free(&g);
}

}  // namespace
