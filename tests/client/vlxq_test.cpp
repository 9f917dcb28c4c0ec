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

// Runs vlxq with `args`, and `environment` assignments before it.
Outcome vlxq(const std::vector<std::string>& args, const std::string& environment = "") {
  std::string command = environment.empty() ? VLXQ_PATH : "env " + environment + " " + VLXQ_PATH;
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

// A header, a line that the header's filter would match, and a field
// that CSV must quote.
const std::string& table() {
  static const std::string command =
      "cat " + vlxtest::data_file("stock.txt", "item qty note\nbolt 12 a,b\nnut 7 say\"hi\"\nitem 3 x\n");
  return command;
}

TEST(Vlxq, PrintsAlignedColumnsWithoutEmptyTrailingOnes) {
  Outcome r = vlxq({"--server", VLXSYS_PATH, rows()});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "ann  7   paris\nbob  12  rome\ncyd  3\n");
}

TEST(Vlxq, FiltersSelectsAndReversesOnTheServer) {
  Outcome r = vlxq({"--server", VLXSYS_PATH, "--where", "F1 <> \"bob\"", "--select", "3,f1", "--reverse", "--tsv",
                    rows()});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "\tcyd\nparis\tann\n");
  r = vlxq({"--server", VLXSYS_PATH, "-n", "2", "--last", rows()});
  EXPECT_EQ(r.out, "cyd  3\n");
}

TEST(Vlxq, FindsTheServerInTheBuildTree) {
  Outcome r = vlxq({"--where", "F2 = \"7\"", rows()});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "ann  7  paris\n");
}

TEST(Vlxq, TheHeaderNamesFieldsAndIsNeverARecord) {
  // "item" would pass the filter on the header line too.
  Outcome r = vlxq({"--header", "--where", "ITEM = \"item\" or Item = \"nut\"", table()});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "item  qty  note\nnut   7    say\"hi\"\nitem  3    x\n");
  r = vlxq({"--header", "--where", "qty <> \"7\"", "--select", "note,item", "--reverse", "--tsv", table()});
  EXPECT_EQ(r.out, "note\titem\nx\titem\na,b\tbolt\n");
  r = vlxq({"--header", "--last", table()});
  EXPECT_EQ(r.out, "item  qty  note\nitem  3    x\n");
}

TEST(Vlxq, BuiltInsCompareFieldsAsNumbers) {
  // As text "12" < "5"; as numbers 12 and 7 pass.
  Outcome r = vlxq({"--header", "--where", "val(qty) > 5", "--select", "item", table()});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "item\nbolt\nnut\n");
}

TEST(Vlxq, DeclaredTypesAreConvertedAndComparedByTheServer) {
  const std::string typed =
      "cat " + vlxtest::data_file("typed.txt", "bolt 12 0.125 20240229\nnut 7 10.50 20231231\nwasher 100 3\n");
  // As text "100" < "12" < "7"; as numbers 12 and 100 pass.
  Outcome r = vlxq({"--types", "2:integer,3:decimal,4:date", "--where", "F2 > 10 and F3 < 5", typed});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "bolt    12   0.125  2024-02-29\nwasher  100  3\n") << "an empty date word is the null date";
  r = vlxq({"--types", "2:integer,3:decimal,4:date", "--json", "--where", "@F4 ge @2024-01-01@ or F2 eq 7", typed});
  EXPECT_EQ(r.out,
            "[{\"F1\":\"bolt\",\"F2\":12,\"F3\":0.125,\"F4\":\"2024-02-29\"},"
            "{\"F1\":\"nut\",\"F2\":7,\"F3\":10.5,\"F4\":\"2023-12-31\"}]\n");
  r = vlxq({"--types", "4:date", typed + " " + vlxtest::data_file("bad.txt", "x 1 2 yesterday\n")});
  EXPECT_EQ(r.status, 1) << "a word that is no date: " << r.out;
}

TEST(Vlxq, SDataAndTheLanguageSelectTheSameRecords) {
  Outcome language = vlxq({"--header", "--where", "qty = \"7\" or note = \"x\"", table()});
  Outcome sdata = vlxq({"--header", "--where", "@qty eq \"7\" or note eq \"x\"", table()});
  EXPECT_EQ(language.status, 0) << language.out;
  EXPECT_EQ(sdata.status, 0) << sdata.out;
  EXPECT_EQ(language.out, sdata.out);
  EXPECT_EQ(language.out, "item  qty  note\nnut   7    say\"hi\"\nitem  3    x\n");
}

