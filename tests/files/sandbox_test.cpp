// Decisions of the command sandbox on a configuration made for each case.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "diagnostics/log.h"
#include "sandbox_install.h"
#include "support/vlxtest.h"

namespace {

class Sandbox : public SandboxInstall {
 protected:
  void SetUp() override {
    SandboxInstall::SetUp();
    std::filesystem::create_directories(data + "/txt");
    std::filesystem::create_directories(data + "/pat");
    write(data + "/f.txt", "one\ntwo\n");
    write(data + "/in", "x");
    write(data + "/txt/a.csv", "");
    write(data + "/show.sh", "# shows a file\ncat $1\r\n");
    write(data + "/quiet.sh", "# nothing\n\n     \n#!/bin/sh\n");
    write(data + "/noisy.sh", "# almost nothing\nid\n");
    write(data + "/long.sh", "echo " + std::string(600, 'a') + "\n");
    write(root + "/outside.sh", "# nothing\n");
    std::filesystem::create_symlink("/etc/passwd", data + "/link");
    ASSERT_EQ(configure(R"({"sandbox": {
      "directories": [
        {"path": "!data", "secured": true, "extensions": ["*"]},
        {"path": "!tmp", "writable": true, "extensions": ["*"]},
        {"path": "!data/txt", "secured": true, "extensions": ["txt"]},
        {"path": "!data/pat", "secured": true, "pattern": ["[a-z]+\\.log"]}],
      "spawn": [
        {"pattern": "^echo( [a-z]+)*$", "path": "*"},
        {"pattern": "^echo [a-z]+ *(>|>>|<) *[^ ]*$", "path": "*"},
        {"pattern": "^anyprog.*$"},
        {"pattern": "^cat [^ ]+$", "path": "/usr/bin/", "params": {"index": [1]}, "modes": "r"},
        {"pattern": "^cp [^ ]+ [^ ]+$", "path": "/usr/bin/", "params": {"index": [1, 2]}, "modes": "rw"},
        {"pattern": "^cat [^ ]+ [^ ]+$", "path": "/usr/bin/", "params": {"index": [1, 3]}, "modes": "rr"}],
      "volumes": [{"volume": "D", "path": "/data"}]}})"),
              0);
  }

  // 0 when accepted, else the error number; clears the error state.
  int check(const std::string& order) {
    int st = find_syst_pattern(order.c_str(), nullptr, 0);
    raz_err();
    return -st;
  }
};

TEST_F(Sandbox, DisabledSandboxAcceptsEverythingAndWritesNothing) {
  ASSERT_EQ(configure(R"({"IsWhitelistDisabled": true})"), -26);  // no sandbox part
  EXPECT_EQ(check("rm -rf / ; id"), 0);
  EXPECT_EQ(check_secured_path("/etc/shadow", "w", 1), 1);
  for (const char* order : {"", "   ", "\t"}) {
    EXPECT_EQ(sandbox_check(order), 0) << "[" << order << "]";
    raz_err();
  }
  EXPECT_TRUE(rejected().empty());
}

TEST_F(Sandbox, AdministratorNeedsBothUsers) {
  Origin_user = "ADMIN";
  EXPECT_EQ(check("id"), 27);
  Current_user = "Admin";
  EXPECT_TRUE(is_admin());
  EXPECT_EQ(check("id"), 0);
}

// data/sandbox_decisions.txt
TEST_F(Sandbox, Decisions) {
  for (const vlxtest::Case& c : vlxtest::read_cases("sandbox_decisions.txt")) {
    SCOPED_TRACE("sandbox_decisions.txt:" + std::to_string(c.line));
    std::string subject = expand(c.fields.at(1));
    if (c.fields[0] == "path") {
      ASSERT_EQ(c.fields.size(), 5u);
      EXPECT_EQ(check_secured_path(subject.c_str(), c.fields[2].c_str(), std::stoi(c.fields[3])), std::stoi(c.fields[4]));
      continue;
    }
    ASSERT_EQ(c.fields.size(), 3u);
    std::uintmax_t before = rejected_size();
    int expected = std::stoi(c.fields[2]);
    EXPECT_EQ(check(subject), expected);
    if (expected == 27) {
      EXPECT_GT(rejected_size(), before) << "not written to the rejected commands";
    }
  }
}

// Each level that refuses writes its line, the innermost first.
TEST_F(Sandbox, EveryLevelOfARefusalIsWritten) {
  write(data + "/inner.sh", "id\n");
  write(data + "/outer.sh", "# calls the inner one\n" + data + "/inner.sh\n");
  EXPECT_EQ(check(data + "/outer.sh"), 27);
  std::vector<std::string> lines;
  for (const std::string& line : rejected())
    if (line.find("Command level") != std::string::npos) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Sandbox management - Command level 2 rejected : id");
  EXPECT_EQ(lines[1], "Sandbox management - Command level 1 rejected : " + data + "/inner.sh");
  EXPECT_EQ(lines[2], "Sandbox management - Command level 0 rejected : " + data + "/outer.sh");
  EXPECT_EQ(rejected().back(), "Sandbox management ---------------------------------------");
}

