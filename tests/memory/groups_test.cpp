// Memory groups: ids and generations, vetoes, the two release policies,
// the ceiling, segments and the dump file. The table is process-wide, so
// each test starts from whatever the earlier ones left and measures deltas.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "support/vlxtest.h"

using namespace vlx;
namespace fs = std::filesystem;

namespace {

constexpr int kCeilingKb = 1024;
int Signals;
void record_signal(int signal) { Signals += signal == 15; }
int veto(unsigned) { return -1; }
int never(unsigned) { return 0; }

class GroupTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    vlxtest::install_dir();
    ASSERT_EQ(ini_malloc(kCeilingKb), 0);
    Adgsignal = record_signal;
  }
  void SetUp() override { raz_err(); }
  void TearDown() override {
    for (unsigned g : mine_) adg_free(g);
    raz_err();
  }
  // A group owned by the test, released at its end.
  unsigned group(bool kept = true, adg_onfree onFree = nullptr, adg_releasable releasable = nullptr) {
    unsigned g = adg_get(onFree, releasable, 0, "test %zu", mine_.size());
    EXPECT_NE(g, 0u);
    if (!kept) adg_unkeep(g);
    mine_.push_back(g);
    return g;
  }
  static std::uint32_t room() { return heap_table().maxMem - adg_used(); }
  std::vector<unsigned> mine_;
};

TEST_F(GroupTest, ReleasedIdsGoStaleAndTheSlotComesBackOneGenerationUp) {
  unsigned g = adg_get(nullptr, nullptr, kGrpTables, "first");
  ASSERT_NE(g, 0u);
  EXPECT_EQ(adg_free(g), 0);
  EXPECT_EQ(adg_if(g), 0);
  unsigned again = group();
  EXPECT_EQ(again, g + 1024);
  EXPECT_EQ(adg_if(again), static_cast<int>(again % 1024));
  EXPECT_EQ(adg_malloc(g, 8), nullptr) << "a stale id allocates nothing";
  EXPECT_EQ(Errvlx, 26);
  raz_err();
  EXPECT_EQ(adg_free(0), 0);
  EXPECT_EQ(adg_keep(0), -26);
  EXPECT_STREQ(Errmes, "adg_keep");
  raz_err();
  EXPECT_EQ(adg_unkeep(g), -26);
  EXPECT_STREQ(Errmes, "adg_unkeep");
}

TEST_F(GroupTest, BlocksAreZeroedAccountedAndNeverShrink) {
  unsigned g = group();
  std::uint32_t before = adg_used();
  auto* p = static_cast<unsigned char*>(adg_malloc(g, 100));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[99], 0);
  EXPECT_EQ(adg_siz(g), 100u);
  EXPECT_EQ(adg_realloc(g, p, 50), p);
  EXPECT_EQ(adg_siz(g), 100u);
  p[0] = 7;
  auto* q = static_cast<unsigned char*>(adg_realloc(g, p, 5000));
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q[0], 7);
  EXPECT_EQ(q[4999], 0);
  EXPECT_EQ(adg_siz(g), 5000u);
  EXPECT_EQ(adg_used(), before + 5000);
  EXPECT_EQ(adg_realloc(g, nullptr, 10), nullptr);
  EXPECT_EQ(adg_memfree(g, q), 0);
  EXPECT_EQ(adg_memfree(g, q), -26);
  EXPECT_STREQ(Errmes, "Buffer reference not found");
  EXPECT_EQ(adg_used(), before);
}

TEST_F(GroupTest, GeneralGroupStaysInUseAcrossRelease) {
  unsigned general = vlx_group();
  ASSERT_NE(vlx_malloc(64), nullptr);
  EXPECT_EQ(adg_free(general), 0);
  EXPECT_EQ(vlx_group(), general + 1024);
  EXPECT_EQ(adg_siz(vlx_group()), 0u);
  void* p = vlx_malloc(64);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(vlx_free(p), 0);
  EXPECT_EQ(adg_unkeep(vlx_group()), 0);
  EXPECT_EQ(adg_ikeep(vlx_group()), 1) << "slot 1 is always kept";
}

