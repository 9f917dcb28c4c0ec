// The real server binary as a child process, spoken to as a client would.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace e2e {

struct Server {
  pid_t pid = -1;
  int toServer = -1;    // requests
  int fromServer = -1;  // acknowledgements
  ~Server();
  void send(const std::string& bytes) const;
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

// A request with the 3-byte header.
std::string request(int code, const std::string& body);
std::string bytes(std::initializer_list<int> values);

}  // namespace e2e
