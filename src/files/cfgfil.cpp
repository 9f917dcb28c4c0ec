#include "files/cfgfil.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "base/vlxpath.h"
#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"

using namespace vlx;
using json = nlohmann::json;

bool IsWhitelistDisabled;
bool AllowConsole;
bool SecuredEnv;
std::optional<std::vector<s_secured_path>> Secured_path;
std::vector<s_spawn> white_list;
std::vector<s_volume> Volumes;
std::string Remote_shell = kDefaultRemoteShell;

namespace {

// Texts a white-listed command line should never carry, since it runs
// through the shell.
constexpr const char* kShellHazards[][2] = {
    {";", "a semicolon"}, {"|", "a pipe"},           {"&", "an ampersand"}, {"$", "a dollar sign"},
    {"`", "a backquote"}, {"\n", "a line feed"},     {"..", "\"..\""},
};

// A path of the configuration: "!name/rest" is a folder of the installation.
std::string config_path(const std::string& text) {
  if (text.empty() || text[0] != '!') return text;
  std::size_t slash = text.find('/');
  std::string folder = text.substr(0, slash);
  std::string rest = slash == std::string::npos ? "" : text.substr(slash + 1);
  std::string path = resolve_path(folder.c_str(), rest.c_str(), nullptr);
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool flag(const json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_boolean() && it->get<bool>();
}

std::optional<std::string> text(const json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::vector<std::string> texts(const json& object, const char* key) {
  std::vector<std::string> out;
  auto it = object.find(key);
  if (it == object.end() || !it->is_array()) return out;
  for (const json& v : *it)
    if (v.is_string()) out.push_back(v.get<std::string>());
  return out;
}

const json* array(const json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_array() ? &*it : nullptr;
}

int load_sandbox_directories(const json& sandbox) {
  const json* list = array(sandbox, "directories");
  if (list == nullptr) return err_vlx(kErrInternal, "load_sandbox_directories");
  std::vector<s_secured_path> table;
  for (const json& d : *list) {
    auto path = d.is_object() ? text(d, "path") : std::nullopt;
    if (!path) continue;
    s_secured_path entry;
    entry.path = normalize_path(config_path(*path));
    if (entry.path.empty()) {
      log::trace(log::security, "Sandbox management - Directory %s cannot be normalised", path->c_str());
      continue;
    }
    entry.length = static_cast<int>(entry.path.size());
    entry.pattern_texts = texts(d, "pattern");
    entry.npatterns = static_cast<int>(entry.pattern_texts.size());
    entry.writable = flag(d, "writable");
    entry.secured = flag(d, "secured");
    if (auto v = text(d, "volume"); v && !v->empty()) entry.volume = (*v)[0];
    entry.extensions = texts(d, "extensions");
    entry.nextensions = static_cast<int>(entry.extensions.size());
    log::trace(log::security, "Sandbox management - Directory %s writable:%d secured:%d", entry.path,
               entry.writable ? 1 : 0, entry.secured ? 1 : 0);
    table.push_back(std::move(entry));
  }
  Secured_path = std::move(table);
  return 0;
}

std::vector<int> parameter_indexes(const json& entry) {
  // The object's first array holds the numbers, whatever its key.
  std::vector<int> out;
  auto it = entry.find("params");
  if (it == entry.end() || !it->is_object()) return out;
  for (const json& member : *it) {
    if (!member.is_array()) continue;
    for (const json& n : member) {
      if (!n.is_number_integer()) continue;
      int value = n.get<int>();
      if (value <= 0) break;
      out.push_back(value);
    }
    break;
  }
  return out;
}

int load_sandbox_spawn(const json& sandbox) {
  const json* list = array(sandbox, "spawn");
  if (list == nullptr) return err_vlx(kErrInternal, "load_sandbox_spawn");
  for (const json& s : *list) {
    auto pattern = s.is_object() ? text(s, "pattern") : std::nullopt;
    if (!pattern) continue;
    s_spawn entry;
    entry.pattern = *pattern;
    if (auto path = text(s, "path")) {
      if (*path == "*") {
        entry.path = "*";
      } else {
        std::string resolved = normalize_path(config_path(*path));
        if (!resolved.empty() && path->back() == '/' && resolved.back() != '/') resolved += '/';
        entry.path = resolved.empty() ? *path : resolved;
      }
    }
    entry.params = parameter_indexes(s);
    entry.params.push_back(0);
    entry.modes = text(s, "modes").value_or("").substr(0, kMaxModes);
    white_list.push_back(std::move(entry));
  }
  return 0;
}

int load_sandbox_volumes(const json& sandbox) {
  const json* list = array(sandbox, "volumes");
  if (list == nullptr) return err_vlx(kErrInternal, "load_sandbox_volumes");
  if (list->size() > kMaxVolumes) return err_vlx(kErrInternal, "Too many volumes");
  for (const json& v : *list) {
    if (!v.is_object()) continue;
    s_volume volume;
    if (auto letter = text(v, "volume"); letter && !letter->empty()) volume.volume = (*letter)[0];
    volume.path = text(v, "path").value_or("");
    Volumes.push_back(std::move(volume));
  }
  return 0;
}

int compile_spawn() {
  for (s_spawn& entry : white_list) {
    std::string message;
    entry.compiled = trex_compile(entry.pattern, message);
    if (!entry.compiled) return err_vlx(kErrSyntax, "COMPILE FAILED %s: %s\n", entry.pattern.c_str(), message.c_str());
    // The search is costly and only feeds the log: skip it when unseen.
    if (!log::enabled(log::security)) continue;
    for (const auto& [needle, what] : kShellHazards)
      if (trex_can_contain(entry.compiled.get(), needle))
        log::trace(log::security, "Sandbox management - Warning: pattern %s accepts %s", entry.pattern, what);
  }
  return 0;
}

// REQUIRES: Secured_path holds a table.
int compile_directories() {
  for (s_secured_path& entry : *Secured_path) {
    for (const std::string& pattern : entry.pattern_texts) {
      std::string message;
      trex_ptr compiled = trex_compile(pattern, message);
      if (!compiled) return err_vlx(kErrSyntax, "Bad regexp %s: %s\n", pattern.c_str(), message.c_str());
      entry.patterns.push_back(std::move(compiled));
    }
  }
  return 0;
}

void reset() {
  IsWhitelistDisabled = AllowConsole = SecuredEnv = false;
  Secured_path.reset();
  white_list.clear();
  Volumes.clear();
  Remote_shell = kDefaultRemoteShell;
}

}  // namespace

int load_system_security() {
  reset();
  std::string file = resolve_path("!cfg", "configRuntime", "json");
  std::ifstream in(file, std::ios::binary);
  std::stringstream content;
  if (in) content << in.rdbuf();
  if (!in || in.bad()) {
    log::trace(log::system, "failed to read configuration from %s", file);
    return err_vlx(kErrAccess, "failed to read configuration from %s", file.c_str());
  }
  json config = json::parse(content.str(), nullptr, false);
  if (config.is_discarded() || !config.is_object()) {
    log::trace(log::system, "failed to read configuration from %s", file);
    return err_vlx(kErrAccess, "failed to read configuration from %s", file.c_str());
  }
  IsWhitelistDisabled = flag(config, "IsWhitelistDisabled");
  AllowConsole = flag(config, "allowConsole");
  SecuredEnv = flag(config, "secured");
  if (auto shell = text(config, "remoteShell"); shell && !shell->empty()) Remote_shell = *shell;

  auto sandbox = config.find("sandbox");
  if (sandbox == config.end() || !sandbox->is_object()) {
    err_vlx(kErrInternal, "load_sandbox_directories");
    err_vlx(kErrInternal, "load_sandbox_spawn");
    return err_vlx(kErrInternal, "load_sandbox_volumes");
  }
  int result = 0;
  for (int st : {load_sandbox_directories(*sandbox), load_sandbox_spawn(*sandbox), load_sandbox_volumes(*sandbox)})
    if (result == 0) result = st;
  int compiled = compile_spawn();
  if (compiled == 0 && Secured_path) compiled = compile_directories();
  if (!Secured_path) err_vlx(kErrInternal, "Null secured path for compilation");
  if (compiled < 0) {
    // Half a rule set would let through what the rest was meant to stop.
    Secured_path.reset();
    white_list.clear();
    return compiled;
  }
  return result;
}
