#include "session/CorvalisSession.h"

#include <charconv>
#include <climits>
#include <cstring>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "session/crvcom.h"
#include "values/varstr.h"

using namespace vlx;

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

}  // namespace

int CorvalisSession::Read() {
  std::string text;
  int st = crv_read_header(text);
  if (st < 0) return st;
  nlohmann::json json;
  if (!text.empty()) crv_parse(text, json);
  try {
    crv_text(json, "method", method);
    crv_text(json, "url", url);
    crv_text(json, "accept-language", acceptLanguage);
  } catch (const std::exception& e) {
    log::trace(log::system, "error: %s", e.what());
  }
  if (method == "POST") {
    kind = url == "/$sessions" ? 0 : -2;
  } else if (method == "DELETE") {
    kind = -1;
    connectionId = connection_of(url);
  } else {
    kind = -2;
  }
  if (kind < 0) return 0;

  st = crv_read_body(text);
  if (st < 0 || text.empty()) return st;
  crv_parse(text, json);
  try {
    std::string type;
    crv_text(json, "sessionType", type);
    if (json.contains("sessionType")) kind = type == "secondary" ? 2 : 1;
    long number;
    if (crv_number(json, "vlxtyp", INT_MIN, INT_MAX, number)) kind = static_cast<int>(number);
    if (crv_number(json, "connectionId", INT_MIN, INT_MAX, number)) connectionId = static_cast<int>(number);
    crv_text(json, "baseUrl", baseUrl);
    crv_text(json, "collaborationBaseUrl", collaborationBaseUrl);
    crv_text(json, "peerAddress", peerAddress);
    crv_text(json, "applicationConnectionData", applicationConnectionData);

    const nlohmann::json& auth = crv_object(json, "auth");
    crv_text(auth, "method", authMethod);
    crv_text(auth, "pubkey", authPubkey);
    crv_text(auth, "user", authUser);
    crv_text(auth, "signature", authSignature);

    const nlohmann::json& preferences = crv_object(json, "preferences");
    crv_text(preferences, "shortDateFormat", shortDateFormat);
    crv_text(preferences, "longDateFormat", longDateFormat);
    crv_text(preferences, "shortTimeFormat", shortTimeFormat);
    crv_text(preferences, "longTimeFormat", longTimeFormat);
    crv_text(preferences, "shortDatetimeFormat", shortDatetimeFormat);
    crv_text(preferences, "longDatetimeFormat", longDatetimeFormat);
    crv_text(preferences, "decimalSep", decimalSep);
    crv_text(preferences, "thousandsSep", thousandsSep);
    take_short(preferences, "twoDigitYearMax", 99, twoDigitYearMax);
    take_short(preferences, "firstDayOfWeek", 0, firstDayOfWeek);

    const nlohmann::json& fusion = crv_object(json, "fusionTech");
    take_short(fusion, "protocol", 0, protocol);
    crv_text(fusion, "wkf", workflow);

    const nlohmann::json& server = crv_object(json, "webServer");
    crv_text(server, "endpoint", endpoint);
    crv_text(server, "host", host);
    crv_text(server, "process", process);
    crv_text(server, "session", session);
    crv_text(server, "login", login);
    crv_text(server, "timestamp", timestamp);
    crv_text(server, "timezone", timezone);
    if (server.contains("enableAppCluster")) {
      if (!server["enableAppCluster"].is_boolean()) throw std::runtime_error("enableAppCluster: boolean expected");
      appCluster = server["enableAppCluster"].get<bool>() ? "true" : "false";
    }

    take_auth_token(json);
  } catch (const std::exception& e) {
    log::trace(log::system, "error: %s", e.what());
  }
  return 0;
}