TEST_F(GroupTest, VetoedReleaseKeepsEverything) {
  unsigned g = group(true, veto);
  void* p = adg_malloc(g, 32);
  EXPECT_EQ(adg_free(g), -1);
  EXPECT_EQ(adg_if(g), static_cast<int>(g % 1024));
  EXPECT_EQ(adg_siz(g), 32u);
  EXPECT_EQ(adg_memfree(g, p), 0);
  heap_table().slots[g % 1024].onFree = nullptr;
}

TEST_F(GroupTest, ShortageTakesTheOldestGroupThatCoversIt) {
  unsigned a = group(false), b = group(false), kept = group();
  ASSERT_NE(adg_malloc(a, 200000), nullptr);
  ASSERT_NE(adg_malloc(b, 400000), nullptr);
  ASSERT_NE(adg_malloc(kept, 1000), nullptr);
  // Both cover a shortage of 150000: the smaller id goes.
  std::size_t size = room() + 150000;
  ASSERT_NE(adg_malloc(kept, size), nullptr);
  unsigned released = std::min(a, b), survivor = std::max(a, b);
  EXPECT_EQ(adg_if(released), 0);
  EXPECT_NE(adg_if(survivor), 0);
  EXPECT_EQ(adg_if(kept), static_cast<int>(kept % 1024));
}

TEST_F(GroupTest, ShortageTakesTheLargestCoverThenGoesOn) {
  unsigned a = group(false), b = group(false), kept = group();
  ASSERT_NE(adg_malloc(a, 200000), nullptr);
  ASSERT_NE(adg_malloc(b, 400000), nullptr);
  std::size_t size = room() + 500000;
  ASSERT_NE(adg_malloc(kept, size), nullptr);
  EXPECT_EQ(adg_if(a), 0);
  EXPECT_EQ(adg_if(b), 0);
}

TEST_F(GroupTest, CeilingRefusesWhatNothingCanCover) {
  unsigned notNow = group(false, nullptr, never);
  ASSERT_NE(adg_malloc(notNow, 300000), nullptr);
  unsigned kept = group();
  std::uint32_t used = adg_used();
  std::size_t size = room() + 1;
  EXPECT_EQ(adg_malloc(kept, size), nullptr);
  EXPECT_EQ(Errvlx, 31);
  EXPECT_EQ(std::string(Errmes).rfind("size = " + std::to_string(size) + ", max mem = ", 0), 0u) << Errmes;
  EXPECT_EQ(adg_used(), used);
  EXPECT_NE(adg_if(notNow), 0) << "a group that says no is not released";
  EXPECT_EQ(adg_malloc(kept, std::size_t{1} << 40), nullptr) << "sizes past 32 bits are refused too";
}

TEST_F(GroupTest, NoFreeSlotReleasesTheOldestOrDumpsAndSignals) {
  std::vector<unsigned> all;
  for (unsigned g; (g = adg_get(nullptr, nullptr, kGrpServer, "filler")) != 0;) all.push_back(g);
  EXPECT_EQ(Errvlx, 31);
  EXPECT_EQ(Signals, 1);
  bool dumped = false;
  for (const auto& entry : fs::directory_iterator(fs::path(vlxtest::install_dir()) / "tmp"))
    dumped |= entry.path().filename().string().rfind("memory_", 0) == 0;
  EXPECT_TRUE(dumped);
  // One unkept group among them: the next creation takes its slot.
  raz_err();
  unsigned victim = all[all.size() / 2];
  adg_unkeep(victim);
  unsigned g = adg_get(nullptr, nullptr, kGrpServer, "reuse");
  EXPECT_EQ(g, victim + 1024);
  all.push_back(g);
  for (unsigned id : all) adg_free(id);
}

