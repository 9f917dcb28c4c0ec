// The stored forms of every type.
#include "variables/variable.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/bigend.h"
#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "values/date.h"
#include "values/varstr.h"
#include "values/vlxdcb.h"
#include "variables/varcla.h"

using namespace vlx;

namespace {

constexpr int kMaxLobClass = 20;

void put_be(unsigned char* out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(value >> (8 * (bytes - 1 - i)));
}

std::uint64_t get_be(const unsigned char* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = value << 8 | in[i];
  return value;
}

int out_of_range(long long value, const char* what, long long low, long long high) {
  if (low == 0) return err_vlx(13, "%lld is out of range defined for %s [0-%lld]", value, what, high);
  return err_vlx(13, "%lld is out of range defined for %s [%lld-%lld]", value, what, low, high);
}

// A converted copy of `value`, so the caller's value stays as it was. A
// date-time becomes its ISO 8601 text when a text is wanted.
int converted(res_u* copy, const res_u* value, int type) {
  res_zero(copy);
  int st = rescpy(copy, value);
  if (st == 0 && type == LCLOB && copy->rs_type == LDATETIME) {
    char text[32];
    st = timestamp2str(static_cast<std::uint64_t>(copy->rs_dtm), text);
    if (st == 0) st = res_setascii(copy, text);
  }
  if (st == 0 && copy->rs_type != type) st = rsconv(copy, type);
  if (st < 0) {
    res_drop(copy);
    // Memory running out is not a value that cannot be converted.
    return st == -31 ? st : err_vlx(10, "Invalid calcul mode");
  }
  return 0;
}

// The whole number a value of the integer family stores: integers as they
// are, decimals beyond 32 bits (for 64-bit storage) through their text,
// the rest as exintg; what does not fit the storage is error 10.
int whole_number(const res_u* value, int type, long long* out) {
  if (value->rs_type == LBOOL || is_int(value->rs_type)) {
    *out = value->rs_type == LBOOL ? value->rs_bool : value->rs_int;
    if (type != LINT64 && (*out < INT32_MIN || *out > INT32_MAX)) return err_vlx(10, "Invalid calcul mode");
    return 0;
  }
  if (type == LINT64 && value->rs_type == LDBLE) {
    double d = std::trunc(value->rs_dbl);
    // 2^63 is the first double beyond the range.
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return err_vlx(10, "Invalid calcul mode");
    *out = static_cast<long long>(d);
    return 0;
  }
  if (type == LINT64 && value->rs_type == LDCB && !isldcb(&value->rs_dcb, 0)) {
    s_dcb d = value->rs_dcb;
    char text[64];
    errno = 0;
    if (dcbstr(&d, text, 40) == 0 && std::strpbrk(text, ".e") == nullptr) *out = std::strtoll(text, nullptr, 10);
    else errno = ERANGE;
    return errno == ERANGE ? err_vlx(10, "Invalid calcul mode") : 0;
  }
  res_u v;
  if (int st = converted(&v, value, LINTG); st < 0) return st;
  *out = v.rs_int;
  return 0;
}

// Packed decimals: bytes of two digit nibbles, the last holding one digit
// and the sign (12 positive, 13 negative). Length 16 n + s is n bytes with
// s decimals; 16 bytes (31 digits) is the most a decimal fills.
constexpr int kPackedMost = 16;

bool packed_length(int length) {
  int bytes = length / 16;
  return bytes >= 1 && bytes <= kPackedMost && length % 16 <= 2 * bytes - 1;
}

int store_packed(unsigned char* out, int length, const res_u* value) {
  if (!packed_length(length)) return err_vlx(10, "rs2vad type:%i length:%i", LDCBIBM, length);
  int bytes = length / 16, scale = length % 16, digits = 2 * bytes - 1;
  res_u v;
  if (int st = converted(&v, value, LDCB); st < 0) return st;
  const s_dcb& d = v.rs_dcb;
  // The decimal digits of |value| with the point after `point` of them.
  char all[2 * 16];
  int n = 2 * d.ndigits, point = 2 * d.exponent;
  for (int i = 0; i < d.ndigits; ++i) all[2 * i] = static_cast<char>('0' + d.digits[i] / 10), all[2 * i + 1] = static_cast<char>('0' + d.digits[i] % 10);
  // |value| x 10^scale, rounded half up on the first digit dropped.
  char kept[40];
  int k = 0;
  for (int i = 0; i < point + scale; ++i) {
    char c = i >= 0 && i < n ? all[i] : '0';
    if (k > 0 || c != '0') kept[k++] = c;
    if (k > digits) break;
  }
  int next = point + scale;
  if (k <= digits && next >= 0 && next < n && all[next] >= '5') {
    int i = k - 1;
    for (; i >= 0 && kept[i] == '9'; --i) kept[i] = '0';
    if (i >= 0) {
      ++kept[i];
    } else {
      std::memmove(kept + 1, kept, static_cast<std::size_t>(k));
      kept[0] = '1';
      ++k;
    }
  }
  if (k > digits) return err_vlx(13, "packed decimal of %d digits", digits);
  bool negative = d.sign == 0 && k > 0;
  unsigned char nibbles[32] = {};
  for (int i = 0; i < k; ++i) nibbles[digits - k + i] = static_cast<unsigned char>(kept[i] - '0');
  nibbles[digits] = negative ? 13 : 12;
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(nibbles[2 * i] << 4 | nibbles[2 * i + 1]);
  return 0;
}

int load_packed(res_u* value, const unsigned char* in, int length) {
  if (!packed_length(length)) return err_vlx(10, "vad2rs type=%i", LDCBIBM);
  int bytes = length / 16, scale = length % 16, digits = 2 * bytes - 1;
  char text[48];
  int k = 0;
  int sign = in[bytes - 1] & 0xF;
  if (sign == 13 || sign == 11) text[k++] = '-';
  for (int i = 0; i < digits; ++i) {
    int nibble = i % 2 == 0 ? in[i / 2] >> 4 : in[i / 2] & 0xF;
    if (nibble > 9) return err_vlx(10, "vad2rs type=%i", LDCBIBM);
    if (i == digits - scale) {
      if (i == 0) text[k++] = '0';
      text[k++] = '.';
    }
    text[k++] = static_cast<char>('0' + nibble);
  }
  text[k] = 0;
  value->rs_type = LDCB;
  return strdcb(&value->rs_dcb, text);
}

// References: type 64 k + 32 holds a reference to an instance of class k
// or of a class derived from it.
int store_reference(unsigned char* out, int type, const res_u* value) {
  if (value->rs_type != LREF) return err_vlx(10, "Invalid calcul mode");
  if (value->rs_ref == nullptr && value->rs_refx == 0) {
    std::memset(out, 0, 8);
    return 0;
  }
  int number = cla_of_ref(value);
  if (number <= 0) return err_vlx(133, "rs2vad type:%i", type);
  if (!cla_derives(number, type / 64)) return err_vlx(10, "rs2vad type:%i ref_typ:%i", type, 64 * number + 32);
  put_be(out, value->rs_refx, 8);
  return 0;
}


// Large objects. The area of one (its element width, or less where the
// main buffer of its unit ends first) holds the count, the start of the
// content (a clob's text followed by two zero bytes) and, in its last two
// bytes, the number of the extent where the content goes on. Each extent
// starts with the number of the next one (0 ends the chain).
constexpr long kChainWord = 2;
constexpr std::size_t kExtentPart = 4094;

long area_size(const unsigned char* at, const cbu_ref* unit, int width) {
  if (unit == nullptr) return width;
  unsigned length = 0;
  const unsigned char* base = cbu_buf(*unit, &length);
  if (base != nullptr && at >= base && at < base + length) return std::min<long>(width, base + length - at);
  return width;
}

long lob_overhead(int type) { return type == LBLOB ? 6 : 8; }

bool may_chain(const cbu_ref* unit, int flags) {
  return unit != nullptr && (flags & kStoreNoExtent) == 0 && cbu_if(*unit) != 0 && cbu_is_noextent(*unit) == 0;
}

// Releases the chain that starts at `first`, when the unit has it.
void free_chain(cbu_ref unit, unsigned short first) {
  if (first != 0 && first <= cbu_max_ext(unit)) cbu_free_extent(unit, first);
}

// Writes n bytes into a chain of new extents; *first is its first number.
int write_chain(cbu_ref unit, const unsigned char* data, std::size_t n, unsigned short* first) {
  *first = 0;
  unsigned short previous = 0;
  while (n > 0) {
    std::size_t part = std::min(n, kExtentPart);
    unsigned short number = 0;
    unsigned char* at = nullptr;
    unsigned length = 0;
    int st = cbu_new_extent(unit, &number);
    if (st == 0) st = cbu_realloc_extent(unit, number, static_cast<unsigned>(part + kChainWord));
    if (st == 0) st = cbu_extent(unit, number, &at, &length);
    if (st < 0) {
      if (number != 0) free_chain(unit, number);
      free_chain(unit, *first);
      *first = 0;
      return st;
    }
    put_be16(at, 0);
    std::memcpy(at + kChainWord, data, part);
    if (previous == 0) {
      *first = number;
    } else if (cbu_extent(unit, previous, &at, &length) == 0 && at != nullptr) {
      put_be16(at, number);
    }
    previous = number;
    data += part;
    n -= part;
  }
  return 0;
}

int store_lob(unsigned char* out, const cbu_ref* extents, int type, int length, const res_u* value, int flags) {
  long area = area_size(out, extents, stored_size(type, length));
  long room = area - lob_overhead(type);
  if (room < 0) return err_vlx(26, "rs2vad: area of %ld bytes", area);
  std::string bytes;
  const unsigned char* data = nullptr;
  std::size_t n = 0;
  if (type == LBLOB) {
    if (value->rs_blob != nullptr) {
      data = value->rs_blob + 4;
      n = std::min<std::size_t>(get_be32(value->rs_blob), static_cast<std::size_t>(blobSize(length)));
    }
  } else {
    const char16_t* text = res_text(value);
    std::size_t chars = std::min<std::size_t>(value->rs_str != nullptr ? value->rs_str->length : 0,
                                              static_cast<std::size_t>(clobSize(length) / 2));
    char unit[3];
    for (std::size_t i = 0; i < chars; ++i) {
      if (flags & kStoreUtf8) {
        bytes.append(unit, static_cast<std::size_t>(ucs2utf(unit, 3, text[i])));
      } else {
        bytes.push_back(static_cast<char>(text[i] >> 8));
        bytes.push_back(static_cast<char>(text[i] & 0xFF));
      }
    }
    data = reinterpret_cast<const unsigned char*>(bytes.data());
    n = bytes.size();
  }
  // A unit that takes extents has the old chain released, whatever the
  // new value needs.
  bool unitOk = may_chain(extents, 0);
  bool chained = unitOk && (flags & kStoreNoExtent) == 0;
  if (!chained && n > static_cast<std::size_t>(room)) {
    // Cut where a character ends.
    n = static_cast<std::size_t>(room);
    if (type == LCLOB && (flags & kStoreUtf8)) {
      while (n > 0 && (data[n] & 0xC0) == 0x80) --n;
    } else if (type == LCLOB) {
      n &= ~std::size_t{1};
    }
  }
  unsigned short first = 0;
  if (n > static_cast<std::size_t>(room))
    if (int st = write_chain(*extents, data + room, n - static_cast<std::size_t>(room), &first); st < 0) return st;
  if (unitOk) free_chain(*extents, static_cast<unsigned short>(get_be16(out + area - kChainWord)));
  // What the old value held beyond the new one is cleared: an area holds
  // its value and zeros, as records are compared and sent whole.
  std::size_t here = std::min(n, static_cast<std::size_t>(room));
  std::size_t tail = type == LCLOB ? 2 : 0;
  std::size_t end = 4 + here + tail;
  std::size_t oldEnd = 4 + std::min<std::size_t>(get_be32(out), static_cast<std::size_t>(room)) + tail;
  if (oldEnd > end) std::memset(out + end, 0, oldEnd - end);
  put_be32(out, static_cast<std::uint32_t>(n));
  if (here > 0) std::memcpy(out + 4, data, here);
  if (type == LCLOB) out[4 + here] = out[5 + here] = 0;
  put_be16(out + area - kChainWord, first);
  return 0;
}

int load_lob(res_u* value, const unsigned char* in, const cbu_ref* extents, int type, int length, int flags) {
  long area = area_size(in, extents, stored_size(type, length));
  long room = area - lob_overhead(type);
  if (room < 0) return err_vlx(26, "vad2rs: area of %ld bytes", area);
  std::size_t n = get_be32(in);
  std::size_t most = type == LBLOB ? static_cast<std::size_t>(blobSize(length))
                     : (flags & kStoreUtf8) ? 3 * static_cast<std::size_t>(clobSize(length) / 2)
                                            : static_cast<std::size_t>(clobSize(length));
  if (n > most) return err_vlx(26, "vad2rs: %zu bytes in a large object of class %d", n, length);
  std::string gathered;
  const unsigned char* data = in + 4;
  if (n > static_cast<std::size_t>(room)) {
    unsigned short next = static_cast<unsigned short>(get_be16(in + area - kChainWord));
    int visits = extents != nullptr && cbu_if(*extents) != 0 ? cbu_max_ext(*extents) : -1;
    gathered.assign(reinterpret_cast<const char*>(in + 4), static_cast<std::size_t>(room));
    while (gathered.size() < n) {
      unsigned char* at = nullptr;
      unsigned size = 0;
      if (next == 0 || visits-- <= 0) return err_vlx(26, "Null cbu with extent");
      if (int st = cbu_extent(*extents, next, &at, &size); st < 0) return st;
      if (at == nullptr || size < kChainWord) return err_vlx(26, "Null cbu with extent");
      std::size_t part = std::min<std::size_t>(size - kChainWord, n - gathered.size());
      gathered.append(reinterpret_cast<const char*>(at + kChainWord), part);
      next = static_cast<unsigned short>(get_be16(at));
    }
    data = reinterpret_cast<const unsigned char*>(gathered.data());
  }
  if (type == LBLOB) {
    unsigned group = adg_get(nullptr, nullptr, 6, "vad2rs blob");
    auto* blob = group != 0 ? static_cast<unsigned char*>(adg_malloc(group, n + 4)) : nullptr;
    if (blob == nullptr) {
      adg_free(group);
      return Vstat1 > 0 ? -Vstat1 : err_vlx(31, "vad2rs");
    }
    put_be32(blob, static_cast<std::uint32_t>(n));
    if (n > 0) std::memcpy(blob + 4, data, n);
    value->rs_type = LBLOB;
    value->rs_grp = group;
    value->rs_blob = blob;
    return 0;
  }
  std::size_t chars = (flags & kStoreUtf8) ? n : n / 2;
  varstu* s = res_setstr(value, static_cast<unsigned>(chars));
  if (s == nullptr) return Vstat1 > 0 ? -Vstat1 : err_vlx(31, "vad2rs");
  int k = 0;
  if (flags & kStoreUtf8) {
    k = utfntoptu(s->text, reinterpret_cast<const char*>(data), static_cast<int>(n), static_cast<int>(chars) + 1);
    if (k < 0) return k;
  } else {
    for (; static_cast<std::size_t>(k) < chars; ++k) s->text[k] = static_cast<char16_t>(data[2 * k] << 8 | data[2 * k + 1]);
  }
  s->text[k] = 0;
  s->length = static_cast<unsigned>(k);
  return 0;
}

// A date needs 3 bytes at least; no length is negative.
bool length_fits(int type, int length) { return length >= 0 && (type != LDATE || length == 0 || length >= 3); }

}  // namespace

