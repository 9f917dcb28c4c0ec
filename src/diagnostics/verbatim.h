// Texts of the platform that its clients, launchers and administrators
// match: what the server writes on standard error when it cannot start,
// the text of a network error without a description, and the location
// details "<source>:<line>.<function>" of the errors whose detail names a
// source of the platform's original engine (its paths and line numbers,
// not ours). They are kept verbatim, misspellings included.
#pragma once

// Standard error, before the channel is up.
#define VLX_TEXT_NO_MEMORY "Erreur Ini_malloc %d\n"
#define VLX_TEXT_NO_KERBEROS "Erreur ini kerberos %d\n"
// Standard error of the child that was to run the local service.
#define VLX_TEXT_NO_SERVICE "Erreur Systeme %d\n"
// A network error whose errno has no description.
#define VLX_TEXT_UNKNOWN_NETWORK "Unkown network error:%i"

// A location detail, given to err_vlx as VLX_AT(where).
struct s_where {
  const char* source;
  int line;
  const char* function;
};
#define VLX_AT(where) "%s:%d.%s", (where).source, (where).line, (where).function
// The same source and function at another line.
#define VLX_AT_LINE(where, at) "%s:%d.%s", (where).source, (at), (where).function

// Dates: a year out of range, a day below 1, a month out of range (the
// day beyond its month reports the line plus the month), a day number
// out of range, a week out of range, a time of day out of range.
inline constexpr s_where kAtYear{"src/date", 179, "ltodate"};
inline constexpr s_where kAtDay{"src/date", 181, "ltodate"};
inline constexpr s_where kAtMonth{"src/date", 257, "ltodate"};
inline constexpr s_where kAtDayNumber{"src/date", 649, "dayn"};
inline constexpr s_where kAtWeek{"src/date", 731, "aweek"};
inline constexpr s_where kAtHour{"src/date", 875, "ltotime"};
inline constexpr s_where kAtMinute{"src/date", 877, "ltotime"};
inline constexpr s_where kAtSecond{"src/date", 879, "ltotime"};
// Decimals: an exponent beyond the range, a division by zero.
inline constexpr s_where kAtExponent{"src/vlxdcb", 389, "dcblod"};
inline constexpr s_where kAtDivide{"src/vlxdcb", 1043, "dcbdiv"};
// Memory groups: no slot left, a segment beyond the ceiling, a segment
// that cannot grow.
inline constexpr s_where kAtGroupSlots{"src/GroupManagement", 137, "getGroup"};
inline constexpr s_where kAtSegment{"src/GroupManagement", 311, "allocWithSegment"};
inline constexpr s_where kAtSegmentGrowth{"src/GroupManagement", 0, "adg_realloc2"};
// The sandbox: scripts nested too deep (at our line).
inline constexpr s_where kAtSandboxDepth{"src/vlxfsq", 0, "find_syst_pattern"};
// Buffer units sent and received (at our line, under the operation).
inline constexpr const char* kSourceIocom = "src/iocom";
// Table slots and filters: no table slot left, no filter entry left, a
// selected field beyond the record, one that cannot be converted.
inline constexpr s_where kAtTableSlots{"src/filsrv", 101, "op_tfs"};
inline constexpr s_where kAtFilters{"src/filsrv", 240, "gt_nwh"};
inline constexpr s_where kAtSubrecord{"src/filsrv", 360, "rb2sb"};
inline constexpr s_where kAtSubrecordField{"src/filsrv", 366, "rb2sb"};
// System tables: a key other than 0, more than one key criterion.
inline constexpr s_where kAtKeyNumber{"src/sysop", 530, "of_sys"};
inline constexpr s_where kAtKeyCount{"src/sysop", 534, "of_sys"};
