// Variables of the 4GL: the stored form of every value type, and the
// descriptor of a variable with the access to its elements.
//
// A stored value (in a class's value buffer, in a table's record) is
// written from a computed value by rs2vad and read back by vad2rs. A large
// object whose stored form is longer than its area continues in numbered
// extents of the buffer unit that holds the area.
//
// A variable is a descriptor (varan) in the sorted table of its class
// (varcla.h); its elements lie side by side in the class's value buffer,
// or in a buffer unit of its own, or behind an accessor function that
// every read, write and reset goes through. Descriptors move when their
// class grows: a pointer is good until the next creation in that class.
//
// Functions return 0 (or a count) on success and a negated error number on
// failure.
#pragma once

#include <cstdint>

#include "calc/calcbase.h"
#include "memory/vlxcbu.h"

inline constexpr int kVarName = 64;
// A first dimension of this count makes a dynamic array.
inline constexpr int kDynamic = 32767;
inline constexpr int kMaxDims = 4;

struct varan;

// With no `value` the accessor resets (mode 'z'); with `value` alone it
// reads the variable into it ('r'); with both it writes `value` ('w').
using var_accessor = int (*)(varan* var, const short* indexes, int nindexes, res_u* value, res_u* other);

enum : std::uint16_t {
  kVarReadOnly = 1,  // writes and resets are error 62
  kVarDefault = 2,   // created by give_var for a name it did not find
};

struct varan {
  var_accessor accessor;
  std::uint32_t offset;    // of the first element, in the class's value buffer or in `buffer`
  std::uint16_t classNo;
  std::uint16_t type;
  std::int16_t dim;        // one dimension: its count (kDynamic: dynamic); several: first record
  std::int16_t lowerBound; // one dimension: the first index
  char name[kVarName + 1];
  std::uint8_t length;     // declared length, cut to 8 bits
  std::uint8_t ndim;       // 1..4
  cbu_ref buffer;          // a unit of the variable's own, 0 for none
  std::uint16_t flags;
  std::uint16_t size;      // declared length in full: what the stored forms use
  std::uint16_t attr1, attr2;  // the creator's
};

// rs2vad / vad2rs flags.
enum : int {
  kStoreUtf8 = 1,      // a clob holds UTF-8 (count in bytes), else UCS-2
  kStoreNoExtent = 2,  // a large object stays within its area
};

// Bytes one element of `type` and declared `length` takes; -1 for a large
// object of a size class beyond 20 (a gigabyte).
int stored_size(int type, int length);
// Usable bytes of a large object of size class `length`.
int blobSize(int length);
int clobSize(int length);
int varanLobSize(const varan* v);

// Writes `value` in the stored form of `type` at `out`, which has room for
// stored_size bytes. `extents`, when given, is the buffer unit whose main
// buffer holds `out`: a large object's area then ends where that buffer
// ends, and what does not fit continues in its extents (unless flag 2).
int rs2vad(unsigned char* out, const cbu_ref* extents, int type, int length, res_u* value, int flags);
// Reads the stored form at `in` into `value` (emptied first).
int vad2rs(res_u* value, const unsigned char* in, const cbu_ref* extents, int type, int length, int flags);
// Empties the large object stored at `at`, releasing its extents.
int lob_free(unsigned char* at, const cbu_ref* unit, int type, int length);

// Bytes of a whole variable: element width times the positive dimensions
// (a dimension of 0 or less counts once); -1 when that passes 2^31 - 1.
long long nboct(int type, int length, const short* dims, int ndim);
long long sizofvar(const varan* v);

// The mode of an accessor call: 'z', 'r' or 'w'.
char get_io_mode(const res_u* value, const res_u* other);

// The address of one element (mode 'r' reads, 'w' may create the element
// of a dynamic array); null with the error recorded. Without indexes, the
// first element. An element of a dynamic array never written reads as
// zeros from a shared area that must not be written.
unsigned char* recup_var(varan* v, const short* indexes, int nindexes, char mode);
// Write, read and reset through the storage forms, or the accessor.
int assign(varan* v, const short* indexes, int nindexes, res_u* value);
int get_value(varan* v, const short* indexes, int nindexes, res_u* value);
int raz_var(varan* v);

// 1 for a dynamic array, else 0.
int dynamic_or_static(const varan* v);
// The highest position written in a dynamic array, -1 when none.
int getIndexLastElmnt(varan* v);
// k = 0: number of dimensions; k > 0: element count of dimension k; k < 0:
// lower bound of dimension -k.
int givedim(const varan* v, int k, int* out);

// The elements of a variable in storage order, for the functions that take
// a whole variable: how many (a dynamic array: up to its last written
// position), and the value at position 0..count-1.
int var_elements(varan* v);
int get_element(varan* v, int position, res_u* value);
