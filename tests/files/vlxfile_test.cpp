// File channels: line reading at its limits, buffering, positioning,
// deletion on close, errors and channel exhaustion.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/faults.h"
#include "diagnostics/vlxerr.h"
#include "files/vlxfile.h"
#include "memory/vlxcalls.h"
#include "support/vlxtest.h"

namespace fs = std::filesystem;

namespace {

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vlxtest::init_memory();
    group_ = adg_get(nullptr, nullptr, kGrpSequential, "file test");
    ASSERT_NE(group_, 0u);
    dir_ = fs::path(vlxtest::install_dir()) / "tmp" / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(dir_);
  }
  void TearDown() override {
    for (int c : open_) adf_close(c);
    EXPECT_EQ(adg_siz(group_), 0u) << "every channel gave its buffer back";
    adg_free(group_);
    fs::remove_all(dir_);
    raz_err();
  }
  std::string file(const std::string& name, const std::string& text) {
    std::string path = dir_ / name;
    vlxtest::spit(path, text);
    return path;
  }
  int open(const std::string& path, const char* mode) {
    int c = adf_open(group_, path.c_str(), mode);
    if (c > 0) open_.push_back(c);
    return c;
  }
  int close(int c) {
    std::erase(open_, c);
    return adf_close(c);
  }
  unsigned group_ = 0;
  fs::path dir_;
  std::vector<int> open_;
};

TEST_F(FileTest, LinesAtTheirLimits) {
  std::string long_line(600, 'x');
  int c = open(file("lines", "a\n\nbc\r\n" + long_line + "\nlast"), "r");
  ASSERT_GT(c, 0);
  char buf[513];
  EXPECT_EQ(adf_uget(c, buf, 512, '\n'), 2);
  EXPECT_STREQ(buf, "a\n");
  EXPECT_EQ(adf_uget(c, buf, 512, '\n'), 1) << "an empty line is not the end";
  EXPECT_EQ(adf_uget(c, buf, 512, '\n'), 4);
  EXPECT_STREQ(buf, "bc\r\n");
  EXPECT_EQ(adf_uget(c, buf, 512, '\n'), 512) << "a long line comes in pieces";
  EXPECT_EQ(buf[511], 'x');
  EXPECT_EQ(adf_uget(c, buf, 512, '\n'), 89);
  EXPECT_EQ(adf_uget(c, buf, 512, '\n'), 4) << "a last line without terminator";
  EXPECT_STREQ(buf, "last");
  EXPECT_EQ(adf_uget(c, buf, 512, '\n'), 0);
  EXPECT_EQ(adf_uget(c, buf, 512, '\n'), 0);
}

TEST_F(FileTest, ReadingByteByByteIsBuffered) {
  std::string text(100000, 'q');
  int c = open(file("bytes", text), "r");
  vlx::fault::arm(vlx::fault::read, 0);
  char byte;
  int n = 0;
  while (adf_read(c, &byte, 1) == 1) ++n;
  EXPECT_EQ(n, 100000);
  EXPECT_LE(vlx::fault::calls(vlx::fault::read), 100000 / static_cast<long>(kChannelBuffer) + 2);
}

TEST_F(FileTest, PositioningBothWays) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += std::to_string(i) + "\n";
  int c = open(file("pos", text), "r");
  char buf[64];
  EXPECT_EQ(adf_seek(c, 0, SEEK_END), static_cast<std::int64_t>(text.size()));
  EXPECT_EQ(adf_uget(c, buf, 63, '\n'), 0);
  // Walk backwards byte by byte over the whole file, as a reverse reader does.
  std::string reversed;
  for (std::int64_t at = static_cast<std::int64_t>(text.size()) - 1; at >= 0; --at) {
    ASSERT_EQ(adf_seek(c, at, SEEK_SET), at);
    ASSERT_EQ(adf_read(c, buf, 1), 1);
    reversed += buf[0];
  }
  EXPECT_EQ(std::string(reversed.rbegin(), reversed.rend()), text);
  EXPECT_EQ(adf_seek(c, 10, SEEK_SET), 10);
  EXPECT_EQ(adf_uget(c, buf, 63, '\n'), 2);
  EXPECT_STREQ(buf, "5\n");
  EXPECT_EQ(adf_tell(c), 12);
  EXPECT_EQ(adf_seek(c, -2, SEEK_CUR), 10);
  EXPECT_EQ(adf_seek(c, -5, SEEK_END), static_cast<std::int64_t>(text.size()) - 5);
  EXPECT_EQ(adf_uget(c, buf, 63, '\n'), 5);
  EXPECT_STREQ(buf, "4999\n");
  EXPECT_EQ(adf_seek(c, -1, SEEK_SET), -26);
}

