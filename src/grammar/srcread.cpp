#include "grammar/srcread.h"

#include "diagnostics/vlxerr.h"
#include "files/vlxfile.h"
#include "grammar/gram.h"
#include "memory/vlxcalls.h"
#include "values/varstr.h"

int Lec_mode = 1;
const char* Src_txt = "";
const char16_t* Src_txt16 = u"";

namespace {

std::size_t Position = 0;  // next unit of Src_txt or Src_txt16
unsigned File_group = 0;   // holds the source file's channel
int File_channel = 0;
char Pending[3];           // UTF-8 bytes of the current UCS-2 unit not yet handed out
int Pending_next = 0, Pending_end = 0;

void close_file() {
  if (File_channel > 0) adf_close(File_channel);
  if (File_group != 0) adg_free(File_group);
  File_channel = 0;
  File_group = 0;
}

void start(int mode) {
  close_file();
  Lec_mode = mode;
  Position = 0;
  Pending_next = Pending_end = 0;
}

}  // namespace

int file_open(const char* path) {
  start(0);
  File_group = adg_get(nullptr, nullptr, 0, "source %.200s", path);
  if (File_group == 0) return Vstat1 > 0 ? -Vstat1 : err_vlx(31, "file_open");
  int channel = adf_open(File_group, path, "r");
  if (channel < 0) {
    close_file();
    return channel;
  }
  File_channel = channel;
  return 0;
}

void inter_open(const char* text) {
  start(1);
  Src_txt = text;
}

void clbini(const char16_t* text) {
  start(2);
  Src_txt16 = text;
}

int src_getc() {
  switch (Lec_mode) {
    case 0: {
      if (File_channel <= 0) return -1;
      unsigned char c;
      int n = adf_read(File_channel, &c, 1);
      if (n == 1) return c;
      if (n < 0) gra_errmsg(-n, 0, "source file read");
      close_file();
      return -1;
    }
    case 1: {
      unsigned char c = static_cast<unsigned char>(Src_txt[Position]);
      if (c == 0) return -1;
      Position++;
      return c;
    }
    case 2: {
      if (Pending_next == Pending_end) {
        char16_t unit = Src_txt16[Position];
        if (unit == 0) return -1;
        Position++;
        Pending_end = ucs2utf(Pending, sizeof Pending, unit);
        Pending_next = 0;
      }
      return static_cast<unsigned char>(Pending[Pending_next++]);
    }
    default: return -1;
  }
}

std::string loadSource() {
  std::string text;
  if (Lec_mode == 1) {
    text = Src_txt + Position;
    Position += text.size();
    return text;
  }
  for (int c; (c = src_getc()) >= 0;) text += static_cast<char>(c);
  return text;
}

int utf8_count(const char* p, std::size_t bytes) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(p);
  int count = 0;
  for (std::size_t i = 0; i < bytes; count++) {
    unsigned lead = s[i];
    std::size_t size = lead == 0 ? 0 : lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 0;
    if (size == 0 || i + size > bytes) return -1;
    for (std::size_t k = 1; k < size; k++)
      if ((s[i + k] & 0xC0) != 0x80) return -1;
    // The shortest form only: a longer one could hide a NUL or reach a
    // character by two spellings.
    if ((size == 2 && lead < 0xC2) || (size == 3 && lead == 0xE0 && s[i + 1] < 0xA0)) return -1;
    i += size;
  }
  return count;
}
