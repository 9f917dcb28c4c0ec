// Log file names, the environment mask, rotation and per-type line counts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "diagnostics/log.h"
#include "support/vlxtest.h"

using namespace vlx;

namespace {

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vlxtest::install_dir();
    ::unsetenv("VLX_LOG_MAX_LINES");
    log::_limit = log::kDefaultLimit;
  }
  void TearDown() override {
    log::close();
    log::_channel = 0;
    ::unsetenv("ENGINE_TRACE");
  }
  static std::string tmp() { return std::getenv("TMPDIR"); }
};

TEST_F(LogTest, ProgramPathGivesVariableAndFileName) {
  ::setenv("ENGINE_TRACE", "544", 1);
  config_log_by_environment("/opt/app/bin/engine.bin");
  ASSERT_TRUE(log::_file != nullptr);
  EXPECT_EQ(log::_channel, 544u);
  EXPECT_TRUE(log::enabled(log::system));
  EXPECT_TRUE(log::enabled(log::request));
  EXPECT_FALSE(log::enabled(log::automaton));
  std::string prefix = tmp() + "/q9diary_engine_" + std::to_string(::getpid()) + "_";
  EXPECT_EQ(log::path().rfind(prefix, 0), 0u) << log::path();
  EXPECT_EQ(log::path().substr(log::path().size() - 4), ".tra");
}

TEST_F(LogTest, MaskIsCutToFifteenBits) {
  ::setenv("ENGINE_TRACE", "40000", 1);
  config_log_by_environment("engine");
  EXPECT_EQ(log::_channel, 7232u);
}

TEST_F(LogTest, ZeroUnsetOrGarbageLeavesLoggingOff) {
  for (const char* value : {"0", "", "abc", "12x", "99999999999999999999"}) {
    ::setenv("ENGINE_TRACE", value, 1);
    config_log_by_environment("/x/engine");
    EXPECT_EQ(log::_file, nullptr) << value;
  }
  ::unsetenv("ENGINE_TRACE");
  config_log_by_environment("/x/engine");
  EXPECT_EQ(log::_file, nullptr);
  log::trace(log::system, "nothing %d", 1);  // must not crash with logging off
}

TEST_F(LogTest, LineFormatAndDisabledChannels) {
  log::open(log::system, "fmt", 42, "");
  log::trace(log::system, "hello %s %d", std::string("world"), 7);
  log::trace(log::automaton, "not written");
  std::string text = vlxtest::slurp(log::path());
  EXPECT_NE(text.find("<channel 512>hello world 7\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("not written"), std::string::npos);
}

TEST_F(LogTest, LimitReopensPerArgumentTypes) {
  ::setenv("VLX_LOG_MAX_LINES", "10", 1);
  log::open(log::system, "limit", 4242, "");
  std::string first = log::path();
  // Lines of one type combination: the tenth opens the next file.
  for (short i = 1; i <= 9; ++i) log::trace(log::system, "a %hd %c", i, 'x');
  // Another type combination has its own counter and does not reopen.
  for (int i = 0; i < 5; ++i) log::trace(log::system, "b %lld", static_cast<long long>(i));
  EXPECT_EQ(log::path(), first);
  short ten = 10;
  log::trace(log::system, "a %hd %c", ten, 'x');
  EXPECT_NE(log::path(), first);
  std::string text = vlxtest::slurp(log::path());
  EXPECT_NE(text.find("a 10 x"), std::string::npos) << text;
  EXPECT_EQ(vlxtest::slurp(first).find("a 10 x"), std::string::npos);
}

// A limit of 1 gives each traced line a file of its own; 0 sets no limit.
// The lines the log writes about its own reopening do not count.
TEST_F(LogTest, LimitsOfOneAndZero) {
  ::setenv("VLX_LOG_MAX_LINES", "1", 1);
  log::open(log::system, "one", 4343, "");
  std::string opened = log::path();
  log::trace(log::system, "first %d", 1);
  std::string first = log::path();
  EXPECT_NE(first, opened);
  log::trace(log::system, "second %d", 2);
  EXPECT_NE(log::path(), first);
  EXPECT_NE(vlxtest::slurp(first).find("first 1"), std::string::npos);
  EXPECT_EQ(vlxtest::slurp(log::path()).find("first 1"), std::string::npos);
  EXPECT_NE(vlxtest::slurp(log::path()).find("second 2"), std::string::npos);

  ::setenv("VLX_LOG_MAX_LINES", "0", 1);
  log::open(log::system, "none", 4344, "");
  std::string only = log::path();
  for (int i = 0; i < 100; ++i) log::trace(log::system, "line %d", i);
  EXPECT_EQ(log::path(), only);
  EXPECT_NE(vlxtest::slurp(only).find("line 99"), std::string::npos);
}

TEST_F(LogTest, SixthReopeningReusesTheFirstFile) {
  log::open(log::system, "rot", 777, "");
  std::string first = log::path();
  log::trace(log::system, "marker");
  for (int i = 0; i < 4; ++i) {
    log::reopen();
    EXPECT_NE(log::path(), first);
  }
  log::reopen();
  EXPECT_EQ(log::path(), first);
  EXPECT_EQ(vlxtest::slurp(first).find("marker"), std::string::npos) << "the file is truncated";
}

TEST_F(LogTest, HexDumpShowsBytesAndCharacters) {
  log::open(log::request, "dump", 9, "");
  const unsigned char bytes[] = {'A', 'B', 0x01, 0xff, 'z'};
  log::dump(log::request, bytes);
  std::string text = vlxtest::slurp(log::path());
  EXPECT_NE(text.find("<channel 32>\n 41 42 01 ff 7a"), std::string::npos) << text;
  EXPECT_NE(text.find("AB."), std::string::npos);
}

TEST_F(LogTest, UnwritableFolderLeavesLoggingOff) {
  EXPECT_EQ(log::open(log::system, "x", 1, "/proc/no/such/folder"), -1);
  EXPECT_EQ(log::_file, nullptr);
  log::trace(log::system, "ignored");
}

}  // namespace
