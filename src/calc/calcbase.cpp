#include "calc/calcbase.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "values/date.h"

#define WHERE(fn) VLX_WHERE("src/calc/calcbase", __LINE__, fn)

namespace {

constexpr double kDoubleMax = 1e80;
constexpr double kDoubleTiny = 1e-79;

void bool_to_int(res_u* v) {
  if (v->rs_type != LBOOL) return;
  v->rs_int = v->rs_bool;
  v->rs_type = LINTG;
}

// A double result: overflow is an error, underflow becomes 0.
int set_double(res_u* v, double d, const char* fn) {
  if (std::fabs(d) >= kDoubleMax) return err_vlx(kErrOverflow, "%s", fn);
  if (std::fabs(d) < kDoubleTiny) d = 0;
  v->rs_type = LDBLE;
  v->rs_dbl = d;
  return 0;
}

int set_int(res_u* v, std::int64_t n, int type, const char* fn) {
  if (type != LINT64 && (n < INT32_MIN || n > INT32_MAX)) return err_vlx(kErrOverflow, "%s", fn);
  v->rs_type = static_cast<std::uint16_t>(type);
  v->rs_int = n;
  return 0;
}

int set_date(res_u* v, std::int64_t day, const char* fn) {
  if (day < 0 || day > MAXDATE) return err_vlx(kErrDate, "%s", fn);
  v->rs_type = LDATE;
  v->rs_date = static_cast<std::uint32_t>(day);
  return 0;
}

// 8-bit copy of a string value's text (at most 255 characters).
void text8(const res_u* v, char out[256]) { stutoptr(out, res_text(v), 256); }

std::string value_text(const res_u* v) {
  char text[256] = "";
  if (v->rs_type == LCLOB) {
    stutoput(text, res_text(v), sizeof text, nullptr);
  } else if (v->rs_type == LDATE) {
    datetoc(static_cast<int>(v->rs_date), text);
  } else {
    nbtostr(v, text);
  }
  return text;
}

int unsupported(const char* fn, const res_u* a, const res_u* b) {
  return err_vlx(kErrCalcMode, "%s(%s:%s,%s:%s) is not supported", fn, type_name(a->rs_type), value_text(a).c_str(),
                 type_name(b->rs_type), value_text(b).c_str());
}

int date_to_text(res_u* v) {
  char16_t text[16];
  if (int st = toolddate(static_cast<int>(v->rs_date), text); st < 0) return st;
  return res_setstu(v, text, static_cast<unsigned>(stulen(text)));
}


int text_to_dcb(res_u* v) {
  char text[256];
  text8(v, text);
  s_dcb d;
  if (int st = strdcb(&d, text); st < 0) return st;
  res_drop(v);
  v->rs_type = LDCB;
  v->rs_dcb = d;
  return 0;
}

// Both operands as decimals, or both as doubles.
int both_dcb(res_u* a, res_u* b) {
  int st = convdcb(a);
  return st < 0 ? st : convdcb(b);
}
int both_dbl(res_u* a, res_u* b, double* x, double* y) {
  if (int st = convdbl(a); st < 0) return st;
  if (int st = convdbl(b); st < 0) return st;
  *x = a->rs_dbl;
  *y = b->rs_dbl;
  return 0;
}

int sign3(long long d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }

// The value through exintg, as an integer of `type`.
int to_integer(res_u* v, int type) {
  int n = 0;
  if (int st = exintg(v, &n); st < 0) return st;
  res_drop(v);
  v->rs_type = static_cast<std::uint16_t>(type);
  v->rs_int = n;
  return 0;
}

// Appends in place while the text fits the value's storage, so that
// strings of up to 256 characters stay inside the record.
int append(res_u* left, const char16_t* text) {
  varstu* s = left->rs_str;
  if (s == nullptr) s = res_setstr(left, 0);
  if (s == nullptr) return -Vstat1;
  unsigned n = static_cast<unsigned>(stulen(text)), total = s->length + n;
  if (total > s->capacity)
    if (int st = vsuext(s, total); st < 0) return st;
  std::memmove(s->text + s->length, text, n * sizeof(char16_t));
  s->length = total;
  s->text[total] = 0;
  return 0;
}

}  // namespace

