// Classes and their variables: the sorted table and its growth, element
// addresses with their bounds, dynamic arrays, the accessors, and
// creation failing at every allocation.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "base/faults.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "support/vlxtest.h"
#include "variables/varcla.h"
#include "variables/variable.h"
#include "variables/varsys.h"

namespace {

res_u integer(long long n) {
  res_u v;
  res_zero(&v);
  v.rs_type = LINTG;
  v.rs_int = n;
  return v;
}

class Classes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    vlxtest::init_memory();
    cstdcb();
    if (Cbu == nullptr) cbu_ini(512);
  }
  void SetUp() override {
    raz_err();
    savedIts_ = Vclits, savedIbm_ = Vclibm;
    group_ = adg_get(nullptr, nullptr, 0, "class test");
  }
  void TearDown() override {
    adg_free(group_);
    Vclits = savedIts_, Vclibm = savedIbm_;
    raz_err();
  }

  int make(const char* name, unsigned bufSize = 64, int capacity = 4, int extensible = 1) {
    int cls = gen_class(group_, name, 7, bufSize, capacity, extensible);
    EXPECT_GT(cls, 0) << Errmes;
    return cls;
  }
  // A variable of one dimension (count 0: a single element).
  int scalar(int cls, const char* name, int type = LINTG, int length = 0) {
    raz_err();
    return cre_var(cls, name, type, length, nullptr, nullptr, 0, nullptr);
  }
  int array(int cls, const char* name, std::vector<short> dims, std::vector<short> lows = {}, int type = LINTG,
            int length = 0) {
    raz_err();
    return cre_var(cls, name, type, length, dims.data(), lows.empty() ? nullptr : lows.data(),
                   static_cast<int>(dims.size()), nullptr);
  }
  // Element `indexes` of variable `name` as an integer, or "error N detail".
  std::string read(int cls, const char* name, std::vector<short> indexes = {}) {
    raz_err();
    varan* v = cher_var(cls, name);
    if (v == nullptr) return "error " + std::to_string(Errvlx) + " " + Errmes;
    res_u value;
    res_zero(&value);
    int st = get_value(v, indexes.data(), static_cast<int>(indexes.size()), &value);
    std::string out = st < 0 ? "error " + std::to_string(-st) + " " + Errmes : std::to_string(value.rs_int);
    res_drop(&value);
    return out;
  }
  int write(int cls, const char* name, std::vector<short> indexes, long long n) {
    raz_err();
    varan* v = cher_var(cls, name);
    if (v == nullptr) return -Errvlx;
    res_u value = integer(n);
    return assign(v, indexes.data(), static_cast<int>(indexes.size()), &value);
  }
  std::vector<std::string> names(int cls) {
    std::vector<std::string> out;
    s_cls* c = cls_ptr(cls);
    for (int i = 0; c != nullptr && i < c->varCount; ++i) out.push_back(c->vars[i].name);
    return out;
  }

  unsigned group_ = 0;
  int savedIts_ = 0, savedIbm_ = 0;
};

