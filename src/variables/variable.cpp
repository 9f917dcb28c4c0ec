#include "variables/variable.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/bigend.h"
#include "calc/calcbase.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "values/date.h"
#include "values/varstr.h"
#include "values/vlxdcb.h"

namespace {

void put_be(unsigned char* out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(value >> (8 * (bytes - 1 - i)));
}

std::uint64_t get_be(const unsigned char* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = value << 8 | in[i];
  return value;
}

int out_of_range(long long value, const char* what, int low, int high) {
  if (high == 255) return err_vlx(kErrOverflow, "%lld is out of range defined for %s [0-%i]", value, what, high);
  return err_vlx(kErrOverflow, "%lld is out of range defined for %s [%i-%i]", value, what, low, high);
}

// A converted copy of `value`, so the caller's value stays as it was.
int converted(res_u* copy, const res_u* value, int type) {
  res_zero(copy);
  int st = rescpy(copy, value);
  if (st == 0 && copy->rs_type != type) st = rsconv(copy, type);
  return st < 0 ? err_vlx(kErrCalcMode, "Invalid calcul mode") : 0;
}

}  // namespace

int stored_size(int type, int length) {
  switch (type) {
    case LBOOL: case LLIBE: return 1;
    case LSINT: return 2;
    case LINTG: case LFLT: return 4;
    case LDCB: return length == 0 ? static_cast<int>(sizeof(s_dcb)) : length;
    case LDBLE: case LDATETIME: case LINT64: return 8;
    case LSTRG: return length;
    case LSTRC: return length + 1;
    case LDATE: return length == 3 ? 3 : 4;
    case LDCBIBM: return length / 16;
    case LSTRU: return 2 * length + 2;
    case LUUID: return 16;
    default: return length;
  }
}

int rs2vad(unsigned char* out, void* extents, int type, int length, res_u* value, int flags) {
  (void)extents, (void)flags;
  res_u v;
  int st = 0;
  switch (type) {
    case LBOOL:
      if ((st = converted(&v, value, LBOOL)) < 0) return st;
      out[0] = v.rs_bool != 0;
      break;
    case LLIBE: case LSINT: case LINTG: case LINT64: {
      if ((st = converted(&v, value, type == LINT64 ? LINT64 : LINTG)) < 0) return st;
      long long n = v.rs_int;
      if (type == LLIBE && (n < 0 || n > 255)) st = out_of_range(n, "labels", 0, 255);
      else if (type == LSINT && (n < -32768 || n > 32767)) st = out_of_range(n, "short integers", -32768, 32767);
      else put_be(out, static_cast<std::uint64_t>(n), stored_size(type, length));
      break;
    }
    case LDCB:
      if ((st = converted(&v, value, LDCB)) < 0) return st;
      if (length == 0) std::memcpy(out, &v.rs_dcb, sizeof(s_dcb));
      else st = stpdcb(&v.rs_dcb, out, length);
      break;
    case LFLT: {
      if ((st = converted(&v, value, LDBLE)) < 0) return st;
      if (std::fabs(v.rs_dbl) > 3.4028234663852886e38) {
        st = err_vlx(kErrOverflow, "%g is out of range for a single precision number", v.rs_dbl);
        break;
      }
      float f = static_cast<float>(v.rs_dbl);
      std::memcpy(out, &f, 4);
      break;
    }
    case LDBLE:
      if ((st = converted(&v, value, LDBLE)) < 0) return st;
      std::memcpy(out, &v.rs_dbl, 8);
      break;
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
      break;
    }
    case LDATE:
      if ((st = converted(&v, value, LDATE)) < 0) return st;
      put_be(out, v.rs_date, length == 3 ? 3 : 4);
      break;
    case LDATETIME:
      if ((st = converted(&v, value, LDATETIME)) < 0) return st;
      put_be(out, static_cast<std::uint64_t>(v.rs_dtm), 8);
      break;
    case LUUID:
      if ((st = converted(&v, value, LUUID)) < 0) return st;
      std::memcpy(out, v.rs_uuid, 16);
      break;
    case 32:
      return err_vlx(kErrInternal, "Illegal LREFR internal type");
    default:
      return err_vlx(kErrCalcMode, "rs2vad type:%i", type);
  }
  res_drop(&v);
  return st;
}

int vad2rs(res_u* value, const unsigned char* in, void* extents, int type, int length, int flags) {
  (void)extents, (void)flags;
  // Loaded once per record for each filtered field: the value is emptied,
  // not zeroed, and every case sets the fields of the type it gives.
  if (value->rs_grp != 0) adg_free(value->rs_grp);
  res_temp(value);
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
      if (s == nullptr) return Vstat1 > 0 ? -Vstat1 : err_vlx(kErrNoMemory, "vad2rs");
      for (unsigned i = 0; i < n; ++i) s->text[i] = in[i];
      s->text[n] = 0;
      s->length = n;
      return 0;
    }
    case LSTRU: {
      std::u16string text(static_cast<std::size_t>(length), u'\0');
      int n = 0;
      while (n < length && (in[2 * n] | in[2 * n + 1]) != 0) text[static_cast<std::size_t>(n)] = static_cast<char16_t>(get_be(in + 2 * n, 2)), ++n;
      return res_setstu(value, text.data(), static_cast<unsigned>(n));
    }
    case LDATE:
      value->rs_type = LDATE;
      value->rs_date = static_cast<std::uint32_t>(get_be(in, length == 3 ? 3 : 4));
      return 0;
    case LDATETIME:
      value->rs_type = LDATETIME;
      value->rs_dtm = static_cast<std::int64_t>(get_be(in, 8));
      return 0;
    case LUUID:
      value->rs_type = LUUID;
      std::memcpy(value->rs_uuid, in, 16);
      return 0;
    case 0:
      return err_vlx(kErrCalcMode, "vad2rs type=0");
    default:
      return err_vlx(kErrCalcMode, "vad2rs type=%i", type);
  }
}