int old_date(res_u* v) {
  char text[256];
  text8(v, text);
  int day = 0;
  if (int st = gtolddate(text, &day); st < 0) return st;
  res_drop(v);
  v->rs_type = LDATE;
  v->rs_date = static_cast<std::uint32_t>(day);
  return 0;
}

void res_drop(res_u* v) {
  if (v->rs_grp != 0) adg_free(v->rs_grp);
  res_zero(v);
}

varstu* res_setstr(res_u* v, unsigned capacity) {
  v->rs_vsu.text = v->rs_buf;
  varstu* s = vsu_in2(&v->rs_vsu, &v->rs_grp, capacity, "chaine variable, loadstu");
  if (s == nullptr) return nullptr;
  v->rs_str = s;
  v->rs_type = LCLOB;
  return s;
}

int res_setstu(res_u* v, const char16_t* text, unsigned length) {
  varstu* s = res_setstr(v, length);
  if (s == nullptr) return Vstat1 > 0 ? -Vstat1 : err_vlx(kErrNoMemory, "res_setstu");
  std::memcpy(s->text, text, length * sizeof(char16_t));
  s->text[length] = 0;
  s->length = length;
  return 0;
}

int res_setascii(res_u* v, const char* text) {
  char16_t wide[kInlineChars + 1];
  int n = strtoptu(wide, text, kInlineChars + 1);
  if (n < 0) return n;
  return res_setstu(v, wide, static_cast<unsigned>(stulen(wide)));
}

int typconv(int t) {
  switch (t) {
    case LLIBE: case LSINT: return LINTG;
    case LFLT: return LDBLE;
    case LSTRG: case LSTRC: case LSTRU: return LCLOB;
    case LDCBIBM: return LDCB;
    case LINTG: case LDCB: case LDBLE: case LDATE: case LBLOB: case LCLOB: case LUUID: case LDATETIME:
    case 0: case LREF: return t;
    default: return err_vlx(kErrInternal, "typconv");
  }
}

const char* type_name(int t) {
  switch (t) {
    case LBOOL: return "Boolean";
    case LLIBE: return "Libelle";
    case LSINT: return "Shortint";
    case LINTG: return "Integer";
    case LDCB: return "Decimal";
    case LFLT: return "Float";
    case LDBLE: return "Double";
    case LDATE: return "Date";
    case LBLOB: return "Blbfile";
    case LCLOB: return "Clbfile";
    case LUUID: return "Uuident";
    case LDATETIME: return "Datetime";
    case LINT64: return "Int64";
    case LREF: return "Struct";
    default: return "type";
  }
}

int convdcb(res_u* v) {
  int t = v->rs_type;
  if (t == LDCB) return 0;
  s_dcb d;
  int st;
  if (t == LBOOL) {
    st = lngdcb(&d, v->rs_bool);
  } else if (is_int(t)) {
    // 64-bit values go through the text form, exactly.
    char text[32];
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(v->rs_int));
    st = strdcb(&d, text);
  } else if (is_dbl(t)) {
    if (std::fabs(v->rs_dbl) > kDoubleMax) return err_vlx(kErrOverflow, "convdcb");
    st = dbldcb(&d, v->rs_dbl);
  } else {
    return err_vlx(kErrCalcMode, "convdcb - incompatible type:%d", t);
  }
  if (st < 0) return st;
  v->rs_dcb = d;
  v->rs_type = LDCB;
  return 0;
}