TEST_F(Classes, VariablesStaySortedAndKeepTheirValuesWhenOthersMoveIn) {
  int cls = make("sorted");
  s_cls* c = cls_ptr(cls);
  ASSERT_EQ(scalar(cls, "m"), 0);
  ASSERT_EQ(scalar(cls, "x"), 0);
  ASSERT_EQ(write(cls, "m", {}, 41), 0);
  ASSERT_EQ(write(cls, "x", {}, 42), 0);
  EXPECT_EQ(ozone(c, "a"), -1) << "below the first";
  EXPECT_EQ(ozone(c, "z"), -3) << "above the last: -1 - count";
  EXPECT_EQ(ozone(c, "n"), -2);
  EXPECT_EQ(ozone(c, "x"), 1);
  ASSERT_EQ(scalar(cls, "a"), 0);
  EXPECT_EQ(names(cls), (std::vector<std::string>{"a", "m", "x"}));
  EXPECT_EQ(read(cls, "m"), "41");
  EXPECT_EQ(read(cls, "x"), "42");
  EXPECT_EQ(read(cls, "a"), "0") << "a new variable is zeros";
  // Byte order: upper case and digits before lower case, "~" last.
  ASSERT_EQ(scalar(cls, "~t"), 0);
  ASSERT_EQ(scalar(cls, "B2"), 0);
  EXPECT_EQ(names(cls), (std::vector<std::string>{"B2", "a", "m", "x", "~t"}));
  EXPECT_EQ(cl_inf(cls, 8), 1);

  // The same name again changes nothing.
  long long used = cl_inf(cls, 5);
  EXPECT_EQ(scalar(cls, "m", LDCB), -61);
  EXPECT_STREQ(Errmes, "m");
  EXPECT_EQ(cl_inf(cls, 1), 5);
  EXPECT_EQ(cl_inf(cls, 5), used);
  EXPECT_EQ(read(cls, "m"), "41");

  varan* v = nullptr;
  EXPECT_EQ(test_var(cls, "nothing", &v), 0);
  EXPECT_EQ(Errvlx, 0) << "test_var records no error";
  EXPECT_EQ(cher_var(cls, "nothing"), nullptr);
  EXPECT_EQ(Errvlx, 6);
  EXPECT_STREQ(Errmes, "nothing");
}

TEST_F(Classes, NamesAreCutToSixtyFourCharacters) {
  int cls = make("names");
  std::string name64(64, 'n'), name65 = name64 + "z";
  ASSERT_EQ(scalar(cls, name65.c_str()), 0);
  EXPECT_EQ(names(cls), std::vector<std::string>{name64});
  varan* v = nullptr;
  ASSERT_EQ(test_var(cls, name64.c_str(), &v), 1);
  EXPECT_EQ(test_var(cls, (name64 + "other").c_str(), &v), 1) << "compared on 64 characters";
  EXPECT_EQ(scalar(cls, name64.c_str()), -61);
  EXPECT_EQ(Errmes, name64);
  // A class name too.
  int longer = make((std::string(70, 'c')).c_str());
  EXPECT_EQ(cla_abv(longer), std::string(64, 'c'));
}

TEST_F(Classes, BoundsAreCheckedWithTheIndexInTheDetail) {
  int cls = make("bounds");
  ASSERT_EQ(array(cls, "t", {10}, {1}), 0);
  EXPECT_EQ(write(cls, "t", {1}, 1), 0);
  EXPECT_EQ(write(cls, "t", {10}, 10), 0);
  EXPECT_EQ(read(cls, "t", {10}), "10");
  EXPECT_EQ(read(cls, "t", {1}), "1");
  EXPECT_EQ(read(cls, "t", {11}), "error 8 t(11)");
  EXPECT_EQ(read(cls, "t", {0}), "error 8 t(0)");
  EXPECT_EQ(read(cls, "t", {-32768}), "error 8 t(-32768)");
  EXPECT_EQ(read(cls, "t", {32767}), "error 8 t(32767)");
  EXPECT_EQ(write(cls, "t", {11}, 1), -8);
  EXPECT_EQ(read(cls, "t", {1, 1}), "error 55 t");
  EXPECT_EQ(read(cls, "t"), "1") << "no index: the first element";

  // Negative lower bounds, and a variable of count 0 with its one element.
  ASSERT_EQ(array(cls, "n", {3}, {-1}), 0);
  EXPECT_EQ(write(cls, "n", {-1}, 5), 0);
  EXPECT_EQ(write(cls, "n", {1}, 7), 0);
  EXPECT_EQ(read(cls, "n", {2}), "error 8 n(2)");
  EXPECT_EQ(read(cls, "n", {-2}), "error 8 n(-2)");
  ASSERT_EQ(scalar(cls, "s"), 0);
  EXPECT_EQ(write(cls, "s", {0}, 3), 0);
  EXPECT_EQ(read(cls, "s", {1}), "error 8 s(1)");
  EXPECT_EQ(read(cls, "s"), "3");
  // Nothing spilled onto the neighbours.
  EXPECT_EQ(read(cls, "t", {10}), "10");
  EXPECT_EQ(read(cls, "n", {-1}), "5");
  EXPECT_EQ(read(cls, "n", {1}), "7");
}

