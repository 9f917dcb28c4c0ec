// The challenge of the prolog answer and the check of the caller's RSA
// signature over it.
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/opensslv.h>
#include <openssl/pem.h>
#include <uuid/uuid.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/vlxpath.h"
#include "diagnostics/dynlib.h"
#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "files/mess.h"
#include "session/crvcom.h"
#include "values/varstr.h"

using namespace vlx;

namespace {

constexpr int kSignatureMax = 1024;
constexpr int kUserMax = 1024;

struct VersionItem {
  int what;
  const char* label;
};
constexpr VersionItem kVersionItems[] = {
    {OPENSSL_VERSION, "VERSION"},
    {OPENSSL_CFLAGS, "CFLAGS"},
    {OPENSSL_BUILT_ON, "BUILT_ON"},
    {OPENSSL_PLATFORM, "PLATFORM"},
    {OPENSSL_DIR, "DIR"},
    {OPENSSL_ENGINES_DIR, "ENGINES_DIR"},
    {OPENSSL_VERSION_STRING, "VERSION_STRING"},
    {OPENSSL_FULL_VERSION_STRING, "FULL_VERSION_STRING"},
    {OPENSSL_MODULES_DIR, "MODULES_DIR"},
    {OPENSSL_CPU_INFO, "CPU_INFO"},
};

// The crypto library, loaded when a signature is first checked: only the
// front-end form needs it.
struct Crypto {
  decltype(&ERR_clear_error) clear_error;
  decltype(&ERR_get_error) get_error;
  decltype(&ERR_error_string_n) error_string_n;
  decltype(&OpenSSL_version) version;
  decltype(&EVP_get_digestbyname) digest_by_name;
  decltype(&PEM_read_PUBKEY_ex) read_public_key;
  decltype(&EVP_MD_CTX_new) context_new;
  decltype(&EVP_MD_CTX_free) context_free;
  decltype(&EVP_PKEY_free) key_free;
  decltype(&EVP_DigestInit) digest_init;
  decltype(&EVP_DigestUpdate) digest_update;
  decltype(&EVP_VerifyFinal) verify_final;
};

#define VLX_TEXT(x) #x
#define VLX_SONAME(version) "libcrypto.so." VLX_TEXT(version)

// The library's entry points, or null when it cannot be loaded.
const Crypto* crypto() {
  static const Crypto* loaded = []() -> const Crypto* {
    void* library = dl_library(VLX_SONAME(OPENSSL_SHLIB_VERSION));
    static Crypto c;
    bool found = library != nullptr && dl_entry(library, c.clear_error, "ERR_clear_error") &&
                 dl_entry(library, c.get_error, "ERR_get_error") &&
                 dl_entry(library, c.error_string_n, "ERR_error_string_n") &&
                 dl_entry(library, c.version, "OpenSSL_version") &&
                 dl_entry(library, c.digest_by_name, "EVP_get_digestbyname") &&
                 dl_entry(library, c.read_public_key, "PEM_read_PUBKEY_ex") &&
                 dl_entry(library, c.context_new, "EVP_MD_CTX_new") &&
                 dl_entry(library, c.context_free, "EVP_MD_CTX_free") &&
                 dl_entry(library, c.key_free, "EVP_PKEY_free") &&
                 dl_entry(library, c.digest_init, "EVP_DigestInit") &&
                 dl_entry(library, c.digest_update, "EVP_DigestUpdate") &&
                 dl_entry(library, c.verify_final, "EVP_VerifyFinal");
    return found ? &c : nullptr;
  }();
  return loaded;
}

void trace_ssl_error(const Crypto& ssl, int step) {
  char text[256];
  ssl.error_string_n(ssl.get_error(), text, sizeof text);
  log::trace(log::frontend, "[ verify step %d ] : [%s]", step, text);
}

// Key names come from the peer: anything that could leave "!keys" is
// simply not found there.
bool plain_name(const char* name) { return name[0] != '\0' && name[0] != '.' && std::strchr(name, '/') == nullptr; }

struct KeyFile {
  const Crypto& ssl;
  std::FILE* file = nullptr;
  EVP_PKEY* key = nullptr;
  EVP_MD_CTX* context = nullptr;
  explicit KeyFile(const Crypto& library) : ssl(library) {}
  ~KeyFile() {
    ssl.context_free(context);
    ssl.key_free(key);
    if (file != nullptr) std::fclose(file);
  }
  KeyFile(const KeyFile&) = delete;
  KeyFile& operator=(const KeyFile&) = delete;
};

int authentication_error() {
  const char* text = message(0, 13, kErrAuthentication);
  return err_vlx(kErrAuthentication, "%s", text[0] != '\0' ? text : catalogue_text(161));
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
  const Crypto* library = crypto();
  if (library == nullptr) return err_vlx(kErrInternal, "Cannot load the crypto library");
  const Crypto& ssl = *library;
  ssl.clear_error();
  log::trace(log::system, "OPENSSL >");
  for (const VersionItem& item : kVersionItems) log::trace(log::system, "\t%s > %s", item.label, ssl.version(item.what));

  std::string signed_text(user, strnlen(user, kUserMax));
  signed_text.push_back('\0');
  signed_text += challenge;

  unsigned char decoded[kSignatureMax];
  int decoded_length = decode64(decoded, sizeof decoded, signature);
  if (decoded_length < 0) return decoded_length;

  if (std::strcmp(method, "Q9RSA") != 0) {
    log::trace(log::frontend, "[ verify step 0 ] : [Unknown authentication method %s]", method);
    return err_vlx(kErrInternal, "Unknown authentication method %s", method);
  }

  log::trace(log::frontend, "[ verify step 1 ] : [RSA Authentication, init]");
  static const EVP_MD* digest = ssl.digest_by_name("SHA256");
  if (digest == nullptr) {
    trace_ssl_error(ssl, 1);
    return err_vlx(kErrInternal, "Unknown hash SHA256");
  }

  log::trace(log::frontend, "[ verify step 2 ] : [RSA Authentication, open key]");
  KeyFile k(ssl);
  std::string path = resolve_path("!keys", key_name, "pem");
  if (plain_name(key_name)) k.file = std::fopen(path.c_str(), "r");
  if (k.file == nullptr) {
    log::trace(log::frontend, "[ verify step 2 ] : [%s]", path);
    return err_vlx(kErrInternal, "Unable to find %s.pem", key_name);
  }

  log::trace(log::frontend, "[ verify step 3 ] : [RSA Authentication, read key]");
  k.key = ssl.read_public_key(k.file, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (k.key == nullptr) {
    trace_ssl_error(ssl, 3);
    return err_vlx(kErrInternal, "Unable to read %s.pem", key_name);
  }

  log::trace(log::frontend, "[ verify step 4 ] : [RSA Authentication, verify]");
  k.context = ssl.context_new();
  if (k.context == nullptr) return err_vlx(kErrInternal, "Cannot allocate a digest context");
  if (ssl.digest_init(k.context, digest) != 1 ||
      ssl.digest_update(k.context, signed_text.data(), signed_text.size()) != 1 ||
      ssl.verify_final(k.context, decoded, static_cast<unsigned>(decoded_length), k.key) != 1) {
    trace_ssl_error(ssl, 4);
    return authentication_error();
  }
  return 0;
}
