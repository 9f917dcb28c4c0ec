// The challenge of the prolog answer and the check of the caller's RSA
// signature over it.
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <uuid/uuid.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "diagnostics/log.h"
#include "diagnostics/mess.h"
#include "diagnostics/vlxerr.h"
#include "files/vlxpath.h"
#include "session/crvcom.h"
#include "values/varstr.h"

using namespace vlx;

namespace {

constexpr int kSignatureMax = 1024;
constexpr int kUserMax = 1024;

struct VersionItem {
  int what;
  const char* line;
};
constexpr VersionItem kVersionItems[] = {
    {OPENSSL_VERSION, "\tVERSION > %s"},
    {OPENSSL_CFLAGS, "\tCFLAGS > %s"},
    {OPENSSL_BUILT_ON, "\tBUILT_ON > %s"},
    {OPENSSL_PLATFORM, "\tPLATFORM > %s"},
    {OPENSSL_DIR, "\tDIR > %s"},
    {OPENSSL_ENGINES_DIR, "\tENGINES_DIR > %s"},
    {OPENSSL_VERSION_STRING, "\tVERSION_STRING > %s"},
    {OPENSSL_FULL_VERSION_STRING, "\tFULL_VERSION_STRING > %s"},
    {OPENSSL_MODULES_DIR, "\tMODULES_DIR > %s"},
    {OPENSSL_CPU_INFO, "\tCPU_INFO > %s"},
};

void trace_ssl_error(int step) {
  char text[256];
  ERR_error_string_n(ERR_get_error(), text, sizeof text);
  log::trace(log::frontend, "[ verify step %d ] : [%s]", step, text);
}

// Key names come from the peer: anything that could leave "!keys" is
// simply not found there.
bool plain_name(const char* name) { return name[0] != '\0' && name[0] != '.' && std::strchr(name, '/') == nullptr; }

struct KeyFile {
  std::FILE* file = nullptr;
  EVP_PKEY* key = nullptr;
  EVP_MD_CTX* context = nullptr;
  ~KeyFile() {
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(key);
    if (file != nullptr) std::fclose(file);
  }
};

int authentication_error() {
  const char* text = message(0, 13, 161);
  return err_vlx(161, "%s", text[0] != '\0' ? text : catalogue_text(161));
}

}  // namespace

int gen_challenge(char* out, int size) {
  uuid_t ids[2];
  uuid_generate(ids[0]);
  uuid_generate(ids[1]);
  unsigned char bytes[sizeof ids];
  std::memcpy(bytes, ids, sizeof bytes);
  int st = encode64(out, size, bytes, static_cast<int>(sizeof bytes));
  return st < 0 ? st : 0;
}

int verify_signature(const char* signature, const char* method, const char* key_name, const char* user,
                     const char* challenge) {
  ERR_clear_error();
  log::trace(log::system, "OPENSSL >");
  for (const VersionItem& item : kVersionItems) log::trace(log::system, item.line, OpenSSL_version(item.what));

  std::string signed_text(user, strnlen(user, kUserMax));
  signed_text.push_back('\0');
  signed_text += challenge;

  unsigned char decoded[kSignatureMax];
  int decoded_length = decode64(decoded, sizeof decoded, signature);
  if (decoded_length < 0) return decoded_length;

  if (std::strcmp(method, "Q9RSA") != 0) {
    log::trace(log::frontend, "[ verify step 0 ] : [Unknown authentication method %s]", method);
    return err_vlx(26, "Unknown authentication method %s", method);
  }

  log::trace(log::frontend, "[ verify step 1 ] : [RSA Authentication, init]");
  static const EVP_MD* digest = EVP_get_digestbyname("SHA256");
  if (digest == nullptr) {
    trace_ssl_error(1);
    return err_vlx(26, "Unknown hash SHA256");
  }

  log::trace(log::frontend, "[ verify step 2 ] : [RSA Authentication, open key]");
  KeyFile k;
  std::string path = resolve_path("!keys", key_name, "pem");
  if (plain_name(key_name)) k.file = std::fopen(path.c_str(), "r");
  if (k.file == nullptr) {
    log::trace(log::frontend, "[ verify step 2 ] : [%s]", path);
    return err_vlx(26, "Unable to find %s.pem", key_name);
  }

  log::trace(log::frontend, "[ verify step 3 ] : [RSA Authentication, read key]");
  k.key = PEM_read_PUBKEY_ex(k.file, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (k.key == nullptr) {
    trace_ssl_error(3);
    return err_vlx(26, "Unable to read %s.pem", key_name);
  }

  log::trace(log::frontend, "[ verify step 4 ] : [RSA Authentication, verify]");
  k.context = EVP_MD_CTX_new();
  if (k.context == nullptr) return err_vlx(26, "Cannot allocate a digest context");
  if (EVP_DigestInit(k.context, digest) != 1 ||
      EVP_DigestUpdate(k.context, signed_text.data(), signed_text.size()) != 1 ||
      EVP_VerifyFinal(k.context, decoded, static_cast<unsigned>(decoded_length), k.key) != 1) {
    trace_ssl_error(4);
    return authentication_error();
  }
  return 0;
}
