#include "session/crvcom.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "base/bigend.h"
#include "channel/divcom.h"
#include "channel/iocom.h"
#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "files/mess.h"
#include "session/CorvalisProlog.h"
#include "session/CorvalisSession.h"
#include "values/varstr.h"

using namespace vlx;

int Scomid = 0;
char Qryctx[256];
char Crvlast = 'L';

namespace {

constexpr int kFrameHead = 5;

// Reason phrases of the HTTP statuses an answer may carry.
struct Reason {
  int status;
  const char* text;
};
constexpr Reason kReasons[] = {
    {100, "Continue"}, {101, "Switching Protocols"}, {102, "Processing"},
    {200, "OK"}, {201, "Created"}, {202, "Accepted"}, {203, "Non-Authoritative Information"},
    {204, "No Content"}, {205, "Reset Content"}, {206, "Partial Content"}, {207, "Multi-Status"},
    {208, "Already Reported"},
    {300, "Multiple Choices"}, {301, "Moved Permanently"}, {302, "Found"}, {303, "See Other"},
    {304, "Not Modified"}, {305, "Use Proxy"}, {307, "Temporary Redirect"}, {308, "Permanent Redirect"},
    {400, "Bad Request"}, {401, "Unauthorized"}, {402, "Payment Required"}, {403, "Forbidden"},
    {404, "Not Found"}, {405, "Method Not Allowed"}, {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"}, {408, "Request Timeout"}, {409, "Conflict"}, {410, "Gone"},
    {411, "Length Required"}, {412, "Precondition Failed"}, {413, "Payload Too Large"},
    {414, "URI Too Long"}, {415, "Unsupported Media Type"}, {416, "Range Not Satisfiable"},
    {417, "Expectation Failed"}, {418, "I'm a teapot"}, {421, "Misdirected Request"},
    {422, "Unprocessable Entity"}, {423, "Locked"}, {424, "Failed Dependency"}, {425, "Too Early"},
    {426, "Upgrade Required"}, {428, "Precondition Required"}, {429, "Too Many Requests"},
    {431, "Request Header Fields Too Large"},
    {500, "Internal Server Error"}, {501, "Not Implemented"}, {502, "Bad Gateway"},
    {503, "Service Unavailable"}, {504, "Gateway Timeout"}, {505, "HTTP Version Not Supported"},
    {506, "Variant Also Negotiates"}, {507, "Insufficient Storage"},
};

const char* reason_of(int status) {
  for (const Reason& r : kReasons)
    if (r.status == status) return r.text;
  return nullptr;
}

bool have_slot() { return com_slot(Scomid) != nullptr; }

int forbidden() { return err_vlx(kErrPermission, "Function call forbidden in this context"); }

// Error answers go to the front-end slot's answer descriptor; before the
// slot exists they go to descriptor 1, where the front-end server listens.
int write_raw(const void* bytes, int count) {
  if (have_slot()) return wl_ack(Scomid, bytes, count);
  return count > 0 ? w_pipe(1, static_cast<unsigned char*>(const_cast<void*>(bytes)), count, 0) : 0;
}

int write_frame(CorvalisFrame type, const char* payload, int length) {
  log_write_json(kFrameSent, type, payload, length);
  unsigned char head[kFrameHead];
  put_be32(head, static_cast<std::uint32_t>(length) + 1);
  head[4] = static_cast<unsigned char>(type);
  int st = write_raw(head, kFrameHead);
  return st < 0 ? st : write_raw(payload, length);
}

// A broken stream leaves nothing worth keeping pending: the caller answers
// with the error number alone.
int read_exact(void* bytes, int count) {
  int st = rl_crv_req(Scomid, bytes, count);
  if (st >= 0) return 0;
  int e = err_vlx(kErrInternal, "Frame communication Error : %d, System Error %d", st, Vlxerrno);
  raz_err();
  return e;
}

int read_head(std::uint32_t* payload, int* type) {
  unsigned char head[kFrameHead];
  int st = read_exact(head, kFrameHead);
  if (st < 0) return st;
  std::uint32_t length = get_be32(head);
  *payload = length > 0 ? length - 1 : 0;
  *type = head[4];
  return 0;
}

int read_payload(std::string& out, std::uint32_t length, int type) {
  if (out.size() + length > kFrameMax)
    return err_vlx(kErrInternal, "Frame too long : %zu bytes (at most %u)", out.size() + length, kFrameMax);
  std::size_t start = out.size();
  out.resize(start + length);
  int st = read_exact(out.data() + start, static_cast<int>(length));
  if (st < 0) return st;
  log_write_json(kFrameReceived, static_cast<CorvalisFrame>(type), out.data() + start, static_cast<int>(length));
  return 0;
}

// The answers' headers and bodies are short texts of fixed form.
template <class... Args>
std::string format(const char* pattern, Args... args) {
  char text[2048];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::snprintf(text, sizeof text, pattern, args...);
#pragma GCC diagnostic pop
  return text;
}

int write_answer(const std::string& header, std::string body) {
  char* bodies[] = {body.data(), nullptr};
  int lengths[] = {static_cast<int>(body.size())};
  return wr_frame_rsp(header.data(), static_cast<int>(header.size()), bodies, lengths, 'A');
}

std::string escaped(const char* text, int size) {
  std::string out(static_cast<std::size_t>(size), '\0');
  out.resize(static_cast<std::size_t>(escapeJson(out.data(), size, text, static_cast<int>(std::strlen(text)))));
  return out;
}

// A syntax error is logged and leaves `out` null.
void parse(const std::string& text, nlohmann::json& out) {
  out = nullptr;
  if (text.empty()) return;
  try {
    out = nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& e) {
    log::trace(log::system, "error: %s", e.what());
    out = nullptr;
  }
}

}  // namespace

int crv_read_header(nlohmann::json& header) {
  header = nullptr;
  if (!have_slot()) return forbidden();
  std::uint32_t payload;
  int type;
  int st = read_head(&payload, &type);
  if (st < 0 || type != kFrameHeader || payload == 0) return st;
  std::string text;
  st = read_payload(text, payload, type);
  if (st == 0) parse(text, header);
  return st;
}

int crv_read_body(nlohmann::json& body) {
  body = nullptr;
  if (!have_slot()) return forbidden();
  std::string text;
  for (;;) {
    std::uint32_t payload;
    int type;
    int st = read_head(&payload, &type);
    if (st < 0) return st;
    bool data = type == kFrameData || type == kFrameEnd;
    if (data && payload > 0)
      st = read_payload(text, payload, type);
    else if (data)
      log_write_json(kFrameReceived, static_cast<CorvalisFrame>(type), nullptr, 0);
    if (st < 0) return st;
    if (type == kFrameEnd) break;
  }
  parse(text, body);
  return 0;
}

void crv_take(const std::function<void()>& take) {
  try {
    take();
  } catch (const std::exception& e) {
    log::trace(log::system, "error: %s", e.what());
  }
}

namespace {

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(key);
  return it == object.end() || it->is_null() ? nullptr : &*it;
}

[[noreturn]] void bad_value(const char* key, const char* expected) {
  throw std::runtime_error(std::string(key) + ": " + expected + " expected");
}

}  // namespace