int lob_free(unsigned char* at, const cbu_ref* unit, int type, int length) {
  long area = area_size(at, unit, stored_size(type, length));
  if (area < lob_overhead(type)) return err_vlx(26, "raz_var: area of %ld bytes", area);
  if (unit != nullptr && cbu_if(*unit) != 0)
    free_chain(*unit, static_cast<unsigned short>(get_be16(at + area - kChainWord)));
  std::memset(at, 0, static_cast<std::size_t>(area));
  return 0;
}

int stored_size(int type, int length) {
  switch (type) {
    case 0: case LTBLE: return 0;
    case LBOOL: case LLIBE: return 1;
    case LSINT: return 2;
    case LINTG: case LFLT: return 4;
    case LDCB: return length == 0 ? static_cast<int>(sizeof(s_dcb)) : length;
    case LDBLE: case LDATETIME: case LINT64: case LSTCT: case LREF: return 8;
    case LSTRG: return length;
    // -1 when the length has no stored size: a grammar may name any length.
    case LSTRC: return length < INT_MAX ? length + 1 : -1;
    case LDATE: return length == 0 ? 4 : length;
    case LDCBIBM: return length / 16;
    case LSTRU: return length >= 0 && length <= (INT_MAX - 2) / 2 ? 2 * length + 2 : -1;
    case LUUID: return 16;
    case LBLOB: case LCLOB: return length >= 0 && length <= kMaxLobClass ? 1 << (length + 10) : -1;
    default: return type % 64 == 32 ? 8 : 0;
  }
}