int convdbl(res_u* v) {
  int t = v->rs_type;
  if (is_dbl(t)) {
    v->rs_type = LDBLE;
    return 0;
  }
  double d;
  if (t == LBOOL) {
    d = v->rs_bool;
  } else if (is_int(t)) {
    d = static_cast<double>(v->rs_int);
  } else if (t == LDCB) {
    if (int st = dcbdbl(&d, &v->rs_dcb); st < 0) return st;
  } else {
    return err_vlx(kErrCalcMode, WHERE("convdbl"));
  }
  v->rs_dbl = d;
  v->rs_type = LDBLE;
  return 0;
}

int exintg(const res_u* v, int* out) {
  switch (v->rs_type) {
    case LBOOL: *out = v->rs_bool; return 0;
    case LLIBE: case LSINT: case LINTG: *out = static_cast<int>(v->rs_int); return 0;
    case LDATE: *out = static_cast<int>(v->rs_date); return 0;
    case LFLT: case LDBLE: {
      double d = std::trunc(v->rs_dbl);
      if (!(d >= INT32_MIN && d <= INT32_MAX)) return err_vlx(kErrDomain, "exintg");
      *out = static_cast<int>(d);
      return 0;
    }
    case LDCB: case LCLOB: {
      s_dcb d = v->rs_dcb;
      if (v->rs_type == LCLOB) {
        char text[256];
        text8(v, text);
        if (int st = strdcb(&d, text); st < 0) return st;
      }
      int n = 0;
      if (!isldcb(&d, 1) || dcblng(&d, &n) < 0) return err_vlx(kErrDomain, "exintg");
      *out = n;
      return 0;
    }
    default: return err_vlx(kErrInternal, "exintg");
  }
}

int convlong(res_u* v) {
  int t = v->rs_type;
  std::int64_t n = 0;
  if (is_int(t)) {
    n = v->rs_int;
  } else if (is_dbl(t)) {
    double d = std::trunc(v->rs_dbl);
    // 2^63 is the first double beyond the range; a NaN fails both tests.
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return -kErrOverflow;
    n = static_cast<std::int64_t>(d);
  } else if (t == LDCB) {
    s_dcb d = v->rs_dcb;
    dcbfix(&d);
    // Whole base-100 digits: more than 10 of them pass 2^63.
    if (d.ndigits != 0 && d.exponent > 0) {
      if (d.exponent > 10) return -kErrOverflow;
      unsigned __int128 magnitude = 0;
      for (int i = 0; i < d.exponent; ++i) magnitude = magnitude * 100 + (i < d.ndigits ? d.digits[i] : 0);
      if (magnitude > static_cast<unsigned __int128>(INT64_MAX) + (d.sign == 0 ? 1 : 0)) return -kErrOverflow;
      n = d.sign == 0 ? static_cast<std::int64_t>(-static_cast<__int128>(magnitude)) : static_cast<std::int64_t>(magnitude);
    }
  } else {
    return err_vlx(kErrCalcMode, "convlong - incompatible type:%d", t);
  }
  v->rs_type = LINT64;
  v->rs_int = n;
  return 0;
}

int convbool(res_u* v) {
  int b = to_boolean(v);
  if (b < 0) return b;
  res_drop(v);
  v->rs_type = LBOOL;
  v->rs_bool = static_cast<std::uint8_t>(b);
  return 0;
}

int nbtostr(const res_u* v, char* out) {
  switch (v->rs_type) {
    case LBOOL: std::snprintf(out, 64, "%d", v->rs_bool); return 0;
    case LDCB: {
      s_dcb d = v->rs_dcb;
      return dcbstr(&d, out, 40);
    }
    case LFLT: case LDBLE: std::snprintf(out, 64, "%.15g", v->rs_dbl); return 0;
    default:
      if (!is_int(v->rs_type)) {
        out[0] = 0;
        return err_vlx(kErrCalcMode, "nbtostr type:%d", v->rs_type);
      }
      std::snprintf(out, 64, "%lld", static_cast<long long>(v->rs_int));
      return 0;
  }
}

int nbtostu(res_u* v) {
  char text[64];
  if (int st = nbtostr(v, text); st < 0) return st;
  return res_setascii(v, text);
}

