// Classes of variables: a named set of variables, sorted by name, whose
// elements lie side by side in one value buffer, numbered in a process-wide
// table.
//
// A class lives in the memory group it was created in and is valid while
// that group is valid and kept; once the group is released, its number
// goes back to the allocator. Variables are never removed one by one.
// Functions return 0 (or a number) on success and a negated error number.
#pragma once

#include <cstdint>

#include "variables/variable.h"

inline constexpr int kClassName = 64;
// Classes of lower numbers answer the information functions.
inline constexpr int kInfoClasses = 1013;
inline constexpr int kMaxClasses = 65536;

// One dimension of a variable of several.
struct s_dim {
  std::int16_t lower;
  std::uint16_t count;  // kDynamic: dynamic (first dimension only)
  std::uint16_t next;   // record of the next dimension, 0 = last
};

struct s_cls {
  varan* vars;       // varCapacity records, the first varCount in use
  cbu_ref values;    // the value buffer, 0 while there is none
  s_dim* dims;       // records 1..dimCount; record 0 is never used
  std::uint32_t bufSize, bufUsed;
  std::uint32_t group;
  std::uint16_t varCapacity, varCount;
  std::uint16_t dimCount;
  std::uint16_t dimFree;     // first free dimension record, 0 = none
  std::uint16_t extensible;  // 0: the variable table and buffer never grow
  std::uint16_t number;
  std::uint16_t parent;      // the class this one derives from, 0 = none
  std::uint32_t family;
  std::uint32_t stamp;       // unique to this creation, for the holders of
                             // a number that may be taken again
  char name[kClassName + 1];
  std::uint8_t tildeCount;   // variables whose name begins with "~"
};

// What a creator may add to a variable besides its type and dimensions.
struct s_varopt {
  cbu_ref buffer = 0;         // a unit of its own holding its elements, at
  std::uint32_t offset = 0;   // this offset (the unit stays the creator's)
  std::uint16_t flags = 0;    // kVarReadOnly, kVarDefault
  std::uint16_t attr1 = 0, attr2 = 0;
};

struct s_clent {
  s_cls* cls;
  std::uint32_t group;  // the group the class lives in
  cbu_ref values;       // its value buffer, released when the number is
                        // taken again (the unit outlives the group)
};

// Process-wide: the class table, entries 0..Maxcls-1 (0 is never a class;
// the table grows by 64 entries), and the growth steps of variable tables
// (records) and value buffers (bytes).
extern s_clent* Class;
extern unsigned Maxcls;
extern int Vclits;
extern int Vclibm;

// Creates a class in `group`; its number.
int gen_class(unsigned group, const char* name, int family, unsigned bufSize, int varCapacity, int extensible,
              int parent = 0);
// Releases a class before its group: its tables, its value buffer and its
// number (a creator that fails halfway).
int cla_free(int cls);
// The class of a number while it is valid, else null.
s_cls* cls_ptr(int number);
// The valid class of lowest number with this abbreviation, 0 when none.
int cla_find(const char* name);

// Creates a variable (one dimension when ndim is 0, a dimension of 0 being
// one element; a first dimension of kDynamic: a dynamic array); with an
// accessor, calls it once to reset the new variable. *out, when asked, is
// its descriptor. Errors 7 (class), 61 (name taken), 8 (dimensions), 31
// (no room, the class not growing, or beyond 2^31 bytes), 26 (length
// outside 0..65535); a failure leaves the class as it was, but for a
// value buffer that may have grown.
int cre_var(int cls, const char* name, int type, int length, const short* dims, const short* lowerBounds, int ndim,
            var_accessor accessor, const s_varopt* opt = nullptr, varan** out = nullptr);
// An accessor variable of one element, created without that call.
int cre_vet(int cls, const char* name, int type, int length, var_accessor accessor, const s_varopt* opt = nullptr,
            varan** out = nullptr);
// The descriptor, or null with error 6.
varan* cher_var(int cls, const char* name);
// 1 and the descriptor, or 0; records no error.
int test_var(int cls, const char* name, varan** out);
// The index of `name`, else -1 - the index where it would be inserted.
int ozone(const s_cls* c, const char* name);
// Resets every variable but the read-only ones; the first error of an
// accessor, the others reset all the same.
int raz_class(int cls);
// 1 variables, 2 variable capacity, 4 bytes of the class's group, 5 bytes
// used and 6 size of the value buffer, 7 family, 8 "~" variables, 9 1 when
// extensible, 10 the class it derives from; 0 for any other item, and for
// a class that is not valid or numbered kInfoClasses or above.
long long cl_inf(int cls, int what);
// The abbreviation; "" where cl_inf answers 0.
const char* cla_abv(int cls);

// References to instances: a reference value names a class (an instance
// is a class deriving from the type it instantiates).
int cla_ref(int cls, res_u* out);
// The class a reference value names while valid, else 0.
int cla_of_ref(const res_u* v);
// The class a stored reference names while valid, else null.
s_cls* cla_of_word(std::uint64_t word);
bool cla_derives(int number, int base);
