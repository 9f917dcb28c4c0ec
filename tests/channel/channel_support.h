// A communication slot over a real pipe pair, a socket pair or in-memory
// buffers, with the peer's ends at hand for the test.
#pragma once

#include <string>

namespace chantest {

struct Peer {
  int slot = 0;
  int toServer = -1;    // the test writes what the slot reads
  int fromServer = -1;  // the test reads what the slot writes
  int mode = 0;
  int inBuffer = -1, outBuffer = -1;  // in-memory mode
  void send(const std::string& bytes) const;
  // Everything the slot has written so far.
  std::string received() const;
  void close_writer();
};

// Creates slot `slot` in `mode` (0 buffer, 1 pipe, 4 socket) in a fresh
// group; closes the descriptors of an earlier peer of that slot.
Peer make_peer(int slot, int mode);
void drop_peer(Peer& peer);

std::string bytes(std::initializer_list<int> values);

}  // namespace chantest
