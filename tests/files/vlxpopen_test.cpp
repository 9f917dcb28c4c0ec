// Pipe channels: output read line by line, exit status, no zombie, no
// inherited descriptor, refused commands start nothing, remote hosts.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "files/vlxfile.h"
#include "files/vlxpopen.h"
#include "sandbox_install.h"

namespace {

class Pipe : public SandboxInstall {
 protected:
  void SetUp() override {
    SandboxInstall::SetUp();
    write(tmp + "/rsh", "#!/bin/sh\necho \"host=$1 cmd=$2\"\n");
    ::chmod((tmp + "/rsh").c_str(), 0755);
    ASSERT_EQ(configure(R"({"remoteShell": ")" + tmp + R"(/rsh",
      "sandbox": {"directories": [{"path": "!tmp", "writable": true, "extensions": ["*"]}],
        "spawn": [{"pattern": "^(printf|sh|true) .*$", "path": "*"}, {"pattern": "^true$", "path": "*"}],
        "volumes": []}})"),
              0);
  }

  // Every line of the command's output, then the channel closed.
  std::vector<std::string> lines_of(const char* command, const char* host = "") {
    std::vector<std::string> lines;
    int ch = adf_popen(vlx_group(), command, "r", host);
    EXPECT_GT(ch, 0) << command << ": " << Errmes;
    if (ch <= 0) return lines;
    char buffer[513];
    while (adf_uget(ch, buffer, 512, '\n') > 0) lines.push_back(buffer);
    EXPECT_EQ(adf_close(ch), 0);
    return lines;
  }

  static bool no_child_left() { return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }
};

TEST_F(Pipe, OutputIsReadLineByLine) {
  EXPECT_EQ(lines_of("printf 'one\\ntwo\\nthree'"), (std::vector<std::string>{"one\n", "two\n", "three"}));
  EXPECT_TRUE(WIFEXITED(adf_last_status()) && WEXITSTATUS(adf_last_status()) == 0);
  EXPECT_TRUE(no_child_left());
}

TEST_F(Pipe, ExitStatusIsCollectedAtClose) {
  EXPECT_TRUE(lines_of("sh -c 'exit 3'").empty());
  EXPECT_EQ(WEXITSTATUS(adf_last_status()), 3);
  EXPECT_TRUE(lines_of("sh -c no_such_program_here").empty());
  EXPECT_EQ(WEXITSTATUS(adf_last_status()), 127);
  EXPECT_TRUE(no_child_left());
}

TEST_F(Pipe, ClosingEarlyEndsAnEndlessWriter) {
  int ch = adf_popen(vlx_group(), "sh -c 'while :; do echo y; done'", "r", nullptr);
  ASSERT_GT(ch, 0);
  char buffer[16];
  EXPECT_EQ(adf_uget(ch, buffer, 15, '\n'), 2);
  EXPECT_EQ(adf_seek(ch, 0, SEEK_END), -25) << "a pipe has no position";
  raz_err();
  EXPECT_EQ(adf_close(ch), 0);
  EXPECT_TRUE(WIFSIGNALED(adf_last_status()) || WIFEXITED(adf_last_status()));
  EXPECT_TRUE(no_child_left());
}

TEST_F(Pipe, ChildInheritsNoOtherDescriptor) {
  int leak = ::open("/dev/null", O_RDONLY);  // what a server socket would be: no close-on-exec
  ASSERT_GT(leak, 2);
  std::vector<std::string> fds = lines_of("sh -c 'ls /proc/$$/fd'");
  ::close(leak);
  EXPECT_EQ(fds, (std::vector<std::string>{"0\n", "1\n", "2\n"}));
}

TEST_F(Pipe, RefusedCommandStartsNothing) {
  int open_before = adf_count();
  std::string marker = tmp + "/marker";
  EXPECT_EQ(adf_popen(vlx_group(), ("touch " + marker).c_str(), "r", ""), -27);
  EXPECT_EQ(Errvlx, 27);
  EXPECT_STREQ(Errmes, ("touch " + marker).c_str());
  raz_err();
  EXPECT_EQ(adf_popen(vlx_group(), "", "r", ""), -27);
  raz_err();
  EXPECT_EQ(adf_popen(vlx_group(), "true", "w", ""), -26);
  raz_err();
  EXPECT_FALSE(std::filesystem::exists(marker));
  EXPECT_EQ(adf_count(), open_before);
  EXPECT_TRUE(no_child_left());
  std::vector<std::string> lines = rejected();
  ASSERT_EQ(lines.size(), 6u);  // the program's path, then the command, each with a separator
  EXPECT_EQ(lines[2], "Sandbox management - Command level 0 rejected : touch " + marker);
}

TEST_F(Pipe, OtherHostsRunThroughTheRemoteShell) {
  EXPECT_EQ(lines_of("true", "db-host.example"), (std::vector<std::string>{"host=db-host.example cmd=true\n"}));
  char own[256] = "";
  ASSERT_EQ(::gethostname(own, sizeof own - 1), 0);
  EXPECT_EQ(lines_of("printf local", own), (std::vector<std::string>{"local"}));
  EXPECT_EQ(adf_popen(vlx_group(), "true", "r", "-oProxyCommand=id"), -27);
  raz_err();
  EXPECT_EQ(adf_popen(vlx_group(), "id", "r", "db-host"), -27);  // the local check holds for remote commands
  raz_err();
  EXPECT_TRUE(no_child_left());
}

// A command that writes its file slowly is followed to its end, every
// byte shown; while it is quiet the wait does not spin (polled every
// millisecond, a third of a second would be some 300 wake-ups).
TEST_F(Pipe, AQuietCommandIsFollowedWithoutSpinning) {
  std::string path = tmp + "/followed";
  int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(out, 0);
  int pid = adf_spawn_into("sh -c 'printf a; sleep 0.3; printf b'", "", out);
  ::close(out);
  ASSERT_GT(pid, 0) << Errmes;
  int ch = adf_open(vlx_group(), path.c_str(), "r");
  ASSERT_GT(ch, 0);
  std::string seen;
  bool whole = false;
  rusage before{}, after{};
  ::getrusage(RUSAGE_SELF, &before);
  int status = adf_follow(pid, ch, [&seen](const char* block, std::size_t size) {
    seen.append(block, size);
    return true;
  }, &whole);
  ::getrusage(RUSAGE_SELF, &after);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(whole);
  EXPECT_EQ(seen, "ab");
  EXPECT_LT(after.ru_nvcsw - before.ru_nvcsw, 60);
  EXPECT_EQ(adf_close(ch), 0);
  EXPECT_TRUE(no_child_left());
}

TEST_F(Pipe, AProgramThatCannotStartIsAnError) {
  ASSERT_EQ(configure(R"({"remoteShell": "/no/such/rsh -x", "IsWhitelistDisabled": true})"), -26);
  EXPECT_EQ(adf_popen(vlx_group(), "true", "r", "db-host"), -20);
  EXPECT_EQ(Errvlx, 20);
  raz_err();
  EXPECT_TRUE(no_child_left());
}

}  // namespace
