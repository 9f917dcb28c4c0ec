// Buffer units: stamps and stale references, the dummy unit, argument
// checks, table growth, extents and their chains, dependents.
#include <gtest/gtest.h>

#include <cstring>

#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "memory/vlxcbu.h"
#include "support/vlxtest.h"

namespace {

class CbuTest : public ::testing::Test {
 protected:
  // The groups' tests of this program need the ceiling low, and a ceiling
  // only grows: the units take the same one.
  static void SetUpTestSuite() {
    vlxtest::install_dir();
    ASSERT_EQ(ini_malloc(1024), 0);
    ASSERT_EQ(cbu_ini(512), 0);
  }
  void SetUp() override {
    raz_err();
    group_ = adg_get(nullptr, nullptr, kGrpServer, "cbu test");
    ASSERT_NE(group_, 0u);
  }
  void TearDown() override {
    adg_free(group_);
    raz_err();
  }
  cbu_ref unit(unsigned size = 64) {
    cbu_ref ref = 0;
    EXPECT_EQ(cbu_new(1, group_, size, &ref, "test"), 0);
    return ref;
  }
  unsigned group_ = 0;
};

TEST_F(CbuTest, FreedReferencesGoStale) {
  cbu_ref r = unit(100);
  ASSERT_NE(cbu_if(r), 0);
  unsigned char* p = cbu_bu(r);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(cbu_len(r), 100u);
  EXPECT_EQ(p[99], 0);
  EXPECT_EQ(cbu_grp(r), group_);
  EXPECT_EQ(cbu_free(r), 0);
  EXPECT_EQ(cbu_if(r), 0);
  EXPECT_EQ(cbu_bu(r), nullptr);
  EXPECT_EQ(cbu_free(r), -26);
  EXPECT_STREQ(Errmes, "Inconsistent reference value");
  // The entry goes back to the head of the free list with the next stamp.
  cbu_ref again = unit();
  EXPECT_EQ(again >> 32, r >> 32);
  EXPECT_EQ(static_cast<std::uint32_t>(again), static_cast<std::uint32_t>(r) + 1);
}

TEST_F(CbuTest, MalformedReferencesTouchNothing) {
  EXPECT_EQ(cbu_if(0x00000000'00000001ull), 0);
  EXPECT_EQ(cbu_if(static_cast<cbu_ref>(Maxcbu + 1) << 32 | 1), 0);
  EXPECT_EQ(cbu_bu(static_cast<cbu_ref>(Maxcbu + 1) << 32 | 1), nullptr);
  EXPECT_EQ(cbu_len(0xFFFFFFFF'FFFFFFFFull), 0u);
  EXPECT_EQ(cbu_realloc(5ull << 32 | 99, 10), -26);
}

TEST_F(CbuTest, DummyUnit) {
  cbu_ref dummy = 1ull << 32 | 1;
  EXPECT_EQ(cbu_len(dummy), 256u);
  EXPECT_NE(cbu_bu(dummy), nullptr);
  EXPECT_EQ(cbu_grp(dummy), 0u);
  EXPECT_EQ(cbu_free(dummy), 0);
  EXPECT_EQ(cbu_if(dummy), 1);
}

TEST_F(CbuTest, CreationChecks) {
  cbu_ref ref = 0;
  EXPECT_EQ(cbu_new(1, group_, 0, &ref, "x"), -26);
  EXPECT_STREQ(Errmes, "Illegal size for cbu");
  raz_err();
  EXPECT_EQ(cbu_new(3, group_, 8, &ref, "x"), -26);
  EXPECT_STREQ(Errmes, "Illegal mod for cbu");
  raz_err();
  EXPECT_EQ(cbu_new(1, 999999, 8, &ref, "x"), -26);
  EXPECT_STREQ(Errmes, "Illegal allocation group for cbu");
  raz_err();
  EXPECT_EQ(cbu_new(2, group_, 8, &ref, "x"), -26) << "the COMMON row has no groups";
  raz_err();
  unsigned before = cbu_count(1);
  EXPECT_EQ(cbu_new(1, group_, 0x7FFFFFFF, &ref, "x"), -31);
  EXPECT_EQ(cbu_count(1), before) << "a failed creation leaves no unit behind";
}

TEST_F(CbuTest, TableGrowsPastItsFirstSize) {
  std::vector<cbu_ref> refs;
  for (int i = 0; i < 1200; ++i) refs.push_back(unit(4));
  EXPECT_GE(Maxcbu, 1200u);
  for (cbu_ref r : refs) EXPECT_NE(cbu_bu(r), nullptr);
  for (cbu_ref r : refs) EXPECT_EQ(cbu_free(r), 0);
}

TEST_F(CbuTest, ReallocKeepsContents) {
  cbu_ref r = unit(8);
  std::memcpy(cbu_bu(r), "abcdefgh", 8);
  unsigned tick = cbu_get_updtick(r);
  EXPECT_EQ(cbu_realloc(r, 4096), 0);
  EXPECT_EQ(cbu_len(r), 4096u);
  EXPECT_EQ(std::memcmp(cbu_bu(r), "abcdefgh", 8), 0);
  EXPECT_EQ(cbu_bu(r)[4095], 0);
  EXPECT_GT(cbu_get_updtick(r), tick);
}

TEST_F(CbuTest, ExtentNumbering) {
  cbu_ref r = unit();
  unsigned short n = 0;
  for (unsigned short want = 1; want <= 3; ++want) {
    ASSERT_EQ(cbu_new_extent(r, &n), 0);
    EXPECT_EQ(n, want);
  }
  EXPECT_EQ(cbu_max_ext(r), 3);
  ASSERT_EQ(cbu_new_extent(r, &n), 0);
  EXPECT_EQ(n, 4);
  EXPECT_EQ(cbu_max_ext(r), 6);
  // A freed extent's number is the next one handed out.
  EXPECT_EQ(cbu_free_tab_extent(r, 2), 0);
  ASSERT_EQ(cbu_new_extent(r, &n), 0);
  EXPECT_EQ(n, 2);
  unsigned char* address = nullptr;
  unsigned length = 0;
  EXPECT_EQ(cbu_realloc_extent(r, 4, 300), 0);
  EXPECT_EQ(cbu_extent(r, 4, &address, &length), 0);
  EXPECT_EQ(length, 300u);
  EXPECT_EQ(cbu_extent(r, 7, &address, &length), -26);
  EXPECT_NE(std::string(Errmes).find("illegal extent number:7 > Cbu["), std::string::npos) << Errmes;
  raz_err();
  EXPECT_EQ(cbu_free_extent(r, 9), -26);
  EXPECT_STREQ(Errmes, "(cbu_free_extent) Illegal extent number");
}

TEST_F(CbuTest, TextChainsAreFollowedAndLoopsEnd) {
  cbu_ref r = unit();
  unsigned short a, b, c;
  ASSERT_EQ(cbu_new_extent(r, &a), 0);
  ASSERT_EQ(cbu_new_extent(r, &b), 0);
  ASSERT_EQ(cbu_new_extent(r, &c), 0);
  unsigned char* address;
  unsigned length;
  // a -> b -> a: a loop; c stays outside the chain.
  cbu_extent(r, a, &address, &length);
  address[0] = 0, address[1] = static_cast<unsigned char>(b);
  cbu_extent(r, b, &address, &length);
  address[0] = 0, address[1] = static_cast<unsigned char>(a);
  std::uint32_t used = adg_siz(group_);
  EXPECT_EQ(cbu_free_extent(r, a), 0);
  EXPECT_EQ(adg_siz(group_), used - 4);
  ASSERT_EQ(cbu_extent(r, c, &address, &length), 0);
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(cbu_free_all_extent(r), 0);
  EXPECT_EQ(cbu_extent(r, c, &address, &length), 0);
  EXPECT_EQ(address, nullptr);
}

TEST_F(CbuTest, DependentsGoWithTheirUnit) {
  cbu_ref owner = unit(), sub = unit(), subsub = unit();
  Cbu[owner >> 32].cbu_sub1 = sub;
  Cbu[sub >> 32].cbu_sub2 = subsub;
  Cbu[subsub >> 32].cbu_sub1 = owner;  // a cycle must not recurse forever
  EXPECT_EQ(cbu_free(owner), 0);
  EXPECT_EQ(cbu_if(owner), 0);
  EXPECT_EQ(cbu_if(sub), 0);
  EXPECT_EQ(cbu_if(subsub), 0);
}

TEST_F(CbuTest, ReleasedGroupTakesTheBuffers) {
  cbu_ref r = unit(32);
  unsigned short n;
  ASSERT_EQ(cbu_new_extent(r, &n), 0);
  adg_free(group_);
  EXPECT_EQ(cbu_bu(r), nullptr) << "the segment went with the group";
  EXPECT_EQ(cbu_len(r), 0u);
  unsigned before = cbu_count(1);
  EXPECT_EQ(cbu_free(r), 0);
  EXPECT_EQ(cbu_count(1), before - 1);
  group_ = adg_get(nullptr, nullptr, kGrpServer, "cbu test");
}

}  // namespace