TEST_F(Classes, SeveralDimensionsTakeRecordsFromTheFreeList) {
  int cls = make("dims", 16, 2);
  ASSERT_EQ(array(cls, "m", {2, 3, 4}, {1, 0, -1}), 0);
  for (short i = 1; i <= 2; ++i)
    for (short j = 0; j <= 2; ++j)
      for (short k = -1; k <= 2; ++k) ASSERT_EQ(write(cls, "m", {i, j, k}, 100 * i + 10 * j + k), 0);
  for (short i = 1; i <= 2; ++i)
    for (short j = 0; j <= 2; ++j)
      for (short k = -1; k <= 2; ++k) ASSERT_EQ(read(cls, "m", {i, j, k}), std::to_string(100 * i + 10 * j + k));
  EXPECT_EQ(read(cls, "m", {1, 3, 0}), "error 8 m(3)");
  EXPECT_EQ(read(cls, "m", {1, 0, -2}), "error 8 m(-2)");
  EXPECT_EQ(read(cls, "m", {3, 0, 0}), "error 8 m(3)");
  EXPECT_EQ(read(cls, "m", {1, 0}), "error 55 m");
  EXPECT_EQ(read(cls, "m", {1, 0, 0, 0}), "error 55 m");
  varan* v = cher_var(cls, "m");
  int out = 0;
  EXPECT_EQ(givedim(v, 0, &out), 0);
  EXPECT_EQ(out, 3);
  std::vector<int> got;
  for (int k : {1, 2, 3, -1, -2, -3}) {
    EXPECT_EQ(givedim(v, k, &out), 0);
    got.push_back(out);
  }
  EXPECT_EQ(got, (std::vector<int>{2, 3, 4, 1, 0, -1}));
  raz_err();
  EXPECT_EQ(givedim(v, 4, &out), -26);
  EXPECT_STREQ(Errmes, "givedim");
  EXPECT_EQ(sizofvar(v), 2 * 3 * 4 * 4);
  EXPECT_EQ(nboct(LSTRU, 10, std::vector<short>{3, 2}.data(), 2), 132);

  // Ten records to start with, then 32 more at a time: 40 variables of
  // 4 dimensions need 160, and each keeps its own.
  for (int n = 0; n < 40; ++n) {
    std::string name = "d" + std::to_string(n);
    ASSERT_EQ(array(cls, name.c_str(), {2, 2, 2, 2}, {short(n), 0, 0, 0}, LSINT), 0) << n;
  }
  EXPECT_GE(cls_ptr(cls)->dimCount, 163);
  for (int n = 0; n < 40; n += 13) {
    std::string name = "d" + std::to_string(n);
    ASSERT_EQ(write(cls, name.c_str(), {short(n + 1), 1, 1, 1}, n), 0);
    EXPECT_EQ(read(cls, name.c_str(), {short(n + 1), 1, 1, 1}), std::to_string(n));
    EXPECT_EQ(read(cls, name.c_str(), {short(n + 2), 0, 0, 0}), "error 8 " + name + "(" + std::to_string(n + 2) + ")");
  }
  EXPECT_EQ(read(cls, "m", {2, 2, 2}), "222") << "m's records were not reused";
}