void crv_text(const nlohmann::json& object, const char* key, std::string& field) {
  const nlohmann::json* value = member(object, key);
  if (value == nullptr) return;
  // A number or a boolean where text is expected is read as its text.
  field = value->is_string() ? value->get_ref<const std::string&>() : value->dump();
}

bool crv_number(const nlohmann::json& object, const char* key, long low, long high, long& out) {
  const nlohmann::json* value = member(object, key);
  if (value == nullptr) return false;
  long number = 0;
  if (value->is_number_unsigned()) {
    if (value->get<unsigned long>() > static_cast<unsigned long>(high)) bad_value(key, "number in range");
    number = static_cast<long>(value->get<unsigned long>());
  } else if (value->is_number_integer()) {
    number = value->get<long>();
  } else if (value->is_string()) {
    const std::string& text = value->get_ref<const std::string&>();
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) bad_value(key, "decimal number");
  } else {
    bad_value(key, "number");
  }
  if (number < low || number > high) bad_value(key, "number in range");
  out = number;
  return true;
}

const nlohmann::json& crv_object(const nlohmann::json& object, const char* key) {
  static const nlohmann::json none;
  const nlohmann::json* value = member(object, key);
  if (value == nullptr) return none;
  if (!value->is_object()) bad_value(key, "object");
  return *value;
}

void log_write_json(int direction, CorvalisFrame type, const char* payload, int length) {
  if (!log::enabled(log::frontend)) return;
  const char* way = direction == kFrameSent ? "Send" : "Received";
  const char* shown = "";
  int shown_length = 0;
  if (payload != nullptr && length > 0) {
    bool json = payload[0] == '{' && payload[length - 1] == '}';
    shown = json ? payload : "binary data";
    shown_length = json ? length : static_cast<int>(std::strlen(shown));
  }
  switch (type) {
    case kFrameHeader:
      log::trace(log::frontend, "%s Header    : [ len : %d, json : %.*s ]", way, length, shown_length, shown);
      break;
    case kFrameData:
      log::trace(log::frontend, "%s Data part : [ len : %d, json : %.*s ]", way, length, shown_length, shown);
      break;
    case kFrameEnd:
      log::trace(log::frontend, "%s Data end  : [ len : %d, json : %.*s ]", way, length, shown_length, shown);
      break;
    default: log::trace(log::frontend, "Illegal code : %d", static_cast<int>(type));
  }
}

