#include "functions/afnc2.h"

#include <algorithm>
#include <climits>

#include "diagnostics/vlxerr.h"
#include "functions/fnargs.h"
#include "values/uplowu.h"

#define MISPLACED(fn) err_vlx(kErrInternal, VLX_WHERE("src/functions/afnc2", __LINE__, fn))

namespace {

// What a count that does not fit in 64 bits becomes.
constexpr std::int64_t kDefaultCount = 255;
// The longest text string$ makes, in characters.
constexpr std::int64_t kMaxText = std::int64_t{1} << 24;

// A count argument: `substitute` when it does not fit, error 50 when
// negative.
int count_arg(grctx* g, unsigned node, int code, std::int64_t substitute, std::int64_t* out) {
  bool fits = true;
  if (int st = fn_count(g, node, code, out, &fits); st < 0) return st;
  if (!fits) *out = substitute;
  return *out < 0 ? fn_fail(kErrDomain, code) : 0;
}

// Keeps `count` characters of v's string from the 0-based position `from`.
void keep(res_u* v, std::int64_t from, std::int64_t count) {
  varstu* s = v->rs_str;
  std::int64_t length = s->length;
  if (from >= length || count <= 0) {
    vsucut(s, 0);
    return;
  }
  vsushf(s, static_cast<int>(from));
  vsucut(s, static_cast<int>(std::min(count, length - from)));
}

// The string of a text argument evaluated into a temporary, which the
// caller drops.
int text_temp(res_u* v, grctx* g, unsigned node, int code) {
  res_temp(v);
  return fn_text(v, g, node, code);
}

}  // namespace

int fnmid(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnMidD) return MISPLACED("fnmid");
  unsigned args[3];
  if (int n = fn_args(g, call, code, 3, 3, args); n < 0) return n;
  if (int st = fn_text(result, g, args[0], code); st < 0) return st;
  std::int64_t length = result->rs_str->length, start = 0, count = 0;
  if (int st = count_arg(g, args[1], code, length, &start); st < 0) return st;
  if (start == 0) {
    vsucut(result->rs_str, 0);
    return 0;
  }
  if (int st = count_arg(g, args[2], code, length, &count); st < 0) return st;
  keep(result, start - 1, count);
  return 0;
}

int fnleft(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnLeftD) return MISPLACED("fnleft");
  unsigned args[2];
  if (int n = fn_args(g, call, code, 2, 2, args); n < 0) return n;
  if (int st = fn_text(result, g, args[0], code); st < 0) return st;
  std::int64_t count = 0;
  if (int st = count_arg(g, args[1], code, kDefaultCount, &count); st < 0) return st;
  keep(result, 0, count);
  return 0;
}

int fnright(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnRightD) return MISPLACED("fnright");
  unsigned args[2];
  if (int n = fn_args(g, call, code, 2, 2, args); n < 0) return n;
  if (int st = fn_text(result, g, args[0], code); st < 0) return st;
  std::int64_t count = 0, length = result->rs_str->length;
  if (int st = count_arg(g, args[1], code, kDefaultCount, &count); st < 0) return st;
  count = std::min(count, length);
  keep(result, length - count, count);
  return 0;
}

int fnseg(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnSegD) return MISPLACED("fnseg");
  unsigned args[3];
  if (int n = fn_args(g, call, code, 3, 3, args); n < 0) return n;
  if (int st = fn_text(result, g, args[0], code); st < 0) return st;
  std::int64_t from = 0, to = 0;
  if (int st = count_arg(g, args[1], code, kDefaultCount, &from); st < 0) return st;
  if (int st = count_arg(g, args[2], code, kDefaultCount, &to); st < 0) return st;
  if (from == 0 || from > to) vsucut(result->rs_str, 0);
  else keep(result, from - 1, to - from + 1);
  return 0;
}

int fninstr(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnInstr) return MISPLACED("fninstr");
  unsigned args[3];
  if (int n = fn_args(g, call, code, 3, 3, args); n < 0) return n;
  std::int64_t start = 0;
  bool fits = true;
  if (int st = fn_count(g, args[0], code, &start, &fits); st < 0) return st;
  if (fits && start < 0) return fn_fail(kErrDomain, code);
  if (int st = fn_text(result, g, args[1], code); st < 0) return st;
  res_u sub;
  int st = text_temp(&sub, g, args[2], code);
  if (st >= 0) {
    if (!fits) start = result->rs_str->length;
    int position = fninstu(static_cast<int>(std::min<std::int64_t>(start, INT_MAX)), res_text(result), res_text(&sub));
    fn_int(result, position);
  }
  fn_drop(&sub);
  return st;
}

