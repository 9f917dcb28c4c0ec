// vlxq as a user runs it: output forms, options, and the exit status and
// message of each kind of failure.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "support/vlxtest.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int status;
  std::string out;  // standard output, then standard error
};

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

Outcome vlxq(const std::vector<std::string>& args) {
  std::string command = VLXQ_PATH;
  for (const std::string& a : args) command += " " + quote(a);
  fs::path err = fs::path(vlxtest::install_dir()) / "tmp" / "vlxq.err";
  FILE* p = ::popen((command + " 2>" + err.string()).c_str(), "r");
  std::string out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
  int status = ::pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out + vlxtest::slurp(err.string())};
}

const std::string& rows() {
  static const std::string command = "cat " + vlxtest::data_file("people.txt", "ann 7 paris\nbob 12 rome\ncyd 3\n");
  return command;
}

TEST(Vlxq, PrintsAlignedColumnsWithoutEmptyTrailingOnes) {
  Outcome r = vlxq({"--server", VLXSYS_PATH, rows()});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "ann  7   paris\nbob  12  rome\ncyd  3\n");
}

TEST(Vlxq, FiltersSelectsAndReversesOnTheServer) {
  Outcome r = vlxq({"--server", VLXSYS_PATH, "--where", "$1 <> \"bob\"", "--select", "$3,1", "--reverse", "--tsv",
                rows()});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "\tcyd\nparis\tann\n");
  r = vlxq({"--server", VLXSYS_PATH, "-n", "2", "--last", rows()});
  EXPECT_EQ(r.out, "cyd  3\n");
}

TEST(Vlxq, FindsTheServerInTheBuildTree) {
  Outcome r = vlxq({"--where", "$2 = \"7\"", rows()});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "ann  7  paris\n");
}

TEST(Vlxq, ErrorAnswersExitOneWithNumberAndText) {
  Outcome r = vlxq({"--server", VLXSYS_PATH, "id"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "vlxq: open 'id': error 27 (File access error)\n");
  r = vlxq({"--server", "/nonexistent/vlxsys", rows()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("error 20 (File not found)"), std::string::npos) << r.out;
}

TEST(Vlxq, UsageAndExpressionErrorsExitTwo) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {},
           {"--where"},
           {"-n", "0", "ls"},
           {"--select", "1,x", "ls"},
           {"--last", "--reverse", "ls"},
           {"--bogus", "ls"},
           {"ls", "-l"},
           {"-n", "2", "--where", "$3 = \"a\"", "ls"},
       }) {
    Outcome r = vlxq(args);
    EXPECT_EQ(r.status, 2) << testing::PrintToString(args) << r.out;
    EXPECT_NE(r.out.find("usage: vlxq"), std::string::npos) << r.out;
  }
  Outcome r = vlxq({"--where", "$1 = \"a\" and", "ls"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "vlxq: --where: a value or condition is missing at column 13");
  EXPECT_EQ(vlxq({"--help"}).status, 0);
}

}  // namespace
