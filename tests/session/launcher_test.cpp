// Many clients through the standard launcher: systemd's socket activation
// in accept mode starts one server per connection on its standard input.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/peer.h"
#include "support/vlxtest.h"

using vlxtest::bytes;
using vlxtest::request;

namespace {

int free_port() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(s);
  return ntohs(address.sin_port);
}

TEST(Launcher, EachConnectionGetsItsOwnServer) {
  vlxtest::install_dir();
  int port = free_port();
  pid_t launcher = ::fork();
  if (launcher == 0) {
    std::string listen = "127.0.0.1:" + std::to_string(port);
    ::execlp("systemd-socket-activate", "systemd-socket-activate", "--inetd", "-a", "-l", listen.c_str(), VLXSYS_PATH,
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Several clients at once: each is answered while the others stay open,
  // which one server process per channel could not do.
  std::vector<vlxtest::Server> clients(4);
  for (vlxtest::Server& c : clients) {
    c.toServer = c.fromServer = vlxtest::connect_local(port);
    ASSERT_GE(c.toServer, 0);
    c.send(request(0, bytes({3, 22, 0, 0, 0, 10})));
  }
  for (vlxtest::Server& c : clients) EXPECT_EQ(c.read(5), bytes({0, 0, 0, 0, 20}));
  for (vlxtest::Server& c : clients) {
    c.send(request(0, bytes({3, 8})));
    EXPECT_EQ(c.read(1), "") << "the session ends and the connection closes";
  }
  ::kill(launcher, SIGTERM);
  ::waitpid(launcher, nullptr, 0);
}

}  // namespace