int blobSize(int length) { return stored_size(LBLOB, length) - 6; }
int clobSize(int length) { return stored_size(LCLOB, length) - 8; }
int varanLobSize(const varan* v) { return v->type == LBLOB ? blobSize(v->size) : clobSize(v->size); }

int rs2vad(unsigned char* out, const cbu_ref* extents, int type, int length, res_u* value, int flags) {
  if (!length_fits(type, length)) return err_vlx(10, "rs2vad type:%i length:%i", type, length);
  res_u v;
  int st = 0;
  switch (type) {
    case LBOOL:
      if ((st = converted(&v, value, LBOOL)) < 0) return st;
      out[0] = v.rs_bool != 0;
      return 0;
    case LLIBE: case LSINT: case LINTG: case LINT64: {
      long long n = 0;
      if ((st = whole_number(value, type, &n)) < 0) return st;
      if (type == LLIBE && (n < 0 || n > 255)) return out_of_range(n, "labels", 0, 255);
      if (type == LSINT && (n < -32768 || n > 32767)) return out_of_range(n, "short integers", -32768, 32767);
      put_be(out, static_cast<std::uint64_t>(n), stored_size(type, length));
      return 0;
    }
    case LDCB:
      if ((st = converted(&v, value, LDCB)) < 0) return st;
      if (length == 0) std::memcpy(out, &v.rs_dcb, sizeof(s_dcb));
      else st = stpdcb(&v.rs_dcb, out, length);
      return st;
    case LFLT: {
      if ((st = converted(&v, value, LDBLE)) < 0) return st;
      if (std::fabs(v.rs_dbl) > 3.4028234663852886e38)
        return err_vlx(13, "%g is out of range for a single precision number", v.rs_dbl);
      float f = static_cast<float>(v.rs_dbl);
      std::memcpy(out, &f, 4);
      return 0;
    }
    case LDBLE:
      if ((st = converted(&v, value, LDBLE)) < 0) return st;
      std::memcpy(out, &v.rs_dbl, 8);
      return 0;
    case LSTRG: case LSTRC: case LSTRU: {
      if ((st = converted(&v, value, LCLOB)) < 0) return st;
      const char16_t* text = res_text(&v);
      int n = 0;
      while (n < length && text[n] != 0) ++n;
      if (type == LSTRU) {
        for (int i = 0; i < n; ++i) put_be(out + 2 * i, text[i], 2);
        std::memset(out + 2 * n, 0, static_cast<std::size_t>(2 * (length - n) + 2));
      } else {
        for (int i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(text[i] & 0xFF);
        std::memset(out + n, 0, static_cast<std::size_t>(stored_size(type, length) - n));
      }
      res_drop(&v);
      return 0;
    }
    case LDATE: {
      if ((st = converted(&v, value, LDATE)) < 0) return st;
      int width = stored_size(LDATE, length);
      int used = std::min(width, 4);
      put_be(out, v.rs_date, used);
      std::memset(out + used, 0, static_cast<std::size_t>(width - used));
      return 0;
    }
    case LDCBIBM:
      return store_packed(out, length, value);
    case LDATETIME:
      if (value->rs_type == LCLOB) log::trace(log::system, "rs2vad conversion from clob to timestamp");
      if ((st = converted(&v, value, LDATETIME)) < 0) return st;
      put_be(out, static_cast<std::uint64_t>(v.rs_dtm), 8);
      return 0;
    case LUUID:
      if ((st = converted(&v, value, LUUID)) < 0) return st;
      std::memcpy(out, v.rs_uuid, 16);
      return 0;
    case LBLOB: case LCLOB:
      if (stored_size(type, length) < 0) return err_vlx(10, "rs2vad type:%i length:%i", type, length);
      if (type == LBLOB) {
        if (value->rs_type != LBLOB) return err_vlx(10, "Invalid calcul mode");
        return store_lob(out, extents, type, length, value, flags);
      }
      if ((st = converted(&v, value, LCLOB)) < 0) return st;
      st = store_lob(out, extents, type, length, &v, flags);
      res_drop(&v);
      return st;
    case LREF:
      return err_vlx(26, "Illegal LREFR internal type");
    default:
      if (type % 64 == 32) return store_reference(out, type, value);
      return err_vlx(10, "rs2vad type:%i", type);
  }
}

int vad2rs(res_u* value, const unsigned char* in, const cbu_ref* extents, int type, int length, int flags) {
  // Loaded once per record for each filtered field: the value is emptied,
  // not zeroed, and every case sets the fields of the type it gives.
  if (value->rs_grp != 0) adg_free(value->rs_grp);
  res_temp(value);
  if (!length_fits(type, length)) return err_vlx(10, "vad2rs type=%i", type);
  switch (type) {
    case LBOOL:
      value->rs_type = LBOOL;
      value->rs_bool = in[0] != 0;
      return 0;
    case LLIBE:
      value->rs_type = LINTG;
      value->rs_int = in[0];
      return 0;
    case LSINT:
      value->rs_type = LINTG;
      value->rs_int = static_cast<std::int16_t>(get_be(in, 2));
      return 0;
    case LINTG:
      value->rs_type = LINTG;
      value->rs_int = static_cast<std::int32_t>(get_be(in, 4));
      return 0;
    case LINT64:
      value->rs_type = LINT64;
      value->rs_int = static_cast<std::int64_t>(get_be(in, 8));
      return 0;
    case LDCB:
      value->rs_type = LDCB;
      if (length == 0) {
        std::memcpy(&value->rs_dcb, in, sizeof(s_dcb));
        return 0;
      }
      return ldsdcb(in, length, &value->rs_dcb);
    case LFLT: {
      float f;
      std::memcpy(&f, in, 4);
      char text[32];
      std::snprintf(text, sizeof text, "%.6g", static_cast<double>(f));
      value->rs_type = LDBLE;
      value->rs_dbl = std::strtod(text, nullptr);
      return 0;
    }
    case LDBLE:
      value->rs_type = LDBLE;
      std::memcpy(&value->rs_dbl, in, 8);
      return 0;
    case LSTRG: case LSTRC: {
      const void* end = std::memchr(in, 0, static_cast<std::size_t>(std::max(length, 0)));
      unsigned n = end != nullptr ? static_cast<unsigned>(static_cast<const unsigned char*>(end) - in)
                                  : static_cast<unsigned>(std::max(length, 0));
      varstu* s = res_setstr(value, n);
      if (s == nullptr) return Vstat1 > 0 ? -Vstat1 : err_vlx(31, "vad2rs");
      for (unsigned i = 0; i < n; ++i) s->text[i] = in[i];
      s->text[n] = 0;
      s->length = n;
      return 0;
    }
    case LSTRU: {
      int n = 0;
      while (n < length && (in[2 * n] | in[2 * n + 1]) != 0) ++n;
      varstu* s = res_setstr(value, static_cast<unsigned>(n));
      if (s == nullptr) return Vstat1 > 0 ? -Vstat1 : err_vlx(31, "vad2rs");
      for (int i = 0; i < n; ++i) s->text[i] = static_cast<char16_t>(get_be(in + 2 * i, 2));
      s->text[n] = 0;
      s->length = static_cast<unsigned>(n);
      return 0;
    }
    case LDATE:
      value->rs_type = LDATE;
      value->rs_date = static_cast<std::uint32_t>(get_be(in, std::min(stored_size(LDATE, length), 4)));
      return 0;
    case LDCBIBM:
      return load_packed(value, in, length);
    case LDATETIME:
      value->rs_type = LDATETIME;
      value->rs_dtm = static_cast<std::int64_t>(get_be(in, 8));
      return 0;
    case LUUID:
      value->rs_type = LUUID;
      std::memcpy(value->rs_uuid, in, 16);
      return 0;
    case LBLOB: case LCLOB:
      if (stored_size(type, length) < 0) return err_vlx(10, "vad2rs type=%i", type);
      return load_lob(value, in, extents, type, length, flags);
    case 0:
      return err_vlx(10, "vad2rs type=0");
    case LREF:
      return err_vlx(26, "Illegal LREFR internal type");
    default:
      if (type % 64 == 32) {
        value->rs_type = LREF;
        value->rs_refx = get_be(in, 8);
        value->rs_ref = cla_of_word(value->rs_refx);
        return 0;
      }
      return err_vlx(10, "vad2rs type=%i", type);
  }
}
