// The client's side of the channel in the tests: the bytes a client sends,
// a communication slot with the test at its other end, and the server
// binary as a child process spoken to as a client would.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "channel/divcom.h"

namespace vlxtest {

// Bytes as given; a text field as reqstr writes it; a request with the
// header of protocol versions below 11 (code, body length).
std::string bytes(std::initializer_list<int> values);
std::string text(const std::string& s);
std::string request(int code, const std::string& body);

// A declared field of an open request: offset in the record, type, length.
struct Field {
  int offset;
  int type;
  int length;
};
// `count` fields of text, one word each.
std::vector<Field> words(int count);
// An open request: its body and the field descriptions that follow it.
struct Open {
  std::string body, raw;
};
Open open_request(const std::string& command, const std::vector<Field>& fields, int recordLength);
// The body of a read in `mode`, as a peer of `version` sends it.
std::string read_request(int mode, int criterion = 0, int flags = 0, int version = 20);

// The test's end of a communication slot: in-memory buffers (mode 0), a
// pipe pair (1) or a socket pair (4).
struct Peer {
  int slot = 0;
  int mode = 0;
  int toEngine = -1;    // the test writes what the slot reads
  int fromEngine = -1;  // the test reads what the slot writes
  int inBuffer = -1, outBuffer = -1;
  unsigned group = 0;
  void send(const std::string& data) const;
  // Everything the slot has written so far (its gathered writes sent).
  std::string received() const;
  // Exactly n bytes that the slot writes, or fewer when it goes away or
  // 5 s pass (pipe and socket modes).
  std::string wait(std::size_t n) const;
  void close_writer();
};
// Creates `slot` in `mode`, in a group of its own, with the abbreviation
// (none: null) and the protocol version given; closes nothing.
Peer make_peer(int slot, int mode, int protocol = 0, const s_abv* abbreviation = nullptr);
// Releases the slot, its group and every descriptor of both ends.
void drop_peer(Peer& peer);

// The server binary as a child process.
struct Server {
  pid_t pid = -1;
  int toServer = -1;    // requests
  int fromServer = -1;  // acknowledgements
  Server() = default;
  Server(Server&& other) noexcept;
  Server& operator=(Server&&) = delete;
  ~Server();
  void send(const std::string& data) const;
  // Exactly n bytes, or fewer when the server goes away or 5 s pass.
  std::string read(std::size_t n) const;
  // Waits (at most 10 s) for the end; the wait status.
  int wait();
  void close_requests();
};
// Descriptor form: argv = vlxsys IN OUT SPARE [extra...].
Server start_descriptor_form(const std::vector<std::string>& extra = {},
                             const std::vector<std::string>& env = {});
// Standard-input form, with options before (e.g. "-k").
Server start_stdin_form(const std::vector<std::string>& options = {}, const std::vector<std::string>& env = {});
// A socket connected to 127.0.0.1:`port`, tried for 2 s while the server
// comes up; -1 when it never answers.
int connect_local(int port);
// The exit status of a wait status; a signal's number negated.
int exit_status(int waitStatus);

}  // namespace vlxtest
