#include "channel_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "channel/divcom.h"
#include "channel/iocom.h"
#include "memory/vlxcalls.h"

namespace chantest {

void Peer::send(const std::string& data) const {
  if (mode == 0) {
    cbuf_feed(inBuffer, data.data(), static_cast<int>(data.size()));
    return;
  }
  ASSERT_EQ(::write(toServer, data.data(), data.size()), static_cast<ssize_t>(data.size()));
}

std::string Peer::received() const {
  com_flush_all();
  if (mode == 0) return cbuf_take_all(outBuffer);
  std::string out;
  char buffer[4096];
  pollfd p{fromServer, POLLIN, 0};
  while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
    ssize_t n = ::read(fromServer, buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

void Peer::close_writer() {
  if (toServer >= 0) ::close(toServer);
  toServer = -1;
}

Peer make_peer(int slot, int mode) {
  Peer peer;
  peer.slot = slot;
  peer.mode = mode;
  unsigned group = adg_get(nullptr, nullptr, kGrpCommunications, "peer %d", slot);
  int in = -1, out = -1;
  if (mode == 0) {
    peer.inBuffer = cbuf_open();
    peer.outBuffer = cbuf_open();
    in = peer.inBuffer;
    out = peer.outBuffer;
  } else if (mode == 1) {
    int a[2], b[2];
    EXPECT_EQ(::pipe(a), 0);
    EXPECT_EQ(::pipe(b), 0);
    in = a[0], peer.toServer = a[1];
    out = b[1], peer.fromServer = b[0];
  } else {
    int s[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, s), 0);
    in = out = s[0];
    peer.toServer = peer.fromServer = s[1];
  }
  EXPECT_EQ(i_tcom(slot, nullptr, group, mode, out, in, out, in, 0, nullptr), slot);
  return peer;
}

void drop_peer(Peer& peer) {
  s_com* c = com_slot(peer.slot);
  unsigned group = c != nullptr ? c->group : 0;
  if (c != nullptr && peer.mode != 0) {
    ::close(static_cast<int>(c->reqr));
    if (c->reqw != c->reqr) ::close(static_cast<int>(c->reqw));
  }
  comFree(peer.slot);
  adg_free(group);
  if (peer.toServer >= 0) ::close(peer.toServer);
  if (peer.fromServer >= 0 && peer.fromServer != peer.toServer) ::close(peer.fromServer);
  if (peer.mode == 0) cbuf_close(peer.inBuffer), cbuf_close(peer.outBuffer);
  peer = Peer{};
}

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

}  // namespace chantest
