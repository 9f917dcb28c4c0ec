// Error state of the process and the reporting functions.
//
// Every failure is recorded with err_vlx, which keeps the first pending
// error (what the 4GL program and the client see), always updates Vstat1,
// and returns the number negated so that callers pass it upwards. errno
// values are translated into the 4GL's catalogue by set_vstat1.
#pragma once

#include <exception>

#include "diagnostics/errcat.h"

// Process-wide error state.
extern int Errvlx;
extern char Errmes[256];
extern char16_t StuErrmes[256];
extern int Vstat1;
extern int Vlxerrno;
extern int SErrvlx0, SErrvlx1;
extern char SErrmes0[256], SErrmes1[256];
extern int Verrl;
extern char Verrp[256];

// Hooks of the layers above, installed at start-up: the allocator's dump,
// written when memory runs out (ini_malloc), and the message text of an
// error number (ini_mess). Unset, no dump is written and errors have no
// text.
extern void (*Errdump)();
extern const char* (*Errtext)(int number);

int err_vlx(short number, const char* format, ...) __attribute__((format(printf, 2, 3)));
int err_vlx_stu(short number, const char16_t* text);
void raz_err();
// REQUIRES: out has room for 256 bytes.
void gt_erm(char* out);
// REQUIRES: out has room for 256 bytes.
void get_UtfErrorMessage(char* out);
int set_vstat1(int sys_errno);
int get_last_errvlx();

// The catalogue text an error number has when no message file is loaded
// ("" for reserved numbers and numbers outside 0..171).
const char* catalogue_text(int number);

struct PLUMEMException : std::exception {
  const char* what() const noexcept override { return "No more memory"; }
};
struct ERINTException : std::exception {
  const char* what() const noexcept override { return "Internal error"; }
};
struct PAFICException : std::exception {
  const char* what() const noexcept override { return "File not found"; }
};
struct ERDEFException : std::exception {
  const char* what() const noexcept override { return "Default exception"; }
};

// Throws the exception type of |number|.
[[noreturn]] void throwException(int number);

// Consistency failure detail "<source>:<line>.<function>".
#define VLX_WHERE(src, line, fn) "%s:%d.%s", src, line, fn
