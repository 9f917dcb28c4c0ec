#include "server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "support/vlxtest.h"

namespace e2e {

namespace {

[[noreturn]] void exec_server(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(VLXSYS_PATH));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(VLXSYS_PATH, argv.data());
  ::_exit(127);
}

}  // namespace

Server::~Server() {
  if (toServer >= 0) ::close(toServer);
  if (fromServer >= 0) ::close(fromServer);
  if (pid > 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
}

void Server::send(const std::string& data) const {
  (void)!::write(toServer, data.data(), data.size());
}

std::string Server::read(std::size_t n) const {
  std::string out;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fromServer, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buffer[4096];
    ssize_t got = ::read(fromServer, buffer, std::min(sizeof buffer, n - out.size()));
    if (got <= 0) break;
    out.append(buffer, static_cast<std::size_t>(got));
  }
  return out;
}

int Server::wait() {
  int status = -1;
  for (int i = 0; i < 1000; ++i) {
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return status;
    }
    ::usleep(10000);
  }
  return -1;
}

void Server::close_requests() {
  ::close(toServer);
  toServer = -1;
}

namespace {

// Starts the server with its request and answer pipe ends as descriptors
// `in` and `out` (uninherited others), with these arguments.
Server start(int in, int out, const std::vector<std::string>& args, const std::vector<std::string>& env) {
  vlxtest::install_dir();
  int requests[2], answers[2];
  (void)!::pipe2(requests, O_CLOEXEC);
  (void)!::pipe2(answers, O_CLOEXEC);
  Server s;
  s.pid = ::fork();
  if (s.pid == 0) {
    ::dup2(requests[0], in);
    ::dup2(answers[1], out);
    exec_server(args, env);
  }
  ::close(requests[0]);
  ::close(answers[1]);
  s.toServer = requests[1];
  s.fromServer = answers[0];
  return s;
}

}  // namespace

Server start_descriptor_form(const std::vector<std::string>& extra, const std::vector<std::string>& env) {
  std::vector<std::string> args = {"20", "21", "-1"};
  args.insert(args.end(), extra.begin(), extra.end());
  return start(20, 21, args, env);
}

Server start_stdin_form(const std::vector<std::string>& options, const std::vector<std::string>& env) {
  return start(0, 1, options, env);
}

std::string request(int code, const std::string& body) {
  std::string out;
  out += static_cast<char>(code);
  out += static_cast<char>((body.size() >> 8) & 0xFF);
  out += static_cast<char>(body.size() & 0xFF);
  return out + body;
}

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

}  // namespace e2e
