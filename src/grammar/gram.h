// The compilation in progress, shared by the scanners, the parsers and the
// generators: the grammar being built, the syntax-error state that makes
// the compilation end with a syntax error, and the error exit that stops it
// at once.
#pragma once

#include <exception>

#include "image/vlxload.h"

// The grammar the scanners store constants and identifiers into.
// REQUIRES: set (and its cells initialised) while a scanner runs.
extern grctx* Gram_ctx;
// 1 when the source to compile is an SData filter expression, else an
// expression source of the 4GL; set by the caller of anagram.
extern int Gram_sdata;
// Syntax-error flag, the line of the first error (0: none), its column in
// that line (from 1; 0: not known) and its text.
extern int Gram_synerr;
extern int Gram_errline;
extern int Gram_errcol;
extern char Gram_errmes[256];

// Clears the flag, the line and the text: the start of a compilation.
void gram_clear();

// Records a syntax error found at `line` and `column`: logs
// "gra_error(<text>)" on the system channel, keeps the first text and
// place, and sets the flag.
void gra_error(int line, const char* text, int column = 0);
// gra_error with the text "<message>: <detail>", of `detail` at most 60
// bytes; gra_errmsg takes the engine's message `number` of the error
// chapter as the message.
void gra_errtext(int line, const char* message, const char* detail, int column = 0);
void gra_errmsg(int number, int line, const char* detail);

// What gram_stop throws: the compiler's error exit catches it.
struct gram_stopped : std::exception {
  int status;
  explicit gram_stopped(int s) : status(s) {}
  const char* what() const noexcept override { return "compilation stopped"; }
};
// Stops the compilation: the cells of Gram_ctx are released (the record
// stays a valid empty grammar of its group) and gram_stopped{status} is
// thrown.
[[noreturn]] void gram_stop(int status);
