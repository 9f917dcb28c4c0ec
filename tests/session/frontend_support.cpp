#include "frontend_support.h"

#include <openssl/pem.h>

#include <cstdio>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "base/bigend.h"
#include "base/vlxpath.h"
#include "channel/divcom.h"
#include "channel/iocom.h"
#include "session/crvcom.h"
#include "support/vlxtest.h"
#include "values/varstr.h"

namespace crvtest {

std::string frame(int type, const std::string& payload) {
  unsigned char head[5];
  put_be32(head, static_cast<std::uint32_t>(payload.size() + 1));
  head[4] = static_cast<unsigned char>(type);
  return std::string(reinterpret_cast<char*>(head), 5) + payload;
}

std::string message(const std::string& header, const std::string& body, std::size_t piece) {
  std::string out = frame(kFrameHeader, header);
  std::size_t at = 0;
  while (body.size() - at > piece) {
    out += frame(kFrameData, body.substr(at, piece));
    at += piece;
  }
  return out + frame(kFrameEnd, body.substr(at));
}

std::string session_header(const std::string& method, const std::string& url) {
  return nlohmann::json{{"method", method}, {"url", url}, {"accept-language", "en-US"}}.dump();
}

std::string prolog_message() {
  return message(R"({"method":"POST","url":"/$connections","accept-language":"en"})",
                 R"({"server":"web1","folder":"X3","runtimeLog":"0"})");
}

std::vector<Frame> frames(const std::string& bytes) {
  std::vector<Frame> out;
  for (std::size_t at = 0; at < bytes.size();) {
    if (bytes.size() - at < 5) {
      ADD_FAILURE() << "incomplete frame head";
      break;
    }
    std::uint32_t length = get_be32(reinterpret_cast<const unsigned char*>(bytes.data() + at));
    if (length == 0 || bytes.size() - at - 5 < length - 1) {
      ADD_FAILURE() << "incomplete frame of " << length << " bytes";
      break;
    }
    out.push_back({static_cast<unsigned char>(bytes[at + 4]), bytes.substr(at + 5, length - 1)});
    at += 4 + length;
  }
  return out;
}

FrontEnd::FrontEnd(int mode) {
  EXPECT_EQ(comSlot(14, 1, &Scomid), 0);
  s_abv abbreviation;
  comabv(14, 1, &abbreviation);
  static_cast<vlxtest::Peer&>(*this) = vlxtest::make_peer(Scomid, mode, 6, &abbreviation);
  Crvlast = 'L';
}

FrontEnd::~FrontEnd() { vlxtest::drop_peer(*this); }

std::vector<Frame> FrontEnd::wait_frames(int count) {
  std::vector<Frame> out;
  for (int i = 0; i < count; ++i) {
    std::string head = wait(5);
    if (head.size() < 5) break;
    std::string payload = wait(get_be32(reinterpret_cast<const unsigned char*>(head.data())) - 1);
    out.push_back({static_cast<unsigned char>(head[4]), payload});
  }
  return out;
}

Exchange run_handshake(const std::function<std::string(const std::string&)>& session) {
  FrontEnd front(1);
  Exchange result{-100, {}, {}};
  front.send(prolog_message());
  std::thread engine([&] {
    result.status = crv_handshake();
    com_flush_all();
  });
  result.answers = front.wait_frames(2);
  if (result.answers.size() == 2 && result.answers[0].payload.find("\"status\":201") != std::string::npos) {
    auto body = nlohmann::json::parse(result.answers[1].payload, nullptr, false);
    if (body.is_object()) result.challenge = body["auth"].value("challenge", "");
    front.send(session(result.challenge));
  }
  // A handshake that waits for more than was sent meets the end of the stream.
  front.close_writer();
  engine.join();
  for (Frame& f : frames(front.received())) result.answers.push_back(f);
  return result;
}

EVP_PKEY* make_key(const std::string& name) {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024));
  std::FILE* file = std::fopen(resolve_path("!keys", name.c_str(), "pem").c_str(), "w");
  EXPECT_NE(file, nullptr);
  EXPECT_EQ(PEM_write_PUBKEY(file, key), 1);
  std::fclose(file);
  return key;
}

std::string sign(EVP_PKEY* key, const std::string& user, const std::string& challenge) {
  std::string text = user + std::string(1, '\0') + challenge;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  unsigned char signature[512];
  size_t length = sizeof signature;
  EXPECT_EQ(EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key), 1);
  EXPECT_EQ(EVP_DigestSign(context, signature, &length, reinterpret_cast<const unsigned char*>(text.data()),
                           text.size()),
            1);
  EVP_MD_CTX_free(context);
  char out[1024];
  encode64(out, sizeof out, signature, static_cast<int>(length));
  return out;
}

}  // namespace crvtest