TEST_F(Classes, DimensionsBeyondTheirLimitsAreRefused) {
  int cls = make("limits");
  EXPECT_EQ(array(cls, "neg", {3, -1}), -8);
  EXPECT_STREQ(Errmes, "neg");
  EXPECT_EQ(array(cls, "five", {1, 1, 1, 1, 1}), -8);
  // Five dimensions only for the 1-byte placeholder, text of length 0.
  ASSERT_EQ(array(cls, "holder", {2, 2, 2, 2, 2}, {}, LSTRG, 0), 0);
  EXPECT_EQ(sizofvar(cher_var(cls, "holder")), 1);
  // 32767 after the first dimension is a count; this one passes 2^31.
  EXPECT_EQ(array(cls, "huge", {3, 32767, 32767}, {}, LSTRU, 255), -31);
  EXPECT_EQ(cre_var(cls, "len", LSTRG, -1, nullptr, nullptr, 0, nullptr), -26);
  EXPECT_EQ(cre_var(cls, "len", LSTRG, 65536, nullptr, nullptr, 0, nullptr), -26);
  EXPECT_EQ(cre_var(cls, "lob", LBLOB, 21, nullptr, nullptr, 0, nullptr), -31);
  EXPECT_EQ(names(cls), std::vector<std::string>{"holder"});
  raz_err();
  EXPECT_EQ(cre_var(0, "x", LINTG, 0, nullptr, nullptr, 0, nullptr), -7);
  EXPECT_STREQ(Errmes, "src/varcla:226.cre_var");
  EXPECT_EQ(cre_var(kMaxClasses + 5, "x", LINTG, 0, nullptr, nullptr, 0, nullptr), -7);
}

TEST_F(Classes, DynamicArraysTakeAnyPositionAndKeepTheirChunksInExtents) {
  int cls = make("dynamic");
  ASSERT_EQ(array(cls, "d", {kDynamic}), 0);
  ASSERT_EQ(array(cls, "r", {kDynamic, 3}, {1, 0}), 0);
  varan* d = cher_var(cls, "d");
  EXPECT_EQ(dynamic_or_static(d), 1);
  EXPECT_EQ(sizofvar(d), 4) << "a reference to its chunks";
  EXPECT_EQ(getIndexLastElmnt(d), -1);
  EXPECT_EQ(read(cls, "d", {30000}), "0") << "never written: zero";
  EXPECT_EQ(getIndexLastElmnt(cher_var(cls, "d")), -1) << "reading creates nothing";
  EXPECT_EQ(write(cls, "d", {30000}, 7), 0);
  EXPECT_EQ(write(cls, "d", {5}, 5), 0);
  EXPECT_EQ(write(cls, "d", {32767}, 9), 0);
  EXPECT_EQ(read(cls, "d", {30000}), "7");
  EXPECT_EQ(read(cls, "d", {5}), "5");
  EXPECT_EQ(read(cls, "d", {32767}), "9");
  EXPECT_EQ(read(cls, "d", {6}), "0");
  EXPECT_EQ(read(cls, "d", {-1}), "error 8 d(-1)");
  EXPECT_EQ(getIndexLastElmnt(cher_var(cls, "d")), 32767);
  EXPECT_EQ(var_elements(cher_var(cls, "d")), 32768);

  // A row of 3 per position of the dynamic first dimension.
  EXPECT_EQ(write(cls, "r", {10, 2}, 102), 0);
  EXPECT_EQ(read(cls, "r", {10, 2}), "102");
  EXPECT_EQ(read(cls, "r", {10, 3}), "error 8 r(3)");
  EXPECT_EQ(read(cls, "r", {0, 0}), "error 8 r(0)");
  EXPECT_EQ(var_elements(cher_var(cls, "r")), 30) << "rows 1 to 10";
  res_u value;
  res_zero(&value);
  EXPECT_EQ(get_element(cher_var(cls, "r"), 29, &value), 0);
  EXPECT_EQ(value.rs_int, 102);

  // A reset lets the chunks go; the array then reads as empty.
  cbu_ref unit = cls_ptr(cls)->values;
  auto extents = [&] {
    int n = 0;
    for (unsigned short e = 1; e <= cbu_max_ext(unit); ++e) {
      unsigned char* at = nullptr;
      unsigned length = 0;
      n += cbu_extent(unit, e, &at, &length) == 0 && at != nullptr;
    }
    return n;
  };
  EXPECT_EQ(extents(), 4);
  EXPECT_EQ(raz_var(cher_var(cls, "d")), 0);
  EXPECT_EQ(extents(), 1);
  EXPECT_EQ(read(cls, "d", {30000}), "0");
  EXPECT_EQ(raz_class(cls), 0);
  EXPECT_EQ(extents(), 0);
  EXPECT_EQ(read(cls, "r", {10, 2}), "0");
}

