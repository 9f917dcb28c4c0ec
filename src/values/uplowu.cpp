// Three-level lookup of the generated case tables: code point bits 12-15
// select a middle block, bits 5-11 a leaf, bits 0-4 an offset into the pool
// of code point sequences (0: no mapping; bit 31 ends a sequence).
#include "values/uplowu.h"

#include <cstdint>

namespace {

struct CaseTable {
  std::uint8_t top[16];
  const std::uint8_t (*mid)[128];
  const std::uint16_t (*leaf)[32];
  const std::uint32_t* pool;
};

#include "values/casemap_tables.inc"

constexpr std::uint32_t kLast = 0x80000000u;
constexpr int kMaxUnits = 16;

int map_char(const CaseTable& table, char16_t* out, char16_t c) {
  unsigned offset = table.leaf[table.mid[table.top[c >> 12]][(c >> 5) & 127]][c & 31];
  if (offset == 0) {
    out[0] = c;
    return 1;
  }
  int n = 0;
  for (const std::uint32_t* p = table.pool + offset; n < kMaxUnits; p++) {
    out[n++] = (char16_t)(*p & 0xFFFF);
    if ((*p & kLast) != 0) break;
  }
  return n;
}

}  // namespace

int tolower_u(char16_t* out, char16_t c) { return map_char(Lowercase, out, c); }
int toupper_u(char16_t* out, char16_t c) { return map_char(Uppercase, out, c); }