// The shell skips the NUL and runs "echo hello;id".
TEST_F(Sandbox, AScriptLineWithANulIsRefused) {
  write(data + "/nul.sh", std::string("echo hello\0;id\n", 15));
  EXPECT_EQ(check(data + "/nul.sh"), 27);
  EXPECT_EQ(check(". " + data + "/nul.sh"), 27);
}

TEST_F(Sandbox, NestingBeyondNineLevelsIsError170) {
  write(data + "/self.sh", ". " + data + "/self.sh\n");
  EXPECT_EQ(find_syst_pattern((". " + data + "/self.sh").c_str(), nullptr, 0), -170);
  EXPECT_EQ(Errvlx, 170);
  EXPECT_STREQ(Errmes + std::strlen(Errmes) - 17, "find_syst_pattern");
}

// What the shell will run is what is checked: programs along PATH only,
// and words as the shell reads them, from a current folder that is allowed.
TEST_F(Sandbox, WhatTheShellRunsIsWhatIsChecked) {
  // Only along PATH, as the shell looks: a harmless script of the same
  // name in the current folder must not vouch for the program.
  write(data + "/id", "# nothing\n");
  char* before = ::getcwd(nullptr, 0);
  ASSERT_EQ(::chdir(data.c_str()), 0);
  EXPECT_EQ(check("id"), 27);
  EXPECT_EQ(check(". id"), 27);
  EXPECT_EQ(check("./id"), 0);
  // From here "~/f.txt" is a file of the folder, but the shell reads the
  // tilde as the home folder.
  std::filesystem::create_directories(data + "/~");
  write(data + "/~/f.txt", "x\n");
  EXPECT_EQ(check("cat ./~/f.txt"), 0);
  EXPECT_EQ(check("cat ~/f.txt"), 27);
  // "X=/id" is a script of the folder, but the shell assigns it and runs
  // the next word.
  std::filesystem::create_directories(data + "/X=");
  write(data + "/X=/id", "# nothing\n");
  EXPECT_EQ(check("./X=/id"), 0);
  EXPECT_EQ(check("X=/id id"), 27);
  // The shell takes the backslashes away: the first reads /etc/passwd.
  EXPECT_EQ(check("cat \\/etc/passwd"), 27);
  EXPECT_EQ(check("cat f\\.txt"), 0);
  ASSERT_EQ(::chdir(before), 0);
  std::free(before);
  // A harmless file named like a builtin along PATH: the shell runs the
  // builtin, unless the name is a path.
  const char* path = std::getenv("PATH");
  std::string saved = path != nullptr ? path : "";
  write(data + "/eval", "# nothing\n");
  ::setenv("PATH", (data + ":" + saved).c_str(), 1);
  EXPECT_EQ(check("eval id"), 27);
  EXPECT_EQ(check(data + "/eval id"), 0);
  ::setenv("PATH", tmp.c_str(), 1);
  EXPECT_EQ(check("cat " + data + "/f.txt"), 27);
  char* found = nullptr;
  EXPECT_EQ(resolve_file(vlx_group(), &found, "cat"), 0);
  ::setenv("PATH", saved.c_str(), 1);
  ASSERT_EQ(resolve_file(vlx_group(), &found, "cat"), 1);
  EXPECT_EQ(std::string(found).substr(std::string(found).rfind('/')), "/cat");
  adg_memfree(vlx_group(), found);
}

TEST_F(Sandbox, AcceptSpawnGivesTheFirstMatchingEntry) {
  const char *path = nullptr, *modes = nullptr;
  const int* params = nullptr;
  int length = 0;
  ASSERT_EQ(accept_spawn("cp a b", &path, &length, &params, &modes), 1);
  EXPECT_STREQ(path, "/usr/bin/");
  EXPECT_EQ(length, 9);
  EXPECT_EQ(params[0], 1);
  EXPECT_EQ(params[1], 2);
  EXPECT_EQ(params[2], 0);
  EXPECT_STREQ(modes, "rw");
  EXPECT_EQ(accept_spawn("cp a", &path, &length, &params, &modes), 0);
}

TEST_F(Sandbox, DecisionsAreLoggedOnChannel1024) {
  ASSERT_EQ(vlx::log::open("sandboxlog", vlx::log::security, "", 1, ""), 0);
  check("cat " + data + "/f.txt");
  check("echo hi > /dev/null");
  check("no_such_program_anywhere");
  ASSERT_EQ(configure(R"({"sandbox": {"directories": [], "spawn": [{"pattern": "echo .*"}], "volumes": []}})"), 0);
  std::string path = vlx::log::path();
  vlx::log::close();
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  for (const char* line : {"<channel 1024>", "Pattern accepted : Go to pass2",
                           "Result resolved : /usr/bin/cat compare to /usr/bin/", "order pass 2 accepted",
                           "order pass 3 accepted", "Order not found and rejected", "accepts a semicolon",
                           "accepts \"..\""})
    EXPECT_NE(text.str().find(line), std::string::npos) << line;
}

}  // namespace
