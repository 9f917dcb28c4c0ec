#include <gtest/gtest.h>

#include <string>

#include "diagnostics/vlxerr.h"
#include "support/vlxtest.h"
#include "values/date.h"

namespace {

int day_of(const std::string& text) {
  int y = 0, m = 0, d = 0, n = -1;
  std::sscanf(text.c_str(), "%d-%d-%d", &y, &m, &d);
  EXPECT_EQ(ltodate(&n, y, m, d, 0), 0) << text;
  return n;
}

std::string text_of(int n) {
  int y = -1, m = -1, d = -1;
  EXPECT_EQ(datetol(n, &y, &m, &d), 0) << n;
  return std::to_string(y) + "-" + std::to_string(m) + "-" + std::to_string(d);
}

std::string failed(int status) { return "E" + std::to_string(-status); }

std::string run(const vlxtest::Case& c) {
  const std::string& op = c.fields[0];
  auto arg = [&](int i) { return std::stoi(c.fields[i]); };
  const int untouched = -777;
  int out = untouched, status = 0;
  char text[64] = "";
  if (op == "ltodate" || op == "window") {
    status = ltodate(&out, arg(1), arg(2), arg(3), arg(4));
    if (status == 0) return op == "window" ? text_of(out) : std::to_string(out);
  } else if (op == "datetol") {
    int y = untouched, m = untouched, d = untouched;
    status = datetol(arg(1), &y, &m, &d);
    if (status < 0) {
      EXPECT_EQ(y, untouched);
    }
    if (status == 0) return std::to_string(y) + "-" + std::to_string(m) + "-" + std::to_string(d);
  } else if (op == "dayn") {
    status = dayn(arg(1));
    if (status >= 0) return std::to_string(status);
  } else if (op == "eomonth") {
    status = eomonth(&out, day_of(c.fields[1]));
    if (status == 0) return text_of(out);
  } else if (op == "aweek") {
    status = aweek(&out, arg(1), arg(2));
    if (status == 0) return text_of(out);
  } else if (op == "week") {
    return std::to_string(week(day_of(c.fields[1])));
  } else if (op == "addmonth") {
    status = addmonth(&out, day_of(c.fields[1]), arg(2));
    if (status == 0) return text_of(out);
  } else if (op == "datetoc") {
    status = datetoc(arg(1), text);
    if (status < 0) {
      EXPECT_STREQ(text, "");
    }
    if (status == 0) return text;
  } else if (op == "toolddate") {
    char16_t wide[9];
    status = toolddate(arg(1), wide);
    std::string narrow;
    for (int i = 0; wide[i] != 0; i++) narrow += (char)wide[i];
    if (status == 0) return narrow;
  } else if (op == "gtolddate") {
    status = gtolddate(c.fields[1].c_str(), &out);
    if (status == 0) return text_of(out);
  } else if (op == "str2dtm") {
    s_dtm dtm{1, 2, 3, 4, 5, 0, 6};
    std::string copy = c.fields[1];
    status = str2dtm(copy.data(), &dtm);
    if (status == 0) dtm2str(&dtm, text);
    if (status == 0) return text;
  } else if (op == "ts") {
    status = timestamp2str(std::stoull(c.fields[1]), text);
    if (status == 0) {
      s_dtm dtm;
      std::uint64_t back = 0;
      EXPECT_EQ(timestamp2dtm(std::stoull(c.fields[1]), &dtm), 0);
      EXPECT_EQ(dtm2timestamp(dtm_pack(dtm), &back), 0);
      EXPECT_EQ(back, std::stoull(c.fields[1]));
      return text;
    }
  }
  EXPECT_EQ(out, untouched) << "output written on error";
  return failed(status);
}

TEST(Date, DataCases) {
  auto cases = vlxtest::read_cases("dates.txt");
  ASSERT_GT(cases.size(), 60u);
  for (const vlxtest::Case& c : cases) {
    raz_err();
    // "E<n> detail": the error and the detail it leaves.
    const std::string& expected = c.fields.back();
    std::size_t blank = expected[0] == 'E' ? expected.find(' ') : std::string::npos;
    EXPECT_EQ(run(c), expected.substr(0, blank)) << "dates.txt line " << c.line;
    if (blank != std::string::npos) {
      EXPECT_EQ(Errmes, expected.substr(blank + 1)) << "dates.txt line " << c.line;
    }
  }
}

// Every day number converts to a date and back, and consecutive days step
// through the calendar and the week one at a time.
TEST(Date, WholeRangeRoundTrip) {
  int py = 1599, pm = 12, pd = 31;
  for (int n = 1; n <= MAXDATE; n++) {
    int y, m, d, back;
    ASSERT_EQ(datetol(n, &y, &m, &d), 0);
    ASSERT_EQ(ltodate(&back, y, m, d, 0), 0);
    ASSERT_EQ(back, n);
    bool nextDay = y == py && m == pm && d == pd + 1;
    bool nextMonth = y == py && m == pm + 1 && d == 1;
    bool nextYear = y == py + 1 && m == 1 && d == 1 && pm == 12 && pd == 31;
    ASSERT_TRUE(nextDay || nextMonth || nextYear) << n;
    ASSERT_EQ(dayn(n), (dayn(n - 1) % 7) + 1);
    py = y, pm = m, pd = d;
  }
}

TEST(Date, TimeOfDay) {
  Vlxtest = 1;
  char text[9];
  EXPECT_EQ(timestring(text), 0);
  EXPECT_STREQ(text, "00:00:00");
  Vlxtest = 0;
  EXPECT_LT(timestring(nullptr), 86400);
  s_dtm now;
  ASSERT_EQ(get_curent_datetime(&now), 0);
  EXPECT_GE(now.year, 2024);
}

}  // namespace
