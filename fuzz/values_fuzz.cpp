// Raw text into the value parsers: decimals, UTF-8, ISO date-times and
// old-format dates. The first byte picks the parser.
#include <cstddef>
#include <cstdint>
#include <string>

#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "values/date.h"
#include "values/varstr.h"
#include "values/vlxdcb.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = (ini_malloc(4096), cstdcb(), true);
  (void)ready;
  if (size == 0) return 0;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 4) {
    case 0: {
      s_dcb d;
      if (strdcb(&d, text.c_str()) >= 0) {
        char out[128];
        dcbstr(&d, out, 100);
      }
      break;
    }
    case 1: {
      char16_t out[300];
      utftoptu(out, text.c_str(), 300);
      break;
    }
    case 2: {
      s_dtm dtm;
      str2dtm(text.data(), &dtm);
      break;
    }
    case 3: {
      int n = 0;
      gtolddate(text.c_str(), &n);
      break;
    }
  }
  raz_err();
  return 0;
}
