// The client library against the real server binary: negotiation, tables
// of an allowed command read in every mode, filters, selections, key
// criteria, error answers, a lost server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <functional>

#include "support/vlxtest.h"
#include "vlxclient.h"


using vlxc::Mode;
using vlxc::Record;

namespace {

// A file of known lines.
const std::string& rows_command() {
  static const std::string command = "cat " + vlxtest::data_file("rows.txt", "alpha 1 x\nbeta 2 y\ngamma 30 z\ndelta 4\n");
  return command;
}

// Reads from `start` then `step` until the end; the first field of each.
std::vector<std::string> scan(vlxc::Table& t, Mode start, Mode step) {
  std::vector<std::string> firsts;
  for (auto r = t.read(start); r; r = t.read(step)) firsts.push_back((*r)[0]);
  return firsts;
}

using Names = std::vector<std::string>;

int error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const vlxc::Error& e) {
    return e.number;
  }
  return 0;
}

// A server gone shows as the failed write (25, broken pipe) or read (26).
bool lost_pipe(int error) { return error == 25 || error == 26; }

class Client : public ::testing::Test {
 protected:
  // The server inherits VLXDIR and TMPDIR: set them before it starts.
  std::string install = vlxtest::install_dir();
  vlxc::Session session{VLXSYS_PATH};
};

TEST_F(Client, NegotiatesVersionTwentyAndEndsInOrder) {
  EXPECT_EQ(session.protocol(), 20);
  EXPECT_EQ(session.end(), 1) << "event 8 ends the server with status 1";
  EXPECT_EQ(error_of([&] { session.open(rows_command(), 3); }), 26) << "nothing is sent after the end";
}

TEST(ClientStart, MissingServerIsFileNotFound) {
  try {
    vlxc::Session s("/nonexistent/vlxsys");
    FAIL() << "started";
  } catch (const vlxc::Error& e) {
    EXPECT_EQ(e.number, 20);
    EXPECT_EQ(e.catalogue, "File not found");
  }
}

TEST(ClientStart, ServerGoneBeforeTheVersionIsAChannelError) {
  EXPECT_TRUE(lost_pipe(error_of([] { vlxc::Session s("/bin/true"); })));
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "the child was reaped";
}

TEST_F(Client, ReadsInEveryMode) {
  vlxc::Table t = session.open(rows_command(), 3);
  EXPECT_EQ(t.slot(), 1);
  EXPECT_EQ(t.read(Mode::first), (Record{"alpha", "1", "x"}));
  EXPECT_EQ(t.read(Mode::next), (Record{"beta", "2", "y"}));
  EXPECT_EQ(t.read(Mode::current), (Record{"beta", "2", "y"}));
  EXPECT_EQ(t.read(Mode::last), (Record{"delta", "4", ""})) << "a short line leaves its last field empty";
  EXPECT_EQ(t.read(Mode::previous), (Record{"gamma", "30", "z"}));
  EXPECT_EQ(scan(t, Mode::first, Mode::next), (Names{"alpha", "beta", "gamma", "delta"}));
  EXPECT_EQ(scan(t, Mode::last, Mode::previous), (Names{"delta", "gamma", "beta", "alpha"}));
  EXPECT_EQ(t.read(Mode::previous), std::nullopt) << "nothing before the first record";
  vlxc::Table narrow = session.open(rows_command(), 1);
  EXPECT_EQ(narrow.read(Mode::first), (Record{"alpha"})) << "surplus words are dropped";
}

TEST_F(Client, RefusedCommandIsErrorTwentySevenAndTheSessionGoesOn) {
  try {
    session.open("id", 2);
    FAIL() << "opened";
  } catch (const vlxc::Error& e) {
    EXPECT_EQ(e.number, 27);
    EXPECT_EQ(e.catalogue, "File access error");
    EXPECT_NE(std::string(e.what()).find("open 'id': error 27 (File access error)"), std::string::npos) << e.what();
  }
  vlxc::Table t = session.open(rows_command(), 3);
  EXPECT_EQ(t.slot(), 1) << "the refused open left no slot behind";
  EXPECT_TRUE(t.read(Mode::first));
  t.close();
  EXPECT_EQ(error_of([&] { t.close(); }), 26) << "a closed handle";
}

