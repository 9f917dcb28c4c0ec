// What the two classic scanners do with the constants, comments and names
// they meet: check them and store them in the grammar being built
// (Gram_ctx). Each returns the index that the token carries, or 0 after
// recording a syntax error at `line`; a failed store, or a decimal that
// does not convert, stops the compilation (gram_stop).
#pragma once

#include <cstdint>

// The index a store of Gram_ctx returned; a failed store is out of memory
// (or of a pool) and stops the compilation.
std::uint32_t lex_stored(int index);
// REQUIRES: text ends with a NUL.
std::uint32_t lex_decimal(const char* text, int line);
// Digits: an integer below 2147483647, else a decimal; *decimal says which.
// REQUIRES: digits ends with a NUL after its `length` digits.
std::uint32_t lex_digits(const char* digits, int length, int line, bool* decimal);
// A string constant with its two quotes: at most 255 characters between
// them, in UTF-8. The text is changed while it is stored, then restored.
std::uint32_t lex_string(char* quoted, int length, int line);
// REQUIRES: text ends with a NUL.
std::uint32_t lex_comment(const char* text, int length, int line);
// An upper-case name that is no reserved word: at most 254 bytes.
std::uint32_t lex_identifier(const char* name, int length, int line);
// ASCII letters to upper case, in place.
void lex_upper(char* text, int length);
