// System variables: the accessors of the engine's own variables, the class
// of an open table, and the variables that compiled expressions name.
//
// An open table gets a class in its memory group: one read-only variable
// per field, whose elements are the field in the table's current record,
// and accessor variables for the table's properties. An expression names a
// variable by an entry of its class-identifier table (gr_cid): the entry's
// class reference (gr_cla) holds, in ca_class, the identifier of the
// class's abbreviation, and the entry's ci_iden the variable's name.
#pragma once

#include <cstdint>

#include "base/bigend.h"
#include "calc/acalc.h"
#include "image/vlxload.h"
#include "variables/varcla.h"

// The expression code of a variable: objectId names its gr_cid entry,
// header the first of its index expressions (chained by next).
inline constexpr unsigned kVariaCode = 309;

// Accessors. io_rds: a read-only short integer; io_ibm: packed decimals
// (a reset gives every element zeros and the positive sign); io_updtick_f:
// a counter the engine keeps, reset to 0, not written through it.
int io_rds(varan* v, const short* indexes, int nindexes, res_u* value, res_u* other);
int io_ibm(varan* v, const short* indexes, int nindexes, res_u* value, res_u* other);
int io_updtick_f(varan* v, const short* indexes, int nindexes, res_u* value, res_u* other);

// A field of an open table, as its class sees it.
struct s_fgfld {
  const char* name;  // empty, or taken by an earlier field: "F" and the
                     // field's number (from 1)
  int type, length, scale;
  std::uint32_t offset;  // in the table's record
};

// Property variables of a table class.
inline constexpr const char* kFgSlot = "~SLOT";       // the table slot
inline constexpr const char* kFgFields = "~FIELDS";   // number of fields
inline constexpr const char* kFgReads = "~UPDTICK";   // records read since the open

// Creates the class of the table open in `slot`, named `name` (its family
// is the slot), in the table's group: field i is read where it lies in the
// record unit `record`, its variable's attributes being its number and
// scale. The class number.
int cre_FG(unsigned group, const char* name, int slot, const s_fgfld* fields, int count, cbu_ref record);
// The count of records read into the table of class `cls`, where its
// variable keeps it (4 bytes, big-endian): a read counts each record with
// fg_tick. Null without that class (nothing is counted, and no error
// recorded). The bytes stay where they are while the class lives, for a
// table class never grows.
unsigned char* fg_counter(int cls);
inline void fg_tick(unsigned char* counter) {
  if (counter != nullptr) put_be32(counter, get_be32(counter) + 1);
}

// The variable that entry `cid` of g's gr_cid names, remembered in the
// entry's run-time bytes until its class changes. With `deflt`, a name not
// found becomes a new decimal variable of the class.
int give_var(grctx* g, unsigned cid, int deflt, varan** out);
// The calculator's load of a variable node (code 309): the element its
// indexes name, or its first element.
int varia_g(res_u* result, grctx* g, s_exp* node, int code);
