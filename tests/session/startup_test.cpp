// The server binary in its three channel forms: negotiation, end of
// session, failures and their exit statuses, signals, lost clients.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "frontend_support.h"
#include "support/peer.h"
#include "support/vlxtest.h"

using vlxtest::bytes;
using vlxtest::exit_status;
using vlxtest::request;
using crvtest::frame;
namespace fs = std::filesystem;

namespace {

const std::string kVersion10 = request(0, bytes({3, 22, 0, 0, 0, 10}));
const std::string kEndSession = request(0, bytes({3, 8}));
const std::string kVersionAnswer = bytes({0, 0, 0, 0, 20});

TEST(Startup, StandardInputFormSwitchesHeaderAtVersionEleven) {
  vlxtest::Server s = vlxtest::start_stdin_form();
  s.send(request(0, bytes({3, 22, 0, 0, 0, 11})));
  EXPECT_EQ(s.read(5), kVersionAnswer);
  // From now on the header has 4 bytes: code 0, length 2.
  s.send(bytes({0, 0, 0, 2, 3, 8}));
  EXPECT_EQ(exit_status(s.wait()), 1);
}

TEST(Startup, KerberosOptionKeepsTheStandardInputForm) {
  fs::path tmp = fs::path(vlxtest::install_dir()) / "tmp";
  vlxtest::Server s = vlxtest::start_stdin_form({"-k"}, {"KRB_CC_NAME=FILE:/tmp/cache", "VLXSYS_TRACE=512",
                                                 "TMPDIR=" + tmp.string()});
  s.send(kVersion10);
  EXPECT_EQ(s.read(5), kVersionAnswer);
  pid_t pid = s.pid;
  s.send(kEndSession);
  EXPECT_EQ(exit_status(s.wait()), 1);
  std::string log = vlxtest::slurp(tmp / ("q9diary_vlxsys_" + std::to_string(pid) + "_0.tra"));
  EXPECT_NE(log.find("krbdft(FILE:/tmp/cache)"), std::string::npos) << log;
}

TEST(Startup, UnknownEventIsAnsweredAndTheLoopGoesOn) {
  vlxtest::Server s = vlxtest::start_descriptor_form();
  s.send(request(0, bytes({3, 0x1B})));
  EXPECT_EQ(s.read(1), bytes({0xE6}));
  s.send(request(0, bytes({9, 3})));
  EXPECT_EQ(s.read(1), bytes({0xE6})) << "a driver above 6";
  s.send(bytes({0, 0xFF, 0xF0}));
  EXPECT_EQ(s.read(1), bytes({0xE6})) << "a negative length";
  s.send(kVersion10);
  EXPECT_EQ(s.read(5), kVersionAnswer);
}

TEST(Startup, OversizedBodyEndsTheSessionWithItsError) {
  vlxtest::Server s = vlxtest::start_descriptor_form();
  s.send(bytes({0, 0x10, 0x00}) + std::string(0x1000, 'x'));
  EXPECT_EQ(s.read(1), bytes({0xE6}));
  EXPECT_EQ(exit_status(s.wait()), 256 - 26);
}

TEST(Startup, LostClientEndsTheProcess) {
  vlxtest::Server s = vlxtest::start_descriptor_form();
  s.send(kVersion10);
  EXPECT_EQ(s.read(5), kVersionAnswer);
  s.close_requests();
  EXPECT_EQ(exit_status(s.wait()), 1) << "SIGHUP's handler, through sisignal(1)";
}

TEST(Startup, Signals) {
  {
    vlxtest::Server s = vlxtest::start_descriptor_form();
    s.send(kVersion10);
    ASSERT_EQ(s.read(5), kVersionAnswer);
    ::kill(s.pid, SIGINT);
    ::kill(s.pid, SIGHUP);
    EXPECT_EQ(exit_status(s.wait()), 1) << "SIGINT is ignored, SIGHUP exits with its number";
  }
  {
    vlxtest::Server s = vlxtest::start_descriptor_form();
    s.send(kVersion10);
    ASSERT_EQ(s.read(5), kVersionAnswer);
    ::kill(s.pid, SIGTERM);
    EXPECT_EQ(exit_status(s.wait()), -SIGTERM) << "SIGTERM is only recorded, not caught";
  }
}

// Socket form: the launcher hands a pipe, reads the announced port,
// connects, sends the service header and user text, reads the process id.
struct Launch {
  vlxtest::Server server;
  int port = 0;
};

Launch launch_socket_form(const std::vector<std::string>& env, int serviceByte = 104,
                          const std::string& user = "user") {
  vlxtest::install_dir();
  int announce[2];
  (void)!::pipe2(announce, O_CLOEXEC);
  Launch l;
  l.server.pid = ::fork();
  if (l.server.pid == 0) {
    ::dup2(announce[1], 22);
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    ::execl(VLXSYS_PATH, VLXSYS_PATH, "22", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(announce[1]);
  unsigned char port[3] = {};
  ssize_t n = ::read(announce[0], port, 3);
  ::close(announce[0]);
  if (n != 3 || port[0] != 2) return l;
  l.port = port[1] << 8 | port[2];
  l.server.toServer = l.server.fromServer = vlxtest::connect_local(l.port);
  l.server.send(bytes({serviceByte, static_cast<int>(user.size())}) + user);
  return l;
}

TEST(Startup, SocketFormAnnouncesAndServes) {
  Launch l = launch_socket_form({});
  ASSERT_GT(l.port, 0) << "port 0 lets the system choose";
  std::string pid = l.server.read(4);
  ASSERT_EQ(pid.size(), 4u);
  EXPECT_EQ(static_cast<pid_t>(ntohl(*reinterpret_cast<const std::uint32_t*>(pid.data()))), l.server.pid);
  l.server.send(kVersion10);
  EXPECT_EQ(l.server.read(5), kVersionAnswer);
  l.server.send(kEndSession);
  EXPECT_EQ(exit_status(l.server.wait()), 1);
}

TEST(Startup, SocketFormTriesTheRangesInOrder) {
  // Hold a port, then offer it first: the server takes the next one.
  int held = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(held, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(held, 1), 0);
  ::getsockname(held, reinterpret_cast<sockaddr*>(&address), &size);
  int busy = ntohs(address.sin_port);
  std::string list = "VLXNSV=" + std::to_string(busy) + ";[" + std::to_string(busy) + "," + std::to_string(busy + 5) + "]";
  Launch l = launch_socket_form({list});
  EXPECT_GT(l.port, busy);
  EXPECT_LE(l.port, busy + 5);
  ::close(held);
}

// An open of `command` with no field, with the 3-byte header.
std::string open_request(const std::string& command) {
  return request(0, vlxtest::open_request(command, {}, 1).body);
}

// The sandbox is off only when the user text names the administrator as
// both the session's user and the current user; the shipped configuration
// refuses "id" to anybody else.
TEST(Startup, AdministratorOfTheSocketFormSkipsTheSandbox) {
  auto three = [](const std::string& current, const std::string& origin, const std::string& password) {
    std::string out;
    for (const std::string* t : {&current, &origin, &password}) out += std::string(1, static_cast<char>(t->size())) + *t;
    return out;
  };
  struct Case {
    std::string user;
    std::string answer;
  } cases[] = {
      {"admin", bytes({0, 1})},
      {three("Admin", "ADMIN", "secret"), bytes({0, 1})},
      {three("", "admin", ""), bytes({0, 1})},
      {three("admin", "bob", "x"), bytes({256 - 27})},
      {"administrator", bytes({256 - 27})},
  };
  for (const Case& c : cases) {
    Launch l = launch_socket_form({}, 101, c.user);
    ASSERT_EQ(l.server.read(4).size(), 4u);
    l.server.send(open_request("id"));
    EXPECT_EQ(l.server.read(c.answer.size()), c.answer) << c.user;
    l.server.send(request(0, bytes({3, 8})));
    EXPECT_EQ(exit_status(l.server.wait()), 1);
  }
}

// When no group slot can be had, the allocator goes through the signal
// routine: the signal's line in the log, and the signal's number as status.
TEST(Startup, GroupExhaustionEndsThroughTheSignalRoutine) {
  fs::path tmp = fs::path(vlxtest::install_dir()) / "tmp";
  vlxtest::Server s = vlxtest::start_descriptor_form({}, {"VLX_FAULT=group:40", "VLXSYS_TRACE=512", "TMPDIR=" + tmp.string()});
  s.send(kVersion10);
  ASSERT_EQ(s.read(5), kVersionAnswer);
  pid_t pid = s.pid;
  // Each open creates a group, whether it succeeds or not.
  for (int i = 0; i < 60; ++i) {
    s.send(open_request("true"));
    std::string status = s.read(1);
    if (status.empty()) break;
    if (status[0] == 0) s.read(1);  // the slot
  }
  EXPECT_EQ(exit_status(s.wait()), SIGTERM);
  std::string log = vlxtest::slurp(tmp / ("q9diary_vlxsys_" + std::to_string(pid) + "_0.tra"));
  EXPECT_NE(log.find("no group available !"), std::string::npos);
  EXPECT_NE(log.find("Terminated Process " + std::to_string(pid)), std::string::npos) << log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
}

TEST(Startup, ServiceBytesBelowAHundredAreRefused) {
  Launch l = launch_socket_form({}, 99);
  EXPECT_EQ(exit_status(l.server.wait()), 171);
  Launch garbage = launch_socket_form({"VLXNSV=x;y"}, 42);
  EXPECT_GT(garbage.port, 0) << "a bad list falls back to any port";
  EXPECT_EQ(exit_status(garbage.server.wait()), 171);
}

}  // namespace

namespace {

TEST(Startup, SpoolFilesOfDeadProcessesAreRemoved) {
  std::string tmp = vlxtest::install_dir() + "/tmp";
  // A process that has ended, and this (living) one.
  pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  std::string stale = tmp + "/vlxt" + std::to_string(dead) + "_3";
  std::string alive = tmp + "/vlxt" + std::to_string(::getpid()) + "_0";
  std::string other = tmp + "/vlxt" + std::to_string(dead) + "_3.keep";
  for (const std::string& f : {stale, alive, other}) vlxtest::spit(f, "x\n");
  vlxtest::Server s = vlxtest::start_descriptor_form();
  s.send(kVersion10);
  ASSERT_EQ(s.read(5), kVersionAnswer);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(alive));
  EXPECT_TRUE(fs::exists(other)) << "only names of the spool form";
  fs::remove(alive);
  fs::remove(other);
}

}  // namespace

namespace {

TEST(Startup, FrontEndModeHandshakeThenDeletedSession) {
  vlxtest::Server s = vlxtest::start_stdin_form({"-q"});
  s.send(frame(1, R"({"method":"POST","url":"/$prolog"})") + frame(3, R"({"server":"web","folder":"app"})"));
  s.send(frame(1, R"j({"method":"DELETE","url":"/$connections('999')"})j") + frame(3, ""));
  std::string answers = s.read(1 << 16);
  EXPECT_NE(answers.find("\"status\":201"), std::string::npos) << "the prolog is answered";
  EXPECT_NE(answers.find("\"status\":204"), std::string::npos) << answers;
  EXPECT_EQ(exit_status(s.wait()), 256 - 2) << "a deleted session ends with -2";
}

TEST(Startup, FrontEndModeRefusesAnotherSessionId) {
  vlxtest::Server s = vlxtest::start_stdin_form({"-q"});
  s.send(frame(1, R"({"method":"POST","url":"/$prolog"})") + frame(3, "{}"));
  s.send(frame(1, R"j({"method":"DELETE","url":"/$connections('12')"})j") + frame(3, ""));
  std::string answers = s.read(1 << 16);
  EXPECT_NE(answers.find("\"status\":400"), std::string::npos) << answers;
  EXPECT_EQ(exit_status(s.wait()), 255);
}

}  // namespace
