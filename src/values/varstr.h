// Text of the engine: UCS-2 strings (char16_t, NUL-terminated, lengths and
// positions in characters), their conversions to and from 8-bit (Latin-1),
// UTF-8 and the big-endian stored form "vad", the growable string varstu,
// the 8-bit character classes and the small text utilities shared by the
// whole engine.
//
// Conversion limits count output units including the terminating NUL unless
// stated; conversions never write beyond them and truncate at a character
// boundary. UTF-8 is one to three bytes per character (no code point above
// U+FFFF); an invalid lead byte is error 50 with the remaining text as detail.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Growable UCS-2 string. The text lives either in a fixed buffer of 256
// characters that a computed value owns (*group is 0), or in the memory
// group *group, which the holder of the string frees.
struct varstu {
  char16_t* text;
  std::uint32_t length;    // characters in use, NUL not counted
  std::uint32_t capacity;  // characters the buffer holds besides the NUL
  unsigned* group;
};
static_assert(sizeof(varstu) == 24);

// Character classes of 8-bit characters.
enum : std::uint16_t {
  CT_DIGIT = 1, CT_LETTER = 2, CT_UPPER = 4, CT_LOWER = 8, CT_BLANK = 16,
  CT_CONTROL = 32, CT_CONTROL2 = 64, CT_CONTROL3 = 128
};
extern const std::array<std::uint16_t, 256> Caractyp;
// ASCII folding; the entry of character c is at index c - 1.
extern const std::array<char, 255> Toascii;

// Conversions.
int strtoptu(char16_t* out, const char* in, int n);
int stutoptr(char* out, const char16_t* in, int n);
// REQUIRES: out has n bytes; it receives no terminator of its own.
void stutovag(char* out, const char16_t* in, int n);
int vadtostu(char16_t* out, const unsigned char* in, int n);
// REQUIRES: out has room for 2 * n + 2 bytes.
int stutovad(unsigned char* out, const char16_t* in, int n);
int stutoput(char* out, const char16_t* in, int n, int* count);
int strtoput(char* out, const char* in, int n, int* count);
int utftoptu(char16_t* out, const char* in, int n);
int utfntoptu(char16_t* out, const char* in, int nbytes, int n);
int utftoptr(char* out, const char* in, int n);
int ucs2utf(char* out, int room, char16_t c);
int utflen(const char* in);
std::string char16tostring(const char16_t* in);

// UCS-2 strings.
int stulen(const char16_t* s);
char16_t* stucpy(char16_t* d, const char16_t* s);
int stucmp(const char16_t* a, const char16_t* b);
int varstucmp(const varstu* a, const varstu* b);
int instun(char16_t c, const char16_t* s);
int fninstu(int start, const char16_t* s, const char16_t* sub);
// REQUIRES: out has room for stulen(in) + 1 characters (out may be in).
void virublc(char16_t* out, const char16_t* in, int mode);
int find_pattern(const char16_t* s, const char16_t* pattern);
int fnupat(const char16_t* s, const char16_t* pattern);
// REQUIRES: out has room for stulen(in) + 1 characters.
void ctrans(char16_t* out, const char16_t* in, const char16_t* from, const char16_t* to);

// varstu. `fixed`, when given, is a string record whose text is a computed
// value's own buffer of 256 characters.
// REQUIRES: groupRef is not null and outlives the string.
varstu* vsu_in2(varstu* fixed, unsigned* groupRef, unsigned capacity, const char* description);
char16_t* vsuptr(varstu* v);
int vsulen(const varstu* v);
void vsusyn(varstu* v);
void vsuraz(varstu* v);
void vsucut(varstu* v, int n);
int vsuext(varstu* v, unsigned n);
int vsucpy(varstu* v, const char16_t* s);
int vsucsr(varstu* v, const char* bytes, int n);
int vadtovsu(varstu* v, const unsigned char* vad, int n);
int vadcatvsu(varstu* v, const unsigned char* vad);
int vsucat(varstu* v, const char16_t* s);
void vsushf(varstu* v, int n);

// 8-bit utilities.
void strupc(char* out, const char* in);
// Append / copy, returning the end of the result.
char* catin(char* out, const char* in);
char* copin(char* out, const char* in);
// REQUIRES: out has room for max(width, 11) + 1 bytes.
void num(char* out, int value, int width);
int instring(char c, const char* s);
const char* skspaces(const char* s);
const char* spaces(int n);
void vlxcop(char* out, const char* in, int size);
// JSON string escapes of n bytes (\b \t \n \f \r \" \\, other control
// characters as \u00XX); an escape that does not fit is left out whole.
int escapeJson(char* out, int size, const char* in, int n);
int encode64(char* out, int size, const unsigned char* in, int n);
// Returns the number of bytes decoded.
int decode64(unsigned char* out, int size, const char* in);
int ltostr64(char* out, int size, std::uint64_t value);
void shfbuf(char* buffer, int length, int n);
int expform(const char* text);
