// Computed values of the calculator and the rules between value types:
// the value record res_u, conversions, ordering and the four arithmetic
// operations that the operators of the dispatch table apply.
//
// A value is created zeroed (res_zero) by its holder, owns rs_grp and is
// dropped with res_drop. Strings of up to 256 characters live inside the
// record; a record holding a string must not be copied bytewise (rescpy
// copies). Functions return 0 or a negated error number.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/vlxload.h"
#include "values/varstr.h"
#include "values/vlxdcb.h"
#include "values/vtypes.h"

inline constexpr int kInlineChars = 256;

struct res_u {
  std::uint8_t rs_bool;
  double rs_dbl;
  std::int64_t rs_int;
  std::uint32_t rs_date;
  std::uint32_t rs_grp;
  std::uint16_t rs_type;
  s_dcb rs_dcb;
  varstu* rs_str;
  unsigned char* rs_blob;
  std::uint64_t rs_refx;
  void* rs_ref;
  std::int64_t rs_dtm;
  unsigned char rs_uuid[16];
  varstu rs_vsu;
  // Last so that zeroing a value leaves the text buffer alone.
  char16_t rs_buf[kInlineChars + 1];
};

// Zeroes every field but the inline text buffer.
inline void res_zero(res_u* v) {
  __builtin_memset(static_cast<void*>(v), 0, offsetof(res_u, rs_buf));
  v->rs_buf[0] = 0;
}
// An operator's temporary: empty, without the cost of zeroing the whole
// record; every handler sets the fields of the type it gives.
inline void res_temp(res_u* v) {
  v->rs_type = 0;
  v->rs_grp = 0;
  v->rs_str = nullptr;
  v->rs_blob = nullptr;
  v->rs_ref = nullptr;
  v->rs_refx = 0;
}
// Frees the value's group and leaves it zeroed.
void res_drop(res_u* v);

// String values. res_setstr makes v the empty string of room >= capacity.
varstu* res_setstr(res_u* v, unsigned capacity);
int res_setstu(res_u* v, const char16_t* text, unsigned length);
int res_setascii(res_u* v, const char* text);
inline const char16_t* res_text(const res_u* v) { return v->rs_str != nullptr ? v->rs_str->text : u""; }

// The integer types: byte, short, integer, 64-bit integer.
inline bool is_int(int t) { return (t >= LLIBE && t <= LINTG) || t == LINT64; }
inline bool is_dbl(int t) { return t == LFLT || t == LDBLE; }
// Numbers: the integers, decimals, floats and doubles.
inline bool is_number(int t) { return is_int(t) || t == LDCB || is_dbl(t); }

int typconv(int storageType);
// Name of a type for messages ("Integer", ...).
const char* type_name(int type);

// A string value read as old-format date text (8-bit, at most 255
// characters) becomes a date value.
int old_date(res_u* v);
int rsconv(res_u* v, int type);
int convdcb(res_u* v);
int convdbl(res_u* v);
// A number (integer, decimal truncated, double truncated) becomes a 64-bit
// integer (type 386). A number that does not fit is -kErrOverflow, not
// recorded: the functions that read counts put a substitute in its place.
// Another type is error kErrCalcMode.
int convlong(res_u* v);
int convbool(res_u* v);
int exintg(const res_u* v, int* out);
// Text of a number (boolean, integer, decimal, double) into a string value.
int nbtostu(res_u* v);
// REQUIRES: out has room for 64 bytes.
int nbtostr(const res_u* v, char* out);
int rescpy(res_u* to, const res_u* from);
int convgen(res_u* to, const res_u* from);
int cmp_exp(res_u* a, res_u* b, int* order);
// 1 or 0, or a negated error.
int to_boolean(const res_u* v);
int ifnull(const res_u* v);

int add_exp(res_u* left, res_u* right);
int sub_exp(res_u* left, res_u* right);
int mul_exp(res_u* left, res_u* right);
int div_exp(res_u* left, res_u* right);
int pow_exp(res_u* base, res_u* exponent);

// Stores a value as a constant of g, in the pool of its type (booleans
// are the codes 209 and 210); the entry's index or a negated error.
int stfcst(grctx* g, const res_u* value);
