// The 4GL's decimal numbers: a base-100 floating decimal of 16 digits
// (31 to 32 significant decimal digits) with a base-100 exponent, used for
// all exact arithmetic of the language, and its memcmp-ordered stored form.
//
// Value = 0.d1 d2 ... dn (base 100) x 100^exponent. Every result is
// normalised by dcblod: no leading or trailing zero digit, at most 16
// digits, exponent within -64..63; zero is exponent 0, sign 1, ndigits 0.
// Functions return 0 or a negative error number unless stated; on error the
// output value is not written.
#pragma once

#include <cstddef>
#include <cstdint>

struct s_dcb {
  std::int16_t exponent;       // power of 100
  std::uint8_t sign;           // 1 positive or zero, 0 negative
  std::uint8_t ndigits;        // significant base-100 digits, 0..16
  std::uint8_t digits[16];     // each 0..99, most significant first
};
static_assert(sizeof(s_dcb) == 20);

// Process-wide constants, built by cstdcb.
extern s_dcb Onedcb, Zerdcb, Pfvdcb, Maxdcb, Mindcb, Mxldcb;
void cstdcb();

// REQUIRES: digits has n entries, each 0..99.
int dcblod(s_dcb* out, int sign, int exponent, const unsigned char* digits, int n);

int strdcb(s_dcb* out, const char* text);
// REQUIRES: out has room for width + 1 bytes.
int dcbstr(s_dcb* in, char* out, int width);
// Digits in the manner of ecvt: decimal point at 2 x exponent.
// REQUIRES: out has room for ndigits + 1 bytes.
int dcbcvt(char* out, s_dcb* in, int ndigits, int* decpt, int* negative);

int lngdcb(s_dcb* out, int value);
int dcblng(s_dcb* in, int* out);
int dbldcb(s_dcb* out, double value);
int dcbdbl(double* out, s_dcb* in);

// The result may be one of the operands.
int dcb_as(s_dcb* r, s_dcb* a, s_dcb* b, int subtract);
int dcbmul(s_dcb* r, s_dcb* a, s_dcb* b);
int dcbdiv(s_dcb* r, s_dcb* a, s_dcb* b);

int dcbcmp(const s_dcb* a, const s_dcb* b);

// A decimal that many values are compared with (a filter's literal), made
// once by dcbbound, and compared with the values where they lie in a
// record by dcbcmp_at, which answers as dcbcmp. The first eight digits
// nearly always decide, and those are compared with no jump on the
// digits, which are as good as random from one value to the next.
struct dcb_bound {
  int sign;  // -1 negative, 0 zero, 1 positive
  // The head: the exponent with its sign bit flipped (which orders it
  // unsigned), then the first eight digits, big-endian, those past
  // ndigits zero.
  std::uint64_t exponent, digits;
  s_dcb value;
};
dcb_bound dcbbound(const s_dcb* d);

// The sign (as dcb_bound's) and head of the decimal whose bytes are at in.
inline int dcbhead(const unsigned char* in, std::uint64_t* exponent, std::uint64_t* digits) {
  static_assert(offsetof(s_dcb, sign) == 2 && offsetof(s_dcb, ndigits) == 3 && offsetof(s_dcb, digits) == 4);
  std::uint16_t e;
  std::uint64_t d;
  __builtin_memcpy(&e, in, 2);
  __builtin_memcpy(&d, in + 4, 8);
  // The digits past ndigits are not the value's; two shifts of 0..32, as
  // one of 64 would be undefined.
  unsigned n = in[3] < 8 ? in[3] : 8;
  *digits = __builtin_bswap64(d) & ~(~0ULL >> (4 * n) >> (4 * n));
  *exponent = e ^ 0x8000u;
  return in[3] == 0 ? 0 : in[2] != 0 ? 1 : -1;
}

// dcbcmp_at's answer when the heads and the signs are the same.
int dcbcmp_tied(const unsigned char* in, const dcb_bound& b);

// REQUIRES: in holds sizeof(s_dcb) bytes.
inline int dcbcmp_at(const unsigned char* in, const dcb_bound& b) {
  using u128 = unsigned __int128;
  std::uint64_t exponent, digits;
  int sign = dcbhead(in, &exponent, &digits);
  u128 head = static_cast<u128>(exponent) << 64 | digits, bound = static_cast<u128>(b.exponent) << 64 | b.digits;
  if (head == bound && sign == b.sign && sign != 0) return dcbcmp_tied(in, b);
  auto order = [](auto x, auto y) { return static_cast<int>(x > y) - static_cast<int>(x < y); };
  return order(4 * order(sign, b.sign) + sign * order(head, bound), 0);
}

int dcbsgn(const s_dcb* d);
void dcbumn(s_dcb* d);
// Returns 1 when the value had a fractional part.
int dcbfix(s_dcb* d);
int isldcb(const s_dcb* d, int integerOnly);

// Fields of any length from 1 byte; a shorter one is error 50.
// REQUIRES: out has room for len bytes.
int stpdcb(s_dcb* in, unsigned char* out, int len);
// REQUIRES: in has len bytes.
int ldsdcb(const unsigned char* in, int len, s_dcb* out);
