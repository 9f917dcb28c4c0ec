// The engine's entry into the compiler: compile the current source (the
// reader of srcread.h) into a grammar, with the compiler version in force:
// the classic LALR parsers ('R', the default) or the current parsers and
// generators ('S', and any letter above 'R').
#pragma once

#include "image/vlxload.h"

// Compiles the whole current source into g: an SData filter expression
// when Gram_sdata is set (gram.h), else an expression source. Returns 0, or
// -5 with error 5 recorded ("syntax error in '<text>' status:<abort or
// memory exhausted>"), or the compiler's error exit: -5 when a syntax
// error was recorded at a line, -31 otherwise. The grammar keeps what was
// stored either way; the caller frees it.
// REQUIRES: iniTokTab (and for SData iniTokTabSdata) has run; g's cells are
// initialised.
int anagram(grctx* g);

// The version letter: on first use, VLX_VERSION with its quote characters
// removed; exactly "S" gives 'S', anything else (or nothing) 'R'. Logged
// once on the system channel.
char getVlxDefaultVersion();
// Replaces the version; returns the previous one.
char setVlxDefaultVersion(char letter);
