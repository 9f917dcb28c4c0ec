// Storage forms of values: how a computed value is written into a record
// or a value buffer for a storage type and length, and read back.
//
// Supported here: the scalar and text types the table service stores
// (299 to 308, 370, 378, 383, 384, 386). Large objects and references live
// in buffer-unit extents and class instances, which this server does not
// hold: they are error 10.
#pragma once

#include "calc/calcbase.h"

// Writes `value` in the storage form of `type` into `out` (room for the
// stored size). Returns 0 or a negated error.
int rs2vad(unsigned char* out, void* extents, int type, int length, res_u* value, int flags);
// Reads the stored form at `in` into `value` (set to the type's value).
int vad2rs(res_u* value, const unsigned char* in, void* extents, int type, int length, int flags);
// Bytes a field of this type and length takes in a record.
int stored_size(int type, int length);