int fnlen(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnLen) return MISPLACED("fnlen");
  unsigned args[1];
  if (int n = fn_args(g, call, code, 1, 1, args); n < 0) return n;
  if (int st = calcul(result, g, args[0]); st < 0) return st;
  std::int64_t length = 0;
  if (result->rs_type == LCLOB) {
    length = result->rs_str != nullptr ? result->rs_str->length : 0;
  } else if (result->rs_type == LBLOB) {
    const unsigned char* b = result->rs_blob;
    length = b != nullptr ? static_cast<std::int64_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3] : 0;
  } else {
    return err_vlx(kErrCalcMode, "%s unexpected type :%i", fn_name(code), result->rs_type);
  }
  fn_int(result, length);
  return 0;
}

int fnval(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnVal) return MISPLACED("fnval");
  unsigned args[1];
  if (int n = fn_args(g, call, code, 1, 1, args); n < 0) return n;
  if (int st = fn_text(result, g, args[0], code); st < 0) return st;
  return rsconv(result, LDCB);
}

int fnnum(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnNumD) return MISPLACED("fnnum");
  unsigned args[1];
  if (int n = fn_args(g, call, code, 1, 1, args); n < 0) return n;
  if (int st = calcul(result, g, args[0]); st < 0) return st;
  if (!is_number(result->rs_type)) return fn_fail(kErrCalcMode, code);
  return nbtostu(result);
}

int fnascii(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnAscii) return MISPLACED("fnascii");
  unsigned args[1];
  if (int n = fn_args(g, call, code, 1, 1, args); n < 0) return n;
  if (int st = fn_text(result, g, args[0], code); st < 0) return st;
  fn_int(result, result->rs_str->length > 0 ? result->rs_str->text[0] : 0);
  return 0;
}

int fnchr(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnChrD) return MISPLACED("fnchr");
  unsigned args[1];
  if (int n = fn_args(g, call, code, 1, 1, args); n < 0) return n;
  std::int64_t value = 0;
  bool fits = true;
  if (int st = fn_count(g, args[0], code, &value, &fits); st < 0) return st;
  if (!fits || value < 0 || value > 0xFFFF) return fn_fail(kErrDomain, code);
  char16_t c = static_cast<char16_t>(value);
  return res_setstu(result, &c, 1);
}

int fnspace(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnSpaceD) return MISPLACED("fnspace");
  unsigned args[1];
  if (int n = fn_args(g, call, code, 1, 1, args); n < 0) return n;
  std::int64_t count = 0;
  if (int st = count_arg(g, args[0], code, kDefaultCount, &count); st < 0) return st;
  unsigned n = static_cast<unsigned>(std::min(count, kDefaultCount));
  varstu* s = res_setstr(result, n);
  if (s == nullptr) return -Vstat1;
  std::fill(s->text, s->text + n, u' ');
  s->text[n] = 0;
  s->length = n;
  return 0;
}

int fnstring(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnStringD) return MISPLACED("fnstring");
  unsigned args[2];
  if (int n = fn_args(g, call, code, 2, 2, args); n < 0) return n;
  std::int64_t count = 0;
  if (int st = count_arg(g, args[0], code, kDefaultCount, &count); st < 0) return st;
  res_u pattern;
  res_temp(&pattern);
  int st = calcul(&pattern, g, args[1]);
  char16_t unit = 0;
  const char16_t* text = &unit;
  std::int64_t length = 1;
  if (st >= 0 && is_number(pattern.rs_type)) {
    st = convlong(&pattern);
    if (st == -kErrOverflow || (st >= 0 && (pattern.rs_int < 0 || pattern.rs_int > 0xFFFF))) st = fn_fail(kErrDomain, code);
    unit = static_cast<char16_t>(pattern.rs_int);
  } else if (st >= 0) {
    st = convertResu2Clob(&pattern);
    if (st >= 0 && pattern.rs_type != LCLOB) st = fn_fail(kErrCalcMode, code);
    text = res_text(&pattern);
    length = pattern.rs_str != nullptr ? pattern.rs_str->length : 0;
  }
  if (st >= 0 && length > 0 && count > kMaxText / length) st = fn_fail(kErrDomain, code);
  if (st >= 0) {
    unsigned total = static_cast<unsigned>(count * length);
    varstu* s = res_setstr(result, total);
    if (s == nullptr) {
      st = -Vstat1;
    } else {
      for (std::int64_t i = 0; length > 0 && i < count; ++i) std::copy(text, text + length, s->text + i * length);
      s->text[total] = 0;
      s->length = total;
    }
  }
  fn_drop(&pattern);
  return st;
}

