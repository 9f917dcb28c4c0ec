#include "diagnostics/log.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/vlxpath.h"

bool startFlushContext = false;

namespace vlx::log {

std::FILE* _file = nullptr;
std::uint32_t _channel = 0;
std::uint32_t _limit = kDefaultLimit;
int _id = 0;
std::string _name;
std::string _user;
std::string _directory;

namespace {
unsigned Rotation;  // advanced modulo 5 by each rotation name built
std::string Path;
// Set while the log opens or reopens a file: the lines it writes about
// that are not counted, or a limit of one line would reopen without end.
bool Opening;

struct OpeningGuard {
  bool was = Opening;
  OpeningGuard() { Opening = true; }
  ~OpeningGuard() { Opening = was; }
};
}  // namespace

const std::string& path() { return Path; }

void write_line(std::uint32_t c, const char* text) {
  std::fprintf(_file, "<channel %u>%s\n", c, text);
  std::fflush(_file);
}

void close() {
  if (_file != nullptr) std::fclose(_file);
  _file = nullptr;
  Path.clear();
}

int open(std::string_view name, channel&& mask, std::string_view user, int id,
         std::string_view directory) {
  if (mask == 0) return 0;
  OpeningGuard guard;
  _name.assign(name);
  _user.assign(user);
  _directory.assign(directory);
  std::string path;
  if (!directory.empty()) {
    std::string dir(directory);
    path = resolve_path(dir.c_str(), _name.c_str(), "tra");
  } else {
    path = vlx_tmp_dir() + "/" + _name + ".tra";
  }
  if (_file != nullptr) {
    const char* vlxdir = std::getenv("VLXDIR");
    trace(system, "log open level:%u Logdir:%s Lognam:%s file:'%s' (VLXDIR:'%s')",
          static_cast<unsigned>(mask), _directory, _name, path, vlxdir ? vlxdir : "");
    close();
  }
  _file = std::fopen(path.c_str(), "w");
  if (_file == nullptr) return -1;
  Path = path;
  _id = id;
  _channel = mask;
  if (const char* max = std::getenv("VLX_LOG_MAX_LINES"); max != nullptr && *max != '\0')
    _limit = static_cast<std::uint32_t>(std::strtoul(max, nullptr, 10));
  if (enabled(system)) trace(system, "Log maximum number of lines:%li", static_cast<long>(_limit));
  if (enabled(timing)) trace(timing, ";path;function;elapse;tick;misc;CLOCKS_PER_SEC:%u;", 1000000u);
  return 0;
}

int open(channel&& mask, std::string_view name, int id, std::string_view directory) {
  std::string file = "q9diary_";
  file += name.empty() ? std::string_view("unknown") : name;
  // Appended piece by piece: g++ 12 at -O3 warns (-Wrestrict) on the
  // temporary that a chained concatenation builds.
  file += '_';
  file += std::to_string(id == 0 ? ::getpid() : id);
  file += '_';
  file += std::to_string(Rotation);
  Rotation = (Rotation + 1) % 5;
  return open(file, std::move(mask), name, id, directory);
}

int reopen() {
  OpeningGuard guard;
  trace(system, "log reopen (%u,%s,%i,%s)", _channel, _user, _id, _directory);
  std::string user = _user, directory = _directory;
  return open(static_cast<channel>(_channel), user, _id, directory);
}

namespace detail {
// A limit of 0 sets none.
void reopen_for_limit(std::uint32_t& counter) {
  if (Opening || _limit == 0) return;
  if (++counter >= _limit) {
    counter = 0;
    reopen();
  }
}
}  // namespace detail

void dump(channel&& c, vlx::span<const unsigned char> bytes) {
  if (!enabled(c)) return;
  std::fprintf(_file, "<channel %u>\n", static_cast<unsigned>(c));
  for (std::size_t line = 0; line < bytes.size(); line += 16) {
    std::size_t end = std::min(bytes.size(), line + 16);
    char text[16 * 3 + 4 + 16 + 2];
    char* p = text;
    for (std::size_t i = line; i < line + 16; ++i) {
      if (i < end)
        p += std::sprintf(p, " %02x", bytes[i]);
      else
        p += std::sprintf(p, "   ");
    }
    p += std::sprintf(p, "    ");
    for (std::size_t i = line; i < end; ++i) *p++ = bytes[i] < 32 ? '.' : static_cast<char>(bytes[i]);
    *p++ = '\n';
    std::fwrite(text, 1, static_cast<std::size_t>(p - text), _file);
  }
  std::fflush(_file);
}

}  // namespace vlx::log

void config_log_by_environment(std::filesystem::path program) {
  using namespace vlx;
  log::trace(log::system, "config_log_by_environment process name:%s", program.string());
  std::string name = program.has_extension() && program.has_stem() ? program.stem().string()
                                                                     : program.filename().string();
  log::trace(log::system, "config_log_by_environment name:'%s'", name);
  std::string var = name + "_TRACE";
  for (char& ch : var) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  log::trace(log::system, "config_log_by_environment(%s)", var);
  const char* value = std::getenv(var.c_str());
  if (value == nullptr || *value == '\0') return;
  errno = 0;
  char* end = nullptr;
  long mask = std::strtol(value, &end, 10);
  while (end != nullptr && std::isspace(static_cast<unsigned char>(*end))) ++end;
  if (end == value || *end != '\0' || errno != 0) {
    std::fprintf(stderr, "%s: ignoring %s='%s': not a decimal integer\n", name.c_str(), var.c_str(), value);
    return;
  }
  if (mask == 0) return;
  log::trace(log::system, "config_log_by_environment(%s):%d", var, static_cast<int>(mask));
  log::open(static_cast<log::channel>(mask & log::kEnvMask), name, ::getpid(), "");
  startFlushContext = true;
}
