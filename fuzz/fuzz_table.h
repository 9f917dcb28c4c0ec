// The engine as the fuzz targets run it: a private installation whose
// sandbox allows only "cat" of one data file, the system driver installed,
// the client channel in the in-memory mode, and a table on that file kept
// open in slot 1, so that filters, selections and key comparisons reach
// real records.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/vlxpath.h"
#include "calc/acalc.h"
#include "channel/afd.h"
#include "channel/divcom.h"
#include "channel/iocom.h"
#include "diagnostics/vlxerr.h"
#include "files/cfgfil.h"
#include "files/mess.h"
#include "memory/vlxcalls.h"
#include "memory/vlxcbu.h"
#include "support/scratch.h"
#include "table/afncompi.h"
#include "table/fsrarq.h"
#include "table/sysop.h"

namespace fuzztable {

inline int In, Out;
inline std::string Table;

inline void write_file(const std::filesystem::path& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

// Once per process.
inline void start() {
  namespace fs = std::filesystem;
  fs::path root = vlxtest::scratch_folder("vlxfuzz");
  fs::create_directories(root / "tmp");
  fs::create_directories(root / "cfg");
  fs::create_directories(root / "data");
  fs::create_directory_symlink(fs::path(VLX_SOURCE_INSTALL) / "lan", root / "lan");
  Table = (root / "data" / "table").string();
  write_file(Table, "1 one x\n2 two y\n3 three z\n");
  write_file(root / "cfg" / "configRuntime.json",
             "{\"sandbox\":{\"directories\":[{\"path\":\"!data\",\"extensions\":[\"*\"]}],\"spawn\":[{\"pattern\":\"^cat " +
                 Table + "$\",\"path\":\"/usr/bin/\",\"params\":{\"index\":[1]},\"modes\":\"r\"}],\"volumes\":[]}}");
  ::setenv("VLXDIR", root.c_str(), 1);
  ::setenv("TMPDIR", (root / "tmp").c_str(), 1);
  vlx_reset_install_dir();
  ini_malloc(4096);
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
}

// Keeps the table open in slot 1 (reopened when an input closed it).
inline void ensure_table() {
  if (Tsy[1] != nullptr) return;
  s_opn request{};
  std::snprintf(request.name, sizeof request.name, "cat %s", Table.c_str());
  request.fieldCount = 3;
  request.recordLength = 3 * 255;
  request.group = adg_get(nullptr, nullptr, kGrpTables, "fuzz table");
  static s_fld fields[3];
  for (int i = 0; i < 3; ++i) fields[i] = s_fld{static_cast<std::uint32_t>(i * 255), 306, 255, 0, "", 0};
  request.fields = fields;
  if (op_sys(&request) >= 0) return;
  // Without its table a target would test far less than it claims.
  std::fprintf(stderr, "fuzz table: cannot open '%s': %s\n", request.name, Errmes);
  std::abort();
}

// Takes the table back to no filter and no selection, so that each input
// starts from the same state.
inline void reset_table() {
  if (Tsy[1] == nullptr) return;
  s_fsr* d = Tsy[1]->descriptor;
  for (int f = 1; f <= kFilters; ++f) fsrdlw(d, f);
  for (int s = 0; s < kSelections; ++s) fsrdsel(d, s);
}

// Drops what the answers and unread bytes left on the channel.
inline void drain() {
  cbuf_take_all(Out);
  cbuf_close(In);
  In = cbuf_open();
  Com[1]->reqr = Com[1]->ackr = static_cast<std::uint32_t>(In);
  raz_err();
}

// Closes the tables an input opened besides slot 1, as a client would.
inline void close_others() {
  for (int slot = 2; slot < kTableSlots; ++slot) {
    if (Tsy[slot] == nullptr) continue;
    char close[] = {3, 9};
    fsr_an(slot, close, 2);
    drain();
  }
}

}  // namespace fuzztable
