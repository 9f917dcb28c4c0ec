#include "session/CorvalisSession.h"

#include <charconv>
#include <climits>
#include <cstring>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "diagnostics/vlxerr.h"
#include "session/crvcom.h"
#include "values/varstr.h"

namespace {

// The id in "/$connections('%d')"; 0 when the url has another form.
int connection_of(const std::string& url) {
  static const std::string prefix = "/$connections('";
  int id = 0;
  if (url.compare(0, prefix.size(), prefix) == 0)
    std::from_chars(url.data() + prefix.size(), url.data() + url.size(), id);
  return id;
}

void take_short(const nlohmann::json& object, const char* key, long offset, std::int16_t& field) {
  long number;
  if (crv_number(object, key, INT16_MIN + offset, INT16_MAX + offset, number))
    field = static_cast<std::int16_t>(number - offset);
}

// "user:password" in Base64: the credentials of host entry 2.
void take_auth_token(const nlohmann::json& body) {
  std::string token;
  crv_text(body, "sysAuthToken", token);
  if (token.empty()) return;
  unsigned char decoded[256];
  int n = decode64(decoded, sizeof decoded - 1, token.c_str());
  if (n < 0) {
    std::string reason = std::string("sysAuthToken: ") + Errmes;
    raz_err();
    throw std::runtime_error(reason);
  }
  decoded[n] = '\0';
  char* text = reinterpret_cast<char*>(decoded);
  char* colon = std::strchr(text, ':');
  if (colon != nullptr) *colon = '\0';
  setcinf(text, 0);
  setcinf(colon != nullptr ? colon + 1 : "", 1);
}

// Text keys of the body and of its objects, in the order they are taken.
struct TextKey {
  const char* key;
  std::string CorvalisSession::*field;
};
using S = CorvalisSession;
constexpr TextKey kBodyTexts[] = {
    {"baseUrl", &S::baseUrl}, {"collaborationBaseUrl", &S::collaborationBaseUrl},
    {"peerAddress", &S::peerAddress}, {"applicationConnectionData", &S::applicationConnectionData}};
constexpr TextKey kAuthTexts[] = {
    {"method", &S::authMethod}, {"pubkey", &S::authPubkey}, {"user", &S::authUser}, {"signature", &S::authSignature}};
constexpr TextKey kPreferenceTexts[] = {
    {"shortDateFormat", &S::shortDateFormat}, {"longDateFormat", &S::longDateFormat},
    {"shortTimeFormat", &S::shortTimeFormat}, {"longTimeFormat", &S::longTimeFormat},
    {"shortDatetimeFormat", &S::shortDatetimeFormat}, {"longDatetimeFormat", &S::longDatetimeFormat},
    {"decimalSep", &S::decimalSep}, {"thousandsSep", &S::thousandsSep}};
constexpr TextKey kWebServerTexts[] = {
    {"endpoint", &S::endpoint}, {"host", &S::host}, {"process", &S::process}, {"session", &S::session},
    {"login", &S::login}, {"timestamp", &S::timestamp}, {"timezone", &S::timezone}};

template <std::size_t N>
void take_texts(CorvalisSession& s, const nlohmann::json& object, const TextKey (&keys)[N]) {
  for (const TextKey& k : keys) crv_text(object, k.key, s.*k.field);
}

}  // namespace

int CorvalisSession::Read() {
  nlohmann::json json;
  int st = crv_read_header(json);
  if (st < 0) return st;
  crv_take([&] {
    crv_text(json, "method", method);
    crv_text(json, "url", url);
    crv_text(json, "accept-language", acceptLanguage);
  });
  if (method == "POST") {
    kind = url == "/$sessions" ? 0 : -2;
  } else if (method == "DELETE") {
    kind = -1;
    connectionId = connection_of(url);
  } else {
    kind = -2;
  }
  if (kind < 0) return 0;

  st = crv_read_body(json);
  if (st < 0) return st;
  crv_take([&] {
    std::string type;
    crv_text(json, "sessionType", type);
    if (json.contains("sessionType")) kind = type == "secondary" ? 2 : 1;
    long number;
    if (crv_number(json, "vlxtyp", INT_MIN, INT_MAX, number)) kind = static_cast<int>(number);
    if (crv_number(json, "connectionId", INT_MIN, INT_MAX, number)) connectionId = static_cast<int>(number);
    take_texts(*this, json, kBodyTexts);
    take_texts(*this, crv_object(json, "auth"), kAuthTexts);

    const nlohmann::json& preferences = crv_object(json, "preferences");
    take_texts(*this, preferences, kPreferenceTexts);
    take_short(preferences, "twoDigitYearMax", 99, twoDigitYearMax);
    take_short(preferences, "firstDayOfWeek", 0, firstDayOfWeek);

    const nlohmann::json& fusion = crv_object(json, "fusionTech");
    take_short(fusion, "protocol", 0, protocol);
    crv_text(fusion, "wkf", workflow);

    const nlohmann::json& server = crv_object(json, "webServer");
    take_texts(*this, server, kWebServerTexts);
    if (server.contains("enableAppCluster")) {
      if (!server["enableAppCluster"].is_boolean()) throw std::runtime_error("enableAppCluster: boolean expected");
      appCluster = server["enableAppCluster"].get<bool>() ? "true" : "false";
    }

    take_auth_token(json);
  });
  return 0;
}
