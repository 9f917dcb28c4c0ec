#include "session/CorvalisProlog.h"

#include <climits>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "diagnostics/log.h"
#include "session/crvcom.h"

using namespace vlx;

int CorvalisProlog::Read() {
  Qryctx[0] = '\0';
  std::string text;
  int st = crv_read_header(text);
  if (st < 0) return st;
  nlohmann::json json;
  if (!text.empty()) crv_parse(text, json);
  try {
    crv_text(json, "accept-language", acceptLanguage);
  } catch (const std::exception& e) {
    log::trace(log::system, "error: %s", e.what());
  }

  st = crv_read_body(text);
  if (st < 0 || text.empty()) return st;
  crv_parse(text, json);
  try {
    crv_text(json, "server", server);
    crv_text(json, "folder", folder);
    long number;
    if (crv_number(json, "runtimeLog", INT_MIN, INT_MAX, number)) runtimeLog = static_cast<int>(number);
    crv_text(json, "runtimeLogDir", runtimeLogDir);
    crv_text(json, "runtimeLogLabel", runtimeLogLabel);
    crv_text(json, "runtimeLogDesc", runtimeLogDesc);
  } catch (const std::exception& e) {
    log::trace(log::system, "error: %s", e.what());
  }
  return 0;
}
