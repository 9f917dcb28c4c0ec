// The prolog message of the front-end server: the first message of the
// handshake, which opens the connection.
#pragma once

#include <string>

class CorvalisProlog {
 public:
  std::string server;
  std::string folder;
  std::string acceptLanguage;
  int runtimeLog = 0;
  std::string runtimeLogDir;
  std::string runtimeLogLabel;
  std::string runtimeLogDesc;

  // Reads the message from the front-end slot and empties Qryctx.
  // Returns 0 or a negative error; bad JSON is logged and leaves the
  // fields not yet taken empty.
  int Read();
};
