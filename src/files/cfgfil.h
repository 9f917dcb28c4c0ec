// Runtime configuration of the installation ("!cfg" "configRuntime.json"):
// the command sandbox's rules (secured directories, white list of commands,
// volumes), its switches, and the remote shell of pipe channels on other
// hosts. Read once at start-up; the patterns are compiled then and kept.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "files/trex.h"

inline constexpr int kMaxVolumes = 16;
inline constexpr int kMaxModes = 10;

// One secured directory: files below `path` may be opened as it says.
struct s_secured_path {
  std::string path;  // normalised, without trailing "/"
  int length = 0;
  std::vector<trex_ptr> patterns;  // the rest of a path must match one, when any
  bool writable = false;
  int npatterns = 0;
  int nextensions = 0;
  char volume = '\0';
  bool secured = false;
  std::vector<std::string> extensions;  // a first "*" allows every extension
  std::vector<std::string> pattern_texts;
};

// One white-list entry: a command line the sandbox lets through.
struct s_spawn {
  std::string pattern;       // matched against base name + arguments
  std::optional<std::string> path;  // program location prefix; "*" anywhere
  std::vector<int> params;   // argument numbers of file parameters, 0-ended
  std::string modes;         // one letter a parameter: "w" write, else read
  trex_ptr compiled;
};

struct s_volume {
  char volume = '\0';
  std::string path;
};

// Process-wide state of the configuration. `Secured_path` is empty when no
// directory table was loaded: every path is then refused.
extern bool IsWhitelistDisabled;
extern bool AllowConsole;
extern bool SecuredEnv;
extern std::optional<std::vector<s_secured_path>> Secured_path;
extern std::vector<s_spawn> white_list;
extern std::vector<s_volume> Volumes;
extern std::string Remote_shell;  // command words put before host and command

inline constexpr const char* kDefaultRemoteShell = "ssh -o BatchMode=yes";

// Reads the configuration file, replacing what an earlier call loaded.
// Returns 0 or the first error: 27 unreadable or not JSON, 26 a missing
// "sandbox" part or too many volumes, 5 a pattern that does not compile
// (the sandbox then has neither white list nor directories).
int load_system_security();
