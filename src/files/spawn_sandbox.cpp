#include "files/spawn_sandbox.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string_view>
#include <strings.h>
#include <vector>

#include "base/vlxpath.h"
#include "diagnostics/log.h"
#include "diagnostics/verbatim.h"
#include "diagnostics/vlxerr.h"
#include "files/cfgfil.h"
#include "memory/vlxcalls.h"

using namespace vlx;

std::string Origin_user;
std::string Current_user;

namespace {

constexpr const char* kRejectSeparator = "Sandbox management ---------------------------------------";
constexpr const char* kLogSeparator = "-------------------------------------------------";  // 49

int Rejected_fd = -1;
std::string Rejected_path;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool all_blank(const char* text) {
  for (; *text != '\0'; ++text)
    if (!is_blank(*text)) return false;
  return true;
}

// Logs why and records error 27 with the refused text.
int refuse(const char* why, const std::string& what) {
  log::trace(log::security, "%s", why);
  return err_vlx(kErrAccess, "%s", what.c_str());
}

// True when the shell would turn this word into other paths than the one
// checked: a tilde names a home folder, and a pattern the files it
// matches, a link out of the folder among them. The quotes that would keep
// the word literal are gone once the order is cut, so such a word is
// refused even when it was quoted.
bool shell_expands(const char* word) { return word[0] == '~' || std::strpbrk(word, "*?[") != nullptr; }

// An order cut into arguments, with the arguments that are redirection
// targets. Quotes group blanks into one argument and are dropped, and a
// backslash is taken away where the shell takes it away, so that a
// checked argument is the word the command will get.
struct Cut {
  std::vector<std::string> args;
  std::vector<int> redirections;  // argument numbers
  std::string modes;              // 'w' for ">", 'r' for "<"
};

Cut cut_order(const char* order) {
  Cut cut;
  std::string word;
  bool started = false;
  char quote = 0;
  auto end_word = [&] {
    if (started && cut.args.size() < kMaxArguments) cut.args.push_back(word);
    word.clear();
    started = false;
  };
  for (const char* p = order; *p != '\0'; ++p) {
    char c = *p;
    if (quote == '"') {
      if (c == '"') quote = 0;
      else if (c == '\\' && p[1] != '\0' && std::strchr("$`\"\\\n", p[1]) != nullptr) {
        if (*++p != '\n') word += *p;
      } else {
        word += c;
      }
      continue;
    }
    if (quote == 0 && c == '\\' && p[1] != '\0') {
      if (*++p != '\n') word += *p;
      started = true;
      continue;
    }
    if (c == '<' || c == '>') {
      end_word();
      while (p[1] == c) ++p;
      cut.redirections.push_back(static_cast<int>(cut.args.size()));
      cut.modes += c == '>' ? 'w' : 'r';
      continue;
    }
    if (quote == '\'') {
      if (c == '\'') quote = 0; else word += c;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
      started = true;
    } else if (is_blank(c)) {
      end_word();
    } else {
      word += c;
      started = true;
    }
  }
  end_word();
  return cut;
}

// Null-ended argument vector over a cut's texts.
std::vector<char*> argv_of(Cut& cut) {
  std::vector<char*> v;
  for (std::string& a : cut.args) v.push_back(a.data());
  v.push_back(nullptr);
  return v;
}

// Along PATH only, as the shell that runs the order looks: a file of the
// same name in the current folder is not what the shell would run, and
// checking it instead would let a harmless script there vouch for the
// program of that name. Each folder of a path costs a lookup of its own (a
// few microseconds each on some machines, once per open), so a folder
// that PATH names twice is looked in once.
std::optional<std::string> lookup_program(const char* name) {
  struct stat st;
  const char* path = std::getenv("PATH");
  if (path == nullptr) {
    log::trace(log::security, "Path null\n");
    return std::nullopt;
  }
  std::vector<std::string_view> seen;
  for (const char* p = path;;) {
    const char* end = std::strchr(p, ':');
    std::string_view dir(p, end == nullptr ? std::strlen(p) : static_cast<std::size_t>(end - p));
    if (std::find(seen.begin(), seen.end(), dir) == seen.end()) {
      seen.push_back(dir);
      std::string candidate = (dir.empty() ? std::string(".") : std::string(dir)) + "/" + name;
      if (::stat(candidate.c_str(), &st) == 0) return candidate;
    }
    if (end == nullptr) return std::nullopt;
    p = end + 1;
  }
}

int check_order(const char* order, char** arguments, int level, bool sourced = false);

// True when the order is a call and nothing else: no control operator,
// substitution or grouping of the shell outside single quotes ("$" and
// "`" substitute within double quotes too), no second line, no quote left
// open. "&" is allowed only right after a redirection character, as in
// "2>&1"; the redirection targets are checked on their own.
bool plain_call(const char* order) {
  char quote = 0;
  for (const char* p = order; *p != '\0'; ++p) {
    char c = *p;
    if (c == '\n') return false;
    if (quote == '\'') {
      if (c == '\'') quote = 0;
    } else if (c == '\\') {
      if (p[1] == '\0' || p[1] == '\n') return false;
      ++p;
    } else if (quote == '"') {
      if (c == '"') quote = 0;
      if (c == '$' || c == '`') return false;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '&') {
      if (p == order || (p[-1] != '>' && p[-1] != '<')) return false;
    } else if (std::strchr(";|()`${}\r", c) != nullptr) {
      return false;
    }
  }
  return quote == 0;
}

// The builtins of /bin/sh: a command of one of these names never runs a
// file.
bool is_builtin(const std::string& name) {
  static constexpr std::string_view kBuiltins[] = {
      ".",    ":",     "[",     "alias",    "bg",     "break",   "cd",    "chdir", "command", "continue",
      "echo", "eval",  "exec",  "exit",     "export", "false",   "fc",    "fg",    "getopts", "hash",
      "jobs", "kill",  "local", "printf",   "pwd",    "read",    "readonly", "return", "set", "shift",
      "test", "times", "trap",  "true",     "type",   "ulimit",  "umask", "unalias", "unset", "wait"};
  return std::find(std::begin(kBuiltins), std::end(kBuiltins), name) != std::end(kBuiltins);
}

// True when the shell reads `word` as one plain word, double quotes
// aside: no operator, redirection, substitution, escape or other quote.
bool plain_word(const std::string& word) {
  bool quoted = false;
  for (char c : word) {
    if (c == '"') quoted = !quoted;
    else if (std::strchr(quoted ? "$`\\" : ";&|<>()$`\\'\n\r", c) != nullptr) return false;
  }
  return true;
}

// A command that no white-list entry names: a comment, a sourced script,
// or a script file in an allowed folder whose every line is acceptable.
// The shell runs the whole order, so a script call must come alone: with
// its arguments and redirections, but no other command beside it. A
// `sourced` order is what follows ".": the shell reads its first word as a
// script whatever that word names, so only the script check applies. A
// `comment` opens with an unquoted "#".
int check_unlisted(const char* order, Cut& cut, int level, bool sourced, bool comment) {
  std::vector<char*> argv = argv_of(cut);
  const std::string& first = cut.args[0];
  if (!sourced && comment) {
    if (std::strchr(order, '\n') != nullptr) return refuse("Comment followed by another line", order);
    log::trace(log::security, "Comment\n");
    return 0;
  }
  if (!sourced && first == ".") {
    log::trace(log::security, "Call case\n");
    const char* rest = std::strchr(order, '.') + 1;
    while (is_blank(*rest)) ++rest;
    // "." alone would pass as an empty order, yet it is no script.
    if (*rest == '\0') return refuse("Order not found and rejected", order);
    return check_order(rest, argv.data(), level + 1, true);
  }
  if (!plain_call(order)) return refuse("Script call with other shell syntax rejected", order);
  // The shell runs its own builtin of that name, never a file found along
  // PATH, and eval, exec, command or trap run their arguments.
  if (first.find('/') == std::string::npos && is_builtin(first))
    return refuse("Shell builtin rejected", order);
  std::optional<std::string> program =
      first.find('/') != std::string::npos ? std::optional<std::string>(first) : lookup_program(first.c_str());
  // A folder or a device reads as no line at all, or never ends: only a
  // file's lines can be checked.
  struct stat st;
  if (!program || ::stat(program->c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return refuse("Order not found and rejected", order);
  if (!check_secured_path(program->c_str(), "r", 1)) return refuse("Command rejected by the sandbox", order);
  std::ifstream script(*program, std::ios::binary);
  if (!script) {
    log::trace(log::security, "Cannot open file %s", *program);
    return refuse("Order not found and rejected", order);
  }
  std::string line;
  while (std::getline(script, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // The shell reads the line whole: checking it in pieces would let
    // their joint meaning through.
    if (line.size() >= kScriptLine) return refuse("Script line too long", line);
    // The shell skips a NUL and reads on, where the check would stop.
    if (line.find('\0') != std::string::npos) return refuse("Script line with a NUL byte", line.c_str());
    if (line.empty()) continue;
    int st = check_order(line.c_str(), argv.data(), level + 1);
    if (st < 0) return st;
  }
  log::trace(log::security, "File analysed, no pass2 ");
  return pattern_pass3(argv.data(), cut.redirections.data(), cut.modes.data());
}

// A command a white-list entry names: its program location and its file
// parameters must lie where the entry says.
int check_listed(const char* order, Cut& cut, char** arguments, const char* path, int path_length,
                 const int* params, const char* modes) {
  std::vector<char*> argv = argv_of(cut);
  const std::string& first = cut.args[0];
  std::optional<std::string> program =
      first.find('/') != std::string::npos ? std::optional<std::string>(first) : lookup_program(first.c_str());
  if (path != nullptr && std::strcmp(path, "*") != 0) {
    if (!program) return refuse("Order not found and rejected", order);
    // Compared once normalised, so that ".." or a link cannot lead out.
    std::string resolved = normalize_path(*program);
    log::trace(log::security, "Result resolved : %s compare to %s", resolved, path);
    if (resolved.compare(0, static_cast<std::size_t>(path_length), path) != 0)
      return refuse("order rejected, it doesn't verify the path ", order);
  }
  int count = static_cast<int>(std::strlen(modes));
  for (int i = 0; i < count && params[i] != 0; ++i) {
    int index = params[i];
    const char* arg = index < static_cast<int>(cut.args.size()) ? cut.args[static_cast<std::size_t>(index)].c_str() : nullptr;
    std::size_t digits = arg != nullptr && arg[0] == '$' ? std::strspn(arg + 1, "0123456789") : 0;
    if (digits > 0 && digits <= 4 && arg[1 + digits] == '\0') {
      int n = std::atoi(arg + 1);
      const char* given = nullptr;
      for (int k = 0; arguments != nullptr && k <= n && arguments[k] != nullptr; ++k)
        if (k == n) given = arguments[k];
      arg = given;
    }
    if (arg == nullptr) return refuse("inconsistant parameter configuration", order);
    log::trace(log::security, "Checking parameter on sandbox %s", arg);
    if (shell_expands(arg) || !check_secured_path(arg, modes[i] == 'w' ? "w" : "r", 1))
      return refuse("Parameter rejected by the sandbox", arg);
  }
  log::trace(log::security, "order pass 2 accepted");
  return pattern_pass3(argv.data(), cut.redirections.data(), cut.modes.data());
}

int check_level(const char* order, char** arguments, int level, bool sourced) {
  if (level > kMaxLevel) {
    log::trace(log::security, "Check failed stack overflow\n");
    return err_vlx(kErrSystemNotAllowed, VLX_AT_LINE(kAtSandboxDepth, __LINE__));
  }
  if (level == 0) log::trace(log::security, kLogSeparator);
  if (order == nullptr || order[0] == '\0') {
    log::trace(log::security, "Empty Order");
    return 0;
  }
  log::trace(log::security, "Checking %s, level %d", order, level);
  log::trace(log::security, "Order to execute :%s", order);

  const char* start = order;
  while (is_blank(*start)) ++start;
  // The shell takes a first word NAME=value as an assignment and runs the
  // word after it, which no check below would look at as the program.
  std::size_t name = std::strspn(start, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_0123456789");
  if (name > 0 && !std::isdigit(static_cast<unsigned char>(*start)) && start[name] == '=')
    return refuse("Assignment rejected", order);
  const char* end = start;
  for (bool quoted = false; *end != '\0' && (quoted || !is_blank(*end)); ++end)
    if (*end == '"') quoted = !quoted;
  std::string program(start, end);
  std::size_t slash = program.rfind('/');
  std::string text = (slash == std::string::npos ? program : program.substr(slash + 1)) + end;

  const char* path = nullptr;
  const char* modes = nullptr;
  const int* params = nullptr;
  int path_length = 0;
  bool listed = !sourced && accept_spawn(text.c_str(), &path, &path_length, &params, &modes) == 1;
  if (listed) log::trace(log::security, "Pattern accepted : Go to pass2");

  Cut cut = cut_order(order);
  if (cut.args.empty()) {
    if (!listed && all_blank(order)) {
      log::trace(log::security, "Blanks line");
      return 0;
    }
    bsys_write_fmt("Sandbox management - Error Incorrect command format : %s", order);
    return err_vlx(kErrInternal, "Incorrect command format");
  }
  if (cut.redirections.size() > kMaxArguments) return refuse("Too many redirections", order);
  // A redirection may come first in the shell, which then runs the word
  // after its target: the checks below would take the target for the
  // program.
  if (std::find(cut.redirections.begin(), cut.redirections.end(), 0) != cut.redirections.end())
    return refuse("Redirection before the command rejected", order);
  // The order's own first character, not the cut's first word: a quoted
  // "#" is a command name to the shell, and what follows it runs.
  bool comment = *start == '#';
  // The white list sees the program's last name only: shell syntax before
  // it ("id;/bin/echo", "cat>/tmp/cat") would run unseen. A comment is
  // text.
  if (!comment && !plain_word(program)) return refuse("Command name with shell syntax rejected", order);
  cut.redirections.push_back(-1);
  log::trace(log::security, "Order cut arg0 : %s / arg1 : %s", cut.args[0],
             cut.args.size() > 1 ? cut.args[1] : std::string());
  if (!listed) return check_unlisted(order, cut, level, sourced, comment);
  return check_listed(order, cut, arguments, path, path_length, params, modes);
}

// Every level that refuses writes its line: a refused script line is
// found with the calls that led to it.
int check_order(const char* order, char** arguments, int level, bool sourced) {
  int st = check_level(order, arguments, level, sourced);
  if (st < 0) {
    bsys_write_fmt("Sandbox management - Command level %d rejected : %s", level, order);
    if (level == 0) bsys_write_fmt("%s", kRejectSeparator);
  }
  return st;
}

// The sandbox is off by the configuration or for the administrator.
bool sandbox_off() {
  if (IsWhitelistDisabled) {
    log::trace(log::security, "Sandbox management(find_syst_pattern ) - Sandbox disabled (IsWhitelistDisabled)");
    return true;
  }
  if (is_admin()) {
    log::trace(log::security, "Sandbox management(find_syst_pattern ) - Sandbox disabled (is_admin)");
    return true;
  }
  return false;
}

}  // namespace

bool is_admin() {
  return strcasecmp(Origin_user.c_str(), kAdministrator) == 0 && strcasecmp(Current_user.c_str(), kAdministrator) == 0;
}

int find_syst_pattern(const char* order, char** arguments, int level) {
  return sandbox_off() ? 0 : check_order(order, arguments, level);
}

int sandbox_check(const char* command) {
  if (sandbox_off()) return 0;
  if (command == nullptr || all_blank(command)) {
    log::trace(log::security, "Empty command rejected");
    bsys_write_fmt("Sandbox management - Command level 0 rejected : %s", command == nullptr ? "" : command);
    bsys_write_fmt("%s", kRejectSeparator);
    return err_vlx(kErrAccess, "%s", command == nullptr ? "" : command);
  }
  return find_syst_pattern(command, nullptr, 0);
}

int check_secured_path(const char* path, const char* mode, int flag) {
  if (IsWhitelistDisabled) {
    log::trace(log::security, "Sandbox management(check_secured_path) - Sandbox disabled (IsWhitelistDisabled): %s", path);
    return 1;
  }
  auto rejected = [&] {
    log::trace(log::security, "Sandbox management - File Path %s rejected", path);
    bsys_write_fmt("Sandbox management - File Path %s rejected", path);
    bsys_write_fmt("%s", kRejectSeparator);
    return 0;
  };
  if (!Secured_path || path == nullptr) return rejected();
  std::string normal = normalize_path(path);
  if (normal.empty()) return rejected();

  bool writing = std::strpbrk(mode, "wa") != nullptr;
  bool plus = std::strchr(mode, '+') != nullptr;
  struct stat st;
  bool directory = ::stat(normal.c_str(), &st) == 0 ? S_ISDIR(st.st_mode) : !writing && !plus;
  std::size_t last = normal.rfind('/');
  std::size_t dot = normal.rfind('.');
  std::string extension = dot != std::string::npos && dot > last ? normal.substr(dot + 1) : "";

  const s_secured_path* best = nullptr;
  for (const s_secured_path& entry : *Secured_path) {
    if (flag == 2 && !entry.secured) continue;
    if (best != nullptr && entry.length <= best->length) continue;
    bool root = entry.path == "/";
    if (normal.compare(0, entry.path.size(), entry.path) != 0) continue;
    if (!root && normal.size() > entry.path.size() && normal[entry.path.size()] != '/') continue;
    std::string rest = normal.size() > entry.path.size() ? normal.substr(entry.path.size() + (root ? 0 : 1)) : "";
    bool matches = entry.patterns.empty();
    for (const trex_ptr& pattern : entry.patterns) matches = matches || trex_match(pattern.get(), rest);
    if (matches) best = &entry;
  }
  if (best == nullptr) return rejected();
  if (!directory && best->patterns.empty() && (best->extensions.empty() || best->extensions[0] != "*")) {
    bool known = false;
    for (const std::string& e : best->extensions) known = known || e == extension;
    if (!known) return rejected();
  }
  if (!best->writable && (writing || plus)) return rejected();
  log::trace(log::security, "Sandbox management - File Path %s accepted (%s)", normal, best->path);
  return 1;
}

int pattern_pass3(char** arguments, int* redirections, char* modes) {
  log::trace(log::security, "order pass 3");
  int count = 0;
  while (arguments != nullptr && arguments[count] != nullptr) ++count;
  for (int i = 0; redirections != nullptr && redirections[i] >= 0 && i < kMaxArguments; ++i) {
    const char* target = redirections[i] < count ? arguments[redirections[i]] : nullptr;
    if (target == nullptr) return refuse("inconsistant parameter configuration", ">");
    if (std::strcmp(target, "/dev/null") == 0 || std::strncmp(target, "&1", 2) == 0) continue;
    if (shell_expands(target) || !check_secured_path(target, modes[i] == 'w' ? "w" : "r", 1))
      return refuse("Redirection rejected by the sandbox", target);
  }
  log::trace(log::security, "order pass 3 accepted");
  log::trace(log::security, "accepted");
  return 0;
}

int resolve_file(unsigned group, char** out, const char* name) {
  std::optional<std::string> found = name != nullptr ? lookup_program(name) : std::nullopt;
  if (!found) return 0;
  char* copy = static_cast<char*>(adg_malloc(group, found->size() + 1));
  if (copy == nullptr) return 0;
  std::memcpy(copy, found->c_str(), found->size() + 1);
  *out = copy;
  return 1;
}

int accept_spawn(const char* command, const char** path, int* path_length, const int** params, const char** modes) {
  for (const s_spawn& entry : white_list) {
    if (!entry.compiled || !trex_match(entry.compiled.get(), command)) continue;
    *path = entry.path ? entry.path->c_str() : nullptr;
    *path_length = entry.path ? static_cast<int>(entry.path->size()) : 0;
    *params = entry.params.data();
    *modes = entry.modes.c_str();
    return 1;
  }
  return 0;
}

std::string bsys_path() {
  if (Rejected_fd >= 0) return Rejected_path;
  if (!log::_directory.empty()) return resolve_path(log::_directory.c_str(), "rejected_system_cmd", "log");
  return vlx_tmp_dir() + "/rejected_system_cmd.log";
}

void bsys_write_fmt(const char* format, ...) {
  if (Rejected_fd < 0) {
    Rejected_path = bsys_path();
    Rejected_fd = ::open(Rejected_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
    if (Rejected_fd < 0) {
      log::trace(log::security, "Cannot open file %s", Rejected_path);
      return;
    }
  }
  char line[4096];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(line, sizeof line - 1, format, ap);
  va_end(ap);
  if (n < 0) return;
  std::size_t length = std::min(static_cast<std::size_t>(n), sizeof line - 2);
  line[length++] = '\n';
  for (std::size_t done = 0; done < length;) {
    ssize_t w = ::write(Rejected_fd, line + done, length - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    done += static_cast<std::size_t>(w);
  }
}

void bsys_close() {
  if (Rejected_fd >= 0) ::close(Rejected_fd);
  Rejected_fd = -1;
}