TEST_F(Classes, TablesAndBuffersGrowWhileTheVariablesMove) {
  Vclits = 3;
  Vclibm = 16;
  int cls = make("growing", 0, 0);
  EXPECT_EQ(cl_inf(cls, 6), 0) << "no value buffer yet";
  std::vector<int> order(150);
  for (int i = 0; i < 150; ++i) order[static_cast<std::size_t>(i)] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(16));
  std::vector<int> made;
  for (int n : order) {
    std::string name = "v" + std::to_string(n);
    // Mixed widths: text of n % 7 characters, or an integer.
    int st = n % 2 ? cre_var(cls, name.c_str(), LSTRG, n % 7, nullptr, nullptr, 0, nullptr) : scalar(cls, name.c_str());
    ASSERT_EQ(st, 0) << name;
    if (n % 2 == 0) {
      ASSERT_EQ(write(cls, name.c_str(), {}, n), 0);
    }
    made.push_back(n);
    // Every descriptor is looked up again: the earlier pointers are stale.
    for (int m : made) {
      if (m % 2) continue;
      std::string other = "v" + std::to_string(m);
      ASSERT_EQ(read(cls, other.c_str()), std::to_string(m)) << "after " << name;
    }
    EXPECT_EQ(cl_inf(cls, 2) % 3, 0);
    EXPECT_EQ(cl_inf(cls, 6) % 16, 0);
    EXPECT_GE(cl_inf(cls, 6), cl_inf(cls, 5));
  }
  EXPECT_EQ(cl_inf(cls, 1), 150);
  EXPECT_EQ(cl_inf(cls, 2), 150);
  long long bytes = 75 * 4;
  for (int n = 1; n < 150; n += 2) bytes += n % 7;
  EXPECT_EQ(cl_inf(cls, 5), bytes);
  std::vector<std::string> sorted = names(cls);
  EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end()));
}

TEST_F(Classes, AClassThatDoesNotGrowRefusesWithThirtyOne) {
  int cls = make("fixed", 8, 2, 0);
  ASSERT_EQ(scalar(cls, "a"), 0);
  EXPECT_EQ(scalar(cls, "b", LDBLE), -31) << "8 bytes do not fit in the 4 left";
  EXPECT_STREQ(Errmes, "[fixed]");
  ASSERT_EQ(scalar(cls, "c"), 0);
  EXPECT_EQ(scalar(cls, "d", LBOOL), -31) << "the table is full";
  EXPECT_STREQ(Errmes, "[fixed]");
  EXPECT_EQ(cl_inf(cls, 1), 2);
  EXPECT_EQ(cl_inf(cls, 2), 2);
  EXPECT_EQ(cl_inf(cls, 6), 8);
  EXPECT_EQ(cl_inf(cls, 9), 0);
}

