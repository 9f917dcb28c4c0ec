// 8-bit text: the character class and ASCII folding tables, and the small
// utilities (numbers, JSON escapes, Base64) the engine shares.
#include <array>
#include <cstdio>
#include <cstring>

#include "diagnostics/vlxerr.h"
#include "values/varstr.h"

namespace {

struct ClassRange {
  unsigned first, last;
  std::uint16_t mask;
};

constexpr std::uint16_t kUpper = CT_LETTER | CT_UPPER, kLower = CT_LETTER | CT_LOWER;

constexpr ClassRange kClassRanges[] = {
    {0x00, 0x07, CT_CONTROL},  {0x09, 0x14, CT_CONTROL},  {0x08, 0x08, CT_CONTROL | CT_BLANK},
    {0x15, 0x1F, CT_CONTROL3}, {0x95, 0x9F, CT_CONTROL3}, {0x20, 0x20, CT_BLANK},
    {0x30, 0x39, CT_DIGIT},    {0x41, 0x5A, kUpper},      {0xC0, 0xCF, kUpper},
    {0xD1, 0xDD, kUpper},      {0x61, 0x7A, kLower},      {0xE0, 0xEF, kLower},
    {0xF1, 0xFD, kLower},      {0x80, 0x80, CT_CONTROL2}, {0x81, 0x94, CT_CONTROL | CT_CONTROL2},
};

struct FoldRange {
  unsigned first, last;
  char to;  // 0: the character itself
};

constexpr FoldRange kFoldRanges[] = {
    {0x01, 0x14, ' '}, {0x15, 0x15, '-'}, {0x16, 0x1E, '+'}, {0x1F, 0x1F, '!'}, {0x20, 0x7E, 0},
    {0x7F, 0x94, ' '}, {0x95, 0x95, '-'}, {0x96, 0x9E, '+'}, {0x9F, 0x9F, '!'}, {0xA0, 0xBF, ' '},
    {0xC0, 0xC6, 'A'}, {0xC7, 0xC7, 'C'}, {0xC8, 0xCB, 'E'}, {0xCC, 0xCF, 'I'}, {0xD0, 0xD0, ' '},
    {0xD1, 0xD1, 'N'}, {0xD2, 0xD8, 'O'}, {0xD9, 0xDC, 'U'}, {0xDD, 0xDD, 'Y'}, {0xDE, 0xDE, ' '},
    {0xDF, 0xDF, 'S'}, {0xE0, 0xE6, 'a'}, {0xE7, 0xE7, 'c'}, {0xE8, 0xEB, 'e'}, {0xEC, 0xEF, 'i'},
    {0xF0, 0xF0, ' '}, {0xF1, 0xF1, 'n'}, {0xF2, 0xF8, 'o'}, {0xF9, 0xFC, 'u'}, {0xFD, 0xFD, 'y'},
    {0xFE, 0xFF, ' '},
};

constexpr std::array<std::uint16_t, 256> class_table() {
  std::array<std::uint16_t, 256> mask{};
  for (const ClassRange& r : kClassRanges)
    for (unsigned c = r.first; c <= r.last; c++) mask[c] = r.mask;
  return mask;
}

constexpr std::array<char, 255> fold_table() {
  std::array<char, 255> to{};
  for (const FoldRange& r : kFoldRanges)
    for (unsigned c = r.first; c <= r.last; c++) to[c - 1] = r.to != 0 ? r.to : (char)c;
  return to;
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64_value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

const std::array<std::uint16_t, 256> Caractyp = class_table();
const std::array<char, 255> Toascii = fold_table();

void strupc(char* out, const char* in) {
  for (; *in != 0; in++) {
    unsigned char c = *in;
    *out++ = (char)((Caractyp[c] & CT_LOWER) != 0 ? c - 32 : c);
  }
  *out = 0;
}

char* catin(char* out, const char* in) { return copin(out + std::strlen(out), in); }

char* copin(char* out, const char* in) {
  std::size_t n = std::strlen(in);
  std::memmove(out, in, n + 1);
  return out + n;
}

void num(char* out, int value, int width) {
  unsigned long long magnitude = value < 0 ? -(long long)value : value;
  char digits[12];
  int n = 0;
  do {
    digits[n++] = (char)('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  int k = 0;
  if (value < 0) out[k++] = '-';
  if (width <= 0) {
    while (n > 0) out[k++] = digits[--n];
  } else {
    int room = width - k;
    if (n > room) {
      std::memset(out + k, '*', room);
    } else {
      std::memset(out + k, '0', room - n);
      for (int i = 0; i < n; i++) out[k + room - 1 - i] = digits[i];
    }
    k += room > 0 ? room : 0;
  }
  out[k] = 0;
}

int instring(char c, const char* s) {
  const char* hit = std::strchr(s, c);
  return hit != nullptr && c != 0 ? (int)(hit - s) + 1 : 0;
}

const char* skspaces(const char* s) {
  while (*s == ' ') s++;
  return s;
}

const char* spaces(int n) {
  static char blanks[769];
  if (n < 0 || n > 768) return nullptr;
  std::memset(blanks, ' ', n);
  blanks[n] = 0;
  return blanks;
}

void vlxcop(char* out, const char* in, int size) {
  if (size <= 0) return;
  std::size_t n = strnlen(in, size - 1);
  std::memcpy(out, in, n);
  out[n] = 0;
}

int escapeJson(char* out, int size, const char* in, int n) {
  int k = 0;
  if (size <= 0) return 0;
  for (int i = 0; i < n; i++) {
    char c = in[i];
    const char* escape = nullptr;
    switch (c) {
      case '\b': escape = "\\b"; break;
      case '\t': escape = "\\t"; break;
      case '\n': escape = "\\n"; break;
      case '\f': escape = "\\f"; break;
      case '\r': escape = "\\r"; break;
      case '"': escape = "\\\""; break;
      case '\\': escape = "\\\\"; break;
      default: break;
    }
    // Other control characters would make the text invalid JSON.
    char control[7];
    if (escape == nullptr && static_cast<unsigned char>(c) < 0x20) {
      std::snprintf(control, sizeof control, "\\u%04x", static_cast<unsigned char>(c));
      escape = control;
    }
    int need = escape != nullptr ? static_cast<int>(std::strlen(escape)) : 1;
    if (k + need > size - 1) break;
    if (escape != nullptr)
      std::memcpy(out + k, escape, static_cast<std::size_t>(need));
    else
      out[k] = c;
    k += need;
  }
  out[k] = 0;
  return k;
}

int encode64(char* out, int size, const unsigned char* in, int n) {
  int k = 0;
  for (int i = 0; i < n; i += 3) {
    if (k + 5 > size) return err_vlx(kErrInternal, "encode64:insufiscent buffer");
    unsigned block = in[i] << 16 | (i + 1 < n ? in[i + 1] << 8 : 0) | (i + 2 < n ? in[i + 2] : 0);
    out[k++] = kBase64[block >> 18];
    out[k++] = kBase64[(block >> 12) & 63];
    out[k++] = i + 1 < n ? kBase64[(block >> 6) & 63] : '=';
    out[k++] = i + 2 < n ? kBase64[block & 63] : '=';
  }
  if (size > 0) out[k] = 0;
  return k;
}

int decode64(unsigned char* out, int size, const char* in) {
  int k = 0, bits = 0;
  unsigned accumulator = 0;
  for (const unsigned char* p = (const unsigned char*)in; *p != 0 && *p != '='; p++) {
    int v = base64_value(*p);
    if (v < 0) return err_vlx(kErrInternal, "Bad string Base64");
    accumulator = accumulator << 6 | v;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      if (k >= size) return err_vlx(kErrInternal, "String too big");
      out[k++] = (unsigned char)(accumulator >> bits);
      accumulator &= (1u << bits) - 1;
    }
  }
  return k;
}

int ltostr64(char* out, int size, std::uint64_t value) {
  if (size < 12) return err_vlx(kErrSystem, "ltostr64");
  for (int i = 0; i < 10; i++) out[i] = kBase64[(value >> (58 - 6 * i)) & 63];
  out[10] = kBase64[value & 15];
  out[11] = 0;
  return 11;
}

void shfbuf(char* buffer, int length, int n) {
  if (n > 0 && length > n) std::memmove(buffer + n, buffer, length - n);
}

int expform(const char* text) {
  const char* e = std::strpbrk(text, "eE");
  if (e == nullptr) return 0;
  for (const char* p = e + 1; *p != 0; p++) {
    if (*p == '-') return 2;
    if (*p == '+' || (*p >= '0' && *p <= '9')) break;
  }
  return 1;
}