int rescpy(res_u* to, const res_u* from) {
  if (to == from) return 0;
  res_drop(to);
  std::memcpy(static_cast<void*>(to), from, offsetof(res_u, rs_str));
  to->rs_grp = 0;
  to->rs_refx = from->rs_refx;
  to->rs_ref = from->rs_ref;
  to->rs_dtm = from->rs_dtm;
  std::memcpy(to->rs_uuid, from->rs_uuid, sizeof to->rs_uuid);
  if (from->rs_type == LCLOB) return res_setstu(to, res_text(from), from->rs_str ? from->rs_str->length : 0);
  if (from->rs_type == LBLOB && from->rs_blob != nullptr) {
    std::uint32_t n = static_cast<std::uint32_t>(from->rs_blob[0]) << 24 | from->rs_blob[1] << 16 |
                      from->rs_blob[2] << 8 | from->rs_blob[3];
    to->rs_grp = adg_get(nullptr, nullptr, kGrpBuffers, "rescpy blob");
    to->rs_blob = to->rs_grp != 0 ? static_cast<unsigned char*>(adg_malloc(to->rs_grp, n + 4)) : nullptr;
    if (to->rs_blob == nullptr) return Vstat1 > 0 ? -Vstat1 : err_vlx(kErrNoMemory, "rescpy");
    std::memcpy(to->rs_blob, from->rs_blob, n + 4);
  }
  return 0;
}

int convgen(res_u* to, const res_u* from) {
  int type = to->rs_type;
  if (int st = rescpy(to, from); st < 0) return st;
  return type != 0 ? rsconv(to, type) : 0;
}

int rsconv(res_u* v, int type) {
  int t = v->rs_type;
  if (t == type) return 0;
  switch (type) {
    case LBOOL: return convbool(v);
    case LINTG: return to_integer(v, LINTG);
    case LINT64:
      if (is_int(t) || t == LBOOL) {
        bool_to_int(v);
        v->rs_type = LINT64;
        return 0;
      }
      return to_integer(v, LINT64);
    case LDCB:
      if (t == LCLOB) return text_to_dcb(v);
      if (t == LDATE) {
        v->rs_int = v->rs_date;
        v->rs_type = LINTG;
      }
      return convdcb(v);
    case LDBLE:
      if (t == LCLOB) {
        if (int st = text_to_dcb(v); st < 0) return st;
        int n;
        if (isldcb(&v->rs_dcb, 1) && dcblng(&v->rs_dcb, &n) == 0) {
          v->rs_type = LINTG;
          v->rs_int = n;
        }
      } else if (t == LDATE) {
        v->rs_int = v->rs_date;
        v->rs_type = LINTG;
      }
      return convdbl(v);
    case LDATE: {
      if (t == LCLOB) return old_date(v);
      int n = 0;
      if (int st = exintg(v, &n); st < 0) return st;
      return set_date(v, n, "rsconv");
    }
    case LCLOB:
      if (t == LDATE) return date_to_text(v);
      if (is_number(t) || t == LBOOL) return nbtostu(v);
      return err_vlx(kErrCalcMode, "rsconv");
    case LUUID: {
      if (t != LCLOB) return err_vlx(kErrCalcMode, "rsconv");
      char text[256];
      text8(v, text);
      unsigned char uuid[16];
      int k = 0;
      for (const char* p = text; *p != 0 && k < 32; p++) {
        if (*p == '-' && (k == 8 || k == 12 || k == 16 || k == 20)) continue;
        int digit = std::isxdigit(static_cast<unsigned char>(*p)) ? (*p <= '9' ? *p - '0' : (*p | 32) - 'a' + 10) : -1;
        if (digit < 0) break;
        uuid[k / 2] = static_cast<unsigned char>(k % 2 == 0 ? digit << 4 : uuid[k / 2] | digit);
        k++;
      }
      if (k != 32 || std::strlen(text) != 36) return err_vlx(kErrUuid, "%s", text);
      res_drop(v);
      v->rs_type = LUUID;
      std::memcpy(v->rs_uuid, uuid, 16);
      return 0;
    }
    case LDATETIME: {
      if (t != LCLOB) return err_vlx(kErrCalcMode, "rsconv");
      char text[256];
      text8(v, text);
      std::uint64_t ts = 0;
      if (text[0] != 0) {
        s_dtm dtm{};
        if (int st = str2dtm(text, &dtm); st < 0) return st;
        if (int st = dtm2timestamp(dtm_pack(dtm), &ts); st < 0) return st;
      }
      res_drop(v);
      v->rs_type = LDATETIME;
      v->rs_dtm = static_cast<std::int64_t>(ts);
      return 0;
    }
    case LBLOB: return err_vlx(kErrCalcMode, "rsconv");
    default: return err_vlx(kErrInternal, "rsconv");
  }
}

