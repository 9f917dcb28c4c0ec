// The classic scanner: the tokens of 4GL text for the classic LALR parser,
// with the standard interface of a generated table-driven scanner (prefix
// gra_). It reads the current source (srcread.h) one byte at a time, or a
// buffer given by gra__scan_string and its kin, and stores every constant
// and identifier it meets in the grammar being built (Gram_ctx), handing
// the parser their indexes.
//
// Token numbers: a single character is its own code, words and constants
// are the classes of tokens.h, 0 ends the input. Errors in the text are
// syntax errors (gram.h); an invalid decimal stops the compilation
// (gram_stop). An internal scanner failure prints its message on the
// standard error stream and ends the process with status 2.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The semantic value of the last token: the character code, the word's
// code, or the index of the constant or identifier stored in Gram_ctx;
// the line the token reports and the column after it.
struct s_lexval {
  std::uint32_t value;
  std::uint32_t line;
  std::uint32_t column;
};
extern s_lexval gra_lval;

// Column counter (0 after each line end), continuation lines inside the
// current statement, the statement-start flag, and the number added to
// every reported line (0 reports lines as counted from 1).
extern int CurCar;
extern int EtCpt;
extern int Debinst_flag;
extern int Start_line;

int gra_lex();
// Line counter 1, statement start, no continuation, column 0; the scanner
// restarts on the current source.
void gra_init();

typedef struct yy_buffer_state* YY_BUFFER_STATE;
void gra_restart(FILE* input);
YY_BUFFER_STATE gra__create_buffer(FILE* file, int size);
void gra__switch_to_buffer(YY_BUFFER_STATE buffer);
void gra__delete_buffer(YY_BUFFER_STATE buffer);
void gra__flush_buffer(YY_BUFFER_STATE buffer);
void gra_push_buffer_state(YY_BUFFER_STATE buffer);
void gra_pop_buffer_state();
// REQUIRES: base[size - 2] and base[size - 1] are NUL.
YY_BUFFER_STATE gra__scan_buffer(char* base, std::size_t size);
YY_BUFFER_STATE gra__scan_string(const char* text);
YY_BUFFER_STATE gra__scan_bytes(const char* bytes, int length);
int gra_lex_destroy();
int gra_get_lineno();
void gra_set_lineno(int line);
FILE* gra_get_in();
void gra_set_in(FILE* in);
FILE* gra_get_out();
void gra_set_out(FILE* out);
char* gra_get_text();
int gra_get_leng();
int gra_get_debug();
void gra_set_debug(int flag);