TEST_F(Classes, InformationAndResets) {
  int base = make("base", 32, 4);
  int cls = gen_class(group_, "info", 1234, 32, 4, 1, base);
  ASSERT_GT(cls, 0);
  ASSERT_EQ(scalar(cls, "~a"), 0);
  ASSERT_EQ(scalar(cls, "~b", LDCB), 0);
  ASSERT_EQ(array(cls, "t", {3}), 0);
  ASSERT_EQ(write(cls, "t", {2}, 9), 0);
  EXPECT_EQ(cl_inf(cls, 1), 3);
  EXPECT_EQ(cl_inf(cls, 2), 4);
  EXPECT_EQ(cl_inf(cls, 3), 0);
  EXPECT_EQ(cl_inf(cls, 4), adg_siz(group_));
  EXPECT_EQ(cl_inf(cls, 5), 4 + 20 + 12);
  EXPECT_EQ(cl_inf(cls, 6), 1024) << "grown to a multiple of Vclibm";
  EXPECT_EQ(cl_inf(cls, 7), 1234);
  EXPECT_EQ(cl_inf(cls, 8), 2);
  EXPECT_EQ(cl_inf(cls, 9), 1);
  EXPECT_EQ(cl_inf(cls, 10), base);
  EXPECT_EQ(cl_inf(cls, 11), 0);
  EXPECT_EQ(cl_inf(cls, 0), 0);
  EXPECT_EQ(cl_inf(0, 1), 0);
  EXPECT_EQ(cl_inf(-3, 1), 0);
  EXPECT_STREQ(cla_abv(cls), "info");
  EXPECT_STREQ(cla_abv(0), "");

  EXPECT_EQ(raz_class(cls), 0);
  EXPECT_EQ(read(cls, "t", {2}), "0");
  raz_err();
  EXPECT_EQ(raz_class(0), -26);
  EXPECT_STREQ(Errmes, "raz_class");

  // A class is gone with its group, and its number is given again.
  unsigned other = adg_get(nullptr, nullptr, 0, "short-lived");
  int gone = gen_class(other, "gone", 0, 8, 1, 1);
  ASSERT_GT(gone, 0);
  adg_free(other);
  EXPECT_EQ(cls_ptr(gone), nullptr);
  EXPECT_EQ(cl_inf(gone, 1), 0);
  EXPECT_STREQ(cla_abv(gone), "");
  EXPECT_EQ(scalar(gone, "x"), -7);
  EXPECT_EQ(make("again"), gone);
}

TEST_F(Classes, BufferFaultsAreTheErrorsOfTheElement) {
  // A class without a value buffer: a variable of no bytes has none.
  int bare = make("bare", 0, 2);
  ASSERT_EQ(scalar(bare, "t", LTBLE), 0);
  raz_err();
  EXPECT_EQ(recup_var(cher_var(bare, "t"), nullptr, 0, 'r'), nullptr);
  EXPECT_EQ(Errvlx, 133);
  EXPECT_STREQ(Errmes, "t");
  // A value buffer that went away under the class.
  int cls = make("lost", 16, 2);
  ASSERT_EQ(scalar(cls, "v"), 0);
  cbu_free(cls_ptr(cls)->values);
  EXPECT_EQ(read(cls, "v"), "error 26 Invalid cbu on variable class");
  // A variable whose own buffer is too short for it.
  cbu_ref own = 0;
  ASSERT_EQ(cbu_new(1, group_, 6, &own, "own"), 0);
  s_varopt opt;
  opt.buffer = own;
  opt.offset = 4;
  int mine = make("own", 0, 2);
  ASSERT_EQ(cre_var(mine, "w", LINTG, 0, nullptr, nullptr, 0, nullptr, &opt), 0);
  EXPECT_EQ(cl_inf(mine, 5), 0) << "nothing in the class's buffer";
  EXPECT_EQ(read(mine, "w"), "error 26 recup_var w: beyond its buffer");
  cbu_free(own);
  EXPECT_EQ(read(mine, "w"), "error 133 w");
}

// An accessor that keeps one integer in the variable's bytes and counts
// its calls by mode.
std::string Calls;
int counting(varan* v, const short* indexes, int nindexes, res_u* value, res_u* other) {
  char mode = get_io_mode(value, other);
  Calls += mode;
  Calls += std::to_string(nindexes);
  varan plain = *v;
  plain.accessor = nullptr;
  if (mode == 'z') return raz_var(&plain);
  return mode == 'r' ? get_value(&plain, indexes, nindexes, value) : assign(&plain, indexes, nindexes, value);
}

