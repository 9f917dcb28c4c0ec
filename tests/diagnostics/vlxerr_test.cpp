// The error state: keep-first reporting, composed texts, errno rows,
// exception types, and the catalogue shipped in the message file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "diagnostics/errcat.h"
#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "files/mess.h"
#include "memory/vlxcalls.h"
#include "support/vlxtest.h"

using namespace vlx;

namespace {

class ErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vlxtest::init_memory();
    ASSERT_EQ(ini_mess("ENG"), 0);
    raz_err();
    Vlxerrno = 0;
  }
  void TearDown() override {
    log::close();
    log::_channel = 0;
    raz_err();
  }
};

TEST_F(ErrorTest, FirstPendingErrorWinsButStatusFollows) {
  EXPECT_EQ(err_vlx(20, "first %d", 1), -20);
  EXPECT_EQ(err_vlx(27, "second"), -27);
  EXPECT_EQ(Errvlx, 20);
  EXPECT_STREQ(Errmes, "first 1");
  EXPECT_EQ(Vstat1, 27);
  EXPECT_EQ(SErrvlx0, 20);
  EXPECT_EQ(err_vlx(0, "ignored"), 0) << "zero changes nothing";
  EXPECT_EQ(Vstat1, 27);
  EXPECT_STREQ(Errmes, "first 1");
  raz_err();
  EXPECT_EQ(Errvlx, 0);
  EXPECT_EQ(Vstat1, 0);
  EXPECT_STREQ(Errmes, "");
  // A handled error leaves the history as it was before it.
  EXPECT_EQ(SErrvlx0, 0);
  EXPECT_EQ(err_vlx(27, "second"), -27);
  EXPECT_EQ(SErrvlx0, 27);
  EXPECT_STREQ(SErrmes0, "second");
}

TEST_F(ErrorTest, LongDetailIsCut) {
  std::string detail(600, 'x');
  err_vlx(26, "%s", detail.c_str());
  EXPECT_EQ(std::strlen(Errmes), 255u);
}

TEST_F(ErrorTest, ComposedTextNamesDetailCatalogueAndErrno) {
  char out[256];
  gt_erm(out);
  EXPECT_STREQ(out, "");
  err_vlx(25, "detail");
  Vlxerrno = 2;
  gt_erm(out);
  EXPECT_STREQ(out, "detail : System error(  2 )");
  raz_err();
  err_vlx(27, nullptr);
  gt_erm(out);
  EXPECT_STREQ(out, "File access error");
}

TEST_F(ErrorTest, SixteenBitDetail) {
  const char16_t text[] = u"caf\u00e9 \u4e2d";
  EXPECT_EQ(err_vlx_stu(66, text), -66);
  EXPECT_EQ(Errvlx, 66);
  char out[256];
  get_UtfErrorMessage(out);
  EXPECT_STREQ(out, "caf\xe9 ?");
  gt_erm(out);
  EXPECT_STREQ(out, "Invalid file name : \ncaf\xe9 ?");
  EXPECT_EQ(err_vlx_stu(20, u"later"), -20);
  EXPECT_EQ(Errvlx, 66);
  EXPECT_EQ(Vstat1, 20);
  EXPECT_EQ(err_vlx_stu(0, u"x"), 0);
}

TEST_F(ErrorTest, ErrnoRows) {
  log::open(log::system, "errno", 1, "");
  for (const auto& c : vlxtest::read_cases("errno.txt")) {
    int sys = std::stoi(c.fields[0]);
    int expected = std::stoi(c.fields[1]);
    EXPECT_EQ(set_vstat1(sys), -expected) << "line " << c.line;
    EXPECT_EQ(Vstat1, expected) << "line " << c.line;
    EXPECT_EQ(Vlxerrno, sys);
    EXPECT_EQ(Errvlx, 0) << "set_vstat1 leaves the pending error alone";
    if (c.fields.size() > 2 && !c.fields[2].empty()) {
      EXPECT_NE(vlxtest::slurp(log::path()).find(c.fields[2]), std::string::npos) << "line " << c.line;
    }
  }
}

TEST_F(ErrorTest, ExceptionTypes) {
  EXPECT_THROW(throwException(31), PLUMEMException);
  EXPECT_THROW(throwException(-26), ERINTException);
  EXPECT_THROW(throwException(20), PAFICException);
  EXPECT_THROW(throwException(5), ERDEFException);
  EXPECT_STREQ(PLUMEMException().what(), "No more memory");
  EXPECT_STREQ(ERDEFException().what(), "Default exception");
}

TEST_F(ErrorTest, ShippedMessageFileMatchesTheCatalogue) {
  for (int n = 0; n < kErrcatSize; ++n) EXPECT_STREQ(message(0, 13, n), Errcat[n][0]) << "error " << n;
  EXPECT_STREQ(message(0, 13, kErrcatSize), "");
}

TEST_F(ErrorTest, ContextFlushWritesTheCallStack) {
  log::open(log::system, "context", 2, "");
  startFlushContext = true;
  std::strcpy(Verrp, "MYPROG");
  Verrl = 12;
  err_vlx(26, "broken %s", "here");
  startFlushContext = false;
  std::string text = vlxtest::slurp(log::path());
  EXPECT_NE(text.find("err_vlx(26,broken here)"), std::string::npos) << text;
  EXPECT_NE(text.find("Error 26='Internal error'"), std::string::npos);
  EXPECT_NE(text.find("program:'MYPROG' line:12 detail:'broken here'"), std::string::npos);
  EXPECT_NE(text.find("vlxerr_test.cpp:"), std::string::npos) << "frames carry source lines\n" << text;
}

TEST_F(ErrorTest, FrequentErrorsFlushNoContext) {
  log::open(log::system, "nocontext", 3, "");
  err_vlx(20, "missing");
  EXPECT_EQ(vlxtest::slurp(log::path()).find("context program"), std::string::npos);
}

}  // namespace
