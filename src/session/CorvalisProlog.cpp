#include "session/CorvalisProlog.h"

#include <climits>

#include <nlohmann/json.hpp>

#include "session/crvcom.h"

int CorvalisProlog::Read() {
  Qryctx[0] = '\0';
  nlohmann::json json;
  int st = crv_read_header(json);
  if (st < 0) return st;
  crv_take([&] { crv_text(json, "accept-language", acceptLanguage); });
  st = crv_read_body(json);
  if (st < 0) return st;
  crv_take([&] {
    crv_text(json, "server", server);
    crv_text(json, "folder", folder);
    long number;
    if (crv_number(json, "runtimeLog", INT_MIN, INT_MAX, number)) runtimeLog = static_cast<int>(number);
    crv_text(json, "runtimeLogDir", runtimeLogDir);
    crv_text(json, "runtimeLogLabel", runtimeLogLabel);
    crv_text(json, "runtimeLogDesc", runtimeLogDesc);
  });
  return 0;
}
