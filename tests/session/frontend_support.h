// The front-end server's side of the handshake: the front-end slot over a
// pipe pair or in-memory buffers, frames, RSA keys in "!keys", and a
// handshake run on its own thread so that the test can sign the challenge
// it received.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "support/peer.h"

namespace crvtest {

struct Frame {
  int type;
  std::string payload;
};

std::string frame(int type, const std::string& payload);
// A header frame and the body in data frames of at most `piece` bytes; the
// last data frame is an end frame (empty for an empty body).
std::string message(const std::string& header, const std::string& body, std::size_t piece = 1 << 20);
std::string session_header(const std::string& method = "POST", const std::string& url = "/$sessions");
std::string prolog_message();
// Splits bytes into frames; a trailing incomplete frame fails the test.
std::vector<Frame> frames(const std::string& bytes);

// The front-end slot Scomid as start-up creates it, in `mode` (0
// buffers, 1 pipes).
struct FrontEnd : vlxtest::Peer {
  explicit FrontEnd(int mode);
  ~FrontEnd();
  // Reads `count` frames, waiting for them (pipe mode).
  std::vector<Frame> wait_frames(int count);
};

// Status and frames of a whole handshake over pipes: the prolog is sent,
// then `session(challenge)` once the prolog answer has arrived.
struct Exchange {
  int status;
  std::vector<Frame> answers;  // prolog answer, then the session answer
  std::string challenge;
};
Exchange run_handshake(const std::function<std::string(const std::string& challenge)>& session);

// RSA key pair whose public part is written as "!keys"/name.pem; the
// caller frees it.
EVP_PKEY* make_key(const std::string& name);
// Base64 of the SHA-256 PKCS #1 v1.5 signature of user, NUL, challenge.
std::string sign(EVP_PKEY* key, const std::string& user, const std::string& challenge);

}  // namespace crvtest
