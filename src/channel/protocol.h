// The table requests as both ends of the channel see them: the driver
// byte, the events of the requests that the system driver serves, the
// read modes, the service version, the field description of the open
// request and the flags of reads and selections. The server's decoders
// and the client library build and read the requests with these names.
#pragma once

#include "values/vtypes.h"

// The version of the table requests that the server speaks; a client that
// offers more is answered with it.
inline constexpr int kServiceVersion = 20;
// The system driver: the first byte of every request body.
inline constexpr int kSysDriver = 3;
// The launcher's service type of the system table server.
inline constexpr int kSysService = 4;

// Events of the requests that the system driver serves, from the session
// state (no table) and from the table state (the request's code is the
// table's slot). Trans_nd_fsrarq takes each to its node.
enum fsr_event : unsigned char {
  kEvOpen = 2,
  kEvEndSession = 8,
  kEvVersion = 22,
  kEvRead = 1,
  kEvClose = 9,
  kEvAddFilter = 13,
  kEvRemoveFilter = 17,
  kEvReadKeys = 19,
  kEvSelect = 23,
  kEvRemoveSelection = 24,
};

// ORDER MODES: the read modes; Fsrmod holds their direction bits.
enum fsr_mode : int { kReadFirst = 0, kReadLast = 1, kReadNext = 2, kReadPrevious = 3, kReadCurrent = 4 };

// The field description of the open request: 36 bytes, with the field's
// offset in the record (4 bytes), its storage type, length and scale (2
// bytes each), its name (13 bytes) and a flag byte at these places.
inline constexpr int kFieldDescription = 36;
enum : int { kFdOffset = 4, kFdType = 10, kFdLength = 12, kFdScale = 16, kFdName = 18, kFdFlag = 31 };
inline constexpr int kFdNameBytes = 13;
// An index description: 24 big-endian words.
inline constexpr int kIndexDescription = 96;
// A field of a system table: a word of the output in a slot of text.
inline constexpr int kFieldType = LSTRG;
inline constexpr int kFieldWidth = 255;

// Open flag: query lines follow the descriptions.
inline constexpr int kOpenQueryLines = 16;
// Read flag: the answer carries the selected fields of the criterion.
inline constexpr int kReadSelected = 16;
// Selection flag: every read of the criterion carries the selected fields.
inline constexpr int kSelectAlways = 0x80;
// The filters a table holds.
inline constexpr int kFilters = 4;