int to_boolean(const res_u* v) {
  int t = v->rs_type;
  if (t == LBOOL) return v->rs_bool != 0;
  if (is_int(t)) return v->rs_int != 0;
  if (t == LDCB) return v->rs_dcb.ndigits != 0;
  if (is_dbl(t)) return v->rs_dbl != 0;
  return err_vlx(kErrCalcMode, WHERE("to_boolean"));
}

int ifnull(const res_u* v) {
  int t = v->rs_type;
  if (t == LBOOL) return v->rs_bool == 0;
  if (is_int(t)) return v->rs_int == 0;
  if (t == LDCB) return dcbsgn(&v->rs_dcb) == 0;
  if (is_dbl(t)) return v->rs_dbl == 0;
  return err_vlx(kErrCalcMode, WHERE("ifnull"));
}

int cmp_exp(res_u* a, res_u* b, int* order) {
  int ta = a->rs_type, tb = b->rs_type;
  // The pairs of a typical filter first.
  if (ta == tb) {
    switch (ta) {
      case LDATE: *order = (a->rs_date > b->rs_date) - (a->rs_date < b->rs_date); return 0;
      case LDCB: *order = sign3(dcbcmp(&a->rs_dcb, &b->rs_dcb)); return 0;
      case LCLOB:
        if (a->rs_str != nullptr && b->rs_str != nullptr) {
          *order = sign3(varstucmp(a->rs_str, b->rs_str));
          return 0;
        }
        break;
      default: break;
    }
  }
  if (is_int(ta) && is_int(tb)) {
    *order = sign3((a->rs_int > b->rs_int) - (a->rs_int < b->rs_int));
    return 0;
  }
  if (is_dbl(ta) || is_dbl(tb)) {
    double x, y;
    if (int st = both_dbl(a, b, &x, &y); st < 0) return st;
    double tol = std::fmin(std::fabs(x), std::fabs(y)) / 1e9;
    if (tol == 0) tol = 1e-9;
    *order = x - y < -tol ? -1 : std::fabs(x - y) < tol ? 0 : 1;
    return 0;
  }
  if (ta == LDCB || tb == LDCB) {
    if (int st = both_dcb(a, b); st < 0) return st;
    *order = sign3(dcbcmp(&a->rs_dcb, &b->rs_dcb));
    return 0;
  }
  if (ta == LDATE || tb == LDATE) {
    res_u* other = ta == LDATE ? b : a;
    if (other->rs_type == LCLOB)
      if (int st = old_date(other); st < 0) return st;
    if (other->rs_type == LDATETIME) {
      // A date stands for its midnight.
      std::int64_t x = ta == LDATE ? a->rs_date * kSecondsPerDay : a->rs_dtm;
      std::int64_t y = tb == LDATE ? b->rs_date * kSecondsPerDay : b->rs_dtm;
      *order = sign3((x > y) - (x < y));
      return 0;
    }
    if (other->rs_type != LDATE) return err_vlx(kErrCalcMode, "cmp_exp(%i,%i)", ta, tb);
    *order = sign3((a->rs_date > b->rs_date) - (a->rs_date < b->rs_date));
    return 0;
  }
  if (ta == LDATETIME && tb == LDATETIME) {
    *order = sign3((a->rs_dtm > b->rs_dtm) - (a->rs_dtm < b->rs_dtm));
    return 0;
  }
  if (ta == LCLOB && tb == LCLOB) {
    if (a->rs_str == nullptr || b->rs_str == nullptr) {
      *order = sign3(stucmp(res_text(a), res_text(b)));
      return 0;
    }
    *order = sign3(varstucmp(a->rs_str, b->rs_str));
    return 0;
  }
  if (ta == LBLOB && tb == LBLOB) {
    auto length = [](const unsigned char* p) -> std::uint32_t {
      return p == nullptr ? 0 : static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
    };
    std::uint32_t la = length(a->rs_blob), lb = length(b->rs_blob);
    *order = la != lb ? (la < lb ? -1 : 1) : la == 0 ? 0 : sign3(std::memcmp(a->rs_blob + 4, b->rs_blob + 4, la));
    return 0;
  }
  if (ta == LREF && tb == LREF) {
    *order = a->rs_ref == b->rs_ref && (a->rs_ref == nullptr || a->rs_refx == b->rs_refx) ? 0 : 1;
    return 0;
  }
  if (ta == LUUID && tb == LUUID) {
    *order = sign3(std::memcmp(a->rs_uuid, b->rs_uuid, 16));
    return 0;
  }
  if (ta == LBOOL || tb == LBOOL) {
    if (int st = convbool(ta == LBOOL ? b : a); st < 0) return st;
    *order = sign3(a->rs_bool - b->rs_bool);
    return 0;
  }
  return err_vlx(kErrCalcMode, "cmp_exp(%i,%i)", ta, tb);
}