TEST_F(Classes, AccessorsSeeEveryReadWriteAndReset) {
  int cls = make("access");
  Calls.clear();
  std::vector<short> dims{4, 2};
  ASSERT_EQ(cre_var(cls, "a", LINTG, 0, dims.data(), nullptr, 2, counting), 0);
  EXPECT_EQ(Calls, "z2") << "created: reset with its dimensions";
  ASSERT_EQ(write(cls, "a", {3, 1}, 31), 0);
  EXPECT_EQ(read(cls, "a", {3, 1}), "31");
  EXPECT_EQ(raz_var(cher_var(cls, "a")), 0);
  EXPECT_EQ(Calls, "z2w2r2z0");
  ASSERT_EQ(cre_vet(cls, "b", LINTG, 0, counting), 0);
  EXPECT_EQ(Calls, "z2w2r2z0") << "cre_vet does not call it";

  // io_rds: a read-only short integer.
  s_varopt readOnly;
  readOnly.flags = kVarReadOnly;
  varan* v = nullptr;
  ASSERT_EQ(cre_vet(cls, "ro", LSINT, 0, io_rds, &readOnly, &v), 0);
  cbu_bu(cls_ptr(cls)->values)[v->offset + 1] = 0x2a;
  EXPECT_EQ(read(cls, "ro"), "42");
  EXPECT_EQ(write(cls, "ro", {}, 1), -62);
  EXPECT_STREQ(Errmes, "ro");
  EXPECT_EQ(raz_var(cher_var(cls, "ro")), -62);
  ASSERT_EQ(cre_vet(cls, "ro2", LSINT, 0, io_rds), 0);
  EXPECT_EQ(write(cls, "ro2", {}, 1), -62) << "the accessor refuses too";

  // io_updtick_f: reads what the engine counts, ignores writes.
  ASSERT_EQ(cre_vet(cls, "tick", LINTG, 0, io_updtick_f), 0);
  v = cher_var(cls, "tick");
  cbu_bu(cls_ptr(cls)->values)[v->offset + 3] = 5;
  EXPECT_EQ(read(cls, "tick"), "5");
  EXPECT_EQ(write(cls, "tick", {}, 99), 0);
  EXPECT_EQ(read(cls, "tick"), "5");
  EXPECT_EQ(raz_var(cher_var(cls, "tick")), 0);
  EXPECT_EQ(read(cls, "tick"), "0");

  // A class reset leaves read-only variables alone, resets the others and
  // answers the first refusal of an accessor.
  cbu_bu(cls_ptr(cls)->values)[v->offset + 3] = 5;
  EXPECT_EQ(raz_class(cls), -62);
  EXPECT_STREQ(Errmes, "ro2");
  EXPECT_EQ(read(cls, "ro"), "42");
  EXPECT_EQ(read(cls, "tick"), "0");
}

TEST_F(Classes, PackedDecimalsResetToPositiveZeros) {
  int cls = make("packed");
  std::vector<short> three{3};
  // 3 bytes with 2 decimals.
  ASSERT_EQ(cre_var(cls, "p", LDCBIBM, 50, three.data(), nullptr, 1, io_ibm), 0);
  varan* v = cher_var(cls, "p");
  const unsigned char* at = cbu_bu(cls_ptr(cls)->values) + v->offset;
  EXPECT_EQ(std::vector<unsigned char>(at, at + 9), (std::vector<unsigned char>{0, 0, 12, 0, 0, 12, 0, 0, 12}));
  res_u value;
  res_zero(&value);
  value.rs_type = LDCB;
  strdcb(&value.rs_dcb, "-12.5");
  short second = 1;
  ASSERT_EQ(assign(v, &second, 1, &value), 0);
  EXPECT_EQ(std::vector<unsigned char>(at + 3, at + 6), (std::vector<unsigned char>{0x01, 0x25, 0x0d}));
  ASSERT_EQ(get_value(v, &second, 1, &value), 0);
  char text[48];
  dcbstr(&value.rs_dcb, text, 40);
  EXPECT_STREQ(text, "-12.5");
  short fourth = 3;
  EXPECT_EQ(get_value(v, &fourth, 1, &value), -6) << "an element that cannot be addressed";
  ASSERT_EQ(raz_var(v), 0);
  EXPECT_EQ(at[5], 12);

  // Several dimensions: whole resets are refused, the first one included.
  std::vector<short> square{2, 2};
  ASSERT_EQ(cre_var(cls, "q", LDCBIBM, 32, square.data(), nullptr, 2, io_ibm), 0);
  raz_err();
  EXPECT_EQ(raz_var(cher_var(cls, "q")), -26);
  EXPECT_STREQ(Errmes, "io_ibm");
}

