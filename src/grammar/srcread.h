// The compiler's source readers: where the text being compiled comes from.
// Both compilers read the same source: the classic scanner one byte at a
// time, the current parser as one string (loadSource).
//
// Lec_mode 0 reads a file, 1 an 8-bit text in memory (expressions compiled
// at run time), 2 a UCS-2 text in memory (scripts held in a text object),
// whose units are handed out as their 1 to 3 UTF-8 bytes. Texts in memory
// end at their NUL and are not copied: they must outlive the reading.
#pragma once

#include <cstddef>
#include <string>

extern int Lec_mode;
extern const char* Src_txt;
extern const char16_t* Src_txt16;

// Opens the source file `path` (mode 0). Returns 0 or a negated error of
// the file layer.
int file_open(const char* path);
// REQUIRES: text stays valid and unchanged while it is read.
void inter_open(const char* text);
void clbini(const char16_t* text);

// The next byte of the source, or -1 at its end. A file that cannot be read
// further ends the source and records a syntax error, so that a truncated
// text never compiles.
int src_getc();
// The rest of the source.
std::string loadSource();

// Characters of the UTF-8 text p[0..bytes), or -1 when it is not UTF-8 as
// the engine writes it: 1 to 3 bytes a character in their shortest form,
// no NUL.
int utf8_count(const char* p, std::size_t bytes);
