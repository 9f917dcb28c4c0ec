// Raw frame streams into the two handshake readers, over an in-memory
// front-end slot: the first byte picks the reader.
#include <cstddef>
#include <cstdint>

#include "channel/divcom.h"
#include "channel/iocom.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "session/CorvalisProlog.h"
#include "session/CorvalisSession.h"
#include "session/crvcom.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = (ini_malloc(4096), true);
  (void)ready;
  if (size == 0) return 0;
  int in = cbuf_open(), out = cbuf_open();
  unsigned group = adg_get(nullptr, nullptr, kGrpCommunications, "fuzz front-end");
  Scomid = 1;
  i_tcom(Scomid, nullptr, group, 0, out, in, out, in, 6, nullptr);
  cbuf_feed(in, data + 1, static_cast<int>(size - 1));
  if (data[0] & 1) {
    CorvalisSession session;
    session.Read();
  } else {
    CorvalisProlog prolog;
    prolog.Read();
  }
  comFree(Scomid);
  adg_free(group);
  cbuf_close(in);
  cbuf_close(out);
  raz_err();
  return 0;
}