// Every allocation of class and variable creation fails in turn: the
// failing call answers 31 and leaves the class as it was, but for a value
// buffer that may have grown; releasing the class empties its group.
TEST_F(Classes, EveryAllocationFailsInTurn) {
  Vclits = 1;
  Vclibm = 8;
  auto scenario = [&](unsigned group, std::vector<int>* statuses) {
    int cls = gen_class(group, "walk", 0, 8, 1, 1);
    statuses->push_back(cls < 0 ? cls : 0);
    if (cls < 0) {
      EXPECT_EQ(cla_find("walk"), 0) << "the number went back";
      return;
    }
    std::vector<short> cube{2, 2, 2, 2}, dyn{kDynamic};
    struct Step {
      const char* name;
      int type, length, ndim;
      const short* dims;
      var_accessor accessor;
    };
    const Step steps[] = {
        {"m", LINTG, 0, 0, nullptr, nullptr},   {"a", LDCB, 0, 0, nullptr, nullptr},
        {"c1", LSINT, 0, 4, cube.data(), nullptr}, {"c2", LSINT, 0, 4, cube.data(), nullptr},
        {"c3", LSINT, 0, 4, cube.data(), nullptr}, {"d", LINTG, 0, 1, dyn.data(), nullptr},
        {"p", LDCBIBM, 48, 0, nullptr, io_ibm}, {"z", LCLOB, 0, 0, nullptr, nullptr},
    };
    for (const Step& s : steps) {
      s_cls* c = cls_ptr(cls);
      std::vector<std::string> before = names(cls);
      long long count = cl_inf(cls, 1), capacity = cl_inf(cls, 2), used = cl_inf(cls, 5), size = cl_inf(cls, 6);
      raz_err();
      int st = cre_var(cls, s.name, s.type, s.length, s.dims, nullptr, s.ndim, s.accessor);
      statuses->push_back(st);
      if (st < 0) {
        EXPECT_EQ(st, -31) << s.name;
        EXPECT_EQ(names(cls), before) << s.name;
        EXPECT_EQ(cl_inf(cls, 1), count);
        EXPECT_EQ(cl_inf(cls, 2), capacity) << s.name;
        EXPECT_EQ(cl_inf(cls, 5), used);
        EXPECT_GE(cl_inf(cls, 6), size);
        EXPECT_EQ(cls_ptr(cls), c);
      }
    }
    // Dynamic elements and large objects take extents when written.
    varan* d = nullptr;
    if (test_var(cls, "d", &d)) {
      res_u seven = integer(7);
      short at = 900;
      int st = assign(d, &at, 1, &seven);
      statuses->push_back(st);
      if (st < 0) {
        EXPECT_EQ(st, -31);
        EXPECT_EQ(getIndexLastElmnt(d), -1);
      }
    }
    // Everything the class took, it gives back.
    EXPECT_EQ(cla_free(cls), 0);
    EXPECT_EQ(adg_siz(group), 0u);
  };
  std::uint32_t start = adg_used();
  vlx::fault::arm(vlx::fault::alloc, 0);
  std::vector<int> clean;
  unsigned group = adg_get(nullptr, nullptr, 0, "walk");
  scenario(group, &clean);
  long points = vlx::fault::calls(vlx::fault::alloc);
  adg_free(group);
  ASSERT_EQ(clean, std::vector<int>(clean.size(), 0));
  ASSERT_GT(points, 15);
  for (long n = 1; n <= points; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    group = adg_get(nullptr, nullptr, 0, "walk");
    vlx::fault::arm(vlx::fault::alloc, n);
    std::vector<int> statuses;
    scenario(group, &statuses);
    vlx::fault::arm(vlx::fault::alloc, 0);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), -31), 1);
    adg_free(group);
    EXPECT_EQ(adg_used(), start);
  }
}

}  // namespace