int add_exp(res_u* l, res_u* r) {
  bool_to_int(l);
  bool_to_int(r);
  int tl = l->rs_type, tr = r->rs_type;
  if (is_int(tl) && is_int(tr)) {
    int type = tl == LINT64 || tr == LINT64 ? LINT64 : LINTG;
    std::int64_t sum;
    if (__builtin_add_overflow(l->rs_int, r->rs_int, &sum)) return err_vlx(kErrOverflow, "add_integer");
    return set_int(l, sum, type, "add_integer");
  }
  if ((tl == LCLOB || tl == LDATE) && (tr == LCLOB || tr == LDATE) && (tl == LCLOB || tr == LCLOB)) {
    if (tl == LDATE)
      if (int st = date_to_text(l); st < 0) return st;
    if (tr == LDATE)
      if (int st = date_to_text(r); st < 0) return st;
    return append(l, res_text(r));
  }
  if (tl == LDATE || tr == LDATE) {
    if (tl == LDATE && is_int(tr)) return set_date(l, std::int64_t{l->rs_date} + r->rs_int, "add_date");
    if (tr == LDATE && is_int(tl)) return set_date(l, std::int64_t{r->rs_date} + l->rs_int, "add_date");
    return err_vlx(kErrInternal, "add_date");
  }
  if (is_dbl(tl) || is_dbl(tr)) {
    double x, y;
    if (int st = both_dbl(l, r, &x, &y); st < 0) return st;
    return set_double(l, x + y, "add_exp");
  }
  if (tl == LDCB || tr == LDCB) {
    if (!is_number(tl) || !is_number(tr)) return unsupported("add_exp", l, r);
    if (int st = both_dcb(l, r); st < 0) return st;
    return dcb_as(&l->rs_dcb, &l->rs_dcb, &r->rs_dcb, 0);
  }
  return unsupported("add_exp", l, r);
}

namespace {

// "a  " - "  b" is "a b".
int sub_strings(res_u* l, res_u* r) {
  if (l->rs_type == LDATE)
    if (int st = date_to_text(l); st < 0) return st;
  if (r->rs_type == LDATE)
    if (int st = date_to_text(r); st < 0) return st;
  varstu* s = l->rs_str != nullptr ? l->rs_str : res_setstr(l, 0);
  if (s == nullptr) return -Vstat1;
  unsigned n = s->length;
  while (n > 0 && s->text[n - 1] == u' ') n--;
  vsucut(s, static_cast<int>(n));
  if (int st = append(l, u" "); st < 0) return st;
  const char16_t* right = res_text(r);
  while (*right == u' ') right++;
  return append(l, right);
}

}  // namespace