int wr_frame_rsp(const char* header, int header_length, char** bodies, int* lengths, unsigned short option) {
  if (!have_slot()) return forbidden();
  bool opening = Crvlast == 'A' || Crvlast == 'L';
  bool allowed = opening ? option == 'A' || option == 'F' : option == 'N' || option == 'L';
  if (!allowed) return err_vlx(kErrCallSequence, VLX_WHERE("src/session/crvcom", __LINE__, "wr_frame_rsp"));
  Crvlast = static_cast<char>(option);
  int st = 0;
  if (option == 'A' || option == 'F') st = write_frame(kFrameHeader, header, header_length);
  if (st < 0) return st;
  switch (option) {
    case 'A':
      for (int i = 0; st >= 0 && bodies[i] != nullptr; ++i)
        st = write_frame(bodies[i + 1] == nullptr ? kFrameEnd : kFrameData, bodies[i], lengths[i]);
      return st;
    case 'F':
    case 'N': return write_frame(kFrameData, bodies[0], lengths[0]);
    default: return write_frame(kFrameEnd, bodies[0], lengths[0]);
  }
}

int wr_prolog_ok(int id, char* challenge, char* language) {
  std::string header = format(
      "{\"status\":201,\"message\":\"Created\",\"location\":\"/$connections('%d')\",\"content-type\":\"application/json\"}",
      id);
  std::string last = language == nullptr ? "}" : format(",\"q9Lan\":\"%.5s\"}", language);
  std::string body = format("{\"id\":\"%d\",\"processId\":%d,\"auth\":{\"method\":\"Q9RSA\",\"challenge\":\"%s\"}%s", id,
                            static_cast<int>(::getpid()), challenge, last.c_str());
  return write_answer(header, body);
}

int wr_session_ok(int id) {
  std::string header = format(
      "{\"status\":201,\"message\":\"Created\",\"location\":\"/$sessions('%d')\",\"content-type\":\"application/json\"}", id);
  return write_answer(header, format("{\"id\":\"%d\"}", id));
}

int wr_del_session_ok() {
  std::string header = "{\"status\":204,\"message\":\"No Content\"}";
  log::trace(log::system, "Send Corvalis end of session ack:%s", header);
  return write_answer(header, "");
}

int wr_prolog_err(int status, const char* message) {
  // A status without a reason phrase (an engine error number) is reported
  // to the front-end server as an internal error.
  const char* reason = reason_of(status);
  if (reason == nullptr) status = 500, reason = reason_of(500);
  std::string header = "{\"status\":" + std::to_string(status) + ",\"message\":\"" + reason +
                       "\",\"content-type\":\"application/json;vnd.tarn.corvalis.representation=" +
                       (Qryctx[0] != '\0' ? Qryctx : "connection") + ".$diagnoses\"}";
  std::string body;
  if (message != nullptr && message[0] != '\0') {
    std::string text = escaped(message, 513);
    body = "{\"$diagnoses\":[{\"$severity\":\"error\", \"$message\":\"Q9 engine error: " + text +
           "\", \"$stackTrace\": \"Q9 engine error: " + text + "\\n<empty stack>\"}]}";
  }
  int st = write_frame(kFrameHeader, header.data(), static_cast<int>(header.size()));
  return st < 0 ? st : write_frame(kFrameEnd, body.data(), static_cast<int>(body.size()));
}

int wr_session_err(int status, const char* message) { return wr_prolog_err(status, message); }

int kvs_wr_std_err(int error) {
  std::string header = format(
      "{\"status\":500,\"message\":\"Internal Server Error\",\"content-type\":\"application/"
      "json;vnd.tarn.corvalis.representation=q9.erp.%s.$diagnoses\"}",
      "NoApplication");
  std::string text = escaped(Errmes, static_cast<int>(2 * sizeof Errmes));
  if (error != Errvlx) {
    const char* catalogue = message(0, 13, error);
    text += " (" + escaped(catalogue[0] != '\0' ? catalogue : catalogue_text(error), 256) + ")";
  }
  return write_answer(header, "{\"$diagnoses\":[{\"severity\":\"error\", \"message\":\"" + text + "\"}]}");
}

void setcinf(const char* text, int which) {
  char* field = which == 0 ? Cmhusr[2] : Cmhpwd[2];
  std::snprintf(field, sizeof Cmhusr[2], "%s", text);
}

int crv_handshake() {
  char challenge[256] = "";
  {
    CorvalisProlog prolog;
    int st = prolog.Read();
    if (st >= 0) st = gen_challenge(challenge, sizeof challenge);
    if (st >= 0) st = wr_prolog_ok(kCorvalisAppId, challenge, nullptr);
    if (st != 0) {
      wr_prolog_err(st, Errmes);
      return -1;
    }
  }
  CorvalisSession session;
  int st = session.Read();
  if (st < 0) {
    kvs_wr_std_err(-st);
    return -1;
  }
  if (session.kind == -2) {
    wr_session_err(400, "Inconsistant data");
    return -1;
  }
  if (session.kind == -1 && session.connectionId == kCorvalisAppId) {
    wr_del_session_ok();
    return -2;
  }
  if (session.kind == -1 || session.connectionId != kCorvalisAppId) {
    wr_session_err(400, "Invalid Application Identifier");
    return -1;
  }
  if (!session.authMethod.empty() &&
      verify_signature(session.authSignature.c_str(), session.authMethod.c_str(), session.authPubkey.c_str(),
                       session.authUser.c_str(), challenge) < 0) {
    wr_session_err(500, Errmes);
    return -1;
  }
  return -wr_session_ok(kCorvalisAppId);
}
