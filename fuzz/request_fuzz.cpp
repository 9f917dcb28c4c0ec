// Whole requests through fsr_an with the system driver installed and the
// client channel in the in-memory mode. Input: the object byte, a 2-byte
// body length, the body, then the bytes that follow it on the stream.
// The sandbox allows only "cat" of one seed file, and a table on it is kept
// open in slot 1 (reopened when an input closed it).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "calc/acalc.h"
#include "channel/afd.h"
#include "channel/divcom.h"
#include "channel/fsrarq.h"
#include "channel/iocom.h"
#include "diagnostics/mess.h"
#include "diagnostics/vlxerr.h"
#include "files/cfgfil.h"
#include "files/vlxpath.h"
#include "memory/vlxcalls.h"
#include "memory/vlxcbu.h"
#include "session/kvscor.h"
#include "table/sysop.h"

namespace fs = std::filesystem;

namespace {

int In, Out;
std::string Table;

void write_file(const fs::path& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

bool initialise() {
  fs::path root = fs::temp_directory_path() / ("vlxfuzz_" + std::to_string(::getpid()));
  fs::create_directories(root / "tmp");
  fs::create_directories(root / "cfg");
  fs::create_directories(root / "data");
  fs::create_directory_symlink(fs::path(VLX_SOURCE_INSTALL) / "lan", root / "lan");
  Table = (root / "data" / "table").string();
  write_file(Table, "1 one x\n2 two y\n3 three z\n");
  write_file(root / "cfg" / "configRuntime.json",
             "{\"sandbox\":{\"directories\":[{\"path\":\"!data\"}],\"spawn\":[{\"pattern\":\"^cat " + Table +
                 "$\",\"path\":\"/usr/bin/\",\"params\":{\"index\":[1]},\"modes\":\"r\"}]}}");
  ::setenv("VLXDIR", root.c_str(), 1);
  ::setenv("TMPDIR", (root / "tmp").c_str(), 1);
  vlx_reset_install_dir();
  ini_malloc(4096);
  ignoreSignal();
  load_system_security();
  ini_mess("ENG");
  inicom("");
  afd_in();
  cbu_ini(512);
  fsring();
  sysisf();
  In = cbuf_open();
  Out = cbuf_open();
  i_tcom(1, nullptr, vlx_group(), 0, Out, In, Out, In, 20, nullptr);
  return true;
}

// Keeps a table open in slot 1 so that table requests reach real records.
void ensure_table() {
  if (Tsy[1] != nullptr) return;
  s_opn request{};
  std::snprintf(request.name, sizeof request.name, "cat %s", Table.c_str());
  request.fieldCount = 3;
  request.recordLength = 3 * 255;
  request.group = adg_get(nullptr, nullptr, 3, "fuzz table");
  static s_fld fields[3];
  for (int i = 0; i < 3; ++i) fields[i] = s_fld{static_cast<std::uint32_t>(i * 255), 306, 255, 0, "", 0};
  request.fields = fields;
  if (op_sys(&request) < 0) adg_free(request.group);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = initialise();
  (void)ready;
  if (size < 3) return 0;
  ensure_table();
  int object = data[0];
  std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(data[1] << 8 | data[2]), size - 3);
  if (length >= kRequestMax) length = kRequestMax - 1;
  char body[kRequestMax];
  std::copy(data + 3, data + 3 + length, body);
  cbuf_feed(In, data + 3 + length, static_cast<int>(size - 3 - length));
  setProtocolVersion(1, 20);
  sethdvcom(1, 20);
  fsr_an(object, body, static_cast<int>(length));
  cbuf_take_all(Out);
  // Bytes the request did not read belong to nobody: drop them.
  cbuf_close(In);
  In = cbuf_open();
  Com[1]->reqr = Com[1]->ackr = static_cast<std::uint32_t>(In);
  raz_err();
  return 0;
}
