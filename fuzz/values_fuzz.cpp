// Raw text into the value parsers: decimals, UTF-8, ISO date-times and
// old-format dates. The first byte picks the parser; parser 4 is the
// decimal reading of a text whose every "#" stands for a run of one
// character (bytes 1 and 2: its length in sixteens, byte 3: the
// character), so that digit runs and exponents of any length are read.
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
  auto decimal = [](const std::string& t) {
    s_dcb d;
    if (strdcb(&d, t.c_str()) >= 0) {
      char out[128];
      dcbstr(&d, out, 100);
    }
  };
  switch (data[0] % 5) {
    case 0:
      decimal(text);
      break;
    case 4: {
      if (size < 4) break;
      std::string run(static_cast<std::size_t>(data[1] << 8 | data[2]) * 16, static_cast<char>(data[3]));
      std::string expanded;
      for (std::size_t i = 4; i < size; ++i)
        if (data[i] == '#') expanded += run; else expanded += static_cast<char>(data[i]);
      decimal(expanded);
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