TEST(Vlxq, CsvQuotesAndJsonKeysByName) {
  Outcome r = vlxq({"--header", "--csv", table()});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "item,qty,note\r\nbolt,12,\"a,b\"\r\nnut,7,\"say\"\"hi\"\"\"\r\nitem,3,x\r\n");
  r = vlxq({"--csv", "--where", "F1 = \"cyd\"", rows()});
  EXPECT_EQ(r.out, "cyd,3\r\n") << "without a header, no heading line";
  r = vlxq({"--header", "--json", "--where", "qty = \"7\"", table()});
  EXPECT_EQ(r.out, "[{\"item\":\"nut\",\"qty\":\"7\",\"note\":\"say\\\"hi\\\"\"}]\n");
  r = vlxq({"--json", "--select", "2", rows()});
  EXPECT_EQ(r.out, "[{\"F2\":\"7\"},{\"F2\":\"12\"},{\"F2\":\"3\"}]\n");
  r = vlxq({"--json", "--where", "F1 = \"nobody\"", rows()});
  EXPECT_EQ(r.out, "[]\n");
  r = vlxq({"--header", "--json", "cat " + vlxtest::data_file("short.txt", "a b\n1 2 3\n")});
  EXPECT_EQ(r.out, "[{\"a\":\"1\",\"b\":\"2\",\"F3\":\"3\"}]\n") << "a word beyond the header keeps its F-name";
}

TEST(Vlxq, ACompileErrorShowsTheCaretAndExitsTwo) {
  // The current compiler points past a text that stops short.
  Outcome r = vlxq({"--where", "F1 = \"a\" and", rows()}, "VLX_VERSION=S");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "vlxq: --where does not compile:\n  F1 = \"a\" and\n              ^\nmissing expression\n");
  r = vlxq({"--where", "F1 = = \"a\"", rows()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out.substr(0, r.out.find("syntax error")),
            "vlxq: --where does not compile:\n  F1 = = \"a\"\n       ^\n") << r.out;
  r = vlxq({"--header", "--where", "qty = \"7\" and price > 1", table()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out,
            "vlxq: --where does not compile:\n  qty = \"7\" and price > 1\n                ^\nunknown field PRICE\n");
  r = vlxq({"--where", "qty = \"7\"", table()});
  EXPECT_EQ(r.status, 2) << "names come from --header only";
}

TEST(Vlxq, ErrorAnswersExitOneWithNumberAndText) {
  Outcome r = vlxq({"--server", VLXSYS_PATH, "id"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("vlxq: open 'id': error 27 (File access error): refused by the command sandbox; rejected "
                        "commands are logged in /",
                        0),
            0u)
      << r.out;
  EXPECT_NE(r.out.find("/rejected_system_cmd.log\n"), std::string::npos) << r.out;
  r = vlxq({"--server", "/nonexistent/vlxsys", rows()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("error 20 (File not found)"), std::string::npos) << r.out;
}

TEST(Vlxq, UsageErrorsExitTwo) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {},
           {"--where"},
           {"-n", "0", "ls"},
           {"--last", "--reverse", "ls"},
           {"--csv", "--json", "ls"},
           {"--types", "2:number", "ls"},
           {"--types", "2", "ls"},
           {"-n", "2", "--types", "3:date", "ls"},
           {"--header", "--types", "2:integer", "ls"},
           {"--bogus", "ls"},
           {"ls", "-l"},
       }) {
    Outcome r = vlxq(args);
    EXPECT_EQ(r.status, 2) << testing::PrintToString(args) << r.out;
    EXPECT_NE(r.out.find("usage: vlxq"), std::string::npos) << r.out;
  }
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--select", "1,x", rows()},
           {"-n", "2", "--select", "3", rows()},
       }) {
    Outcome r = vlxq(args);
    EXPECT_EQ(r.status, 2) << testing::PrintToString(args) << r.out;
    EXPECT_NE(r.out.find("--select"), std::string::npos) << r.out;
  }
  EXPECT_EQ(vlxq({"--help"}).status, 0);
}

}  // namespace