int fncase(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnToupper && code != kFnTolower) return MISPLACED("fncase");
  unsigned args[1];
  if (int n = fn_args(g, call, code, 1, 1, args); n < 0) return n;
  if (int st = fn_text(result, g, args[0], code); st < 0) return st;
  int (*map)(char16_t*, char16_t) = code == kFnToupper ? toupper_u : tolower_u;
  varstu* s = result->rs_str;
  char16_t mapped[16];
  // In place while every character maps to one; from the first that maps
  // to several, the rest is mapped from a copy.
  unsigned i = 0;
  for (; i < s->length; ++i) {
    int n = map(mapped, s->text[i]);
    if (n > 1) break;
    if (n == 1) s->text[i] = mapped[0];
  }
  if (i == s->length) return 0;
  res_u rest;
  res_temp(&rest);
  int st = res_setstu(&rest, s->text + i, s->length - i);
  if (st >= 0) vsucut(s, static_cast<int>(i));
  for (unsigned k = 0; st >= 0 && k < rest.rs_str->length; ++k) {
    char16_t c = rest.rs_str->text[k];
    int n = map(mapped, c);
    if (n == 0) mapped[0] = c, n = 1;
    st = vsuext(s, s->length + static_cast<unsigned>(n));
    if (st < 0) break;
    std::copy(mapped, mapped + n, s->text + s->length);
    s->length += static_cast<unsigned>(n);
    s->text[s->length] = 0;
  }
  fn_drop(&rest);
  return st;
}

int fnvireblc(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnVireblc) return MISPLACED("fnvireblc");
  unsigned args[2];
  if (int n = fn_args(g, call, code, 2, 2, args); n < 0) return n;
  if (int st = fn_text(result, g, args[0], code); st < 0) return st;
  std::int64_t mode = 0;
  bool fits = true;
  if (int st = fn_count(g, args[1], code, &mode, &fits); st < 0) return st;
  if (!fits || mode < 0 || mode > 5) return fn_fail(kErrDomain, code);
  virublc(result->rs_str->text, result->rs_str->text, static_cast<int>(mode));
  vsusyn(result->rs_str);
  return 0;
}

namespace {

int ctrans_text(res_u* v, grctx* g, unsigned node, int code) {
  if (int st = calcul(v, g, node); st < 0) return st;
  if (int st = convertResu2Clob(v); st < 0) return st;
  if (v->rs_type != LCLOB) return err_vlx(kErrCalcMode, "%s unsuppported type:%i", fn_name(code), v->rs_type);
  return 0;
}

}  // namespace

int fnctrans(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnCtrans) return MISPLACED("fnctrans");
  unsigned args[3];
  int n = fn_args(g, call, code, 1, 3, args);
  if (n < 0) return n;
  if (int st = ctrans_text(result, g, args[0], code); st < 0) return st;
  if (result->rs_str == nullptr) return 0;
  res_u from, to;
  res_temp(&from);
  res_temp(&to);
  int st = n > 1 ? ctrans_text(&from, g, args[1], code) : 0;
  if (st >= 0 && n > 2) st = ctrans_text(&to, g, args[2], code);
  if (st >= 0) {
    // The text only shrinks: translated in place.
    ctrans(result->rs_str->text, result->rs_str->text, n > 1 ? res_text(&from) : nullptr, res_text(&to));
    vsusyn(result->rs_str);
  }
  fn_drop(&from);
  fn_drop(&to);
  return st;
}

namespace {

int match(res_u* result, grctx* g, s_exp* call, int code, int (*matches)(const char16_t*, const char16_t*)) {
  unsigned args[2];
  if (int n = fn_args(g, call, code, 2, 2, args); n < 0) return n;
  if (int st = fn_text(result, g, args[0], code); st < 0) return st;
  res_u pattern;
  int st = text_temp(&pattern, g, args[1], code);
  if (st >= 0) {
    int yes = matches(res_text(result), res_text(&pattern)) != 0;
    fn_int(result, code == kFnPat ? yes ^ static_cast<int>(call->type & 1) : yes);
  }
  fn_drop(&pattern);
  return st;
}

}  // namespace

int fnpat(res_u* result, grctx* g, s_exp* call, int code) {
  return code != kFnPat ? MISPLACED("fnpat") : match(result, g, call, code, fnupat);
}

int fnlike(res_u* result, grctx* g, s_exp* call, int code) {
  return code != kFnLike ? MISPLACED("fnlike") : match(result, g, call, code, find_pattern);
}
