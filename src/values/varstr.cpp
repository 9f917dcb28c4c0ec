// UCS-2 strings: conversions between the four text forms, the string
// operations and the growable varstu.
#include "values/varstr.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"

namespace {

// Decodes the character at p. Returns the bytes it takes, 0 at the end of
// the input (NUL, or `end` when given), or the negative error 50 for a lead
// byte outside the three accepted forms or a sequence cut by the end.
int next_char(const unsigned char* p, const unsigned char* end, char16_t* c) {
  if (p == end || *p == 0) return 0;
  unsigned lead = *p;
  if (lead < 0x80) {
    *c = (char16_t)lead;
    return 1;
  }
  int size = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 0;
  bool cut = size == 0;
  for (int i = 1; i < size && !cut; i++) cut = (end != nullptr && p + i >= end) || p[i] == 0;
  if (cut) {
    if (end != nullptr) return err_vlx(kErrDomain, "%.*s", (int)(end - p), (const char*)p);
    return err_vlx(kErrDomain, "%s", (const char*)p);
  }
  if (size == 2)
    *c = (char16_t)(((lead & 0x1F) << 6) | (p[1] & 0x3F));
  else
    *c = (char16_t)(((lead & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
  return size;
}

// Decodes at most `nbytes` bytes of in, stopping earlier at a NUL.
int decode_utf8(char16_t* out, const char* in, std::size_t nbytes, int n) {
  if (n <= 0) return 0;
  // n - 1 characters never take more than 3 (n - 1) bytes, so the text
  // beyond that need not be measured. Knowing the end lets plain ASCII go
  // eight bytes at a time without reading past the text.
  const unsigned char* p = (const unsigned char*)in;
  const unsigned char* end = p + strnlen(in, std::min(nbytes, 3 * (std::size_t)(n - 1)));
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  int k = 0;
  while (k < n - 1) {
    std::uint64_t word;
    if (end - p >= 8 && k + 8 <= n - 1 && (std::memcpy(&word, p, 8), (word & kHighBits) == 0)) {
      for (int i = 0; i < 8; i++) out[k + i] = p[i];
      p += 8;
      k += 8;
      continue;
    }
    int size = next_char(p, end, &out[k]);
    if (size < 0) {
      out[k] = 0;
      return size;
    }
    if (size == 0) break;
    p += size;
    k++;
  }
  out[k] = 0;
  return k;
}

int utf8_size(unsigned c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : 3; }

int encode_one(char* out, unsigned c) {
  if (c < 0x80) {
    out[0] = (char)c;
    return 1;
  }
  if (c < 0x800) {
    out[0] = (char)(0xC0 | (c >> 6));
    out[1] = (char)(0x80 | (c & 0x3F));
    return 2;
  }
  out[0] = (char)(0xE0 | (c >> 12));
  out[1] = (char)(0x80 | ((c >> 6) & 0x3F));
  out[2] = (char)(0x80 | (c & 0x3F));
  return 3;
}

template <class Unit>
int encode_utf8(char* out, const Unit* in, int n, int* count) {
  int bytes = 0, chars = 0;
  if (n > 0) {
    for (; in[chars] != 0; chars++) {
      unsigned c = (std::make_unsigned_t<Unit>)in[chars];
      if (bytes + utf8_size(c) > n - 1) break;
      bytes += encode_one(out + bytes, c);
    }
    out[bytes] = 0;
  }
  if (count != nullptr) *count = chars;
  return bytes;
}

}  // namespace

int strtoptu(char16_t* out, const char* in, int n) {
  int k = 0;
  if (n <= 0) return 0;
  for (; k < n - 1 && in[k] != 0; k++) out[k] = (unsigned char)in[k];
  out[k] = 0;
  return k;
}

int stutoptr(char* out, const char16_t* in, int n) {
  int k = 0;
  if (n <= 0) return 0;
  for (; k < n - 1 && in[k] != 0; k++) out[k] = (char)(in[k] & 0xFF);
  out[k] = 0;
  return k;
}

void stutovag(char* out, const char16_t* in, int n) {
  int k = 0;
  for (; k < n && in[k] != 0; k++) out[k] = (char)(in[k] & 0xFF);
  if (k < n) std::memset(out + k, 0, n - k);
}

int vadtostu(char16_t* out, const unsigned char* in, int n) {
  int k = 0;
  if (n <= 0) return 0;
  for (; k < n - 1; k++) {
    char16_t c = (char16_t)(in[2 * k] << 8 | in[2 * k + 1]);
    if (c == 0) break;
    out[k] = c;
  }
  out[k] = 0;
  return k;
}

int stutovad(unsigned char* out, const char16_t* in, int n) {
  int k = 0;
  for (; k < n && in[k] != 0; k++) {
    out[2 * k] = (unsigned char)(in[k] >> 8);
    out[2 * k + 1] = (unsigned char)(in[k] & 0xFF);
  }
  out[2 * k] = out[2 * k + 1] = 0;
  return k;
}

int stutoput(char* out, const char16_t* in, int n, int* count) { return encode_utf8(out, in, n, count); }
int strtoput(char* out, const char* in, int n, int* count) { return encode_utf8(out, in, n, count); }

int utftoptu(char16_t* out, const char* in, int n) { return decode_utf8(out, in, SIZE_MAX, n); }

int utfntoptu(char16_t* out, const char* in, int nbytes, int n) {
  return decode_utf8(out, in, nbytes > 0 ? nbytes : 0, n);
}

int utftoptr(char* out, const char* in, int n) {
  if (in == nullptr) return -1;
  if (n <= 0) return 0;
  const unsigned char* p = (const unsigned char*)in;
  int k = 0;
  while (k < n - 1) {
    char16_t c = 0;
    int size = next_char(p, nullptr, &c);
    if (size < 0) {
      out[k] = 0;
      return size;
    }
    if (size == 0) break;
    out[k++] = (char)(c & 0xFF);
    p += size;
  }
  out[k] = 0;
  return k;
}

int ucs2utf(char* out, int room, char16_t c) {
  if (utf8_size(c) > room) return 0;
  return encode_one(out, c);
}

int utflen(const char* in) {
  int chars = 0;
  for (const unsigned char* p = (const unsigned char*)in; *p != 0; p++) chars += (*p & 0xC0) != 0x80;
  return chars;
}

std::string char16tostring(const char16_t* in) {
  std::string out;
  char unit[3];
  for (; *in != 0; in++) out.append(unit, encode_one(unit, *in));
  return out;
}

int stulen(const char16_t* s) {
  int n = 0;
  while (s[n] != 0) n++;
  return n;
}

char16_t* stucpy(char16_t* d, const char16_t* s) {
  std::memmove(d, s, (stulen(s) + 1) * sizeof(char16_t));
  return d;
}

int stucmp(const char16_t* a, const char16_t* b) {
  static const char16_t empty[1] = {0};
  if (a == nullptr) a = empty;
  if (b == nullptr) b = empty;
  while (*a != 0 && *a == *b) a++, b++;
  return (int)*a - (int)*b;
}

int varstucmp(const varstu* a, const varstu* b) { return stucmp(a->text, b->text); }

int instun(char16_t c, const char16_t* s) {
  for (int i = 0; s[i] != 0; i++)
    if (s[i] == c) return i + 1;
  return 0;
}

int fninstu(int start, const char16_t* s, const char16_t* sub) {
  if (start < 1) start = 1;
  int length = stulen(s);
  if (start > length) return 0;
  if (sub[0] == 0) return start;
  int sublength = stulen(sub);
  for (int i = start - 1; i + sublength <= length; i++)
    if (std::memcmp(s + i, sub, sublength * sizeof(char16_t)) == 0) return i + 1;
  return 0;
}

void virublc(char16_t* out, const char16_t* in, int mode) {
  int length = stulen(in);
  int first = 0, end = length;
  if (mode != 1 && mode != 4 && mode != 5)
    while (first < end && in[first] == u' ') first++;
  if (mode == 1 || mode == 2)
    while (end > first && in[end - 1] == u' ') end--;
  int k = 0;
  for (int i = first; i < end; i++) {
    char16_t c = in[i];
    if (c == u' ') {
      if (mode == 3) break;
      if (mode == 4) continue;
      if (mode == 5 && k > 0 && out[k - 1] == u' ') continue;
    }
    out[k++] = c;
  }
  out[k] = 0;
}

namespace {

// Whole-text match with one "any sequence" wildcard; a mismatch restarts one
// character further after the last wildcard seen.
template <class OneMatches>
int wildcard_match(const char16_t* s, const char16_t* p, char16_t any, OneMatches one) {
  const char16_t* star = nullptr;
  const char16_t* mark = nullptr;
  while (*s != 0) {
    if (*p != 0 && *p != any && one(*p, *s)) {
      s++;
      p++;
    } else if (*p == any) {
      star = p++;
      mark = s;
    } else if (star != nullptr) {
      p = star + 1;
      s = ++mark;
    } else {
      return 0;
    }
  }
  while (*p == any) p++;
  return *p == 0;
}

}  // namespace

int find_pattern(const char16_t* s, const char16_t* pattern) {
  return wildcard_match(s, pattern, u'%', [](char16_t p, char16_t c) { return p == u'_' || p == c; });
}

int fnupat(const char16_t* s, const char16_t* pattern) {
  return wildcard_match(s, pattern, u'*', [](char16_t p, char16_t c) {
    if (p == u'?') return true;
    if (p == u'#') return c <= 0xFF && (Caractyp[c] & CT_DIGIT) != 0;
    if (p == u'!') return c <= 0xFF && (Caractyp[c] & CT_LETTER) != 0;
    return p == c;
  });
}

void ctrans(char16_t* out, const char16_t* in, const char16_t* from, const char16_t* to) {
  int k = 0;
  int tolength = to != nullptr ? stulen(to) : 0;
  for (; *in != 0; in++) {
    char16_t c = *in;
    if (from == nullptr) {
      out[k++] = c >= 1 && c <= 0xFF ? (char16_t)(unsigned char)Toascii[c - 1] : c;
      continue;
    }
    int position = instun(c, from);
    if (position == 0 || position >= 256)
      out[k++] = c;
    else if (position <= tolength)
      out[k++] = to[position - 1];
  }
  out[k] = 0;
}

// ---- varstu

namespace {

constexpr unsigned kFixedCapacity = 256;
constexpr unsigned kGrowStep = 256;

// Ensures room, then replaces the text from `at` on with n characters
// produced by put(destination).
template <class Put>
int vsu_store(varstu* v, unsigned at, unsigned n, Put put) {
  int status = vsuext(v, at + n + 1);
  if (status < 0) return status;
  put(v->text + at);
  v->length = at + n;
  v->text[v->length] = 0;
  return 0;
}

unsigned vad_length(const unsigned char* vad, int limit) {
  unsigned n = 0;
  while ((limit <= 0 || (int)n < limit) && (vad[2 * n] != 0 || vad[2 * n + 1] != 0)) n++;
  return n;
}

}  // namespace

varstu* vsu_in2(varstu* fixed, unsigned* groupRef, unsigned capacity, const char* description) {
  if (fixed != nullptr && capacity <= kFixedCapacity) {
    if (*groupRef != 0) adg_free(*groupRef);
    *groupRef = 0;
    fixed->group = groupRef;
    fixed->capacity = kFixedCapacity;
    fixed->length = 0;
    fixed->text[0] = 0;
    return fixed;
  }
  if (*groupRef == 0) *groupRef = adg_get(nullptr, nullptr, kGrpBuffers, "%s", description);
  if (*groupRef == 0) return nullptr;
  auto* v = (varstu*)adg_malloc(*groupRef, sizeof(varstu));
  auto* text = v != nullptr ? (char16_t*)adg_malloc(*groupRef, (capacity + 1) * sizeof(char16_t)) : nullptr;
  if (text == nullptr) {
    adg_free(*groupRef);
    *groupRef = 0;
    return nullptr;
  }
  *v = varstu{text, 0, capacity, groupRef};
  return v;
}

char16_t* vsuptr(varstu* v) { return v != nullptr ? v->text : nullptr; }
int vsulen(const varstu* v) { return (int)v->length; }

void vsusyn(varstu* v) {
  unsigned n = 0;
  while (n < v->capacity && v->text[n] != 0) n++;
  v->length = n;
}

void vsuraz(varstu* v) {
  v->length = 0;
  v->text[0] = 0;
}

void vsucut(varstu* v, int n) {
  if (n >= 0 && (unsigned)n < v->length) {
    v->length = n;
    v->text[n] = 0;
  }
}

int vsuext(varstu* v, unsigned n) {
  if (v->capacity > n) return 0;
  unsigned capacity = (n + kGrowStep - 1) / kGrowStep * kGrowStep;
  std::size_t bytes = (capacity + 1) * sizeof(char16_t);
  if (*v->group != 0) {
    auto* text = (char16_t*)adg_realloc(*v->group, v->text, bytes);
    if (text == nullptr) return -Vstat1;
    v->text = text;
  } else {
    unsigned group = adg_get(nullptr, nullptr, kGrpBuffers, "Chaine de Longueur Variable (ex)");
    auto* text = group != 0 ? (char16_t*)adg_malloc(group, bytes) : nullptr;
    if (text == nullptr) {
      if (group != 0) adg_free(group);
      return -Vstat1;
    }
    std::memcpy(text, v->text, (v->length + 1) * sizeof(char16_t));
    *v->group = group;
    v->text = text;
  }
  v->capacity = capacity;
  return 0;
}

int vsucpy(varstu* v, const char16_t* s) {
  unsigned n = stulen(s);
  return vsu_store(v, 0, n, [&](char16_t* d) { std::memmove(d, s, n * sizeof(char16_t)); });
}

int vsucsr(varstu* v, const char* bytes, int n) {
  unsigned count = n > 0 ? strnlen(bytes, n) : std::strlen(bytes);
  return vsu_store(v, 0, count, [&](char16_t* d) {
    for (unsigned i = 0; i < count; i++) d[i] = (unsigned char)bytes[i];
  });
}

int vadtovsu(varstu* v, const unsigned char* vad, int n) {
  unsigned count = vad_length(vad, n);
  return vsu_store(v, 0, count, [&](char16_t* d) { vadtostu(d, vad, count + 1); });
}

int vadcatvsu(varstu* v, const unsigned char* vad) {
  unsigned count = vad_length(vad, 0);
  return vsu_store(v, v->length, count, [&](char16_t* d) { vadtostu(d, vad, count + 1); });
}

int vsucat(varstu* v, const char16_t* s) {
  unsigned n = stulen(s);
  return vsu_store(v, v->length, n, [&](char16_t* d) { std::memmove(d, s, n * sizeof(char16_t)); });
}

void vsushf(varstu* v, int n) {
  if (n <= 0) return;
  unsigned drop = (unsigned)n < v->length ? (unsigned)n : v->length;
  std::memmove(v->text, v->text + drop, (v->length - drop + 1) * sizeof(char16_t));
  v->length -= drop;
}
