// Dates and times of the 4GL. A date is a day number on the proleptic
// Gregorian calendar (1 = 1600-01-01, 0 = the null date, MAXDATE =
// 9999-12-31); a time of day counts seconds since midnight; a datetime is
// the packed UTC record s_dtm, convertible to a timestamp (seconds since
// day 0 at midnight) and to ISO 8601 text.
//
// Functions return 0 or a negative error number unless stated; on error
// the outputs are not written (datetoc writes an empty text).
#pragma once

#include <cstdint>
#include <cstring>

constexpr int MAXDATE = 3068037;
// A timestamp's seconds in a day.
constexpr std::int64_t kSecondsPerDay = 86400;

// Pivot of two-digit years (system variable vlxdcs) and the test flag that
// freezes the time of day.
extern int Vvlxdcs;
extern int Vlxtest;

// UTC datetime; all zero is the null datetime. Passed by value as one
// 64-bit integer: second in the low byte, year in the high 16 bits.
struct s_dtm {
  std::uint8_t second, minute, hour, day, month, reserved;
  std::uint16_t year;
};
static_assert(sizeof(s_dtm) == 8);

inline std::uint64_t dtm_pack(const s_dtm& d) {
  std::uint64_t v;
  std::memcpy(&v, &d, sizeof v);
  return v;
}

// pivot 0 takes Vvlxdcs.
int ltodate(int* n, int year, int month, int day, int pivot);
int datetol(int n, int* year, int* month, int* day);
int day(int n);
int month(int n);
int year(int n);
int dayn(int n);
// The count of days elapsed since 1600-01-01 of a day number, and back.
inline int nday(int n) { return n - 1; }
inline int ndayd(int n) { return n + 1; }
int eomonth(int* out, int n);
int aweek(int* out, int week, int year);
int week(int n);
int addmonth(int* out, int n, int months);

// REQUIRES: out has room for 11 bytes.
int datetoc(int n, char* out);
// REQUIRES: out has room for 9 characters.
int toolddate(int n, char16_t* out);
int gtolddate(const char* text, int* n);

// The text is modified.
int str2dtm(char* text, s_dtm* dtm);
// REQUIRES: out has room for 21 bytes (also for timestamp2str).
int dtm2str(const s_dtm* dtm, char* out);
int timestamp2dtm(std::uint64_t ts, s_dtm* dtm);
int dtm2timestamp(std::uint64_t packed, std::uint64_t* ts);
int timestamp2str(std::uint64_t ts, char* out);
int get_curent_datetime(s_dtm* dtm);
// Local time of day in seconds; out, when given, receives "hh:mm:ss".
// REQUIRES: out is null or has room for 9 bytes.
int timestring(char* out);
