// Decisions of the command sandbox on a configuration made for each case.
#include <sys/stat.h>

#include <cstring>

#include "diagnostics/log.h"
#include "sandbox_install.h"

namespace {

class Sandbox : public SandboxInstall {
 protected:
  void SetUp() override {
    SandboxInstall::SetUp();
    std::filesystem::create_directories(data + "/txt");
    std::filesystem::create_directories(data + "/pat");
    write(data + "/f.txt", "one\ntwo\n");
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

TEST_F(Sandbox, StarPathAndNoPathAcceptTheProgramAnywhere) {
  EXPECT_EQ(check("echo hello"), 0);
  EXPECT_EQ(check("/nowhere/at/all/echo hello"), 0);
  EXPECT_EQ(check("anyprog --whatever"), 0);  // never found, no path asked
  EXPECT_EQ(check("echo Hello"), 27);         // pattern refuses, /usr/bin is not allowed
}

TEST_F(Sandbox, ProgramMustLieUnderTheEntryPath) {
  EXPECT_EQ(check("cat " + data + "/f.txt"), 0);
  EXPECT_EQ(check("/usr/bin/cat " + data + "/f.txt"), 0);
  EXPECT_EQ(check(tmp + "/cat " + data + "/f.txt"), 27);
  EXPECT_EQ(check("/usr/bin/../../" + tmp + "/cat " + data + "/f.txt"), 27);
  std::vector<std::string> lines = rejected();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Sandbox management - Command level 0 rejected : " + tmp + "/cat " + data + "/f.txt");
  EXPECT_EQ(lines[1], "Sandbox management ---------------------------------------");
}

TEST_F(Sandbox, ParameterModes) {
  EXPECT_EQ(check("cat /etc/passwd"), 27);
  EXPECT_EQ(check("cp " + data + "/f.txt " + tmp + "/copy"), 0);
  EXPECT_EQ(check("cp " + tmp + "/x " + data + "/copy"), 27);  // data is read-only
  EXPECT_EQ(check("cat " + data + "/f.txt " + data + "/f.txt"), 27);  // third argument missing
  EXPECT_EQ(check("cat " + data + "/../../../etc/passwd"), 27);
  std::filesystem::create_symlink("/etc/passwd", data + "/link");
  EXPECT_EQ(check("cat " + data + "/link"), 27);
}

TEST_F(Sandbox, ScriptParametersNameTheCallersArguments) {
  write(data + "/show.sh", "# shows a file\ncat $1\r\n");
  EXPECT_EQ(check(data + "/show.sh " + data + "/f.txt"), 0);
  EXPECT_EQ(check(data + "/show.sh /etc/passwd"), 27);
  EXPECT_EQ(check(data + "/show.sh"), 27);
  EXPECT_EQ(check(". " + data + "/show.sh"), 27);
}

TEST_F(Sandbox, Redirections) {
  write(data + "/in", "x");
  EXPECT_EQ(check("echo hi > /dev/null"), 0);
  EXPECT_EQ(check("echo hi > " + tmp + "/out"), 0);
  EXPECT_EQ(check("echo hi >> " + tmp + "/out"), 0);
  EXPECT_EQ(check("echo hi < " + data + "/in"), 0);
  EXPECT_EQ(check("echo hi > " + data + "/out"), 27);
  EXPECT_EQ(check("echo hi > /etc/x"), 27);
  EXPECT_EQ(check("echo hi >"), 27);  // no target
  EXPECT_EQ(check(">"), 26);
}

TEST_F(Sandbox, ScriptsOfCommentsAndBlanks) {
  write(data + "/quiet.sh", "# nothing\n\n     \n#!/bin/sh\n");
  EXPECT_EQ(check(data + "/quiet.sh"), 0);
  write(data + "/noisy.sh", "# almost nothing\nid\n");
  EXPECT_EQ(check(data + "/noisy.sh"), 27);
  write(tmp + "/../outside.sh", "# nothing\n");
  EXPECT_EQ(check(root + "/outside.sh"), 27);  // not in an allowed folder
  write(data + "/long.sh", "echo " + std::string(600, 'a') + "\n");
  EXPECT_EQ(check(data + "/long.sh"), 27);
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

TEST_F(Sandbox, NestingBeyondNineLevelsIsError170) {
  write(data + "/self.sh", ". " + data + "/self.sh\n");
  EXPECT_EQ(find_syst_pattern((". " + data + "/self.sh").c_str(), nullptr, 0), -170);
  EXPECT_EQ(Errvlx, 170);
  EXPECT_STREQ(Errmes + std::strlen(Errmes) - 17, "find_syst_pattern");
}

TEST_F(Sandbox, MissingTargets) {
  EXPECT_EQ(check("no_such_program_anywhere"), 27);
  const char* path = std::getenv("PATH");
  std::string saved = path != nullptr ? path : "";
  ::setenv("PATH", tmp.c_str(), 1);
  EXPECT_EQ(check("cat " + data + "/f.txt"), 27);
  char* found = nullptr;
  EXPECT_EQ(resolve_file(vlx_group(), &found, "cat"), 0);
  ::setenv("PATH", saved.c_str(), 1);
  ASSERT_EQ(resolve_file(vlx_group(), &found, "cat"), 1);
  EXPECT_EQ(std::string(found).substr(std::string(found).rfind('/')), "/cat");
  adg_memfree(vlx_group(), found);
  EXPECT_EQ(check_secured_path((data + "/not/yet").c_str(), "r", 1), 1);  // a folder to be
  EXPECT_EQ(check_secured_path((data + "/not/yet").c_str(), "w", 1), 0);
  EXPECT_EQ(check_secured_path((tmp + "/new").c_str(), "w", 1), 1);
}

TEST_F(Sandbox, PathRules) {
  struct Case {
    std::string path;
    const char* mode;
    int flag, expected;
  } cases[] = {
      {data + "/txt/a.txt", "w", 1, 0},  {data + "/txt/a.txt", "r+", 1, 0}, {data + "/txt/a.txt", "r", 1, 1},
      {data + "/txt/a.csv", "a", 1, 0},  {data + "/pat/x.log", "r", 1, 1},  {data + "/pat/X.log", "r", 1, 1},
      {tmp + "/x", "a", 2, 0},           {tmp + "/x", "a", 1, 1},           {data + "extra/f", "r", 1, 0},
      {data, "r", 1, 1},                 {"relative/../../x", "r", 1, 0},   {"", "r", 1, 0},
  };
  write(data + "/txt/a.csv", "");
  for (const Case& c : cases)
    EXPECT_EQ(check_secured_path(c.path.c_str(), c.mode, c.flag), c.expected) << c.path << " " << c.mode;
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