int sub_exp(res_u* l, res_u* r) {
  bool_to_int(l);
  bool_to_int(r);
  int tl = l->rs_type, tr = r->rs_type;
  if (is_int(tl) && is_int(tr)) {
    int type = tl == LINT64 || tr == LINT64 ? LINT64 : LINTG;
    std::int64_t diff;
    if (__builtin_sub_overflow(l->rs_int, r->rs_int, &diff)) return err_vlx(kErrOverflow, "sub_integer");
    return set_int(l, diff, type, "sub_integer");
  }
  if (tl == LCLOB || tr == LCLOB) {
    if ((tl == LCLOB || tl == LDATE) && (tr == LCLOB || tr == LDATE)) return sub_strings(l, r);
    return err_vlx(kErrCalcMode, WHERE("sub_exp"));
  }
  if (tl == LDATE) {
    if (tr == LDATE) return set_int(l, std::int64_t{l->rs_date} - r->rs_date, LINTG, "sub_date");
    if (is_int(tr)) return set_date(l, std::int64_t{l->rs_date} - r->rs_int, "sub_date");
    return err_vlx(kErrInternal, "sub_date");
  }
  if (tr == LDATE) return err_vlx(kErrInternal, "sub_date");
  if (is_dbl(tl) || is_dbl(tr)) {
    double x, y;
    if (int st = both_dbl(l, r, &x, &y); st < 0) return st;
    return set_double(l, x - y, "sub_exp");
  }
  if ((tl == LDCB || tr == LDCB) && is_number(tl) && is_number(tr)) {
    if (int st = both_dcb(l, r); st < 0) return st;
    return dcb_as(&l->rs_dcb, &l->rs_dcb, &r->rs_dcb, 1);
  }
  return unsupported("sub_exp", l, r);
}

int mul_exp(res_u* l, res_u* r) {
  bool_to_int(l);
  bool_to_int(r);
  int tl = l->rs_type, tr = r->rs_type;
  if (!is_number(tl) || !is_number(tr)) return unsupported("mul_exp", l, r);
  if (is_int(tl) && is_int(tr)) {
    double product = static_cast<double>(l->rs_int) * static_cast<double>(r->rs_int);
    if (product >= INT32_MIN && product <= INT32_MAX) return set_int(l, l->rs_int * r->rs_int, LINTG, "mul_exp");
  } else if (is_dbl(tl) || is_dbl(tr)) {
    double x, y;
    if (int st = both_dbl(l, r, &x, &y); st < 0) return st;
    return set_double(l, x * y, "mul_exp");
  }
  if (int st = both_dcb(l, r); st < 0) return st;
  return dcbmul(&l->rs_dcb, &l->rs_dcb, &r->rs_dcb);
}

int div_exp(res_u* l, res_u* r) {
  bool_to_int(l);
  bool_to_int(r);
  int tl = l->rs_type, tr = r->rs_type;
  if (!is_number(tl) || !is_number(tr)) return unsupported("div_exp", l, r);
  if (is_int(tl) && is_int(tr)) {
    if (r->rs_int == 0) return err_vlx(kErrDivideByZero, "div_exp");
    int type = tl == LINT64 || tr == LINT64 ? LINT64 : LINTG;
    std::int64_t quotient;
    if (r->rs_int == -1) {
      if (__builtin_sub_overflow(std::int64_t{0}, l->rs_int, &quotient)) return err_vlx(kErrOverflow, "div_exp");
      return set_int(l, quotient, type, "div_exp");
    }
    if (l->rs_int % r->rs_int == 0) return set_int(l, l->rs_int / r->rs_int, type, "div_exp");
  } else if (is_dbl(tl) || is_dbl(tr)) {
    double x, y;
    if (int st = both_dbl(l, r, &x, &y); st < 0) return st;
    if (y == 0) return err_vlx(kErrDivideByZero, "div_exp");
    return set_double(l, x / y, "div_exp");
  }
  if (int st = both_dcb(l, r); st < 0) return st;
  return dcbdiv(&l->rs_dcb, &l->rs_dcb, &r->rs_dcb);
}

