// The SData scanner: the tokens of SData filter expressions (the filter
// language of the front-end server's data requests) for the classic SData
// parser. Same interface and conventions as the classic scanner (gralex.h):
// prefix sdata, entry sda_lex, token numbers of sdatok (tokens.h); it reads
// the current source and stores constants and identifiers in Gram_ctx.
//
// Words are looked up, case-insensitively, in the SData keyword table; a
// date literal is "@" year-month-day "@", a date-time one adds
// "T" hour:minute:second "Z" before the closing "@".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// As s_lexval, and the type of a `datetime` constant: 307 (a date, in the
// integer pool) or 384 (a date-time, in the 64-bit pool).
struct s_sdaval {
  std::uint32_t value;
  std::uint32_t line;
  std::uint32_t column;
  std::uint32_t type;
};
extern s_sdaval sda_lval;

int sda_lex();
// Line counter 1, column 0; the scanner restarts on the current source.
void sda_init();

typedef struct yy_buffer_state* YY_BUFFER_STATE;
void sdatarestart(FILE* input);
YY_BUFFER_STATE sdata_create_buffer(FILE* file, int size);
void sdata_switch_to_buffer(YY_BUFFER_STATE buffer);
void sdata_delete_buffer(YY_BUFFER_STATE buffer);
void sdata_flush_buffer(YY_BUFFER_STATE buffer);
void sdatapush_buffer_state(YY_BUFFER_STATE buffer);
void sdatapop_buffer_state();
// REQUIRES: base[size - 2] and base[size - 1] are NUL.
YY_BUFFER_STATE sdata_scan_buffer(char* base, std::size_t size);
YY_BUFFER_STATE sdata_scan_string(const char* text);
YY_BUFFER_STATE sdata_scan_bytes(const char* bytes, int length);
int sdatalex_destroy();
int sdataget_lineno();
void sdataset_lineno(int line);
FILE* sdataget_in();
void sdataset_in(FILE* in);
FILE* sdataget_out();
void sdataset_out(FILE* out);
char* sdataget_text();
int sdataget_leng();
int sdataget_debug();
void sdataset_debug(int flag);
