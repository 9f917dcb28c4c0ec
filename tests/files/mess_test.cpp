// Message files: chapter indexing, the length prefix, lines beyond a
// chapter, missing and damaged files, the language map.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/vlxpath.h"
#include "diagnostics/vlxerr.h"
#include "files/mess.h"
#include "files/vlxfile.h"
#include "support/vlxtest.h"

namespace fs = std::filesystem;

namespace {

// A language folder of our own, so that files can be written into it.
class MessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vlxtest::init_memory();
    root_ = fs::path(vlxtest::install_dir()) / "tmp" / "messroot";
    fs::create_directories(root_ / "lan");
    fs::copy_file(fs::path(VLX_SOURCE_INSTALL) / "lan" / "ENG", root_ / "lan" / "ENG",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(fs::path(VLX_SOURCE_INSTALL) / "lan" / "ISO", root_ / "lan" / "ISO",
                  fs::copy_options::overwrite_existing);
    ::setenv("VLXDIR", root_.c_str(), 1);
    vlx_reset_install_dir();
    end_mess();
  }
  void TearDown() override {
    end_mess();
    ::setenv("VLXDIR", vlxtest::install_dir().c_str(), 1);
    vlx_reset_install_dir();
    raz_err();
  }
  void write(const char* language, const std::string& text) { vlxtest::spit(root_ / "lan" / language, text); }
  fs::path root_;
};

TEST_F(MessTest, ChaptersLinesAndPrefixes) {
  write("TST",
        "zero\n\f\none-0\r\none-1\n\f\n"
        "12\tabcdefghijklmnopqrstuvwxyz\n"
        "0\t" + std::string(300, 'w') + "\n"
        "7abc\tnot a prefix\n"
        "\tempty prefix\n");
  ASSERT_EQ(ini_mess("TST"), 0);
  EXPECT_EQ(Messfile[0].Nbchap, 3);
  EXPECT_STREQ(Vmessname, "TST");
  EXPECT_STREQ(message(0, 0, 0), "zero");
  EXPECT_STREQ(message(0, 1, 0), "one-0") << "a trailing CR is dropped";
  EXPECT_STREQ(message(0, 1, 1), "one-1");
  EXPECT_STREQ(message(0, 2, 0), "abcdefghijkl");
  EXPECT_EQ(std::string(message(0, 2, 1)), std::string(253, 'w')) << "the line is cut to 255 bytes first";
  EXPECT_STREQ(message(0, 2, 2), "7abc\tnot a prefix");
  EXPECT_STREQ(message(0, 2, 3), "\tempty prefix");
}

TEST_F(MessTest, LineBeyondChapterEndStopsAtTheMark) {
  write("TST", "a\n\fx\n\f\nb0\nb1\n\f\nc0\n");
  ASSERT_EQ(ini_mess("TST"), 0);
  EXPECT_STREQ(message(0, 1, 5), "");
  // The file is left at the chapter mark: the next line is the mark itself.
  EXPECT_STREQ(next_mess(0), "\f");
  EXPECT_STREQ(next_mess(0), "c0");
  EXPECT_EQ(next_mess(0), nullptr);
  EXPECT_STREQ(message(0, 0, 1), "\fx") << "a line that only starts with a form feed is text";
}

TEST_F(MessTest, OutOfRangeArguments) {
  ASSERT_EQ(ini_mess(nullptr), 0);
  EXPECT_STREQ(Vmessname, "ENG");
  EXPECT_STREQ(message(0, 99, 0), "");
  EXPECT_STREQ(message(0, -1, 0), "");
  EXPECT_STREQ(message(2, 13, 1), "");
  EXPECT_STREQ(message(0, 13, -1), "");
  EXPECT_STREQ(message(1, 13, 1), "") << "file 1 is not open";
  char out[256];
  EXPECT_EQ(getmes(out, 3, 13, 1), nullptr);
  EXPECT_EQ(Errvlx, 26);
  EXPECT_STREQ(Errmes, "getmes");
  EXPECT_STREQ(getmes(out, 0, 13, 20), "File not found");
}

TEST_F(MessTest, MissingLanguageKeepsTheLoadedOne) {
  ASSERT_EQ(ini_mess("ENG"), 0);
  EXPECT_EQ(ini_mess("XXX"), 0);
  EXPECT_STREQ(Vmessname, "ENG");
  EXPECT_STREQ(message(0, 13, 31), "No more memory");
}

TEST_F(MessTest, TruncatedFileServesWhatItHas) {
  write("TST", "only\n\fha");
  ASSERT_EQ(ini_mess("TST"), 0);
  EXPECT_EQ(Messfile[0].Nbchap, 1);
  EXPECT_STREQ(message(0, 0, 0), "only");
  EXPECT_STREQ(message(0, 13, 1), "");
  write("EMPTY", "");
  ASSERT_EQ(ini_mess("EMPTY"), 0);
  EXPECT_STREQ(message(0, 0, 0), "");
}

TEST_F(MessTest, ManyChaptersGrowTheIndex) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "chapter " + std::to_string(i) + "\n\f\n";
  write("TST", text);
  ASSERT_EQ(ini_mess("TST"), 0);
  EXPECT_EQ(Messfile[0].Nbchap, 201);
  EXPECT_STREQ(message(0, 150, 0), "chapter 150");
}

TEST_F(MessTest, ReloadingReleasesTheChannel) {
  int before = adf_count();
  ASSERT_EQ(ini_mess("ENG"), 0);
  write("TST", "x\n");
  ASSERT_EQ(ini_mess("TST"), 0);
  ASSERT_EQ(ini_mess("ENG"), 0);
  EXPECT_EQ(adf_count(), before + 1);
}

TEST_F(MessTest, LanguageMap) {
  char out[4];
  EXPECT_EQ(ini_isolan("fr", out), 0);
  EXPECT_STREQ(out, "FRA");
  EXPECT_EQ(ini_isolan("xx", out), 0);
  EXPECT_STREQ(out, "ENG");
  write("ISO", "a very long line that goes on\nde:DEU\n");
  EXPECT_EQ(ini_isolan("de_DE", out), 0);
  EXPECT_STREQ(out, "DEU");
  fs::remove(root_ / "lan" / "ISO");
  EXPECT_LT(ini_isolan("de", out), 0);
  EXPECT_STREQ(out, "ENG");
}

}  // namespace
