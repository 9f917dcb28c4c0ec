// The session message of the front-end server: creates the session
// (optionally proving the caller's identity) or deletes it.
#pragma once

#include <cstdint>
#include <string>

class CorvalisSession {
 public:
  // 0 create, 1 or 2 (primary, secondary) or the body's "vlxtyp" once the
  // body is read; -1 delete; -2 a request the engine does not serve.
  int kind = 0;
  int connectionId = 0;
  std::string method;
  std::string url;
  std::string acceptLanguage;
  std::string baseUrl;
  std::string collaborationBaseUrl;
  std::string peerAddress;
  std::string applicationConnectionData;
  std::string authMethod;
  std::string authPubkey;
  std::string authUser;
  std::string authSignature;
  std::string shortDateFormat, longDateFormat;
  std::string shortTimeFormat, longTimeFormat;
  std::string shortDatetimeFormat, longDatetimeFormat;
  std::string decimalSep, thousandsSep;
  std::int16_t twoDigitYearMax = 0;  // the value minus 99
  std::int16_t firstDayOfWeek = 0;
  std::int16_t protocol = 0;
  std::string workflow;
  std::string endpoint, host, process, session, login, timestamp, timezone;
  std::string appCluster;  // "true" or "false"

  // Reads the message from the front-end slot; the body is not read when
  // the header already makes the kind negative. Returns 0 or a negative
  // error; bad JSON or number text is logged and keeps the fields taken.
  int Read();
};
