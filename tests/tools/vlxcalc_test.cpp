// The vlxcalc command: its flags, its lines, its exit status, and the
// compiler version that VLX_VERSION selects.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/vlxtest.h"

namespace {

struct Outcome {
  int status;
  std::string out;  // standard output
};

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// vlxcalc with `args`, VLX_VERSION set to `version` (unset when null).
Outcome vlxcalc(const std::vector<std::string>& args, const char* version = nullptr) {
  std::string command = version == nullptr ? "env -u VLX_VERSION " : "env VLX_VERSION=" + quote(version) + " ";
  command += VLXCALC_PATH;
  for (const std::string& a : args) command += " " + quote(a);
  FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r");
  std::string out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
  int status = ::pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST(Vlxcalc, OneLinePerExpressionAndTheStatusOfAll) {
  // No escapes in the 4GL's strings; the output escapes '"' and '\\'.
  Outcome r = vlxcalc({"1 + 2", "'a\"b\\' + \"c\"", "[1/2/2020]", "1 +"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "302 3\n381 \"a\\\"b\\\\c\"\n307 2020-02-01\nerror 5: Syntax error\n");
  r = vlxcalc({"-S", "-2 ^ 2", "7 / 2"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "303 -4\n303 3.5\n") << "an expression may start with a minus";
}

TEST(Vlxcalc, SDataByFlagOrByItsMarker) {
  EXPECT_EQ(vlxcalc({"@1 eq 1", "2 gt 1"}).out, "299 true\nerror 5: Syntax error\n") << "gt is no 4GL operator";
  EXPECT_EQ(vlxcalc({"-d", "@2 gt 1", "2 gt 1"}).out, "299 true\nerror 5: Syntax error\n")
      << "SData text starts with its marker";
  EXPECT_EQ(vlxcalc({"@1 eq 1", "-d"}).out, "299 true\nerror 26: Internal error\n")
      << "flags come first: then -d is the expression minus d";
}

TEST(Vlxcalc, ListsTheCellsThenThePools) {
  Outcome r = vlxcalc({"-l", "-R", "x + 1.5"});
  EXPECT_EQ(r.out,
            "node code name type objectId header tail next\n"
            "   1  309 VARIA         0        1      0    0    0\n"
            "   2  303 LDCB          0        1      0    0    0\n"
            "   3  258 DPLUS         0        0      1    2    0\n"
            "dcb[1] 1.5\n"
            "ide[1] X\n"
            "root 3\n"
            "error 26: Internal error\n");
}

TEST(Vlxcalc, UsageWithoutAnExpression) {
  EXPECT_EQ(vlxcalc({}).status, 2);
  EXPECT_EQ(vlxcalc({"-S"}).status, 2);
}

TEST(Vlxcalc, TheVersionComesFromTheEnvironment) {
  // The current parser wants "<=" written together; the classic scanner
  // reads two tokens.
  const std::string text = "1 <  = 2";
  const char* current[] = {"S", "'S'", "\"S\"", "'S"};
  for (const char* v : current) EXPECT_EQ(vlxcalc({text}, v).out, "error 5: Syntax error\n") << v;
  const char* classic[] = {"", "SS", "s", "R", " S"};
  for (const char* v : classic) EXPECT_EQ(vlxcalc({text}, v).out, "299 true\n") << v;
  EXPECT_EQ(vlxcalc({text}).out, "299 true\n") << "unset";
  EXPECT_EQ(vlxcalc({"-R", text}, "S").out, "299 true\n") << "a flag wins";
}

}  // namespace