TEST_F(GroupTest, CeilingOnlyGrows) {
  std::uint32_t max = heap_table().maxMem;
  EXPECT_EQ(ini_malloc(kCeilingKb), 0) << "the same value changes nothing";
  EXPECT_EQ(ini_malloc(kCeilingKb / 2), -50);
  EXPECT_NE(std::string(Errmes).find("Cannot change max HEAP memory usage to 524288"), std::string::npos) << Errmes;
  raz_err();
  EXPECT_EQ(ini_malloc(4194304), -50) << "4 GiB does not fit the byte count";
  EXPECT_EQ(heap_table().maxMem, max);
}

TEST_F(GroupTest, Segments) {
  unsigned g = group();
  EXPECT_EQ(adg_malloc2(g, 0), nullptr);
  EXPECT_EQ(std::string(Errmes),
            "Cannot allocate memory (size : 0, group : " + std::to_string(g) + ", slot : " + std::to_string(g % 1024));
  raz_err();
  EXPECT_EQ(adg_malloc2(12345678, 10), nullptr);
  EXPECT_NE(std::string(Errmes).find("slot : 0"), std::string::npos) << Errmes;
  raz_err();
  ss_sgm* s1 = adg_malloc2(g, 10);
  ss_sgm* s2 = adg_malloc2(g, 20);
  ASSERT_TRUE(s1 && s2);
  EXPECT_EQ(adg_siz(g), 30u);
  s1->buffer[0] = 9;
  EXPECT_EQ(adg_realloc2(s1, 100), 0);
  EXPECT_EQ(s1->buffer.size(), 100u);
  EXPECT_EQ(s1->buffer[0], 9);
  EXPECT_EQ(s1->buffer[99], 0);
  EXPECT_EQ(adg_siz(g), 120u);
  EXPECT_EQ(adg_realloc2(s1, 10), 0) << "never shrinks";
  EXPECT_EQ(adg_realloc2(s1, room() + 200), -31);
  raz_err();
  ss_sgm stray;
  stray.slot = g % 1024;
  EXPECT_EQ(adg_sgmfree(&stray), -26);
  EXPECT_STREQ(Errmes, "segmentFree : segment mismatch");
  raz_err();
  EXPECT_EQ(adg_sgmfree(nullptr), -26);
  EXPECT_EQ(adg_sgmfree(s1), 0);
  EXPECT_EQ(adg_siz(g), 20u);
  std::uint32_t used = adg_used();
  EXPECT_EQ(adg_free(g), 0) << "the group takes its segment s2 with it";
  EXPECT_EQ(adg_used(), used - 20);
}

TEST_F(GroupTest, DumpFileListsEverySlot) {
  unsigned g = group();
  adg_malloc(g, 77);
  adg_dump();
  fs::path newest;
  for (const auto& entry : fs::directory_iterator(fs::path(vlxtest::install_dir()) / "tmp"))
    if (entry.path().filename().string().rfind("memory_", 0) == 0 &&
        (newest.empty() || fs::last_write_time(entry) >= fs::last_write_time(newest)))
      newest = entry.path();
  ASSERT_FALSE(newest.empty());
  std::string text = vlxtest::slurp(newest);
  EXPECT_EQ(text.rfind("group;category;destination;used;kept;releasable;size\n1;", 0), 0u);
  EXPECT_NE(text.find(std::to_string(g % 1024) + ";Server;test 0;1;1;1;77\n"), std::string::npos) << text.substr(0, 400);
  EXPECT_NE(text.find("\n\nMaxmem : 1048576, Memuse : "), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1023 + 3);
}

TEST_F(GroupTest, AccountingRecords) {
  log::open(log::records, "acct", 5, "");
  unsigned g = group();
  void* p = adg_malloc(g, 40);
  adg_realloc(g, p, 60);
  adg_free(g);
  mine_.clear();
  std::string text = vlxtest::slurp(log::path());
  std::string slot = ";" + std::to_string(g % 1024) + ";";
  EXPECT_NE(text.find(slot + "+;40;HEAP;0;"), std::string::npos) << text;
  EXPECT_NE(text.find(slot + "~;20;HEAP;0;"), std::string::npos);
  EXPECT_NE(text.find(slot + "-;60;HEAP;0;"), std::string::npos);
  log::close();
  log::_channel = 0;
}

}  // namespace
