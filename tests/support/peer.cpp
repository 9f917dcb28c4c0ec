#include "support/peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include <gtest/gtest.h>

#include "base/bigend.h"
#include "channel/iocom.h"
#include "channel/protocol.h"
#include "memory/vlxcalls.h"
#include "support/vlxtest.h"

namespace vlxtest {

namespace {

// Up to n bytes of fd, waiting for them at most `seconds`.
std::string read_for(int fd, std::size_t n, int seconds) {
  std::string out;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buffer[4096];
    ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, n - out.size()));
    if (got <= 0) break;
    out.append(buffer, static_cast<std::size_t>(got));
  }
  return out;
}

void close_if_open(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

std::string text(const std::string& s) {
  return be16(static_cast<int>(s.size()) + 2) + be16(static_cast<int>(s.size())) + s;
}

std::string request(int code, const std::string& body) {
  return std::string(1, static_cast<char>(code)) + be16(static_cast<int>(body.size())) + body;
}

std::vector<Field> words(int count) {
  std::vector<Field> fields;
  for (int i = 0; i < count; ++i) fields.push_back(Field{i * kFieldWidth, kFieldType, kFieldWidth});
  return fields;
}

Open open_request(const std::string& command, const std::vector<Field>& fields, int recordLength) {
  Open o;
  o.body = bytes({kSysDriver, kEvOpen, 0, 1}) + text(command) + text("") + text("") +
           be16(static_cast<int>(fields.size())) + bytes({0}) + be32(static_cast<std::uint32_t>(recordLength));
  for (const Field& f : fields) {
    std::string d(kFieldDescription, '\0');
    d.replace(kFdOffset, 4, be32(static_cast<std::uint32_t>(f.offset)));
    d.replace(kFdType, 2, be16(f.type));
    d.replace(kFdLength, 2, be16(f.length));
    o.raw += d;
  }
  return o;
}

std::string read_request(int mode, int criterion, int flags, int version) {
  std::string body = bytes({kSysDriver, kEvRead}) + be16(0) + bytes({mode}) + be16(flags) + be16(0) +
                     bytes({0, criterion}) + text("");
  if (version > 10) return body + be16(0) + be32(0) + be32(0);
  return body + bytes({0}) + be32(0);
}

void Peer::send(const std::string& data) const {
  if (mode == 0) return cbuf_feed(inBuffer, data.data(), static_cast<int>(data.size()));
  ASSERT_EQ(::write(toEngine, data.data(), data.size()), static_cast<ssize_t>(data.size()));
}

std::string Peer::received() const {
  com_flush_all();
  if (mode == 0) return cbuf_take_all(outBuffer);
  std::string out;
  char buffer[4096];
  pollfd p{fromEngine, POLLIN, 0};
  while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
    ssize_t n = ::read(fromEngine, buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

std::string Peer::wait(std::size_t n) const { return read_for(fromEngine, n, 5); }

void Peer::close_writer() {
  if (toEngine != fromEngine) close_if_open(toEngine);
  toEngine = -1;
}

Peer make_peer(int slot, int mode, int protocol, const s_abv* abbreviation) {
  Peer peer;
  peer.slot = slot;
  peer.mode = mode;
  peer.group = adg_get(nullptr, nullptr, kGrpCommunications, "peer %d", slot);
  int in = -1, out = -1;
  if (mode == kModeBuffer) {
    in = peer.inBuffer = cbuf_open();
    out = peer.outBuffer = cbuf_open();
  } else if (mode == kModePipe) {
    int a[2], b[2];
    EXPECT_EQ(::pipe(a), 0);
    EXPECT_EQ(::pipe(b), 0);
    in = a[0], peer.toEngine = a[1];
    out = b[1], peer.fromEngine = b[0];
  } else {
    int s[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, s), 0);
    in = out = s[0];
    peer.toEngine = peer.fromEngine = s[1];
  }
  EXPECT_EQ(i_tcom(slot, abbreviation, peer.group, mode, out, in, out, in, protocol, nullptr), slot);
  return peer;
}

void drop_peer(Peer& peer) {
  com_flush_all();
  if (s_com* c = com_slot(peer.slot); c != nullptr && peer.mode != kModeBuffer) {
    ::close(static_cast<int>(c->reqr));
    if (c->reqw != c->reqr) ::close(static_cast<int>(c->reqw));
  }
  comFree(peer.slot);
  adg_free(peer.group);
  if (peer.toEngine != peer.fromEngine) close_if_open(peer.toEngine);
  close_if_open(peer.fromEngine);
  if (peer.mode == kModeBuffer) cbuf_close(peer.inBuffer), cbuf_close(peer.outBuffer);
  peer = Peer{};
}

Server::Server(Server&& other) noexcept : pid(other.pid), toServer(other.toServer), fromServer(other.fromServer) {
  other.pid = other.toServer = other.fromServer = -1;
}

Server::~Server() {
  if (toServer != fromServer) close_if_open(toServer);
  close_if_open(fromServer);
  if (pid > 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
}

void Server::send(const std::string& data) const { (void)!::write(toServer, data.data(), data.size()); }

std::string Server::read(std::size_t n) const { return read_for(fromServer, n, 5); }

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
  if (toServer == fromServer) ::shutdown(toServer, SHUT_WR);
  else close_if_open(toServer);
}

int connect_local(int port) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return s;
    ::close(s);
    ::usleep(20000);
  }
  return -1;
}

int exit_status(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -WTERMSIG(waitStatus);
}

namespace {

// Starts the server with its request and answer pipe ends as descriptors
// `in` and `out` (the others not inherited), with these arguments.
Server start(int in, int out, const std::vector<std::string>& args, const std::vector<std::string>& env) {
  install_dir();
  int requests[2], answers[2];
  (void)!::pipe2(requests, O_CLOEXEC);
  (void)!::pipe2(answers, O_CLOEXEC);
  Server s;
  s.pid = ::fork();
  if (s.pid == 0) {
    ::dup2(requests[0], in);
    ::dup2(answers[1], out);
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv{const_cast<char*>(VLXSYS_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(VLXSYS_PATH, argv.data());
    ::_exit(127);
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

}  // namespace vlxtest