TEST_F(FileTest, WriteThenReadBack) {
  std::string path = dir_ / "out";
  int w = open(path, "w");
  ASSERT_GT(w, 0);
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(adf_uput(w, "line", 4, '\n'), 5);
  EXPECT_EQ(adf_tell(w), 15000);
  EXPECT_EQ(close(w), 0);
  EXPECT_EQ(fs::file_size(path), 15000u);
  int a = open(path, "a");
  EXPECT_EQ(adf_write(a, "tail", 4), 4);
  EXPECT_EQ(adf_tell(a), 15004);
  EXPECT_EQ(close(a), 0);
  int rw = open(path, "r+");
  char buf[8];
  EXPECT_EQ(adf_read(rw, buf, 5), 5);
  EXPECT_EQ(adf_write(rw, "LINE", 4), 4) << "the write lands after what was read";
  EXPECT_EQ(adf_seek(rw, 0, SEEK_SET), 0);
  EXPECT_EQ(adf_read(rw, buf, 8), 8);
  EXPECT_EQ(std::string(buf, 8), "line\nLIN");
}

TEST_F(FileTest, MarkedFileIsDeletedAtClose) {
  std::string path = file("spool", "x\n");
  int c = open(path, "r");
  EXPECT_EQ(adf_ulnk(c), 0);
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(close(c), 0);
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(FileTest, OpenErrors) {
  EXPECT_EQ(open(dir_ / "missing", "r"), -20);
  EXPECT_EQ(Errvlx, 20);
  raz_err();
  EXPECT_EQ(open(file("plain", "") + "/below", "r"), -20) << "ENOTDIR";
  raz_err();
  EXPECT_EQ(open(dir_, "w"), -27) << "EISDIR";
  raz_err();
  EXPECT_EQ(open("", "r"), -66);
  raz_err();
  EXPECT_EQ(open(file("m", ""), "x"), -26);
  raz_err();
  EXPECT_EQ(adf_open(999999, file("g", "").c_str(), "r"), -26);
  raz_err();
  EXPECT_EQ(adf_read(77, nullptr, 0), -26);
  EXPECT_EQ(adf_close(0), -26);
  int w = open(file("wo", ""), "w");
  char buf[4];
  EXPECT_EQ(adf_read(w, buf, 4), -27) << "not opened for reading";
}

TEST_F(FileTest, ChannelAndDescriptorExhaustion) {
  std::string path = file("many", "x");
  int c;
  while ((c = open(path, "r")) > 0) {
  }
  EXPECT_EQ(c, -60);
  EXPECT_EQ(adf_count(), kMaxChannels - 1);
  for (int ch : std::vector<int>(open_)) close(ch);
  raz_err();
  rlimit saved;
  getrlimit(RLIMIT_NOFILE, &saved);
  rlimit low = saved;
  low.rlim_cur = 16;
  setrlimit(RLIMIT_NOFILE, &low);
  while ((c = open(path, "r")) > 0) {
  }
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(c, -29);
}

TEST_F(FileTest, InjectedFaults) {
  int w = open(dir_ / "full", "w");
  vlx::fault::arm(vlx::fault::write, 1);
  std::string block(kChannelBuffer - 1, 'z');  // gathered, not yet written
  EXPECT_EQ(adf_write(w, block.data(), static_cast<int>(block.size())), static_cast<int>(block.size()));
  EXPECT_EQ(adf_write(w, "more", 4), -44) << "ENOSPC on the flush";
  EXPECT_EQ(close(w), 0) << "the lost block is not reported twice";
  raz_err();
  int r = open(file("eio", "abc\n"), "r");
  vlx::fault::arm(vlx::fault::read, 1);
  char buf[8];
  EXPECT_EQ(adf_uget(r, buf, 7, '\n'), -25);
  EXPECT_EQ(Vlxerrno, EIO);
  EXPECT_EQ(adf_uget(r, buf, 7, '\n'), 4) << "the channel reads on after the fault";
}

}  // namespace
