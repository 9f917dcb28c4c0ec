// Type codes of the 4GL: the type of a computed value and the storage type
// of a variable or a record's field, as the compiled grammar, the table
// requests and the stored values carry them.
#pragma once

#include <cstdint>

enum : std::uint16_t {
  LREF = 32,
  LBOOL = 299,
  LLIBE = 300,
  LSINT = 301,
  LINTG = 302,
  LDCB = 303,
  LFLT = 304,
  LDBLE = 305,
  LSTRG = 306,
  LDATE = 307,
  LDCBIBM = 308,
  LTBLE = 368,
  LSTCT = 369,
  LSTRC = 370,
  LSTRU = 378,
  LBLOB = 380,
  LCLOB = 381,
  LUUID = 383,
  LDATETIME = 384,
  LINT64 = 386,
};
