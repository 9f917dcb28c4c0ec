// Stored forms read from arbitrary bytes and written back, and elements of
// variables addressed by arbitrary indexes. The first byte picks which.
//
// Storage: byte 1 picks the type, bytes 2-3 the length, byte 4 the flags;
// the rest is the stored form, in an area of exactly its stored size.
// Elements: byte 1 picks the variable and the operation, then up to five
// 2-byte indexes.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "values/vlxdcb.h"
#include "variables/varcla.h"
#include "variables/varsys.h"

namespace {

const int kTypes[] = {0,   32,  96,  299, 300, 301, 302, 303, 304, 305, 306,
                      307, 308, 368, 369, 370, 378, 380, 381, 383, 384, 386, 999};
const char* const kNames[] = {"t", "m", "d", "s", "lob", "p"};

int make_class() {
  unsigned group = adg_get(nullptr, nullptr, 0, "fuzz class");
  int cls = gen_class(group, "fuzz", 0, 64, 4, 1);
  short ten = 10, one = 1, cube[] = {2, 3, 4}, lows[] = {1, 0, -1}, dynamic[] = {kDynamic, 3}, three = 3;
  cre_var(cls, "t", LINTG, 0, &ten, &one, 1, nullptr);
  cre_var(cls, "m", LSINT, 0, cube, lows, 3, nullptr);
  cre_var(cls, "d", LDCB, 0, dynamic, nullptr, 2, nullptr);
  cre_var(cls, "s", LSTRU, 5, &three, nullptr, 1, nullptr);
  cre_var(cls, "lob", LCLOB, 0, &three, nullptr, 1, nullptr);
  cre_var(cls, "p", LDCBIBM, 50, &three, nullptr, 1, io_ibm);
  return cls;
}

void storage(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return;
  int type = kTypes[data[1] % (sizeof kTypes / sizeof kTypes[0])];
  int length = (data[2] << 8 | data[3]) % 1100;
  if ((type == LBLOB || type == LCLOB) && length > 6) length %= 7;
  int flags = data[4] & 3;
  int width = stored_size(type, length);
  if (width < 0) return;
  // Exactly the stored size, so that the sanitizer sees a byte beyond it;
  // a size of 0 still has an address.
  std::size_t n = static_cast<std::size_t>(std::max(width, 1));
  std::vector<unsigned char> in(n), out(n);
  std::memcpy(in.data(), data + 5, std::min(n, size - 5));
  res_u value;
  res_zero(&value);
  if (vad2rs(&value, in.data(), nullptr, type, length, flags) == 0) rs2vad(out.data(), nullptr, type, length, &value, flags);
  res_drop(&value);
}

void element(int cls, const std::uint8_t* data, std::size_t size) {
  if (size < 2) return;
  varan* v = nullptr;
  if (test_var(cls, kNames[data[1] % 6], &v) == 0) return;
  short indexes[5];
  int n = 0;
  for (std::size_t at = 2; at + 1 < size && n < 5; at += 2) indexes[n++] = static_cast<short>(data[at] << 8 | data[at + 1]);
  res_u value;
  res_zero(&value);
  switch (data[1] / 6 % 3) {
    case 0:
      get_value(v, indexes, n, &value);
      break;
    case 1:
      value.rs_type = LINTG;
      value.rs_int = data[1];
      assign(v, indexes, n, &value);
      break;
    default:
      raz_var(v);
  }
  res_drop(&value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static int cls = (ini_malloc(65536), cstdcb(), cbu_ini(512), make_class());
  if (size == 0) return 0;
  if (data[0] % 2 == 0) {
    storage(data, size);
  } else {
    element(cls, data, size);
    // Dynamic elements would pile up from one input to the next.
    raz_class(cls);
  }
  raz_err();
  return 0;
}
