// Command sandbox: decides whether a command line may run and whether a
// path may be opened, by the white list and the secured directories of the
// runtime configuration (files/cfgfil.h). Every decision is logged on
// channel 1024; every refusal is error 27 with the refused text and is
// written to the file of rejected commands.
#pragma once

#include <string>

inline constexpr int kMaxArguments = 50;
inline constexpr int kMaxLevel = 9;
inline constexpr int kScriptLine = 512;

// The user who opened the session and the current user; the sandbox is
// off when both are the administrator account.
extern std::string Origin_user;
extern std::string Current_user;
inline constexpr const char* kAdministrator = "admin";

// True when both users are the administrator (case ignored).
bool is_admin();

// 0 when `order` may run, else a negative error (27 refused, 26 malformed,
// 170 scripts nested deeper than kMaxLevel). `arguments` (null-ended, may
// be null) are the arguments of the script whose line `order` is: "$n"
// parameters name them. Level 0 is the command itself.
int find_syst_pattern(const char* order, char** arguments, int level);

// The whole check a command line passes before it runs locally: with the
// sandbox on, an empty or blank line is refused (there is nothing to run),
// anything else goes to find_syst_pattern at level 0.
int sandbox_check(const char* command);

// 1 when `path` may be opened with `mode` ("r", "w", "a", with or without
// "+"), 0 when refused. `flag` 2 counts only directories marked secured.
int check_secured_path(const char* path, const char* mode, int flag);

// 0 or a negative error: checks the redirection targets. `redirections`
// holds argument numbers ended by -1; `modes` one letter each ('w' for
// ">", 'r' for "<").
int pattern_pass3(char** arguments, int* redirections, char* modes);

// 1 and the program's path (allocated in `group`) when `name` is found
// along PATH (where the shell would find it), else 0.
int resolve_file(unsigned group, char** out, const char* name);

// 1 with the matching white-list entry's fields (owned by the list), else 0.
int accept_spawn(const char* command, const char** path, int* path_length, const int** params,
                 const char** modes);

// Writes one formatted line to the file of rejected commands
// ("rejected_system_cmd.log" in the log folder, else the temporary folder),
// opened on first use and kept open.
void bsys_write_fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Path of the file of rejected commands (where it is or will be opened).
std::string bsys_path();
// Closes the file of rejected commands; the next line opens it again.
void bsys_close();
