#include "diagnostics/errcat.h"

namespace {
constexpr short kNumbers[] = {
#define VLX_ERROR_NUMBER(number, name, text) number,
    VLX_ERRCAT(VLX_ERROR_NUMBER)
#undef VLX_ERROR_NUMBER
};
constexpr bool dense() {
  for (int i = 0; i < kErrcatSize; ++i)
    if (kNumbers[i] != i) return false;
  return sizeof kNumbers / sizeof kNumbers[0] == kErrcatSize;
}
static_assert(dense(), "ORDER ERRCAT: the catalogue lists every number once, in order");
}  // namespace

const char Errcat[kErrcatSize][2][86] = {
#define VLX_ERROR_TEXT(number, name, text) {text, ""},
    VLX_ERRCAT(VLX_ERROR_TEXT)
#undef VLX_ERROR_TEXT
};
