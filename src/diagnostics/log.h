// Trace log of the process: one file, lines selected by channel bits.
//
// A line is written only when its channel shares a bit with the mask taken
// from <PROGRAM>_TRACE at start-up. With logging off every trace call costs
// a null test and a mask test; formatting happens only for enabled lines.
// Files rotate over five names "q9diary_<name>_<id>_<0..4>.tra"; each
// argument-type combination of `trace` keeps its own line counter and
// reopens the log when it reaches the limit (VLX_LOG_MAX_LINES; 0 sets no
// limit, 1 gives every line a file of its own).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace vlx {
template <class T> using span = std::span<T>;
}

namespace vlx::log {

enum channel : std::uint32_t {
  tick = 1,
  step = 2,
  sql = 4,
  query = 8,
  frontend = 16,
  request = 32,
  automaton = 128,
  config = 256,
  system = 512,
  security = 1024,
  fileops = 2048,
  timing = 4096,
  records = 8192,
  transform = 16384,
};

inline constexpr std::uint32_t kDefaultLimit = 2000000;
inline constexpr std::uint32_t kEnvMask = 0x7fff;

// Process-wide state.
extern std::FILE* _file;
extern std::uint32_t _channel;
extern std::uint32_t _limit;
extern int _id;
extern std::string _name;
extern std::string _user;
extern std::string _directory;

// Opens the file `name` ("<name>.tra" in `directory`, else in the temporary
// folder). A mask of 0 opens nothing and returns 0; returns -1 when the
// file cannot be created (logging is then off).
int open(std::string_view name, channel&& mask, std::string_view user, int id,
         std::string_view directory);
// Builds the next rotation name from `name` and `id` (0: the process id).
int open(channel&& mask, std::string_view name, int id, std::string_view directory);
int reopen();
// Closes the file; logging is off afterwards.
void close();
// Path of the file currently open (empty when off).
const std::string& path();

inline bool enabled(channel c) { return _file != nullptr && (_channel & c) != 0; }

void write_line(std::uint32_t c, const char* text);
void dump(channel&& c, vlx::span<const unsigned char> bytes);

namespace detail {
template <class T> inline decltype(auto) printable(const T& v) {
  if constexpr (std::is_same_v<T, std::string>)
    return v.c_str();
  else
    return v;
}
void reopen_for_limit(std::uint32_t& counter);

// What a printf conversion takes, by its length modifier and letter; the
// argument types that pass are those the compiler's printf checks accept.
template <class T>
constexpr bool takes(char length, char conversion) {
  using U = std::remove_cvref_t<std::decay_t<T>>;
  constexpr bool integer = std::is_integral_v<U> || std::is_enum_v<U>;
  switch (conversion) {
    case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': case 'c':
      if (!integer) return false;
      if (length == 'l') return sizeof(U) == sizeof(long);
      if (length == 'q') return sizeof(U) == sizeof(long long);
      if (length == 'z') return sizeof(U) == sizeof(std::size_t);
      return sizeof(U) <= sizeof(int);
    case 's':
      return std::is_same_v<U, const char*> || std::is_same_v<U, char*> || std::is_same_v<U, std::string>;
    case 'p': return std::is_pointer_v<U>;
    case 'f': case 'e': case 'g': return std::is_floating_point_v<U>;
    default: return false;
  }
}

// Checks each conversion of `format` against the next argument type; a
// mismatch stops the compilation at the throw.
template <class... Args>
consteval void check_format(const char* format) {
  using take = bool (*)(char, char);
  take arguments[] = {takes<Args>..., nullptr};
  bool is_int[] = {(std::is_integral_v<std::remove_cvref_t<Args>>)..., false};
  std::size_t next = 0;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') continue;
    if (*++p == '%') continue;
    while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0') ++p;
    for (int part = 0; part < 2; ++part) {
      if (part == 1 && *p != '.') break;
      if (part == 1) ++p;
      if (*p == '*') {
        if (next >= sizeof...(Args) || !is_int[next++]) throw "log format: '*' takes an int";
        ++p;
      }
      while (*p >= '0' && *p <= '9') ++p;
    }
    char length = 0;
    if (*p == 'h') length = *p++, length = *p == 'h' ? (++p, 'H') : 'h';
    else if (*p == 'l') length = *p++, length = *p == 'l' ? (++p, 'q') : 'l';
    else if (*p == 'z') length = *p++;
    if (next >= sizeof...(Args)) throw "log format: more conversions than arguments";
    if (!arguments[next++](length, *p)) throw "log format: a conversion does not take its argument";
  }
  if (next != sizeof...(Args)) throw "log format: more arguments than conversions";
}
}  // namespace detail

// A trace line's printf format, checked against the argument types where
// the line is written.
template <class... Args>
struct format {
  const char* text;
  consteval format(const char* f) : text(f) { detail::check_format<Args...>(f); }
};

template <class... Args>
inline void trace(channel&& c, std::type_identity_t<format<Args...>> format, Args&&... args) {
  if (_file == nullptr || (_channel & c) == 0) return;
  static std::uint32_t counter;  // one per argument-type combination
  detail::reopen_for_limit(counter);
  if (_file == nullptr) return;
  char text[4096];
  // The format was checked where it was written.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::snprintf(text, sizeof text, format.text, detail::printable(args)...);
#pragma GCC diagnostic pop
  write_line(c, text);
}

}  // namespace vlx::log

// Start-up: reads <PROGRAM>_TRACE for the program at `program` and opens the
// log when it holds a non-zero mask. A value that is not a decimal integer
// leaves logging off and is reported on standard error.
void config_log_by_environment(std::filesystem::path program);

// Set when logging was configured from the environment: err_vlx then also
// writes its diagnostic context and call stack.
extern bool startFlushContext;