TEST_F(Client, FiltersApplyBothWaysAndCanBeRemoved) {
  vlxc::Table t = session.open(rows_command(), 3);
  int f = t.filter("not (F1 = \"beta\" or F3 = \"z\")");
  EXPECT_EQ(f, 1);
  EXPECT_EQ(scan(t, Mode::first, Mode::next), (Names{"alpha", "delta"}));
  EXPECT_EQ(scan(t, Mode::last, Mode::previous), (Names{"delta", "alpha"}));
  int g = t.filter("F1 <> \"delta\"");
  EXPECT_EQ(g, 2);
  EXPECT_EQ(scan(t, Mode::first, Mode::next), (Names{"alpha"}));
  t.remove_filter(f);
  EXPECT_EQ(scan(t, Mode::first, Mode::next), (Names{"alpha", "beta", "gamma"}));
  EXPECT_EQ(t.filter("@F1 le \"beta\""), 1) << "the freed entry is reused";
  EXPECT_EQ(scan(t, Mode::last, Mode::previous), (Names{"beta", "alpha"}));
}

TEST_F(Client, NumericComparisonReadsTheFieldAsANumber) {
  vlxc::Table t = session.open(rows_command(), 3);
  t.filter("val(F2) >= 4");
  // As text "30" < "4"; as numbers 30 passes.
  EXPECT_EQ(scan(t, Mode::first, Mode::next), (Names{"gamma", "delta"}));
}

TEST_F(Client, SelectionSendsTheChosenFieldsInOrder) {
  vlxc::Table t = session.open(rows_command(), 3);
  t.select({3, 1});
  EXPECT_EQ(t.read(Mode::first), (Record{"x", "alpha"}));
  t.filter("F1 = \"gamma\"");
  EXPECT_EQ(t.read(Mode::last), (Record{"z", "gamma"}));
  t.remove_selection();
  EXPECT_EQ(t.read(Mode::current), (Record{"gamma", "30", "z"}));
}

TEST_F(Client, KeyCriteriaKnowOnlyKeyZero) {
  vlxc::Table t = session.open(rows_command(), 3);
  t.filter("F2 <> \"1\"");
  EXPECT_EQ(t.read_key(0, Mode::first), (Record{"beta", "2", "y"}));
  EXPECT_EQ(t.read_key(0, Mode::last), (Record{"delta", "4", ""}));
  EXPECT_EQ(error_of([&] { t.read_key(1, Mode::first); }), 21);
  EXPECT_EQ(t.read(Mode::first), (Record{"beta", "2", "y"})) << "the table is still served";
}

TEST_F(Client, LostServerIsAnErrorNotASignal) {
  vlxc::Table t = session.open(rows_command(), 3);
  ::kill(session.server_pid(), SIGKILL);
  EXPECT_TRUE(lost_pipe(error_of([&] { t.read(Mode::first); })));
}

// A listening socket of the loopback address and a child that serves its
// first connection with the server in the standard-input form, as a socket
// unit in accept mode does.
struct Launcher {
  int port = 0;
  pid_t pid = -1;
  Launcher() {
    int listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (listening < 0 || ::bind(listening, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listening, 1) != 0 || ::getsockname(listening, reinterpret_cast<sockaddr*>(&a), &length) != 0)
      return;
    port = ntohs(a.sin_port);
    pid = ::fork();
    if (pid == 0) {
      int connection = ::accept(listening, nullptr, nullptr);
      if (connection < 0 || ::dup2(connection, 0) < 0 || ::dup2(connection, 1) < 0) ::_exit(126);
      ::execl(VLXSYS_PATH, VLXSYS_PATH, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(listening);
  }
  int wait() {
    int status = -1;
    ::waitpid(pid, &status, 0);
    return status;
  }
};

TEST(ClientConnection, ServesTablesOverAConnectionAndEndsWithTheServer) {
  std::string install = vlxtest::install_dir();
  Launcher launcher;
  ASSERT_GT(launcher.pid, 0);
  {
    vlxc::Session s("127.0.0.1", launcher.port);
    EXPECT_EQ(s.protocol(), 20);
    EXPECT_EQ(s.server_pid(), -1) << "the launcher's child, not the client's";
    vlxc::Table t = s.open(rows_command(), 3);
    EXPECT_EQ(scan(t, Mode::last, Mode::previous), (Names{"delta", "gamma", "beta", "alpha"}));
    t.close();
    EXPECT_EQ(s.end(), 0) << "the server closed the connection";
  }
  int status = launcher.wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1) << "ended in order, before end() returned";

  // Nobody listens there any more.
  try {
    vlxc::Session s("127.0.0.1", launcher.port);
    FAIL() << "connected";
  } catch (const vlxc::Error& e) {
    EXPECT_NE(std::string(e.what()).find("connect 127.0.0.1:"), std::string::npos) << e.what();
  }
}

}  // namespace
