#include "files/mess.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/vlxpath.h"
#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "files/vlxfile.h"
#include "memory/vlxcalls.h"

using namespace vlx;

s_messfile Messfile[2];
char Bmess[256];
char Vmessname[256];
char Omessname[256];

namespace {

constexpr int kChapterStep = 64;
constexpr int kLineMax = 1024;
unsigned Messgroup;

// Reads one line without its LF and CR, cut to 255 bytes. Returns the
// bytes consumed (0 at end) or a negative error.
int read_line(int channel, char* line) {
  char buffer[kLineMax + 1];
  int n = adf_uget(channel, buffer, kLineMax, '\n');
  if (n <= 0) return n;
  int length = n;
  // A line longer than the buffer: drop the rest of it.
  int consumed = n;
  while (buffer[length - 1] != '\n' && length == kLineMax) {
    int more = adf_uget(channel, buffer, kLineMax, '\n');
    if (more <= 0) break;
    consumed += more;
    if (buffer[more - 1] == '\n') break;
  }
  if (length > 0 && buffer[length - 1] == '\n') --length;
  if (length > 0 && buffer[length - 1] == '\r') --length;
  if (length > 255) length = 255;
  std::memcpy(line, buffer, static_cast<std::size_t>(length));
  line[length] = '\0';
  return consumed;
}

bool is_chapter_mark(const char* line) { return line[0] == '\f' && line[1] == '\0'; }

// The length prefix rule: "<digits>\t<text>" keeps at most that many
// characters of the text (255 when the number is below 1).
void apply_prefix(const char* line, char* out) {
  const char* p = line;
  while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
  std::size_t limit = 255;
  if (p != line && *p == '\t') {
    long n = std::strtol(line, nullptr, 10);
    limit = n < 1 || n > 255 ? 255 : static_cast<std::size_t>(n);
    line = p + 1;
  }
  std::size_t length = std::min(std::strlen(line), limit);
  std::memcpy(out, line, length);
  out[length] = '\0';
}

void close_file(s_messfile& f) {
  if (f.channel > 0) adf_close(f.channel);
  f = s_messfile{};
}

// Fills `out` (256 bytes) with the message; false when there is none.
bool find_message(int file, int chapter, int line, char* out) {
  out[0] = '\0';
  if (file < 0 || file > 1 || line < 0 || Messfile[file].channel <= 0) return false;
  s_messfile& f = Messfile[file];
  if (chapter < 0 || chapter >= f.Nbchap) {
    adf_seek(f.channel, 0, SEEK_END);
    return false;
  }
  if (adf_seek(f.channel, f.Smess[chapter], SEEK_SET) < 0) return false;
  char text[256];
  for (int number = 0;; ++number) {
    std::int64_t start = adf_tell(f.channel);
    int n = read_line(f.channel, text);
    if (n <= 0 || is_chapter_mark(text)) {
      adf_seek(f.channel, start, SEEK_SET);
      return false;
    }
    if (number == line) break;
  }
  apply_prefix(text, out);
  return true;
}

}  // namespace

int ini_mess(const char* language) {
  Errtext = [](int number) { return message(0, 13, number); };
  std::string lang = language == nullptr || language[0] == '\0' ? "ENG" : language;
  std::string path = resolve_path("!lan", lang.c_str(), nullptr);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    log::trace(log::system, "ini_mess(%s) unsupported language: use the default language instead (%s)", lang, "ENG");
    return 0;
  }
  s_messfile& f = Messfile[0];
  if (f.channel > 0 && lang == Vmessname) return 0;
  end_mess();
  Messgroup = adg_get(nullptr, nullptr, kGrpServer, "%s", lang.c_str());
  if (Messgroup == 0) return -Vstat1;
  std::snprintf(Vmessname, 255, "%s", lang.c_str());
  std::snprintf(Omessname, 255, "%s", lang.c_str());
  f.channel = adf_open(Messgroup, path.c_str(), "r");
  if (f.channel < 0) {
    f.channel = 0;
    return -Vstat1;
  }
  f.Smess = static_cast<std::int64_t*>(adg_malloc(Messgroup, kChapterStep * sizeof(std::int64_t)));
  if (f.Smess == nullptr) {
    close_file(f);
    return err_vlx(kErrInternal, "open_mess");
  }
  f.capacity = kChapterStep;
  f.Smess[0] = 0;
  int chapters = 1;
  char line[256];
  for (;;) {
    int n = read_line(f.channel, line);
    if (n < 0) {
      close_file(f);
      return err_vlx(kErrMessageFile, "%s", path.c_str());
    }
    if (n == 0) break;
    if (!is_chapter_mark(line)) continue;
    if (chapters == f.capacity) {
      void* grown = adg_realloc(Messgroup, f.Smess, (f.capacity + kChapterStep) * sizeof(std::int64_t));
      if (grown == nullptr) {
        close_file(f);
        return err_vlx(kErrInternal, "open_mess");
      }
      f.Smess = static_cast<std::int64_t*>(grown);
      f.capacity += kChapterStep;
    }
    f.Smess[chapters++] = adf_tell(f.channel);
  }
  f.Nbchap = chapters;
  return 0;
}

void end_mess() {
  close_file(Messfile[0]);
  close_file(Messfile[1]);
  if (Messgroup != 0) adg_free(Messgroup);
  Messgroup = 0;
  Vmessname[0] = Omessname[0] = '\0';
}

const char* message(int file, int chapter, int line) {
  if (find_message(file, chapter, line, Bmess))
    log::trace(log::system, "message(%i,%i,%i)=%s", file, chapter, line, Bmess);
  return Bmess;
}

char* getmes(char* out, int file, int chapter, int line) {
  if (file < 0 || file > 1 || line < 0 || out == nullptr) {
    err_vlx(kErrInternal, "getmes");
    return nullptr;
  }
  find_message(file, chapter, line, out);
  return out;
}

const char* next_mess(int file) {
  Bmess[0] = '\0';
  if (file < 0 || file > 1 || Messfile[file].channel <= 0) return nullptr;
  char text[256];
  if (read_line(Messfile[file].channel, text) <= 0) return nullptr;
  apply_prefix(text, Bmess);
  return Bmess;
}

int ini_isolan(const char* code, char* out) {
  std::strcpy(out, "ENG");
  if (code == nullptr || code[0] == '\0' || code[1] == '\0') return 0;
  unsigned group = adg_get(nullptr, nullptr, kGrpServer, "ini_isolan");
  if (group == 0) return -Vstat1;
  std::string path = resolve_path("!lan", "ISO", nullptr);
  int channel = adf_open(group, path.c_str(), "r");
  if (channel < 0) {
    adg_free(group);
    return channel;
  }
  char line[12];
  int n;
  while ((n = adf_uget(channel, line, 11, '\n')) > 0) {
    if (n >= 6 && line[0] == code[0] && line[1] == code[1] && line[2] == ':') {
      std::memcpy(out, line + 3, 3);
      out[3] = '\0';
      break;
    }
    // A line longer than 11 bytes: skip its rest.
    while (n == 11 && line[10] != '\n' && (n = adf_uget(channel, line, 11, '\n')) == 11) {
    }
  }
  adf_close(channel);
  adg_free(group);
  return n < 0 ? n : 0;
}
