// Day numbers, the calendar functions and the datetime conversions.
#include "values/date.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "diagnostics/verbatim.h"
#include "diagnostics/vlxerr.h"

int Vvlxdcs = 1957;
int Vlxtest = 0;

namespace {

constexpr int kMonthStart[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr int kMonthLength[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool is_leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int month_length(int y, int m) { return m == 2 && is_leap(y) ? 29 : kMonthLength[m - 1]; }

// Day number of 1 January of a year from 1600 on.
int first_of_year(int y) {
  long long span = (long long)(y - 1600) * 7305 - 3;
  long long base = span < 0 ? -1 : span / 20;
  return (int)(base - (y - 1601) / 100 + (y - 1601) / 400 + 2);
}

int invalid_year(int y) { return y < 0 || (y >= 100 && y < 1600) || y >= 10000; }

int window_year(int y, int pivot) {
  if (pivot == 0) pivot = Vvlxdcs;
  int candidate = pivot - pivot % 100 + y;
  return candidate < pivot ? candidate + 100 : candidate;
}

int maxdate_error(int n) { return err_vlx(kErrDate, "datetol(%i) MAXDATE:%i", n, MAXDATE); }

struct Civil {
  int year, month, day;
};

// REQUIRES: 1 <= n <= MAXDATE.
Civil civil_of(int n) {
  int y = 1600 + (n - 1) / 366;
  while (first_of_year(y + 1) <= n) y++;
  int yday = n - first_of_year(y);
  int leap = is_leap(y);
  int m = 12;
  while (m > 1 && kMonthStart[m - 1] + (m > 2 ? leap : 0) > yday) m--;
  return {y, m, yday - kMonthStart[m - 1] - (m > 2 ? leap : 0) + 1};
}

}  // namespace

int ltodate(int* n, int y, int m, int d, int pivot) {
  if ((y == 0 && m == 0 && d == 0) || (y == 1599 && m == 12 && d == 31)) {
    *n = 0;
    return 0;
  }
  if (invalid_year(y)) return err_vlx(kErrDate, VLX_AT(kAtYear));
  if (d <= 0) return err_vlx(kErrDate, VLX_AT(kAtDay));
  if (y < 100) y = window_year(y, pivot);
  if (y < 1600 || y >= 10000) return err_vlx(kErrDate, VLX_AT(kAtYear));
  if (m < 1 || m > 12) return err_vlx(kErrDate, VLX_AT(kAtMonth));
  if (d > month_length(y, m)) return err_vlx(kErrDate, VLX_AT_LINE(kAtMonth, kAtMonth.line + m));
  *n = first_of_year(y) + kMonthStart[m - 1] + d - 1 + (m > 2 && is_leap(y));
  return 0;
}

int datetol(int n, int* y, int* m, int* d) {
  if (n == 0) {
    *y = *m = *d = 0;
    return 0;
  }
  if (n > MAXDATE) return maxdate_error(n);
  if (n < 0) return err_vlx(kErrDate, "datetol(%i) bad day:%i", n, n);
  Civil c = civil_of(n);
  *y = c.year;
  *m = c.month;
  *d = c.day;
  return 0;
}

int day(int n) {
  int y = 0, m = 0, d = 0;
  int status = datetol(n, &y, &m, &d);
  return status < 0 ? status : d;
}

int month(int n) {
  int y = 0, m = 0, d = 0;
  int status = datetol(n, &y, &m, &d);
  return status < 0 ? status : m;
}

int year(int n) {
  int y = 0, m = 0, d = 0;
  int status = datetol(n, &y, &m, &d);
  return status < 0 ? status : y;
}

int dayn(int n) {
  if (n < 0 || n > MAXDATE) return err_vlx(kErrDate, VLX_AT(kAtDayNumber));
  return (n + 4) % 7 + 1;
}

int eomonth(int* out, int n) {
  int y = 0, m = 0, d = 0;
  int status = datetol(n, &y, &m, &d);
  if (status < 0) return status;
  if (n == 0) {
    *out = 0;
    return 0;
  }
  return ltodate(out, y, m, month_length(y, m), 0);
}

int aweek(int* out, int wk, int y) {
  if (invalid_year(y)) return err_vlx(kErrDate, VLX_AT(kAtYear));
  if (y < 100) y = window_year(y, 0);
  int j = first_of_year(y);
  int d = (j + 4) % 7;
  long long result = (long long)j - d + ((long long)wk - 1) * 7 + (d >= 4 ? 7 : 0);
  if (result > MAXDATE || result < 1) return err_vlx(kErrDate, VLX_AT(kAtWeek));
  *out = (int)result;
  return 0;
}

int week(int n) {
  if (n == 0) return 0;
  if (n > MAXDATE || n < 0) return maxdate_error(n);
  int j = first_of_year(civil_of(n).year);
  int d = (j + 4) % 7;
  return (n - j + d) / 7 + (d < 4);
}

int addmonth(int* out, int n, int months) {
  if (n > MAXDATE || n < 0) return maxdate_error(n);
  if (n == 0) return err_vlx(kErrDate, "addmonth");
  Civil c = civil_of(n);
  long long target = (long long)c.month - 1 + months;
  long long shift = target >= 0 ? target / 12 : -((-target + 11) / 12);
  long long y = c.year + shift;
  int m = (int)(target - shift * 12) + 1;
  if (y < 1600 || y > 9999) return err_vlx(kErrDate, VLX_AT(kAtYear));
  int d = c.day;
  if (d >= 29 && kMonthLength[m - 1] != 31) d = m == 2 ? (is_leap((int)y) ? 29 : 28) : 30;
  return ltodate(out, (int)y, m, d, 0);
}

int datetoc(int n, char* out) {
  int y = 0, m = 0, d = 0;
  int status = datetol(n, &y, &m, &d);
  if (status < 0) {
    out[0] = 0;
    return status;
  }
  char text[40];
  std::snprintf(text, sizeof text, "%2.2d/%2.2d/%4.4d", d, m, y);
  std::memcpy(out, text, 11);
  return 0;
}

int toolddate(int n, char16_t* out) {
  int y = 0, m = 0, d = 0;
  int status = datetol(n, &y, &m, &d);
  if (status < 0) return status;
  char text[40] = "000000";
  if (n != 0) std::snprintf(text, sizeof text, "%4.4d%2.2d%2.2d", y, m, d);
  int i = 0;
  for (; text[i] != 0; i++) out[i] = (unsigned char)text[i];
  out[i] = 0;
  return 0;
}

int gtolddate(const char* text, int* n) {
  std::size_t length = std::strlen(text);
  if (length != 6 && length != 8) return err_vlx(kErrCalcMode, "gtolddate bad length for date:%s", text);
  for (const char* p = text; *p != 0; p++)
    if ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z'))
      return err_vlx(kErrCalcMode, "gtolddate bad character %c for date:%s", *p, text);
  // Each field is read as a decimal number on its own, as atoi would.
  auto field = [&](int from, int width) {
    char part[5] = {};
    std::memcpy(part, text + from, width);
    return (int)std::strtol(part, nullptr, 10);
  };
  int yw = length == 8 ? 4 : 2;
  return ltodate(n, field(0, yw), field(yw, 2), field(yw + 2, 2), 0);
}

namespace {

// Splits text at any of the separators into at most `max` fields; an empty
// field counts as missing. Returns the number of fields.
int split_fields(char* text, const char* separators, char** fields, int max) {
  int count = 0;
  char* p = text;
  while (count < max) {
    fields[count] = p;
    std::size_t span = std::strcspn(p, separators);
    if (span == 0) return count;
    count++;
    if (p[span] == 0) break;
    p[span] = 0;
    p += span + 1;
  }
  return count;
}

bool parse_date(char* text, s_dtm* out) {
  char* fields[3];
  if (split_fields(text, "-", fields, 3) < 3) return false;
  long y = std::strtol(fields[0], nullptr, 10);
  long m = std::strtol(fields[1], nullptr, 10);
  long d = std::strtol(fields[2], nullptr, 10);
  if (y < 0 || y > 65535 || m < 0 || m > 12 || d < 0 || d >= 32) return false;
  out->year = (std::uint16_t)y;
  out->month = (std::uint8_t)m;
  out->day = (std::uint8_t)d;
  return true;
}

bool parse_time(char* text, s_dtm* out) {
  if (std::strpbrk(text, "Z+-") == nullptr) return false;
  char* fields[4];
  if (split_fields(text, ":.,", fields, 4) < 3) return false;
  long h = std::strtol(fields[0], nullptr, 10);
  long m = std::strtol(fields[1], nullptr, 10);
  long s = std::strtol(fields[2], nullptr, 10);
  if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59) return false;
  out->hour = (std::uint8_t)h;
  out->minute = (std::uint8_t)m;
  out->second = (std::uint8_t)s;
  return true;
}

}  // namespace

int str2dtm(char* text, s_dtm* dtm) {
  s_dtm result{};
  bool valid;
  char* t = std::strchr(text, 'T');
  if (t != nullptr) {
    *t = 0;
    valid = (text[0] == 0 || parse_date(text, &result)) && parse_time(t + 1, &result);
  } else if (std::strchr(text, '-') == nullptr) {
    if (std::strchr(text, ':') == nullptr) return err_vlx(kErrInternal, "datetime");
    valid = parse_time(text, &result);
  } else {
    valid = parse_date(text, &result);
  }
  *dtm = valid ? result : s_dtm{};
  return 0;
}

int dtm2str(const s_dtm* dtm, char* out) {
  std::snprintf(out, 21, "%04d-%02d-%02dT%02d:%02d:%02dZ", dtm->year % 10000, dtm->month % 100, dtm->day % 100,
                dtm->hour % 100, dtm->minute % 100, dtm->second % 100);
  return 0;
}

int timestamp2dtm(std::uint64_t ts, s_dtm* dtm) {
  std::uint64_t days = ts / 86400, rest = ts % 86400;
  int y = 0, m = 0, d = 0;
  if (days > 0) {
    if (days > (std::uint64_t)MAXDATE) return maxdate_error(days > 0x7fffffff ? 0x7fffffff : (int)days);
    datetol((int)days, &y, &m, &d);
  }
  *dtm = s_dtm{(std::uint8_t)(rest % 60), (std::uint8_t)(rest / 60 % 60), (std::uint8_t)(rest / 3600),
               (std::uint8_t)d, (std::uint8_t)m, 0, (std::uint16_t)y};
  return 0;
}

int dtm2timestamp(std::uint64_t packed, std::uint64_t* ts) {
  s_dtm d{};
  std::memcpy(&d, &packed, sizeof d);
  int n = 0;
  int status = ltodate(&n, d.year, d.month, d.day, 0);
  if (status < 0) return status;
  *ts = (((std::uint64_t)n * 24 + d.hour) * 60 + d.minute) * 60 + d.second;
  return 0;
}

int timestamp2str(std::uint64_t ts, char* out) {
  s_dtm d{};
  int status = timestamp2dtm(ts, &d);
  if (status < 0) return status;
  return dtm2str(&d, out);
}

int get_curent_datetime(s_dtm* dtm) {
  std::time_t now = std::time(nullptr);
  std::tm parts;
  if (now == (std::time_t)-1 || gmtime_r(&now, &parts) == nullptr) return err_vlx(kErrInternal, "datetime");
  *dtm = s_dtm{(std::uint8_t)parts.tm_sec,      (std::uint8_t)parts.tm_min, (std::uint8_t)parts.tm_hour,
               (std::uint8_t)parts.tm_mday,     (std::uint8_t)(parts.tm_mon + 1), 0,
               (std::uint16_t)(parts.tm_year + 1900)};
  return 0;
}

int timestring(char* out) {
  int h = 0, m = 0, s = 0;
  if (Vlxtest != 1) {
    std::time_t now = std::time(nullptr);
    std::tm parts;
    if (localtime_r(&now, &parts) == nullptr) return 0;
    h = parts.tm_hour;
    m = parts.tm_min;
    s = parts.tm_sec;
    // A leap second reads 60.
    if (h < 0 || h > 23) return err_vlx(kErrDate, VLX_AT(kAtHour)), 0;
    if (m < 0 || m > 59) return err_vlx(kErrDate, VLX_AT(kAtMinute)), 0;
    if (s < 0 || s > 59) return err_vlx(kErrDate, VLX_AT(kAtSecond)), 0;
  }
  if (out != nullptr) std::snprintf(out, 9, "%2.2d:%2.2d:%2.2d", h, m, s);
  return (h * 60 + m) * 60 + s;
}