namespace {

// The exponent as a 32-bit integer when its value is integral.
bool integral_exponent(res_u* e, int* n) {
  if (is_int(e->rs_type)) {
    if (e->rs_int < INT32_MIN || e->rs_int > INT32_MAX) return false;
    *n = static_cast<int>(e->rs_int);
    return true;
  }
  if (e->rs_type == LDCB) return isldcb(&e->rs_dcb, 1) && dcblng(&e->rs_dcb, n) == 0;
  double d = e->rs_dbl;
  if (d != std::trunc(d) || !(d >= INT32_MIN && d <= INT32_MAX)) return false;
  *n = static_cast<int>(d);
  return true;
}

int decimal_power(res_u* base, int n) {
  if (int st = convdcb(base); st < 0) return st;
  s_dcb square = base->rs_dcb, result = Onedcb;
  unsigned m = n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
  while (m != 0) {
    if (m & 1)
      if (int st = dcbmul(&result, &result, &square); st < 0) return st;
    m >>= 1;
    if (m != 0)
      if (int st = dcbmul(&square, &square, &square); st < 0) return st;
  }
  if (n < 0)
    if (int st = dcbdiv(&result, &Onedcb, &result); st < 0) return st;
  base->rs_dcb = result;
  return 0;
}

}  // namespace

int pow_exp(res_u* b, res_u* e) {
  if (!is_number(b->rs_type) || !is_number(e->rs_type)) return err_vlx(kErrCalcMode, WHERE("dpow"));
  int zero = ifnull(b), esign;
  if (zero < 0) return zero;
  if (is_int(e->rs_type)) esign = sign3(e->rs_int);
  else if (e->rs_type == LDCB) esign = dcbsgn(&e->rs_dcb);
  else esign = e->rs_dbl < 0 ? -1 : e->rs_dbl > 0 ? 1 : 0;
  if (zero) {
    if (esign == 0) return err_vlx(kErrDomain, "0^0");
    if (esign < 0) return err_vlx(kErrDivideByZero, "0^-n");
    return set_int(b, 0, LINTG, "dpow");
  }
  int n;
  if (integral_exponent(e, &n)) return decimal_power(b, n);
  double x, y;
  if (int st = both_dbl(b, e, &x, &y); st < 0) return st;
  if (x < 0) return err_vlx(kErrDomain, "dpow");
  double p = std::exp(y * std::log(x));
  if (!std::isfinite(p)) return err_vlx(kErrOverflow, "dpow");
  return set_double(b, p, "dpow");
}

int stfcst(grctx* g, const res_u* value) {
  switch (value->rs_type) {
    case LBOOL: return value->rs_bool ? 210 : 209;
    case LINTG: return stfint(g, static_cast<std::int32_t>(value->rs_int));
    case LDATE: return stfint(g, static_cast<std::int32_t>(value->rs_date));
    case LINT64: return stflargeint(g, value->rs_int);
    case LDATETIME: return stflargeint(g, value->rs_dtm);
    case LDCB: return stfdcb(g, &value->rs_dcb);
    case LDBLE: {
      s_dcb d;
      if (int st = dbldcb(&d, value->rs_dbl); st < 0) return st;
      return stfdcb(g, &d);
    }
    case LCLOB: return stfstu(g, value->rs_str != nullptr ? value->rs_str->text : u"");
    case LUUID: return stfuuid(g, value->rs_uuid);
    default: return err_vlx(kErrCalcMode, "stfcst type:%d", value->rs_type);
  }
}
