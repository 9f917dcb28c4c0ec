// Base-100 decimal arithmetic. The digits stay one byte each, but the loops
// over them are done by binary integers: sums and differences on 16 byte
// lanes at once, products on limbs of 10^8, quotients on 128-bit
// remainders. The results are the digits the base-100 schoolbook gives.
#include "values/vlxdcb.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diagnostics/verbatim.h"
#include "diagnostics/vlxerr.h"

s_dcb Zerdcb = {0, 1, 0, {}};
s_dcb Onedcb = {1, 1, 1, {1}};
s_dcb Pfvdcb = {0, 1, 1, {50}};
s_dcb Mxldcb = {5, 1, 5, {21, 47, 48, 36, 47}};
s_dcb Maxdcb, Mindcb;

// The exact constants are initialised statically so that conversions work
// before start-up; the limits derive from doubles as the language defines.
void cstdcb() {
  dbldcb(&Maxdcb, 9.99999999e79);
  dbldcb(&Mindcb, -9.99999999e79);
}

namespace {

using u128 = unsigned __int128;

constexpr int kMaxDigits = 16;
constexpr int kMaxExponent = 63;
constexpr int kMinExponent = -64;

void set_zero(s_dcb* out) { *out = s_dcb{0, 1, 0, {}}; }

// Eight base-100 digits in byte lanes (the first in the top lane) as two
// limbs of 10^8, the first in the high half: neighbouring lanes merge at
// each step, with no carry between lanes even for bytes above 99.
std::uint64_t limbs_of(std::uint64_t lanes) {
  lanes = (lanes >> 8 & 0x00FF00FF00FF00FFULL) * 100 + (lanes & 0x00FF00FF00FF00FFULL);
  return (lanes >> 16 & 0x0000FFFF0000FFFFULL) * 10000 + (lanes & 0x0000FFFF0000FFFFULL);
}

// Close enough for quotient estimates (the low 11 bits are dropped) and
// only signed conversions, which are single instructions.
// REQUIRES: v < 2^127.
double to_double(u128 v) {
  return (double)(std::int64_t)(v >> 64) * 0x1p64 + (double)(std::int64_t)((std::uint64_t)v >> 11) * 0x1p11;
}

std::uint64_t load_be64(const unsigned char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

void store_be64(unsigned char* p, std::uint64_t v) {
  v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

// The digits of a value as one integer of 16 byte lanes, the first digit in
// the top lane and lanes beyond ndigits zero.
u128 digit_lanes(const s_dcb& d) {
  u128 lanes = (u128)load_be64(d.digits) << 64 | load_be64(d.digits + 8);
  return d.ndigits >= kMaxDigits ? lanes : lanes & ~(((u128)1 << (8 * (kMaxDigits - d.ndigits))) - 1);
}

// The first 16 digits (zero padded) as one 32-digit integer.
u128 mantissa(const s_dcb& d) {
  u128 lanes = digit_lanes(d);
  std::uint64_t high = limbs_of((std::uint64_t)(lanes >> 64)), low = limbs_of((std::uint64_t)lanes);
  high = (high >> 32) * 100000000 + (std::uint32_t)high;
  low = (low >> 32) * 100000000 + (std::uint32_t)low;
  return (u128)high * 10000000000000000ULL + low;
}

// Magnitude comparison of two non-zero values: the exponents, then the
// digits, then the longer one first. A value copied in from a record may
// claim more than 16 digits; there are none beyond the 16 it holds.
int compare_magnitude(const s_dcb& a, const s_dcb& b) {
  if (a.exponent != b.exponent) return a.exponent < b.exponent ? -1 : 1;
  int common = a.ndigits < b.ndigits ? a.ndigits : b.ndigits;
  int c = std::memcmp(a.digits, b.digits, common < kMaxDigits ? common : kMaxDigits);
  if (c != 0) return c < 0 ? -1 : 1;
  return (a.ndigits > b.ndigits) - (a.ndigits < b.ndigits);
}

// An 18-lane work area, one digit per byte lane: lane 17 takes a carry and
// lanes 16..0 are the 17 digit positions. `high` holds lanes 17 and 16 in
// its two low bytes, `low` lanes 15..0.
struct Lanes {
  std::uint64_t high;
  u128 low;
};

constexpr u128 kOnes = (u128)0x0101010101010101ULL << 64 | 0x0101010101010101ULL;

// Digit-wise base-100 sum or difference of two work areas in one pass of
// binary arithmetic. For a sum every lane of y is raised by 156 so that a
// lane reaching 100 carries into the next; for a difference the binary
// borrow already passes between lanes. Afterwards a lane that did not carry
// (sum) or that borrowed (difference) holds its digit + 156, at least 128,
// while every other lane holds its digit, below 100: bit 7 tells which
// lanes to lower by 156, and none of them crosses into its neighbour.
Lanes lane_arithmetic(Lanes x, Lanes y, bool add) {
  if (add) {
    y.low += kOnes * 156;
    y.high += 0x0101 * 156;
  }
  Lanes r;
  r.low = add ? x.low + y.low : x.low - y.low;
  std::uint64_t carry = add ? r.low < x.low : x.low < y.low;
  r.high = add ? x.high + y.high + carry : x.high - y.high - carry;
  r.low -= ((r.low >> 7) & kOnes) * 156;
  r.high -= ((r.high >> 7) & 0x0101) * 156;
  return r;
}

// Writes a value whose exponent, digit count and 16 digit lanes (first digit
// in the top lane, zero lanes beyond the count) are final.
int store_normalised(s_dcb* out, int sign, int exponent, int count, u128 lanes) {
  if (exponent > kMaxExponent) return err_vlx(kErrOverflow, VLX_AT(kAtExponent));
  if (exponent < kMinExponent) {
    set_zero(out);
    return 0;
  }
  out->exponent = (std::int16_t)exponent;
  out->sign = sign ? 1 : 0;
  out->ndigits = (std::uint8_t)count;
  store_be64(out->digits, (std::uint64_t)(lanes >> 64));
  store_be64(out->digits + 8, (std::uint64_t)lanes);
  return 0;
}

// dcblod on an 18-lane work area (lane 17 first), kept in registers: the
// arithmetic hands its result over without a round trip through memory.
int normalise_lanes(s_dcb* out, int sign, int exponent, Lanes w) {
  w.high &= 0xFFFF;
  if (w.high == 0 && w.low == 0) {
    set_zero(out);
    return 0;
  }
  u128 kept;
  unsigned round;
  if (w.high != 0) {
    // No leading zero or one; either way the shifts stay below 128.
    int zeros = (__builtin_clzll(w.high) - 48) / 8;
    kept = (u128)w.high << (112 + 8 * zeros) | w.low >> (16 - 8 * zeros);
    round = (unsigned)(w.low >> (8 - 8 * zeros)) & 0xFF;
    exponent -= zeros;
  } else {
    std::uint64_t high = (std::uint64_t)(w.low >> 64), low = (std::uint64_t)w.low;
    int zeros = (high != 0 ? __builtin_clzll(high) : 64 + __builtin_clzll(low)) / 8;
    kept = w.low << (8 * zeros);
    round = 0;
    exponent -= 2 + zeros;
  }
  // Half up on the 17th digit, the carry running through the lanes.
  Lanes rounded = lane_arithmetic(Lanes{0, kept}, Lanes{0, round > 49}, true);
  if ((rounded.high & 0xFF) != 0) {
    rounded.low = (u128)1 << 120;
    exponent++;
  }
  std::uint64_t high = (std::uint64_t)(rounded.low >> 64), low = (std::uint64_t)rounded.low;
  int count = kMaxDigits - (low != 0 ? __builtin_ctzll(low) : 64 + __builtin_ctzll(high)) / 8;
  return store_normalised(out, sign, exponent, count, rounded.low);
}

}  // namespace

int dcblod(s_dcb* out, int sign, int exponent, const unsigned char* digits, int n) {
  int first = 0, last = n;
  while (last > first && digits[last - 1] == 0) last--;
  if (last == first) {
    set_zero(out);
    return 0;
  }
  while (digits[first] == 0) {
    first++;
    exponent--;
  }
  int count = last - first;
  unsigned char kept[kMaxDigits] = {};
  if (count > kMaxDigits) {
    std::memcpy(kept, digits + first, kMaxDigits);
    count = kMaxDigits;
    if (digits[first + kMaxDigits] > 49) {
      int i = kMaxDigits - 1;
      while (i >= 0 && ++kept[i] == 100) kept[i--] = 0;
      if (i < 0) {
        kept[0] = 1;
        count = 1;
        exponent++;
      }
    }
    while (kept[count - 1] == 0) count--;
  } else {
    std::memcpy(kept, digits + first, count);
  }
  return store_normalised(out, sign, exponent, count, (u128)load_be64(kept) << 64 | load_be64(kept + 8));
}

int dcbcmp(const s_dcb* a, const s_dcb* b) {
  if (a->ndigits == 0 && b->ndigits == 0) return 0;
  if (a->ndigits == 0) return b->sign ? -1 : 1;
  if (b->ndigits == 0) return a->sign ? 1 : -1;
  // Any sign byte but 0 is positive.
  if ((a->sign != 0) != (b->sign != 0)) return a->sign ? 1 : -1;
  int c = compare_magnitude(*a, *b);
  return a->sign ? c : -c;
}

dcb_bound dcbbound(const s_dcb* d) {
  dcb_bound b;
  b.value = *d;
  b.sign = dcbhead(reinterpret_cast<const unsigned char*>(d), &b.exponent, &b.digits);
  return b;
}

int dcbcmp_tied(const unsigned char* in, const dcb_bound& b) {
  s_dcb d;
  std::memcpy(&d, in, sizeof d);
  return dcbcmp(&d, &b.value);
}

int dcbsgn(const s_dcb* d) {
  if (d->ndigits == 0) return 0;
  return d->sign ? 1 : -1;
}

void dcbumn(s_dcb* d) {
  if (d->ndigits != 0) d->sign ^= 1;
}

int dcb_as(s_dcb* r, s_dcb* a, s_dcb* b, int subtract) {
  int bsign = subtract == 1 ? b->sign ^ (b->ndigits != 0) : b->sign;
  if (b->ndigits == 0) return dcblod(r, a->sign, a->exponent, a->digits, a->ndigits);
  if (a->ndigits == 0) return dcblod(r, bsign, b->exponent, b->digits, b->ndigits);
  u128 la = digit_lanes(*a), lb = digit_lanes(*b);
  bool add = a->sign == bsign;
  if (!add && a->exponent == b->exponent && la == lb) {
    set_zero(r);
    return 0;
  }
  // The larger magnitude (the one with the larger exponent for a sum) goes
  // first. Selections rather than branches: with operands in no particular
  // order a branch here is mispredicted half of the time.
  bool swap = a->exponent < b->exponent || (!add && a->exponent == b->exponent && la < lb);
  u128 big = swap ? lb : la, small = swap ? la : lb;
  int sign = swap ? bsign : a->sign;
  int exponent = swap ? b->exponent : a->exponent;
  int shift = swap ? b->exponent - a->exponent : a->exponent - b->exponent;
  // Lane 16 holds the first digit; the smaller operand moves down by the
  // exponent difference and loses what falls below lane 0.
  Lanes x{(std::uint64_t)(big >> 120), big << 8};
  int down = shift > 16 ? 15 : shift > 0 ? shift - 1 : 0;
  Lanes y{shift == 0 ? (std::uint64_t)(small >> 120) : 0,
          shift == 0 ? small << 8 : shift <= 16 ? small >> (8 * down) : 0};
  return normalise_lanes(r, sign, exponent + 1, lane_arithmetic(x, y, add));
}

int dcbmul(s_dcb* r, s_dcb* a, s_dcb* b) {
  if (a->ndigits == 0 || b->ndigits == 0) {
    set_zero(r);
    return 0;
  }
  // Mantissas as four limbs of 10^8, most significant first, read from
  // the digit lanes (a copy of ndigits bytes is a string move, dearer than
  // the whole product).
  u128 da = digit_lanes(*a), db = digit_lanes(*b);
  std::uint64_t la[4], lb[4];
  for (int half = 0; half < 2; half++) {
    std::uint64_t x = limbs_of((std::uint64_t)(da >> (64 - 64 * half)));
    std::uint64_t y = limbs_of((std::uint64_t)(db >> (64 - 64 * half)));
    la[2 * half] = x >> 32, la[2 * half + 1] = (std::uint32_t)x;
    lb[2 * half] = y >> 32, lb[2 * half + 1] = (std::uint32_t)y;
  }
  std::uint64_t column[8] = {};
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 4; j++) column[i + j + 1] += la[i] * lb[j];
  for (int k = 7; k > 0; k--) {
    column[k - 1] += column[k] / 100000000;
    column[k] %= 100000000;
  }
  // The product's digits 0..17 as an 18-lane work area: with both first
  // digits at least 1 the first significant digit is at position 0 or 1,
  // so the 16 kept and the one that rounds are among them.
  auto lanes_of = [](std::uint64_t limb) {
    std::uint32_t v = (std::uint32_t)limb, high = v / 10000, low = v % 10000;
    return (std::uint64_t)(high / 100) << 24 | (std::uint64_t)(high % 100) << 16 | (low / 100) << 8 | low % 100;
  };
  Lanes w;
  w.high = lanes_of(column[0]) >> 16;
  w.low = (u128)(lanes_of(column[0]) << 48 | lanes_of(column[1]) << 16 | lanes_of(column[2]) >> 16) << 64 |
          (lanes_of(column[2]) << 48 | lanes_of(column[3]) << 16 | lanes_of(column[4]) >> 16);
  if (w.high != 0) return normalise_lanes(r, a->sign == b->sign, a->exponent + b->exponent, w);
  // A first digit of 0 (digits as a record gave them): the general load.
  unsigned char work[24];
  for (int k = 0; k < 5; k++) store_be64(work + 4 * k, lanes_of(column[k]) << 32);
  return dcblod(r, a->sign == b->sign, a->exponent + b->exponent, work, 20);
}

int dcbdiv(s_dcb* r, s_dcb* a, s_dcb* b) {
  if (b->ndigits == 0) return err_vlx(kErrDivideByZero, VLX_AT(kAtDivide));
  if (a->ndigits == 0) {
    set_zero(r);
    return 0;
  }
  // 18 exact quotient digits of the two mantissas, three at a time: the
  // remainder stays below divisor x 10^6 < 2^127. Each estimate is lowered
  // slightly so that it is exact or one short, never over.
  const u128 divisor = mantissa(*b);
  const double inverse = (1.0 - 0x1p-40) / to_double(divisor);
  u128 rest = mantissa(*a) * 10000;
  // Digits 0 and 1 go to lanes 17 and 16, the others to lanes 15 down to 0.
  Lanes work{0, 0};
  for (int step = 0; step < 6; step++) {
    if (step > 0) rest *= 1000000;
    std::uint64_t q = (std::uint64_t)(to_double(rest) * inverse);
    rest -= (u128)q * divisor;
    bool short_by_one = rest >= divisor;
    q += short_by_one;
    rest -= short_by_one ? divisor : 0;
    unsigned lanes = (unsigned)(q / 10000) << 16 | (unsigned)(q / 100 % 100) << 8 | (unsigned)(q % 100);
    if (step == 0)
      work = Lanes{lanes >> 8, lanes & 0xFF};
    else
      work.low = work.low << 24 | lanes;
  }
  return normalise_lanes(r, a->sign == b->sign, a->exponent - b->exponent + 1, work);
}

int dcbfix(s_dcb* d) {
  if (d->ndigits == 0) return 0;
  if (d->exponent <= 0) {
    set_zero(d);
    return 1;
  }
  if (d->ndigits <= d->exponent) return 0;
  int count = d->exponent;
  while (d->digits[count - 1] == 0) count--;
  std::memset(d->digits + count, 0, kMaxDigits - count);
  d->ndigits = (std::uint8_t)count;
  return 1;
}

int isldcb(const s_dcb* d, int integerOnly) {
  if (d->ndigits == 0) return 1;
  if (compare_magnitude(*d, Mxldcb) > 0) return 0;
  return !integerOnly || d->ndigits <= d->exponent;
}

int lngdcb(s_dcb* out, int value) {
  long long magnitude = value < 0 ? -(long long)value : value;
  unsigned char digits[5];
  for (int i = 4; i >= 0; i--) {
    digits[i] = (unsigned char)(magnitude % 100);
    magnitude /= 100;
  }
  return dcblod(out, value >= 0, 5, digits, 5);
}

int dcblng(s_dcb* in, int* out) {
  if (in->ndigits == 0 || in->exponent <= 0) {
    *out = 0;
    return 0;
  }
  if (compare_magnitude(*in, Mxldcb) > 0) return err_vlx(kErrDomain, "dcblng");
  long long value = 0;
  for (int i = 0; i < in->exponent; i++) value = value * 100 + (i < in->ndigits ? in->digits[i] : 0);
  *out = (int)(in->sign ? value : -value);
  return 0;
}

int strdcb(s_dcb* out, const char* text) {
  const char* p = text;
  while (*p == ' ' || *p == '\t') p++;
  int sign = 1;
  if (*p == '+' || *p == '-') sign = *p++ == '+';
  // value = 0.D x 10^exponent
  constexpr int kMaxText = 32;
  unsigned char decimal[kMaxText + 1];
  int count = 0;
  long long exponent = 0;
  bool point = false;
  for (;; p++) {
    if (*p == '.' && !point) {
      point = true;
      continue;
    }
    if (*p < '0' || *p > '9') break;
    int digit = *p - '0';
    if (count == 0 && digit == 0) {
      if (point) exponent--;
      continue;
    }
    if (count < kMaxText) decimal[count++] = (unsigned char)digit;
    if (!point) exponent++;
  }
  if ((*p == 'E' || *p == 'e')) {
    const char* q = p + 1;
    bool negative = false;
    if (*q == '+' || *q == '-') negative = *q++ == '-';
    long long value = 0;
    bool fits = true;
    // Past 32 bits the value no longer counts: stop accumulating there,
    // however many digits follow.
    for (; *q >= '0' && *q <= '9'; q++) {
      if (fits) value = value * 10 + (*q - '0');
      if (value > 2147483648LL) fits = false;
    }
    if (negative) value = -value;
    if (fits && value >= -2147483648LL && value <= 2147483647LL) exponent += value;
  }
  if (count == 0) {
    set_zero(out);
    return 0;
  }
  // Far outside the range either way; keeps the arithmetic below in int.
  if (exponent > 1000) exponent = 1000;
  if (exponent < -1000) exponent = -1000;
  unsigned char pairs[kMaxText / 2 + 1];
  int odd = exponent % 2 != 0;
  int total = count + odd;
  int npairs = (total + 1) / 2;
  for (int i = 0; i < npairs; i++) {
    int hi = 2 * i - odd, lo = hi + 1;
    pairs[i] = (unsigned char)((hi >= 0 && hi < count ? decimal[hi] * 10 : 0) + (lo < count ? decimal[lo] : 0));
  }
  return dcblod(out, sign, (int)((exponent + odd) / 2), pairs, npairs);
}

namespace {

// Decimal digit text of a non-zero value without leading or trailing zeros;
// value = 0.text x 10^exponent. Returns the number of digits.
int decimal_digits(const s_dcb& d, char* text, int* exponent) {
  int n = 0;
  int count = d.ndigits < kMaxDigits ? d.ndigits : kMaxDigits;
  for (int i = 0; i < count; i++) {
    text[n++] = (char)('0' + d.digits[i] / 10);
    text[n++] = (char)('0' + d.digits[i] % 10);
  }
  *exponent = 2 * d.exponent;
  int start = text[0] == '0';
  if (start) {
    std::memmove(text, text + 1, --n);
    --*exponent;
  }
  while (text[n - 1] == '0') n--;
  text[n] = 0;
  return n;
}

int exponent_width(int e) {
  int magnitude = e < 0 ? -e : e;
  return (e < 0) + (magnitude >= 100 ? 3 : 2);
}

}  // namespace

int dcbstr(s_dcb* in, char* out, int width) {
  if (width > 200) return err_vlx(kErrDomain, "dcbstr");
  if (in->ndigits == 0) {
    if (width < 1) {
      err_vlx(kErrDomain, "dcbexp");
      return err_vlx(kErrOverflow, "dcbstr");
    }
    std::memcpy(out, "0", 2);
    return 0;
  }
  char text[40];
  int e;
  int n = decimal_digits(*in, text, &e);
  int sign = in->sign == 0;
  int fixed = sign + (e >= n ? e : e > 0 ? n + 1 : 2 - e + n);
  char* o = out;
  if (fixed <= width) {
    if (sign) *o++ = '-';
    if (e >= n) {
      std::memcpy(o, text, n);
      std::memset(o + n, '0', e - n);
      o += e;
    } else if (e > 0) {
      std::memcpy(o, text, e);
      o[e] = '.';
      std::memcpy(o + e + 1, text + e, n - e);
      o += n + 1;
    } else {
      *o++ = '0';
      *o++ = '.';
      std::memset(o, '0', -e);
      o += -e;
      std::memcpy(o, text, n);
      o += n;
    }
    *o = 0;
    return 0;
  }
  // Scientific form d.ddd e[-]xx, rounded half up to the room left.
  int sci = e - 1;
  int mandatory = sign + 1 + 1 + exponent_width(sci);
  if (mandatory > width) {
    err_vlx(kErrDomain, "dcbexp");
    return err_vlx(kErrOverflow, "dcbstr");
  }
  int fraction = width - mandatory - 1;
  int keep = n <= 1 || fraction >= n - 1 ? n : fraction >= 1 ? 1 + fraction : 1;
  if (keep < n && text[keep] >= '5') {
    int i = keep - 1;
    while (i >= 0 && text[i] == '9') text[i--] = '0';
    if (i < 0) {
      text[0] = '1';
      keep = 1;
      sci++;
      if (sign + 2 + exponent_width(sci) > width) {
        err_vlx(kErrDomain, "dcbexp");
        return err_vlx(kErrOverflow, "dcbstr");
      }
    } else {
      text[i]++;
    }
  }
  while (keep > 1 && text[keep - 1] == '0') keep--;
  if (sign) *o++ = '-';
  *o++ = text[0];
  if (keep > 1) {
    *o++ = '.';
    std::memcpy(o, text + 1, keep - 1);
    o += keep - 1;
  }
  *o++ = 'e';
  if (sci < 0) *o++ = '-';
  int magnitude = sci < 0 ? -sci : sci;
  if (magnitude >= 100) *o++ = (char)('0' + magnitude / 100);
  *o++ = (char)('0' + magnitude / 10 % 10);
  *o++ = (char)('0' + magnitude % 10);
  *o = 0;
  return 0;
}

int dcbcvt(char* out, s_dcb* in, int ndigits, int* decpt, int* negative) {
  if (ndigits > 200) return err_vlx(kErrDomain, "dcbcvt");
  if (ndigits < 0) ndigits = 0;
  int available = 2 * in->ndigits;
  for (int i = 0; i < ndigits; i++) {
    int k = i / 2;
    out[i] = (char)('0' + (i < available ? (i % 2 ? in->digits[k] % 10 : in->digits[k] / 10) : 0));
  }
  out[ndigits] = 0;
  *decpt = 2 * in->exponent;
  *negative = in->sign == 0;
  if (ndigits < available) {
    int k = ndigits / 2;
    int next = ndigits % 2 ? in->digits[k] % 10 : in->digits[k] / 10;
    if (next >= 5) {
      int i = ndigits - 1;
      while (i >= 0 && out[i] == '9') out[i--] = '0';
      if (i >= 0) {
        out[i]++;
      } else if (ndigits > 0) {
        out[0] = '1';
        ++*decpt;
      }
    }
  }
  return 0;
}

int dbldcb(s_dcb* out, double value) {
  if (!std::isfinite(value)) return err_vlx(kErrOverflow, "dbldcb");
  char text[32];
  std::snprintf(text, sizeof text, "%.9e", value);
  return strdcb(out, text);
}

int dcbdbl(double* out, s_dcb* in) {
  char text[41];
  int status = dcbstr(in, text, 40);
  if (status < 0) return status;
  double value = std::strtod(text, nullptr);
  if (value > 1.7976931348623157e308 || value < -1.7976931348623157e308) return err_vlx(kErrOverflow, "dcbdbl");
  *out = value;
  return 0;
}

int stpdcb(s_dcb* in, unsigned char* out, int len) {
  if (len < 1) return err_vlx(kErrDomain, "stpdcb");
  int room = len - 1;
  if (in->ndigits == 0) {
    out[0] = 0x80;
    std::memset(out + 1, 0, room);
    return 0;
  }
  unsigned char digits[kMaxDigits];
  std::memcpy(digits, in->digits, kMaxDigits);
  int count = in->ndigits, exponent = in->exponent;
  if (count > room) {
    bool up = digits[room] >= 50;
    count = room;
    if (up) {
      int i = room - 1;
      while (i >= 0 && ++digits[i] == 100) digits[i--] = 0;
      if (i < 0) {
        digits[0] = 1;
        count = room > 0 ? 1 : 0;
        exponent++;
      }
    }
    if (exponent > kMaxExponent) return err_vlx(kErrOverflow, "stpdcb");
  }
  while (count > 0 && digits[count - 1] == 0) count--;
  int biased = exponent + 64;
  if (in->sign) {
    out[0] = (unsigned char)(0x80 | biased);
    std::memcpy(out + 1, digits, count);
  } else {
    out[0] = (unsigned char)(127 - biased);
    for (int i = 0; i < count; i++) out[1 + i] = (unsigned char)((i == count - 1 ? 100 : 99) - digits[i]);
  }
  std::memset(out + 1 + count, 0, room - count);
  return 0;
}

int ldsdcb(const unsigned char* in, int len, s_dcb* out) {
  if (len < 1) return err_vlx(kErrDomain, "ldsdcb");
  int room = len - 1;
  int last = room - 1;
  while (last >= 0 && in[1 + last] == 0) last--;
  bool positive = in[0] & 0x80;
  if (positive && in[0] == 0x80 && last < 0) {
    set_zero(out);
    return 0;
  }
  int exponent = positive ? (in[0] & 0x7f) - 64 : 63 - in[0];
  // A one-byte field holds only the exponent and reads as a single digit 1.
  unsigned char digits[kMaxDigits + 1] = {1};
  int count = room > kMaxDigits + 1 ? kMaxDigits + 1 : room;
  for (int i = 0; i < count; i++) {
    unsigned char c = in[1 + i];
    if (c > (positive ? 99 : 100)) return err_vlx(kErrDomain, "ldsdcb");
    digits[i] = positive ? c : (unsigned char)(i < last ? 99 - c : i == last ? 100 - c : 0);
    if (digits[i] > 99) return err_vlx(kErrDomain, "ldsdcb");
  }
  return dcblod(out, positive, exponent, digits, count > 0 ? count : 1);
}
